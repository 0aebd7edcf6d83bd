// zunt_core.logger.ner_pii_logger_handler: a logging handler that has an
// outside named-entity-recognition service mask each record's message, for
// the handlers that receive the record after it.
//
// One POST per record, through `requests` as the module binds it at the time
// of the call. The service's answer is untrusted input: it is used only when
// it comes from `api_url` itself (redirects are not followed), is complete
// within one 3-second deadline from the start of the log call's exchange, and
// stays under a size that no sound answer reaches. Whatever goes wrong in the
// exchange, the message goes on unmasked, and nothing reports it.
//
// The exchange runs on a daemon thread of its own, started for it (in a copy
// of the caller's context, so that an instrumented HTTP client records the
// request under the caller's span), and the log call waits for it until the
// deadline: the deadline then holds whatever `requests.post` is bound to and
// whatever the service does, and no socket, hook or class of anyone else is
// touched. A handler's exchanges go one at a time: the framework's lock keeps
// its records in line, and an exchange given up at its deadline still holds
// the handler's turn until it ends, so a service that never answers holds at
// most one thread and one connection per handler.
//
// Records that reach an NER handler in an exchange, on its thread or in the
// log call that waits for it (the HTTP client's debug lines), pass through at
// once, without a request and without waiting for any handler's lock: the
// handler's lock is the framework's own, wrapped so that such threads pass
// it. Otherwise two handlers whose exchanges log through each other would
// wait for each other.
//
// The exchange thread's own frames hold their references in ExitSafeRefs and
// park when the host ends the thread at exit (runtime/thread_exit.hpp): a
// process may end while a slow service still holds an exchange. On the
// logging thread only the waits park; its other steps are short.
#include "runtime/builder.hpp"
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/names.hpp"
#include "runtime/thread_exit.hpp"
#include "zunt_core/logger/emit.shared.hpp"
#include "zunt_core/modules.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>
#include <vector>

