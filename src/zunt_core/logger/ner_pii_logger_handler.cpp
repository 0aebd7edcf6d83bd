// zunt_core.logger.ner_pii_logger_handler: a logging handler that has an
// outside named-entity-recognition service mask each record's message, for
// the handlers that receive the record after it.
//
// One synchronous POST per record, through `requests` as the module binds it
// at the time of the call, with 3 seconds for the whole exchange. When the
// service fails or its answer cannot be used, the message goes on unmasked.
// Records that the handler's own request logs on its thread (the HTTP
// client's debug lines) pass through untouched instead of starting a request
// of their own.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/logger/emit.shared.hpp"
#include "zunt_core/modules.hpp"

#include <algorithm>
#include <chrono>
#include <vector>

namespace zunt {

using namespace rt;

namespace {

// The handlers whose request is under way on this thread. Identities only:
// each is alive for as long as its own request runs.
thread_local std::vector<const void*> requests_under_way;

class RequestUnderWay {
public:
    explicit RequestUnderWay(nb::handle handler) : handler_(handler.ptr()) { requests_under_way.push_back(handler_); }
    ~RequestUnderWay() {
        auto it = std::find(requests_under_way.rbegin(), requests_under_way.rend(), handler_);
        if (it != requests_under_way.rend()) requests_under_way.erase(std::next(it).base());
    }
    RequestUnderWay(const RequestUnderWay&) = delete;
    RequestUnderWay& operator=(const RequestUnderWay&) = delete;

    static bool running(nb::handle handler) {
        return std::find(requests_under_way.begin(), requests_under_way.end(), handler.ptr()) !=
               requests_under_way.end();
    }

private:
    const void* handler_;
};

// NerLoggerHandler.__init__(self, api_url, api_field, pii_ner_process_enabled=False)
nb::object NerLoggerHandler_init(Call& c) {
    nb::handle self = c[0];
    super_of(c.closure(), self).attr("__init__")();
    self.attr("api_url") = c[1];
    self.attr("api_field") = c[2];
    self.attr("pii_ner_process_enabled") = c[3];
    return nb::none();
}

// The whole exchange with the service, from the request's start to the last
// byte of the answer.
constexpr std::chrono::milliseconds exchange_deadline{3000};

// The answer's body, read as it arrives until the deadline: each read waits
// for at most the time left. False when the deadline passed first.
bool read_answer_body(nb::handle response, std::chrono::steady_clock::time_point deadline) {
    nb::object raw = response.attr("raw");
    nb::list chunks;
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return false;
        nb::object connection = raw.attr("connection");
        if (!connection.is_none()) {
            nb::object sock = connection.attr("sock");
            if (!sock.is_none()) sock.attr("settimeout")(std::chrono::duration<double>(left).count());
        }
        nb::object chunk = raw.attr("read1")(65536, nb::arg("decode_content") = true);
        if (!truthy(chunk)) break;
        chunks.append(chunk);
    }
    // What the response's own reading would have kept: `json()` decodes it
    // with the response's encoding rules.
    response.attr("_content") = nb::bytes("").attr("join")(chunks);
    response.attr("_content_consumed") = true;
    return true;
}

// The text to log from the service's answer: its member `api_field`, or the
// message when the answer is no JSON object or has no such member.
nb::object masked_text(nb::handle self, nb::handle response, nb::handle message,
                       std::chrono::steady_clock::time_point deadline) {
    response.attr("raise_for_status")();
    if (!read_answer_body(response, deadline)) return nb::borrow(message);
    nb::object answer = response.attr("json")();
    if (!PyDict_Check(answer.ptr())) return nb::borrow(message);
    return answer.attr("get")(self.attr("api_field"), message);
}

// NerLoggerHandler.process_message_using_ner(self, message)
//
// The service's answer is untrusted input: an answer that cannot be used for
// any reason (an error status, a body that is not JSON or is nested deeper
// than the host's parser goes, numbers the host will not convert, a body
// still arriving at the deadline) leaves the message as it is, as a service
// that cannot be reached does. Errors that are no Exception (an interrupt)
// pass.
nb::object NerLoggerHandler_process_message_using_ner(Call& c) {
    nb::handle self = c[0];
    nb::handle message = c[1];
    const auto deadline = std::chrono::steady_clock::now() + exchange_deadline;
    nb::dict body;
    body["text"] = message;
    nb::list entities;
    for (const char* entity : {"EMAIL_ADDRESS", "ID_KTP", "ID_NPWP", "PHONE_NUMBER"}) {
        entities.append(nb::str(entity));
    }
    body["entities"] = entities;
    RequestUnderWay request(self);
    nb::object response;
    try {
        // stream: the body is read here, against the deadline; the request
        // on the wire is the same.
        response = c.global("requests").attr("post")(self.attr("api_url"), nb::arg("json") = body,
                                                      nb::arg("timeout") = 3, nb::arg("stream") = true);
    } catch (nb::python_error& e) {
        nb::object request_error = c.global("requests").attr("exceptions").attr("RequestException");
        if (e.matches(request_error)) return nb::borrow(message);
        throw;
    }
    nb::object text;
    try {
        text = masked_text(self, response, message, deadline);
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_Exception)) throw;
        text = nb::borrow(message);
    }
    try {
        response.attr("close")();
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_Exception)) throw;
    }
    return text;
}

// NerLoggerHandler.emit(self, record)
nb::object NerLoggerHandler_emit(Call& c) {
    nb::handle self = c[0];
    nb::handle record = c[1];
    if (RequestUnderWay::running(self)) return nb::none();
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
                 .returns = str});
    cls.build();

    m.def({.name = "init_ner_pii_logging_handler",
           .params = {arg("logger_name", str), arg("api_url", str), arg("api_field", str),
                      arg_default("pii_ner_process_enabled", bool_, nb::bool_(false))},
           .impl = init_ner_pii_logging_handler,
           .doc = "Attach a new NerLoggerHandler to the named logger, after its other handlers.",
           .returns = none});
}

}  // namespace zunt
