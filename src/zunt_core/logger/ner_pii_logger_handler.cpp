// zunt_core.logger.ner_pii_logger_handler: a logging handler that has an
// outside named-entity-recognition service mask each record's message, for
// the handlers that receive the record after it.
//
// One synchronous POST per record, through `requests` as the module binds it
// at the time of the call. The service's answer is untrusted input: it is
// used only when it comes from `api_url` itself (redirects are not
// followed), is complete within one 3-second deadline from the request's
// start, and stays under a size that no sound answer reaches. Whatever goes
// wrong in the exchange, the message goes on unmasked, and nothing reports
// it. While an exchange runs on a thread, records that reach any NER handler
// on that thread (the HTTP client's debug lines) pass through untouched
// instead of starting a request of their own.
//
// The deadline reaches every wait of the exchange through its sockets: each
// socket made on the thread while the exchange runs takes, for that time, a
// subclass of its own class whose operations (connect, send, receive, the
// TLS handshake) first set the socket's time-out to the time left, and
// afterwards its own again. An audit hook, installed with the first exchange
// of the process, hands out the subclass when the socket is made; outside an
// exchange it returns at once, and what remains is the host's own price of
// calling a Python audit hook, paid on every audited event of the process.
// (Keeping `requests.post` as the call leaves no other way to reach the
// request's sockets before its headers are read.)
#include "runtime/builder.hpp"
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/logger/emit.shared.hpp"
#include "zunt_core/modules.hpp"

#include <algorithm>
#include <chrono>