namespace zunt {

using namespace rt;

namespace {

using Clock = std::chrono::steady_clock;

// One log call's whole exchange with the service: waiting for the handler's
// turn, the request and the last byte of the answer.
constexpr std::chrono::milliseconds exchange_deadline{3000};

// The answer's body, counted after decompression, may be this many times
// the size of the request's body, and in any case 1 MiB.
constexpr Py_ssize_t answer_size_factor = 4;
constexpr Py_ssize_t answer_size_floor = Py_ssize_t{1} << 20;

// Decoded bytes asked for at each read of the body: the HTTP client (urllib3
// 2.6 and newer) inflates no more than that per read, so a compressed bomb
// costs one step, never its inflated size.
constexpr long body_read_step = 65536;

double seconds_left(Clock::time_point deadline) {
    return std::max(0.0, std::chrono::duration<double>(deadline - Clock::now()).count());
}

// ---------------------------------------------------------------------------
// Threads of an exchange

// Code is of an exchange when it runs on the exchange's thread, or on the
// logging thread while the log call waits for it. Two marks tell it: a count
// of the exchanges run or waited for on this OS thread (a count, since the
// greenlets of one thread, under gevent say, enter and leave them out of
// order), which answers at once for every other thread, and a context
// variable, set by the log call for its wait and so in the copy of its
// context that the exchange runs in, which tells the log call and its
// exchange from the other greenlets or tasks of the same thread.
thread_local int exchanges_here = 0;
PyObject* exchange_mark = nullptr;  // contextvars.ContextVar(default=False), made once per process
PyObject* name_get = nullptr;

bool in_exchange() {
    if (exchanges_here == 0) return false;
    PyObject* argv[] = {exchange_mark};
    PyObject* marked = PyObject_VectorcallMethod(name_get, argv, 1, nullptr);
    if (marked == nullptr) {
        // Cannot happen with the host's context variables; a thread that
        // runs an exchange passes then, rather than wait for a lock.
        PyErr_Clear();
        return true;
    }
    const bool yes = marked == Py_True;
    Py_DECREF(marked);
    return yes;
}

// The exchange's thread counted, for its length (its context carries the mark).
class InExchange {
public:
    InExchange() { ++exchanges_here; }
    ~InExchange() { --exchanges_here; }
    InExchange(const InExchange&) = delete;
    InExchange& operator=(const InExchange&) = delete;
};

// The log call's wait: counted, and the mark set in its context.
class WaitingForExchange {
public:
    WaitingForExchange() : token_(call_method(nb::handle(exchange_mark), "set", nb::handle(Py_True))) {}
    ~WaitingForExchange() {
        nb::error_scope pending;
        try {
            call_method(nb::handle(exchange_mark), "reset", token_);
        } catch (nb::python_error&) {
            // the context is the one the mark was set in; nothing to report to
        }
    }
    WaitingForExchange(const WaitingForExchange&) = delete;
    WaitingForExchange& operator=(const WaitingForExchange&) = delete;

private:
    InExchange counted_;
    nb::object token_;
};

// ---------------------------------------------------------------------------
// The handler's lock

// The lock the framework takes around each record's emit (the one the
// handler's createLock made), wrapped: a thread of an exchange passes it
// without taking it, every other thread takes the lock itself. It also holds
// the handler's turn for exchanges: `busy` is held from the start of one of
// the handler's exchanges to its end, which may come after the log call that
// started it has given up.
struct HandlerLock {
    PyObject ob_base;
    PyObject* lock;  // the framework's lock, or None for the lock of no handler
    PyObject* busy;  // a threading.Lock
    pid_t pid;       // the process that made `busy`
};

PyTypeObject* handler_lock_type = nullptr;
PyObject* name_acquire = nullptr;
PyObject* name_release = nullptr;
PyObject* name_at_fork_reinit = nullptr;

HandlerLock* as_handler_lock(PyObject* obj) { return reinterpret_cast<HandlerLock*>(obj); }

bool is_handler_lock(nb::handle obj) { return obj.is_valid() && Py_TYPE(obj.ptr()) == handler_lock_type; }

// A new threading.Lock, as the host's threading module makes one now.
PyObject* new_host_lock() {
    PyObject* threading = PyImport_ImportModule("threading");
    if (threading == nullptr) return nullptr;
    PyObject* factory = PyObject_GetAttrString(threading, "Lock");
    Py_DECREF(threading);
    if (factory == nullptr) return nullptr;
    PyObject* lock = PyObject_CallNoArgs(factory);
    Py_DECREF(factory);
    return lock;
}

// A turn of this process, free: for the child of a fork, where an exchange
// of the parent's may hold the old one for good. False with the error set.
bool renew_turn(HandlerLock* h) {
    PyObject* busy = new_host_lock();
    if (busy == nullptr) return false;
    Py_XDECREF(std::exchange(h->busy, busy));
    h->pid = getpid();
    return true;
}

// lock.<name>(*args, **kwargs) of the wrapped lock, for a method called with
// the vectorcall convention.
PyObject* call_wrapped(PyObject* self, PyObject* name, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Py_ssize_t total = nargs + (kwnames != nullptr ? PyTuple_Size(kwnames) : 0);
    constexpr Py_ssize_t small = 6;
    PyObject* local[small + 1];
    std::vector<PyObject*> large;
    PyObject** argv = local;
    if (total > small) {
        large.resize(static_cast<std::size_t>(total) + 1);
        argv = large.data();
    }
    argv[0] = as_handler_lock(self)->lock;
    if (argv[0] == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "the handler's lock is gone");
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < total; ++i) argv[i + 1] = args[i];
    return PyObject_VectorcallMethod(name, argv, static_cast<std::size_t>(nargs + 1), kwnames);
}

PyObject* HandlerLock_acquire(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (in_exchange()) Py_RETURN_TRUE;
    return call_wrapped(self, name_acquire, args, nargs, kwnames);
}

PyObject* HandlerLock_release(PyObject* self, PyObject*) {
    if (in_exchange()) Py_RETURN_NONE;
    return call_wrapped(self, name_release, nullptr, 0, nullptr);
}

PyObject* HandlerLock_enter(PyObject* self, PyObject*) { return HandlerLock_acquire(self, nullptr, 0, nullptr); }

PyObject* HandlerLock_exit(PyObject* self, PyObject* const*, Py_ssize_t) { return HandlerLock_release(self, nullptr); }

// In the child of a fork (the framework calls it for every handler): the
// wrapped lock made new, and no exchange of the parent's holding the turn.
PyObject* HandlerLock_at_fork_reinit(PyObject* self, PyObject*) {
    if (!renew_turn(as_handler_lock(self))) return nullptr;
    return call_wrapped(self, name_at_fork_reinit, nullptr, 0, nullptr);
}

// What the wrapped lock has besides (its _is_owned, say) answers through it.
PyObject* HandlerLock_getattro(PyObject* self, PyObject* name) {
    PyObject* value = PyObject_GenericGetAttr(self, name);
    if (value != nullptr || !PyErr_ExceptionMatches(PyExc_AttributeError)) return value;
    PyErr_Clear();
    PyObject* lock = as_handler_lock(self)->lock;
    if (lock == nullptr) {
        PyErr_SetObject(PyExc_AttributeError, name);
        return nullptr;
    }
    return PyObject_GetAttr(lock, name);
}

PyObject* HandlerLock_repr(PyObject* self) {
    return PyUnicode_FromFormat("<NER handler lock over %R>", as_handler_lock(self)->lock);
}

int HandlerLock_traverse(PyObject* self, visitproc visit, void* arg) {
    HandlerLock* h = as_handler_lock(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(h->lock);
    Py_VISIT(h->busy);
    return 0;
}

int HandlerLock_clear(PyObject* self) {
    HandlerLock* h = as_handler_lock(self);
    Py_CLEAR(h->lock);
    Py_CLEAR(h->busy);
    return 0;
}

void HandlerLock_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    HandlerLock_clear(self);
    free_instance(self);
}

PyMethodDef handler_lock_methods[] = {
    {"acquire", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(HandlerLock_acquire)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"release", HandlerLock_release, METH_NOARGS, nullptr},
    {"__enter__", HandlerLock_enter, METH_NOARGS, nullptr},
    {"__exit__", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(HandlerLock_exit)), METH_FASTCALL, nullptr},
    {"_at_fork_reinit", HandlerLock_at_fork_reinit, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot handler_lock_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(HandlerLock_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(HandlerLock_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(HandlerLock_clear)},
    {Py_tp_getattro, reinterpret_cast<void*>(HandlerLock_getattro)},
    {Py_tp_repr, reinterpret_cast<void*>(HandlerLock_repr)},
    {Py_tp_methods, handler_lock_methods},
    {0, nullptr},
};

PyType_Spec handler_lock_spec = {
    "zunt_core.logger.ner_pii_logger_handler._HandlerLock",
    sizeof(HandlerLock),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    handler_lock_slots,
};

// The type, once per process; like the package's other native types it is
// never released.
void init_handler_lock_type() {
    if (handler_lock_type != nullptr) return;
    for (auto [name, text] : {std::pair{&name_acquire, "acquire"}, std::pair{&name_release, "release"},
                              std::pair{&name_at_fork_reinit, "_at_fork_reinit"}, std::pair{&name_get, "get"}}) {
        if (*name == nullptr) *name = steal_or_throw(PyUnicode_InternFromString(text)).release().ptr();
    }
    if (exchange_mark == nullptr) {
        nb::object context_var = nb::module_::import_("contextvars").attr("ContextVar");
        exchange_mark = context_var("zunt_core NER exchange", nb::arg("default") = false).release().ptr();
    }
    PyObject* tp = PyType_FromSpec(&handler_lock_spec);
    if (tp == nullptr) throw_current();
    handler_lock_type = reinterpret_cast<PyTypeObject*>(tp);
}

nb::object make_handler_lock(nb::handle lock) {
    nb::object busy = steal_or_throw(new_host_lock());
    nb::object obj = new_instance(handler_lock_type);
    HandlerLock* h = as_handler_lock(obj.ptr());
    h->lock = Py_NewRef(lock.ptr());
    h->busy = busy.release().ptr();
    h->pid = getpid();
    return obj;
}

// The lock that holds the turn of a handler's exchanges: the one in its
// lock. A lock made anew since (createLock called again) is wrapped anew,
// so that threads of exchanges pass it again; a handler without a lock
// shares one turn with every such handler. In the child of a fork, an
// exchange of the parent holds no turn.
nb::object turn_of(nb::handle handler, nb::handle lock_name, nb::handle shared) {
    nb::object lock = attr_or_missing(handler, lock_name);
    if (!is_handler_lock(lock)) {
        if (lock.is_valid() && truthy(lock)) {
            lock = make_handler_lock(lock);
            set_attr(handler, lock_name, lock);
        } else {
            lock = nb::borrow(shared);
        }
    }
    HandlerLock* h = as_handler_lock(lock.ptr());
    if (h->pid != getpid() && !renew_turn(h)) throw_current();
    return nb::borrow(h->busy);
}

// ---------------------------------------------------------------------------
// One exchange, shared by the log call and the thread that runs it
//
// Everything the exchange thread does with Python objects goes through
// rt::parked (runtime/thread_exit.hpp), and it owns references only as
// ExitSafeRefs: the host may end that thread at exit anywhere in the host's
// code, and none of our frames is to be unwound then.

struct Exchange {
    ExitSafeRef post;    // requests.post, as bound when the log call began
    ExitSafeRef args;    // (api_url,)
    ExitSafeRef kwargs;  // of the request: json=..., timeout=3, ...
    ExitSafeRef api_field;
    ExitSafeRef message;
    ExitSafeRef busy;    // the handler's turn, held until the exchange ends
    Clock::time_point deadline;
    ExitSafeRef text;    // the text to log, once an answer was taken in time
    ExitSafeRef interrupt;  // an error of the exchange that is no Exception, for the log call
    bool claimed = false;  // the exchange thread began, or the log call took the turn back
};

constexpr const char* exchange_capsule_name = "zunt_core.logger.ner_pii_logger_handler.Exchange";

void free_exchange(PyObject* capsule) {
    delete static_cast<Exchange*>(PyCapsule_GetPointer(capsule, exchange_capsule_name));
}

// What the exchange thread uses.
enum class ExchangeName {
    requests, raise_for_status, request, body, raw, read1, decode_content_kwnames, content, content_consumed, json,
    get, close, release, join, empty_bytes, read_step, status_code, exceptions, http_error, response_kwnames,
    count
};
using ExchangeNames = Table<ExchangeName>;

nb::object make_exchange_names(nb::handle requests) {
    using N = ExchangeName;
    return ExchangeNames::make({
        {N::requests, requests},
        {N::raise_for_status, "raise_for_status"},
        {N::request, "request"},
        {N::body, "body"},
        {N::raw, "raw"},
        {N::read1, "read1"},
        {N::decode_content_kwnames, nb::make_tuple(nb::str("decode_content"))},
        {N::content, "_content"},
        {N::content_consumed, "_content_consumed"},
        {N::json, "json"},
        {N::get, "get"},
        {N::close, "close"},
        {N::release, "release"},
        {N::join, "join"},
        {N::empty_bytes, nb::bytes("")},
        {N::read_step, nb::int_(body_read_step)},
        {N::status_code, "status_code"},
        {N::exceptions, "exceptions"},
        {N::http_error, "HTTPError"},
        {N::response_kwnames, nb::make_tuple(nb::str("response"))},
    });
}

// An entry of the exchange thread's names, as the C API takes it.
class ExchangeNamesView {
public:
    explicit ExchangeNamesView(nb::handle table) : table_(table) {}
    PyObject* operator[](ExchangeName name) const { return table_[name].ptr(); }

private:
    ExchangeNames table_;
};

// The answer's body, read as it arrives and decoded as it is read, then kept
// on the response as its own reading would have kept it, so that json()
// decodes it with the response's encoding rules. False when it grows past
// `limit` bytes or is not complete by the deadline, or on an error (set).
bool read_answer_body(PyObject* response, const ExchangeNamesView& names, Clock::time_point deadline,
                      Py_ssize_t limit) {
    using N = ExchangeName;
    ExitSafeRef raw = parked::get_attr(response, names[N::raw]);
    ExitSafeRef read1 = raw ? parked::get_attr(raw.get(), names[N::read1]) : ExitSafeRef();
    ExitSafeRef chunks = parked::host_call([] { return PyList_New(0); });
    if (!read1 || !chunks) return false;
    PyObject* argv[] = {names[N::read_step], Py_True};
    Py_ssize_t size = 0;
    for (;;) {
        if (Clock::now() >= deadline) return false;
        ExitSafeRef chunk = parked::vectorcall(read1.get(), argv, 1, names[N::decode_content_kwnames]);
        if (!chunk) return false;
        const Py_ssize_t n = parked::size(chunk.get());
        if (n < 0) return false;
        if (n == 0) break;
        size += n;
        if (size > limit) return false;
        if (park_on_thread_exit([&] { return PyList_Append(chunks.get(), chunk.get()); }) != 0) return false;
    }
    if (Clock::now() > deadline) return false;
    ExitSafeRef content = parked::call_method(names[N::empty_bytes], names[N::join], chunks.get());
    return content && parked::set_attr(response, names[N::content], content.get()) == 0 &&
           parked::set_attr(response, names[N::content_consumed], Py_True) == 0;
}

// The text to log from the service's answer: its member `api_field`, or the
// message when the answer is no JSON object or has no such member. Null when
// the answer cannot be used (an error status, a body too large or too late,
// no JSON), with or without an error set.
ExitSafeRef answer_text(const Exchange& x, PyObject* response, const ExchangeNamesView& names) {
    using N = ExchangeName;
    if (!parked::call_method(response, names[N::raise_for_status])) return {};
    ExitSafeRef request = parked::get_attr(response, names[N::request]);
    ExitSafeRef sent = request ? parked::get_attr(request.get(), names[N::body]) : ExitSafeRef();
    const Py_ssize_t sent_size = sent ? parked::size(sent.get()) : -1;
    if (sent_size < 0) return {};
    const Py_ssize_t limit = std::max(answer_size_floor, answer_size_factor * sent_size);
    if (!read_answer_body(response, names, x.deadline, limit)) return {};
    ExitSafeRef answer = parked::call_method(response, names[N::json]);
    if (!answer) return {};
    if (!PyDict_Check(answer.get())) return ExitSafeRef(Py_NewRef(x.message.get()));
    return parked::call_method(answer.get(), names[N::get], x.api_field.get(), x.message.get());
}

// The exchange itself, on its own thread. Any failure (the service cannot be
// reached, a redirect, an error status, an answer too slow, too large or not
// decodable, an error of the HTTP client of whatever kind, memory running
// out on the answer) leaves no text, silently: nobody is there to hear it.
void run_exchange(PyObject* job, const ExchangeNamesView& names) {
    using N = ExchangeName;
    auto* x = static_cast<Exchange*>(park_on_thread_exit([&] { return PyCapsule_GetPointer(job, exchange_capsule_name); }));
    if (x == nullptr || x->claimed) {
        parked::clear_error();
        return;
    }
    x->claimed = true;
    InExchange running;
    ExitSafeRef response = parked::call(x->post.get(), x->args.get(), x->kwargs.get());
    ExitSafeRef text = response ? answer_text(*x, response.get(), names) : ExitSafeRef();
    // An error that is no Exception (an interrupt, an exit that a mock of the
    // client raises) goes to the log call, as if the request were made on its
    // thread; any other failure only leaves no text.
    ExitSafeRef raised = parked::host_call([] { return PyErr_GetRaisedException(); });
    if (raised && !PyErr_GivenExceptionMatches(raised.get(), PyExc_Exception)) x->interrupt = std::move(raised);
    if (response) {
        parked::call_method(response.get(), names[N::close]);
        parked::clear_error();
    }
    if (text && Clock::now() <= x->deadline) x->text = std::move(text);
    parked::call_method(x->busy.get(), names[N::release]);
    parked::clear_error();
}

// _exchange(job): what the exchange thread runs, in the context of the log
// call (closure: the exchange names).
nb::object exchange_thread_body(Call& c) {
    run_exchange(c[0].ptr(), ExchangeNamesView(c.closure()));
    return nb::none();
}

// The request's response hook, on the exchange thread: a redirect fails the
// request as an error status does. It runs before `requests` handles the
// redirect, which even when not following it reads the whole body of the
// answer to prepare the next request. Null with the error set: the redirect's
// error, or one of the look-ups'.
ExitSafeRef refuse_redirect_raw(PyObject* response, const ExchangeNamesView& names) {
    using N = ExchangeName;
    ExitSafeRef status_code = parked::get_attr(response, names[N::status_code]);
    if (!status_code) return {};
    const long status = park_on_thread_exit([&] { return PyLong_AsLong(status_code.get()); });
    if (status == -1 && PyErr_Occurred()) return {};
    if (status < 300 || status >= 400) return ExitSafeRef(Py_NewRef(Py_None));
    if (!parked::call_method(response, names[N::close])) return {};
    ExitSafeRef exceptions = parked::get_attr(names[N::requests], names[N::exceptions]);
    ExitSafeRef http_error = exceptions ? parked::get_attr(exceptions.get(), names[N::http_error]) : ExitSafeRef();
    ExitSafeRef text = parked::host_call(
        [&] { return PyUnicode_FromFormat("%ld redirect not followed: the text goes only to api_url", status); });
    if (!http_error || !text) return {};
    PyObject* argv[] = {text.get(), response};
    ExitSafeRef error = parked::vectorcall(http_error.get(), argv, 1, names[N::response_kwnames]);
    if (error) {
        park_on_thread_exit(
            [&] { PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get()); });
    }
    return {};
}

// _refuse_redirect(response, **kwargs) (closure: the exchange names)
nb::object refuse_redirect(Call& c) {
    ExitSafeRef result = refuse_redirect_raw(c[0].ptr(), ExchangeNamesView(c.closure()));
    return steal_or_throw(result.release());
}

// ---------------------------------------------------------------------------
// The handler

// What process_message_using_ner reads at each call.
enum class ProcessName {
    threading, copy_context, is_finalizing, exchange_thread_body, refuse_redirect, shared_lock,
    lock, thread, start, join, acquire, release, run, thread_name, response,
    count
};
using ProcessNames = Table<ProcessName>;

// obj.<name>(args...) for a call that may wait long: should the host end
// this thread meanwhile (at exit), it stays inside.
template <class... Args>
nb::object call_waiting(nb::handle obj, nb::handle name, Args... args) {
    ExitSafeRef result = parked::call_method(obj.ptr(), name.ptr(), args.ptr()...);
    return steal_or_throw(result.release());
}

// Waits, until the deadline, for the handler's turn: its last exchange may
// still run after the log call that started it gave up.
bool take_turn(const ProcessNames& names, nb::handle busy, Clock::time_point deadline) {
    nb::object left = nb::float_(seconds_left(deadline));
    return truthy(call_waiting(busy, names[ProcessName::acquire], nb::handle(Py_True), nb::handle(left)));
}

// The exchange for one message: its request, answer and text, on a thread
// of its own, waited for until the deadline. Unset when no text came in time.
nb::object exchange(const Call& c, const ProcessNames& names, nb::handle self, nb::handle message,
                    Clock::time_point deadline) {
    // Once the host finalises, no thread starts, and an exchange held by a slow
    // service may keep the handler's turn for good: no waiting then.
    if (truthy(names[ProcessName::is_finalizing]())) return {};
    nb::object post = c.global("requests").attr("post");
    nb::dict body;
    body["text"] = message;
    nb::list entities;
    for (const char* entity : {"EMAIL_ADDRESS", "ID_KTP", "ID_NPWP", "PHONE_NUMBER"}) {
        entities.append(nb::str(entity));
    }
    body["entities"] = entities;
    nb::dict hooks;
    hooks[names[ProcessName::response]] = names[ProcessName::refuse_redirect];
    // stream: the body is read by the exchange, within the deadline and the
    // size limit; the request on the wire is the same.
    nb::dict kwargs;
    kwargs["json"] = body;
    kwargs["timeout"] = 3;
    kwargs["allow_redirects"] = false;
    kwargs["stream"] = true;
    kwargs["hooks"] = hooks;
    nb::object busy = turn_of(self, names[ProcessName::lock], names[ProcessName::shared_lock]);
    auto owned = std::make_unique<Exchange>();
    Exchange& x = *owned;
    x.post = ExitSafeRef(post.release().ptr());
    x.args = ExitSafeRef(nb::make_tuple(self.attr("api_url")).release().ptr());
    x.kwargs = ExitSafeRef(kwargs.release().ptr());
    x.api_field = ExitSafeRef(nb::object(self.attr("api_field")).release().ptr());
    x.message = ExitSafeRef(Py_NewRef(message.ptr()));
    x.busy = ExitSafeRef(Py_NewRef(busy.ptr()));
    x.deadline = deadline;
    nb::object job = steal_or_throw(PyCapsule_New(owned.get(), exchange_capsule_name, free_exchange));
    owned.release();

    if (!take_turn(names, busy, deadline)) return {};
    // The turn is the exchange thread's to give back once it has begun the
    // exchange; until then (the thread could not be made, or ended without
    // beginning), the log call's.
    auto give_back_turn = [&] {
        if (x.claimed) return;
        x.claimed = true;
        call_method(busy, names[ProcessName::release]);
    };
    if (Clock::now() >= deadline) {
        give_back_turn();  // it came too late to be of use
        return {};
    }
    try {
        nb::object context = names[ProcessName::copy_context]();
        nb::object thread = names[ProcessName::threading].attr(names[ProcessName::thread])(
            nb::arg("target") = context.attr(names[ProcessName::run]),
            nb::arg("args") = nb::make_tuple(names[ProcessName::exchange_thread_body], job),
            nb::arg("name") = names[ProcessName::thread_name], nb::arg("daemon") = true);
        call_waiting(thread, names[ProcessName::start]);
        call_waiting(thread, names[ProcessName::join], nb::float_(seconds_left(deadline)));
    } catch (...) {
        give_back_turn();
        throw;
    }
    give_back_turn();
    if (x.interrupt) {
        PyErr_SetRaisedException(Py_NewRef(x.interrupt.get()));
        throw_current();
    }
    return x.text ? nb::borrow(x.text.get()) : nb::object();
}

// NerLoggerHandler.__init__(self, api_url, api_field, pii_ner_process_enabled=False)
nb::object NerLoggerHandler_init(Call& c) {
    nb::handle self = c[0];
    super_of(c.closure(), self).attr("__init__")();
    nb::object lock = self.attr("lock");
    if (truthy(lock)) self.attr("lock") = make_handler_lock(lock);
    self.attr("api_url") = c[1];
    self.attr("api_field") = c[2];
    self.attr("pii_ner_process_enabled") = c[3];
    return nb::none();
}

// NerLoggerHandler.process_message_using_ner(self, message)
// (closure: the process names)
//
// Any failure of the exchange leaves the message as it is, and so does a
// deadline passed before an answer was taken. Errors that are no Exception
// (an interrupt of the wait) pass.
nb::object NerLoggerHandler_process_message_using_ner(Call& c) {
    nb::handle self = c[0];
    nb::handle message = c[1];
    const auto deadline = Clock::now() + exchange_deadline;
    WaitingForExchange waiting;
    try {
        nb::object text = exchange(c, ProcessNames(c.closure()), self, message, deadline);
        if (text.is_valid()) return text;
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_Exception)) throw;
    }
    return nb::borrow(message);
}