namespace zunt {

using namespace rt;

namespace {

using Clock = std::chrono::steady_clock;

// The whole exchange with the service, from the request's start to the last
// byte of the answer.
constexpr std::chrono::milliseconds exchange_deadline{3000};

// The answer's body, counted after decompression, may be this many times
// the size of the request's body, and in any case 1 MiB.
constexpr Py_ssize_t answer_size_factor = 4;
constexpr Py_ssize_t answer_size_floor = Py_ssize_t{1} << 20;

// Decoded bytes asked for at each read of the body: the HTTP client (urllib3
// 2.6 and newer) inflates no more than that per read, so a compressed bomb
// costs one step, never its inflated size.
constexpr int body_read_step = 65536;

// The exchange under way on this thread: its deadline, and the sockets that
// took the deadline class meanwhile, as (socket, its own class, the deadline
// class) triples.
struct Exchange {
    Clock::time_point deadline;
    nb::list swapped;
};

thread_local Exchange* exchange_under_way = nullptr;

double seconds_left(const Exchange& exchange) {
    return std::chrono::duration<double>(exchange.deadline - Clock::now()).count();
}

// One exchange on this thread, from the request's start until its answer is
// closed. At the end, the sockets it made get their own class back.
class ExchangeScope {
public:
    explicit ExchangeScope(Clock::time_point deadline) : previous_(exchange_under_way) {
        exchange_.deadline = deadline;
        exchange_under_way = &exchange_;
    }
    ~ExchangeScope() {
        exchange_under_way = previous_;
        nb::error_scope pending;
        try {
            for (nb::handle entry : exchange_.swapped) {
                nb::tuple triple = nb::borrow<nb::tuple>(entry);
                if (type_of(triple[0]).is(triple[2])) triple[0].attr("__class__") = triple[1];
            }
        } catch (nb::python_error&) {
            // nothing to report to: the exchange is over, its answer already taken
        }
    }
    ExchangeScope(const ExchangeScope&) = delete;
    ExchangeScope& operator=(const ExchangeScope&) = delete;

private:
    Exchange exchange_;
    Exchange* previous_;
};

// An operation of the deadline class (closure: the same operation of the
// socket's own class). During this thread's exchange it waits for at most
// the time left, and raises the host's socket time-out once none is left;
// the socket's own time-out is restored afterwards. Outside an exchange it
// is the own class's operation.
nb::object DeadlineSocket_operation(Call& c) {
    nb::handle self = c[0];
    auto operation = [&] {
        nb::object args = steal_or_throw(PySequence_Concat(nb::make_tuple(self).ptr(), c[1].ptr()));
        return steal_or_throw(PyObject_Call(c.closure().ptr(), args.ptr(), c[2].ptr()));
    };
    const Exchange* exchange = exchange_under_way;
    if (exchange == nullptr) return operation();
    const double left = seconds_left(*exchange);
    if (left <= 0) raise(PyExc_TimeoutError, "timed out");
    nb::object own = self.attr("gettimeout")();
    self.attr("settimeout")(left);
    nb::object result;
    try {
        result = operation();
    } catch (nb::python_error&) {
        try {
            self.attr("settimeout")(own);
        } catch (nb::python_error&) {
            // the operation's own error is the one to raise
        }
        throw;
    }
    self.attr("settimeout")(own);
    return result;
}

// The operations that wait: every one the HTTP client and the host's TLS
// layer use on a connection.
constexpr const char* waiting_operations[] = {"connect", "connect_ex", "recv", "recv_into",
                                              "send", "sendall", "do_handshake"};

// class <name>(base): __slots__ = (), with each waiting operation of base
// given the deadline. The same layout as base, so a socket of base can take
// it as its class and give it back.
nb::object deadline_socket_class(ModuleScope& m, const char* name, nb::handle base) {
    ClassBuilder cls(m, name, nb::make_tuple(base),
                     "A socket of an exchange with the masking service: each operation that waits gets only the "
                     "time left of the exchange's deadline.");
    cls.unbound().attr("__slots__", nb::tuple());
    for (const char* operation : waiting_operations) {
        nb::object own = attr_or_missing(base, operation);
        if (!own.is_valid()) continue;
        cls.method({.name = operation, .params = {arg("self"), var_args(), var_kwargs()},
                    .impl = DeadlineSocket_operation, .closure = own});
    }
    return cls.build();
}

// sys.addaudithook's hook (closure: pairs of a socket class and its deadline
// class). A socket of exactly one of these classes made on a thread while
// an exchange runs there takes the deadline class until the exchange ends.
nb::object exchange_audit_hook(Call& c) {
    Exchange* exchange = exchange_under_way;
    if (exchange == nullptr) return nb::none();
    if (PyUnicode_CompareWithASCIIString(c[0].ptr(), "socket.__new__") != 0) return nb::none();
    nb::handle sock = nb::borrow<nb::tuple>(c[1])[0];
    nb::handle own = type_of(sock);
    nb::tuple classes = nb::borrow<nb::tuple>(c.closure());
    for (std::size_t i = 0; i + 1 < classes.size(); i += 2) {
        if (!own.is(classes[i])) continue;
        sock.attr("__class__") = classes[i + 1];
        exchange->swapped.append(nb::make_tuple(sock, own, classes[i + 1]));
        break;
    }
    return nb::none();
}

long status_of(nb::handle response) {
    const long status = PyLong_AsLong(response.attr("status_code").ptr());
    if (status == -1 && PyErr_Occurred()) throw_current();
    return status;
}

// The request's response hook: a redirect fails the request as an error
// status does. It runs before `requests` handles the redirect, which even
// when not following it reads the whole body of the answer to prepare the
// next request.
nb::object refuse_redirect(Call& c) {
    nb::handle response = c[0];
    const long status = status_of(response);
    if (status < 300 || status >= 400) return nb::none();
    response.attr("close")();
    nb::object error = c.global("requests").attr("exceptions").attr("HTTPError")(
        steal_or_throw(PyUnicode_FromFormat("%ld redirect not followed: the text goes only to api_url", status)),
        nb::arg("response") = response);
    PyErr_SetObject(type_of(error).ptr(), error.ptr());
    throw_current();
}

// Audit hooks stay for the life of the process: the hook is added once, by
// the first exchange.
bool audit_hook_installed = false;

void install_audit_hook(nb::handle hook) {
    if (audit_hook_installed) return;
    nb::module_::import_("sys").attr("addaudithook")(hook);
    audit_hook_installed = true;
}

// NerLoggerHandler.__init__(self, api_url, api_field, pii_ner_process_enabled=False)
nb::object NerLoggerHandler_init(Call& c) {
    nb::handle self = c[0];
    super_of(c.closure(), self).attr("__init__")();
    self.attr("api_url") = c[1];
    self.attr("api_field") = c[2];
    self.attr("pii_ner_process_enabled") = c[3];
    return nb::none();
}

Py_ssize_t size_of(nb::handle obj) {
    const Py_ssize_t size = PyObject_Size(obj.ptr());
    if (size < 0) throw_current();
    return size;
}

// The answer's body, read as it arrives and decoded as it is read. False
// when it grows past `limit` bytes or is not complete by the deadline.
bool read_answer_body(nb::handle response, Clock::time_point deadline, Py_ssize_t limit) {
    nb::object read1 = response.attr("raw").attr("read1");
    nb::list chunks;
    Py_ssize_t size = 0;
    for (;;) {
        if (Clock::now() >= deadline) return false;
        nb::object chunk = read1(body_read_step, nb::arg("decode_content") = true);
        const Py_ssize_t n = size_of(chunk);
        if (n == 0) break;
        size += n;
        if (size > limit) return false;
        chunks.append(chunk);
    }
    if (Clock::now() > deadline) return false;
    // What the response's own reading would have kept: `json()` decodes it
    // with the response's encoding rules.
    response.attr("_content") = nb::bytes("").attr("join")(chunks);
    response.attr("_content_consumed") = true;
    return true;
}

// The text to log from the service's answer: its member `api_field`, or the
// message when the answer cannot be used (a body too large or too late, no
// JSON object) or has no such member.
nb::object masked_text(nb::handle self, nb::handle response, nb::handle message, Clock::time_point deadline) {
    response.attr("raise_for_status")();
    const Py_ssize_t limit =
        std::max(answer_size_floor, answer_size_factor * size_of(response.attr("request").attr("body")));
    if (!read_answer_body(response, deadline, limit)) return nb::borrow(message);
    nb::object answer = response.attr("json")();
    if (!PyDict_Check(answer.ptr())) return nb::borrow(message);
    return answer.attr("get")(self.attr("api_field"), message);
}

void close_quietly(nb::handle response) {
    if (!response.is_valid()) return;
    try {
        response.attr("close")();
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_Exception)) throw;
    }
}

// NerLoggerHandler.process_message_using_ner(self, message)
// (closure: the audit hook and the response hook)
//
// Any failure of the exchange (the service cannot be reached, a redirect,
// an error status, an answer too slow, too large or not decodable, a body
// that is not JSON or is nested deeper than the host's parser goes, numbers
// the host will not convert, an error of the HTTP client of whatever kind,
// memory running out on the answer) leaves the message as it is. Errors that
// are no Exception (an interrupt) pass.
nb::object NerLoggerHandler_process_message_using_ner(Call& c) {
    nb::handle self = c[0];
    nb::handle message = c[1];
    const auto deadline = Clock::now() + exchange_deadline;
    ExchangeScope exchange(deadline);
    nb::dict body;
    body["text"] = message;
    nb::list entities;
    for (const char* entity : {"EMAIL_ADDRESS", "ID_KTP", "ID_NPWP", "PHONE_NUMBER"}) {
        entities.append(nb::str(entity));
    }
    body["entities"] = entities;
    nb::object response;
    nb::object text;
    try {
        nb::tuple hooks = nb::borrow<nb::tuple>(c.closure());
        install_audit_hook(hooks[0]);
        nb::dict response_hooks;
        response_hooks["response"] = hooks[1];
        // stream: the body is read here, within the deadline and the size
        // limit; the request on the wire is the same.
        response = c.global("requests").attr("post")(self.attr("api_url"), nb::arg("json") = body,
                                                      nb::arg("timeout") = 3, nb::arg("allow_redirects") = false,
                                                      nb::arg("stream") = true, nb::arg("hooks") = response_hooks);
        text = masked_text(self, response, message, deadline);
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_Exception)) {
            close_quietly(response);
            throw;
        }
        text = nb::borrow(message);
    }
    close_quietly(response);
    return text;
}

// NerLoggerHandler.emit(self, record)
nb::object NerLoggerHandler_emit(Call& c) {
    nb::handle self = c[0];
    nb::handle record = c[1];
    if (exchange_under_way != nullptr) return nb::none();
    logger::emit_guarded(self, record, [&] {
        if (!truthy(self.attr("pii_ner_process_enabled"))) return;
        if (!truthy(self.attr("api_url"))) return;
        nb::object message = record.attr("getMessage")();
        nb::object masked = self.attr("process_message_using_ner")(message);
        record.attr("msg") = masked;
        record.attr("args") = nb::tuple();
    });
    return nb::none();
}