// NerLoggerHandler.emit(self, record)
nb::object NerLoggerHandler_emit(Call& c) {
    nb::handle self = c[0];
    nb::handle record = c[1];
    if (in_exchange()) return nb::none();
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
    nb::object requests = m.import_bind("requests");
    nb::object threading = m.import("threading");
    nb::object contextvars = m.import("contextvars");
    init_handler_lock_type();

    nb::object str = builtin("str");
    nb::object bool_ = builtin("bool");
    nb::object none = nb::none();

    nb::object exchange_names = make_exchange_names(requests);
    nb::object exchange_body = m.function({.name = "_exchange", .params = {arg("job")},
                                           .impl = exchange_thread_body, .closure = exchange_names});
    nb::object response_hook = m.function({.name = "_refuse_redirect",
                                           .params = {arg("response"), var_kwargs()},
                                           .impl = refuse_redirect, .closure = exchange_names});
    using P = ProcessName;
    nb::object process_names = ProcessNames::make({
        {P::threading, threading},
        {P::copy_context, nb::object(contextvars.attr("copy_context"))},
        {P::is_finalizing, nb::object(m.import("sys").attr("is_finalizing"))},
        {P::exchange_thread_body, exchange_body},
        {P::refuse_redirect, response_hook},
        {P::shared_lock, make_handler_lock(none)},
        {P::lock, "lock"},
        {P::thread, "Thread"},
        {P::start, "start"},
        {P::join, "join"},
        {P::acquire, "acquire"},
        {P::release, "release"},
        {P::run, "run"},
        {P::thread_name, "zunt_core NER exchange"},
        {P::response, "response"},
    });

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
                 .returns = str, .closure = process_names});
    cls.build();

    m.def({.name = "init_ner_pii_logging_handler",
           .params = {arg("logger_name", str), arg("api_url", str), arg("api_field", str),
                      arg_default("pii_ner_process_enabled", bool_, nb::bool_(false))},
           .impl = init_ner_pii_logging_handler,
           .doc = "Attach a new NerLoggerHandler to the named logger, after its other handlers.",
           .returns = none});
}

}  // namespace zunt