// init_ner_pii_logging_handler(logger_name, api_url, api_field, pii_ner_process_enabled=False)
nb::object init_ner_pii_logging_handler(Call& c) {
    nb::object handler = c.global("NerLoggerHandler")(c[1], c[2], c[3]);
    nb::object logger = c.global("logging").attr("getLogger")(c[0]);
    logger.attr("addHandler")(handler);
    return nb::none();
}

}  // namespace

void build_zunt_core_logger_ner_pii_logger_handler(ModuleScope& m) {
    m.doc("Logging handler that has an outside named-entity-recognition service mask personal data in log "
          "messages.");
    nb::object logging = m.import_bind("logging");
    m.import_bind("requests");

    nb::object str = builtin("str");
    nb::object bool_ = builtin("bool");
    nb::object none = nb::none();

    // The deadline classes, for the host's sockets and, when the HTTP client
    // has loaded it, its TLS sockets; the audit hook that hands them out.
    nb::object socket_class = m.import("socket").attr("socket");
    nb::list classes;
    classes.append(socket_class);
    classes.append(deadline_socket_class(m, "_DeadlineSocket", socket_class));
    nb::dict loaded = nb::borrow<nb::dict>(PyImport_GetModuleDict());
    if (nb::object ssl = attr_or_missing(loaded.get("ssl", nb::none()), "SSLSocket"); ssl.is_valid()) {
        classes.append(ssl);
        classes.append(deadline_socket_class(m, "_DeadlineSSLSocket", ssl));
    }
    nb::object audit_hook = m.function({.name = "_exchange_audit_hook",
                                        .params = {arg("event"), arg("args")},
                                        .impl = exchange_audit_hook,
                                        .closure = nb::tuple(classes)});
    nb::object response_hook = m.function({.name = "_refuse_redirect",
                                           .params = {arg("response"), var_kwargs()},
                                           .impl = refuse_redirect});

    ClassBuilder cls(m, "NerLoggerHandler", nb::make_tuple(logging.attr("Handler")),
                     "Logging handler that has an outside NER masking service mask each record's message.\n\n"
                     "When enabled, it sends the record's formatted message to the service (HTTP POST of a JSON "
                     "body with \"text\" and \"entities\", 3-second time-out) and replaces the message by the text "
                     "the service returns under `api_field`, emptying the record's arguments; it writes nothing "
                     "itself. When the service cannot be reached, times out, answers with an error status or with an "
                     "answer that is no JSON object, the message goes on unmasked.");
    cls.method({.name = "__init__",
                .params = {arg("self"), arg("api_url", str), arg("api_field", str),
                           arg_default("pii_ner_process_enabled", bool_, nb::bool_(false))},
                .impl = NerLoggerHandler_init, .returns = none})
        .method({.name = "emit", .params = {arg("self"), arg("record", logging.attr("LogRecord"))},
                 .impl = NerLoggerHandler_emit,
                 .doc = "Have the record's formatted message masked by the service, in place (message replaced, "
                        "arguments emptied), when enabled and given a service address.",
                 .returns = none})
        .method({.name = "process_message_using_ner", .params = {arg("self"), arg("message", str)},
                 .impl = NerLoggerHandler_process_message_using_ner,
                 .doc = "Send one message to the masking service and return the text to log: the answer's `api_field` "
                        "member, or the message itself when the member is missing or the request fails.",
                 .returns = str, .closure = nb::make_tuple(audit_hook, response_hook)});
    cls.build();

    m.def({.name = "init_ner_pii_logging_handler",
           .params = {arg("logger_name", str), arg("api_url", str), arg("api_field", str),
                      arg_default("pii_ner_process_enabled", bool_, nb::bool_(false))},
           .impl = init_ner_pii_logging_handler,
           .doc = "Attach a new NerLoggerHandler to the named logger, after its other handlers.",
           .returns = none});
}

}  // namespace zunt
