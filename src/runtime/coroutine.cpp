#include "runtime/coroutine.hpp"

#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/thread_exit.hpp"

#include <cstddef>
#include <string>

namespace zunt::rt {

namespace {

enum class State { created, suspended, finished };

struct CoroutineObject {
    PyObject ob_base;
    AsyncBody* body;
    PyObject* awaiting;  // iterator of the awaited object, from its first step until it ends
    PyObject* qualname;
    PyObject* wrapped;   // the function whose coroutine it stands for, or null
    PyObject* stand_in;  // the frame it shows while it has none to borrow, once asked for
    PyObject* origin;    // cr_origin, or null
    PyObject* weakreflist;
    State state;
    bool running;
};

PyTypeObject* coroutine_type = nullptr;
// The host's own coroutine type (types.CoroutineType), a static type of the
// host that lives as long as the process: awaited directly, as `await` does.
PyTypeObject* host_coroutine_type = nullptr;
// The host's frame type (types.FrameType), also static: the class that a
// stand-in frame answers.
PyTypeObject* host_frame_type = nullptr;

CoroutineObject* as_coroutine(PyObject* obj) { return reinterpret_cast<CoroutineObject*>(obj); }

// What a coroutine standing for a function shows as its frame while it has
// none of the host's to show: a frame of the function's code that has not
// started, as far as the host's stack walks and inspect read one (f_code,
// f_lineno at the code's first line, f_lasti, f_globals, empty f_locals, no
// f_back). The stable ABI cannot make a frame of the host's, so it answers
// __class__ with types.FrameType, for inspect.isframe and the inspect
// functions that check it (getframeinfo, getouterframes).
struct StandInFrame {
    PyObject ob_base;
    PyObject* code;
    PyObject* globals;
    PyObject* lineno;
    PyObject* locals;
    int lasti;
};

PyTypeObject* stand_in_frame_type = nullptr;

StandInFrame* as_stand_in(PyObject* obj) { return reinterpret_cast<StandInFrame*>(obj); }

PyObject* stand_in_frame_back(PyObject*, void*) { Py_RETURN_NONE; }

PyObject* stand_in_frame_class(PyObject*, void*) { return Py_NewRef(reinterpret_cast<PyObject*>(host_frame_type)); }

// A frame of the host's has no __module__ (its type is a static one), the
// stand-in's type has one: inspect.getmodule would take that module for the
// module of the frame's code.
PyObject* stand_in_frame_getattro(PyObject* self, PyObject* name) {
    if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, "__module__") == 0) {
        PyErr_SetString(PyExc_AttributeError, "'frame' object has no attribute '__module__'");
        return nullptr;
    }
    return PyObject_GenericGetAttr(self, name);
}

PyObject* stand_in_frame_repr(PyObject* self) {
    StandInFrame* f = as_stand_in(self);
    PyObject* filename = PyObject_GetAttrString(f->code, "co_filename");
    PyObject* name = filename ? PyObject_GetAttrString(f->code, "co_name") : nullptr;
    PyObject* text = name ? PyUnicode_FromFormat("<frame of a coroutine not started, file %R, line %S, code %S>",
                                                 filename, f->lineno, name)
                          : nullptr;
    Py_XDECREF(filename);
    Py_XDECREF(name);
    return text;
}

int stand_in_frame_traverse(PyObject* self, visitproc visit, void* arg) {
    StandInFrame* f = as_stand_in(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->code);
    Py_VISIT(f->globals);
    Py_VISIT(f->lineno);
    Py_VISIT(f->locals);
    return 0;
}

int stand_in_frame_clear(PyObject* self) {
    StandInFrame* f = as_stand_in(self);
    Py_CLEAR(f->code);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->lineno);
    Py_CLEAR(f->locals);
    return 0;
}

void stand_in_frame_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    stand_in_frame_clear(self);
    free_instance(self);
}

PyMemberDef stand_in_frame_members[] = {
    {"f_code", Py_T_OBJECT_EX, offsetof(StandInFrame, code), Py_READONLY, nullptr},
    {"f_globals", Py_T_OBJECT_EX, offsetof(StandInFrame, globals), Py_READONLY, nullptr},
    {"f_lineno", Py_T_OBJECT_EX, offsetof(StandInFrame, lineno), Py_READONLY, nullptr},
    {"f_locals", Py_T_OBJECT_EX, offsetof(StandInFrame, locals), Py_READONLY, nullptr},
    {"f_lasti", Py_T_INT, offsetof(StandInFrame, lasti), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef stand_in_frame_getset[] = {
    {"f_back", stand_in_frame_back, nullptr, nullptr, nullptr},
    {"__class__", stand_in_frame_class, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot stand_in_frame_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(stand_in_frame_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(stand_in_frame_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(stand_in_frame_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(stand_in_frame_repr)},
    {Py_tp_getattro, reinterpret_cast<void*>(stand_in_frame_getattro)},
    {Py_tp_members, stand_in_frame_members},
    {Py_tp_getset, stand_in_frame_getset},
    {0, nullptr},
};

PyType_Spec stand_in_frame_spec = {
    "zunt_core.coroutine_frame",
    sizeof(StandInFrame),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    stand_in_frame_slots,
};

// f_lasti of the frame of a coroutine of `code` that has not started, as the
// host answers it: the offset of the code's RETURN_GENERATOR, the instruction
// that made the coroutine (after the prologue that copies free variables and
// makes cells); from 3.13 on, that of the instruction after it, where the
// coroutine resumes. -1, the host's "no instruction run", for code that makes
// no coroutine. The opcode is the host's number for it.
int not_started_lasti(nb::handle code) {
    nb::object opcode = steal_or_throw(PyImport_ImportModule("opcode"));
    nb::object opmap = get_attr(opcode, nb::str("opmap"));
    nb::object return_generator = steal_or_throw(PyObject_GetItem(opmap.ptr(), nb::str("RETURN_GENERATOR").ptr()));
    const long op = PyLong_AsLong(return_generator.ptr());
    if (op == -1 && PyErr_Occurred()) throw_current();
    nb::object bytecode = get_attr(code, nb::str("co_code"));
    char* units = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytecode.ptr(), &units, &size) != 0) throw_current();
    constexpr unsigned long python_3_13 = 0x030D0000;
    for (Py_ssize_t offset = 0; offset + 1 < size; offset += 2) {
        if (static_cast<unsigned char>(units[offset]) == op) {
            return static_cast<int>(Py_Version >= python_3_13 ? offset + 2 : offset);
        }
    }
    return -1;
}

nb::object make_stand_in_frame(nb::handle code, nb::handle globals) {
    nb::object lineno = get_attr(code, nb::str("co_firstlineno"));
    const int lasti = not_started_lasti(code);
    nb::object locals = nb::dict();
    nb::object obj = new_instance(stand_in_frame_type);
    StandInFrame* f = as_stand_in(obj.ptr());
    f->code = Py_NewRef(code.ptr());
    f->globals = Py_NewRef(globals.ptr());
    f->lineno = lineno.release().ptr();
    f->locals = locals.release().ptr();
    f->lasti = lasti;
    return obj;
}

// cr_origin, as the host's coroutines keep it from when they are made: unset
// (None) unless origin tracking is on at that moment
// (sys.set_coroutine_origin_tracking_depth(n), n > 0), and then (filename,
// line, function name) of each of the n newest frames running, newest first.
// With tracking off it costs one call. The newest frame is the caller's, as
// for the host's: the coroutine has no frame of its own, and a native
// function that makes it runs none either.
nb::object origin_here() {
    PyObject* tracking_depth = PySys_GetObject("get_coroutine_origin_tracking_depth");  // borrowed
    if (tracking_depth == nullptr) return nb::object();
    nb::object answer = steal_or_throw(PyObject_CallNoArgs(tracking_depth));
    const long depth = PyLong_AsLong(answer.ptr());
    if (depth == -1 && PyErr_Occurred()) throw_current();
    if (depth <= 0) return nb::object();
    nb::list frames;
    PyObject* newest = reinterpret_cast<PyObject*>(PyEval_GetFrame());  // borrowed, null when none runs
    nb::object frame = newest != nullptr ? nb::borrow(newest) : nb::none();
    for (long n = 0; n < depth && !frame.is_none(); ++n) {
        auto* f = reinterpret_cast<PyFrameObject*>(frame.ptr());
        nb::object code = steal_or_throw(reinterpret_cast<PyObject*>(PyFrame_GetCode(f)));
        frames.append(nb::make_tuple(get_attr(code, nb::str("co_filename")), PyFrame_GetLineNumber(f),
                                     get_attr(code, nb::str("co_name"))));
        frame = get_attr(frame, nb::str("f_back"));
    }
    return nb::tuple(frames);
}

// Marks the coroutine finished. The body stays until the stretch of work
// that finished it ends (Stretch below), so that it can still leave().
void finish(CoroutineObject* c) {
    c->state = State::finished;
    Py_CLEAR(c->awaiting);
    Py_CLEAR(c->stand_in);
}

// Suspended at an await and not running: what the host's cr_suspended
// answers, and when it refuses a second awaiter.
bool waits(const CoroutineObject* c) { return c->state == State::suspended && c->awaiting != nullptr && !c->running; }

// Runs a hook of the body; an error it lets out is reported as unraisable,
// and an error pending before it stays pending.
void run_hook(PyObject* self, AsyncBody* body, void (AsyncBody::*hook)()) {
    run_unraisable(nb::handle(self), [&] { (body->*hook)(); });
}

// One stretch of work done for the caller (a send, throw or close): marks
// the coroutine running, lets a started body enter() before and leave()
// after, and releases the body once the coroutine has finished.
class Stretch {
public:
    Stretch(CoroutineObject* c, bool runs_body) : c_(c) {
        c->running = true;
        if (runs_body && c->body != nullptr) {
            entered_ = c->body;
            run_hook(self(), entered_, &AsyncBody::enter);
        }
    }

    ~Stretch() {
        if (entered_ != nullptr) run_hook(self(), entered_, &AsyncBody::leave);
        c_->running = false;
        if (c_->state == State::finished && c_->body != nullptr) {
            nb::error_scope pending;
            AsyncBody* body = c_->body;
            c_->body = nullptr;
            delete body;
        }
    }

    Stretch(const Stretch&) = delete;
    Stretch& operator=(const Stretch&) = delete;

private:
    PyObject* self() const { return reinterpret_cast<PyObject*>(c_); }

    CoroutineObject* c_;
    AsyncBody* entered_ = nullptr;
};

// Sets StopIteration(result) as the pending error: the coroutine's return.
PyObject* stop_with(nb::handle result) {
    PyObject* exc = call_one(PyExc_StopIteration, result.ptr());
    if (exc != nullptr) {
        PyErr_SetObject(PyExc_StopIteration, exc);
        Py_DECREF(exc);
    }
    return nullptr;
}

// A generator marked by types.coroutine is awaitable without __await__: the
// host awaits it directly. New reference, or null without an error set.
PyObject* generator_based_coroutine(PyObject* obj) {
    constexpr long iterable_coroutine_flag = 0x100;
    PyObject* code = PyObject_GetAttrString(obj, "gi_code");
    if (code == nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    PyObject* flags = PyObject_GetAttrString(code, "co_flags");
    Py_DECREF(code);
    if (flags == nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    long value = PyLong_AsLong(flags);
    Py_DECREF(flags);
    if (value == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return nullptr;
    }
    return (value & iterable_coroutine_flag) ? Py_NewRef(obj) : nullptr;
}

// A host coroutine, awaited directly: refused, as the host's `await` refuses
// it, while it waits for another awaiter. New reference, or null with the
// error set.
PyObject* host_coroutine_iterator(PyObject* coroutine) {
    PyObject* awaited = PyObject_GetAttrString(coroutine, "cr_await");
    if (awaited == nullptr) return nullptr;
    const bool waits_already = awaited != Py_None;
    Py_DECREF(awaited);
    if (waits_already) {
        PyErr_SetString(PyExc_RuntimeError, "coroutine is being awaited already");
        return nullptr;
    }
    return Py_NewRef(coroutine);
}

// iter = awaitable's iterator, as the host's `await` gets it: a host
// coroutine is iterated directly (without the wrapper its __await__ makes),
// anything else through __await__, a generator marked by types.coroutine as
// it is. New reference, or null with the error set.
PyObject* awaitable_iterator(PyObject* awaitable) {
    if (host_coroutine_type != nullptr && Py_TYPE(awaitable) == host_coroutine_type) {
        return host_coroutine_iterator(awaitable);
    }
    PyObject* it = PyObject_CallMethod(awaitable, "__await__", nullptr);
    if (it != nullptr) return it;
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        it = generator_based_coroutine(awaitable);
    }
    if (it == nullptr && !PyErr_Occurred()) {
        PyObject* type_name = PyType_GetName(Py_TYPE(awaitable));
        if (type_name != nullptr) {
            PyErr_Format(PyExc_TypeError, "object %U can't be used in 'await' expression", type_name);
            Py_DECREF(type_name);
        }
    }
    return it;
}

// PyIter_Send, for the awaited object's step: what it runs may be under way
// when the host ends this (daemon) thread at exit, and the thread then stays
// there rather than unwind the frames of the coroutine's work
// (runtime/thread_exit.hpp).
PySendResult send_parking(PyObject* iter, PyObject* value, PyObject** result) {
    return park_on_thread_exit([&] { return PyIter_Send(iter, value, result); });
}

// Resumes the body with the outcome of what it awaited: its result (r is
// RETURN, `value` a new reference) or its error (ERROR, the error pending).
// False when the body raised: the coroutine has finished, with the body's
// error set.
bool resume_body(CoroutineObject* c, PySendResult r, PyObject* value, Step& step) {
    try {
        if (r == PYGEN_RETURN) {
            nb::object result = nb::steal(value);
            step = c->body->resume(result);
        } else {
            nb::python_error error;
            step = c->body->resume_error(error);
        }
        return true;
    } catch (...) {
        finish(c);
        translate_exception();
        return false;
    }
}

// Runs the body from `step` on: starts each awaited object, and gives out
// (NEXT) the first value one of them yields, or the result when the body
// finishes (RETURN), or fails (ERROR, the error set).
PySendResult advance(CoroutineObject* c, Step step, PyObject** out) {
    for (;;) {
        if (step.done) {
            *out = step.value.release().ptr();
            finish(c);
            return PYGEN_RETURN;
        }
        PyObject* it = awaitable_iterator(step.value.ptr());
        PyObject* yielded = nullptr;
        PySendResult r = PYGEN_ERROR;
        if (it != nullptr) {
            // What it awaits from the first step of that object on, for
            // introspection from inside.
            nb::object iter = nb::steal(it);
            c->awaiting = Py_NewRef(it);
            r = send_parking(it, Py_None, &yielded);
        }
        if (r == PYGEN_NEXT) {
            c->state = State::suspended;
            *out = yielded;
            return PYGEN_NEXT;
        }
        Py_CLEAR(c->awaiting);
        if (!resume_body(c, r, yielded, step)) return PYGEN_ERROR;
    }
}

// The awaited object finished (r is RETURN or ERROR): resume the body.
PySendResult resume_after(CoroutineObject* c, PySendResult r, PyObject* value, PyObject** out) {
    Py_CLEAR(c->awaiting);
    Step step;
    if (!resume_body(c, r, value, step)) return PYGEN_ERROR;
    return advance(c, std::move(step), out);
}

// What send() and next() answer for a send result: the yielded value, or
// null with StopIteration(result) or the error set.
PyObject* as_method_result(PySendResult r, PyObject* out) {
    if (r == PYGEN_NEXT) return out;
    if (r == PYGEN_RETURN) {
        nb::object result = nb::steal(out);
        return stop_with(result);
    }
    return nullptr;
}

bool check_not_running(CoroutineObject* c) {
    if (c->running) {
        PyErr_SetString(PyExc_ValueError, "coroutine already executing");
        return false;
    }
    return true;
}

PySendResult coroutine_send_impl(CoroutineObject* c, PyObject* value, PyObject** out) {
    if (!check_not_running(c)) return PYGEN_ERROR;
    if (c->state == State::finished) {
        PyErr_SetString(PyExc_RuntimeError, "cannot reuse already awaited coroutine");
        return PYGEN_ERROR;
    }
    if (c->state == State::created && value != Py_None) {
        PyErr_SetString(PyExc_TypeError, "can't send non-None value to a just-started coroutine");
        return PYGEN_ERROR;
    }
    Stretch stretch(c, true);
    if (c->state == State::created) {
        c->state = State::suspended;
        Step step;
        if (!resume_body(c, PYGEN_RETURN, Py_NewRef(Py_None), step)) return PYGEN_ERROR;
        return advance(c, std::move(step), out);
    }
    PyObject* result = nullptr;
    PySendResult r = send_parking(c->awaiting, value, &result);
    if (r == PYGEN_NEXT) {
        *out = result;
        return r;
    }
    return resume_after(c, r, result, out);
}

// The host's own protocol (PyIter_Send, used by its event loop): the result
// comes back without a StopIteration.
PySendResult coroutine_am_send(PyObject* self, PyObject* value, PyObject** out) {
    *out = nullptr;
    return coroutine_send_impl(as_coroutine(self), value, out);
}

PyObject* coroutine_iternext(PyObject* self) {
    PyObject* out = nullptr;
    PySendResult r = coroutine_send_impl(as_coroutine(self), Py_None, &out);
    if (r == PYGEN_RETURN && out == Py_None) {
        // Exhausted with None: no StopIteration needed.
        Py_DECREF(out);
        return nullptr;
    }
    return as_method_result(r, out);
}

PyObject* coroutine_send(PyObject* self, PyObject* value) {
    PyObject* out = nullptr;
    PySendResult r = coroutine_send_impl(as_coroutine(self), value, &out);
    return as_method_result(r, out);
}

// The exception that throw(typ[, val[, tb]]) raises, as the host builds it.
PyObject* make_thrown(PyObject* typ, PyObject* val, PyObject* tb) {
    PyObject* exc = nullptr;
    if (PyExceptionInstance_Check(typ)) {
        if (val != nullptr && val != Py_None) {
            PyErr_SetString(PyExc_TypeError, "instance exception may not have a separate value");
            return nullptr;
        }
        exc = Py_NewRef(typ);
    } else if (PyExceptionClass_Check(typ)) {
        if (val != nullptr && PyExceptionInstance_Check(val)) {
            exc = Py_NewRef(val);
        } else if (val == nullptr || val == Py_None) {
            exc = PyObject_CallNoArgs(typ);
        } else {
            exc = call_one(typ, val);
        }
        if (exc == nullptr) return nullptr;
    } else {
        PyErr_SetString(PyExc_TypeError, "exceptions must be classes or instances deriving from BaseException");
        return nullptr;
    }
    if (tb != nullptr && tb != Py_None) {
        PyException_SetTraceback(exc, tb);
    }
    return exc;
}

PyObject* coroutine_throw(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    CoroutineObject* c = as_coroutine(self);
    if (nargs < 1 || nargs > 3) {
        PyErr_SetString(PyExc_TypeError, "throw expected at least 1 argument");
        return nullptr;
    }
    PyObject* exc = make_thrown(args[0], nargs > 1 ? args[1] : nullptr, nargs > 2 ? args[2] : nullptr);
    if (exc == nullptr) return nullptr;
    if (!check_not_running(c)) {
        Py_DECREF(exc);
        return nullptr;
    }
    if (c->state != State::suspended || c->awaiting == nullptr) {
        // Not started or already finished: the error comes straight back.
        Stretch stretch(c, false);
        finish(c);
        PyErr_SetRaisedException(exc);
        return nullptr;
    }
    Stretch stretch(c, true);
    PyObject* out = nullptr;
    PySendResult r;
    PyObject* thrower = PyObject_GetAttrString(c->awaiting, "throw");
    if (thrower == nullptr) {
        PyErr_Clear();
        PyErr_SetRaisedException(exc);
        r = resume_after(c, PYGEN_ERROR, nullptr, &out);
        return as_method_result(r, out);
    }
    PyObject* result = call_one(thrower, exc);
    Py_DECREF(thrower);
    Py_DECREF(exc);
    if (result != nullptr) return result;
    PyObject* value = nullptr;
    if (PyErr_ExceptionMatches(PyExc_StopIteration)) {
        PyObject* stop = PyErr_GetRaisedException();
        value = PyObject_GetAttrString(stop, "value");
        Py_DECREF(stop);
    }
    r = resume_after(c, value != nullptr ? PYGEN_RETURN : PYGEN_ERROR, value, &out);
    return as_method_result(r, out);
}

PyObject* coroutine_close(PyObject* self, PyObject*) {
    CoroutineObject* c = as_coroutine(self);
    if (!check_not_running(c)) return nullptr;
    const bool waiting = c->state == State::suspended && c->awaiting != nullptr;
    Stretch stretch(c, waiting);
    PyObject* awaiting = c->awaiting;
    c->awaiting = nullptr;
    finish(c);
    PyObject* error = nullptr;  // the first error of the awaited object's close and the body's
    if (awaiting != nullptr) {
        PyObject* closer = PyObject_GetAttrString(awaiting, "close");
        if (closer == nullptr) {
            PyErr_Clear();
        } else {
            PyObject* r = PyObject_CallNoArgs(closer);
            Py_DECREF(closer);
            if (r == nullptr) {
                error = PyErr_GetRaisedException();
            } else {
                Py_DECREF(r);
            }
        }
        Py_DECREF(awaiting);
    }
    if (waiting && c->body != nullptr) {
        try {
            c->body->close();
        } catch (...) {
            translate_exception();
            if (error == nullptr) {
                error = PyErr_GetRaisedException();
            } else {
                nb::python_error later;
                write_unraisable(later, self);
            }
        }
    }
    if (error != nullptr) {
        PyErr_SetRaisedException(error);
        return nullptr;
    }
    Py_RETURN_NONE;
}

// Whether dropping the coroutine has work to do (coroutine_finalize).
bool needs_finalizing(const CoroutineObject* c) {
    return c->state == State::created || (c->state == State::suspended && c->awaiting != nullptr && !c->running);
}

// Like the host's coroutines: one dropped without ever being awaited warns
// that it was never awaited; one dropped while it waits is closed first. An
// error of either is reported as unraisable.
void coroutine_finalize(PyObject* self) {
    CoroutineObject* c = as_coroutine(self);
    if (!needs_finalizing(c)) return;
    run_unraisable(nb::handle(self), [&] {
        if (c->state == State::created) {
            finish(c);  // warned once, then as good as closed
            if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "coroutine '%U' was never awaited", c->qualname) != 0) {
                throw_current();
            }
            return;
        }
        steal_or_throw(coroutine_close(self, nullptr));
    });
}

// Like the host's `await`: a coroutine that waits, driven by an awaiter
// already, refuses a second one.
PyObject* coroutine_await(PyObject* self) {
    if (waits(as_coroutine(self))) {
        PyErr_SetString(PyExc_RuntimeError, "coroutine is being awaited already");
        return nullptr;
    }
    return Py_NewRef(self);
}

PyObject* coroutine_repr(PyObject* self) {
    return PyUnicode_FromFormat("<coroutine object %U at %p>", as_coroutine(self)->qualname, self);
}

int coroutine_traverse(PyObject* self, visitproc visit, void* arg) {
    CoroutineObject* c = as_coroutine(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(c->awaiting);
    Py_VISIT(c->wrapped);
    Py_VISIT(c->stand_in);
    if (c->body != nullptr) {
        if (int r = c->body->traverse(visit, arg)) return r;
    }
    return 0;
}

int coroutine_clear(PyObject* self) {
    CoroutineObject* c = as_coroutine(self);
    Py_CLEAR(c->awaiting);
    Py_CLEAR(c->wrapped);
    Py_CLEAR(c->stand_in);
    delete c->body;
    c->body = nullptr;
    return 0;
}

void coroutine_dealloc(PyObject* self) {
    CoroutineObject* c = as_coroutine(self);
    // As for the host's coroutines, weak references die first, before the
    // finaliser runs, and stay dead if it revives the coroutine. Untracked
    // meanwhile: a collection that their callbacks start must not meet an
    // object without references.
    PyObject_GC_UnTrack(self);
    if (c->weakreflist != nullptr) PyObject_ClearWeakRefs(self);
    if (needs_finalizing(c)) {
        // The finaliser runs on a live object: revive it for the time of the
        // call (as the host does for its own finalisers), and keep it when
        // the finaliser stored a new reference to it.
        PyObject_GC_Track(self);
        Py_SET_REFCNT(self, 1);
        coroutine_finalize(self);
        Py_ssize_t left = Py_REFCNT(self) - 1;
        Py_SET_REFCNT(self, left);
        if (left > 0) return;
        PyObject_GC_UnTrack(self);
    }
    coroutine_clear(self);
    Py_CLEAR(c->qualname);
    Py_CLEAR(c->origin);
    free_instance(self);
}

PyObject* coroutine_get_qualname(PyObject* self, void*) { return Py_NewRef(as_coroutine(self)->qualname); }

PyObject* coroutine_get_name(PyObject* self, void*) {
    PyObject* q = as_coroutine(self)->qualname;
    Py_ssize_t n = PyUnicode_GetLength(q);
    Py_ssize_t dot = PyUnicode_FindChar(q, '.', 0, n, -1);
    if (dot < 0) return Py_NewRef(q);
    return PyUnicode_Substring(q, dot + 1, n);
}

// A getter's answer: what `work` made, or null with the error set.
template <class Work>
PyObject* answer(Work&& work) noexcept {
    try {
        return work().release().ptr();
    } catch (...) {
        translate_exception();
        return nullptr;
    }
}

// The attribute of the awaited object that introspection of a wrapper shows,
// when that object is a coroutine (`coroutine_name`) or a generator
// (`generator_name`); unset when it is neither.
nb::object seen_through(nb::handle awaited, const char* coroutine_name, const char* generator_name) {
    nb::object value = attr_or_missing(awaited, coroutine_name);
    return value.is_valid() ? value : attr_or_missing(awaited, generator_name);
}

// cr_code: the code object of the wrapped function, or None.
nb::object code_of(const CoroutineObject* c) {
    if (c->wrapped == nullptr) return nb::none();
    nb::object code = attr_or_missing(c->wrapped, "__code__");
    return code.is_valid() ? code : nb::none();
}

// The coroutine's stand-in frame, made when first asked for and kept until it
// finishes; None when the wrapped function has no code object.
nb::object stand_in_frame(CoroutineObject* c) {
    if (c->stand_in != nullptr) return nb::borrow(c->stand_in);
    nb::object code = code_of(c);
    if (code.is_none()) return code;
    nb::object globals = attr_or_missing(c->wrapped, "__globals__");
    nb::object frame = make_stand_in_frame(code, globals.is_valid() ? globals : nb::dict());
    // The look-ups above run code, which may have asked for it meanwhile.
    if (c->stand_in != nullptr) return nb::borrow(c->stand_in);
    if (c->state != State::finished) c->stand_in = Py_NewRef(frame.ptr());
    return frame;
}

// cr_origin: where the coroutine was made, if origin tracking was on then.
PyObject* coroutine_get_origin(PyObject* self, void*) {
    PyObject* origin = as_coroutine(self)->origin;
    return Py_NewRef(origin != nullptr ? origin : Py_None);
}

PyObject* coroutine_get_running(PyObject* self, void*) { return PyBool_FromLong(as_coroutine(self)->running); }

PyObject* coroutine_get_suspended(PyObject* self, void*) { return PyBool_FromLong(waits(as_coroutine(self))); }

PyObject* coroutine_get_code(PyObject* self, void*) {
    return answer([&]() -> nb::object { return code_of(as_coroutine(self)); });
}

// cr_frame: None once finished; a wrapper's is the frame of the coroutine it
// awaits, or the stand-in.
PyObject* coroutine_get_frame(PyObject* self, void*) {
    CoroutineObject* c = as_coroutine(self);
    return answer([&]() -> nb::object {
        if (c->state == State::finished || c->wrapped == nullptr) return nb::none();
        if (c->awaiting != nullptr) {
            nb::object awaited = nb::borrow(c->awaiting);
            nb::object frame = seen_through(awaited, "cr_frame", "gi_frame");
            if (frame.is_valid() && !frame.is_none()) return frame;
        }
        return stand_in_frame(c);
    });
}

// cr_await: what it awaits while it waits, else None; a wrapper's is what
// the coroutine it awaits awaits.
PyObject* coroutine_get_await(PyObject* self, void*) {
    CoroutineObject* c = as_coroutine(self);
    return answer([&]() -> nb::object {
        if (c->awaiting == nullptr) return nb::none();
        nb::object awaited = nb::borrow(c->awaiting);
        if (c->wrapped != nullptr) {
            nb::object inner = seen_through(awaited, "cr_await", "gi_yieldfrom");
            if (inner.is_valid()) return inner;
        }
        return waits(c) ? awaited : nb::none();
    });
}

PyMethodDef coroutine_methods[] = {
    {"send", reinterpret_cast<PyCFunction>(coroutine_send), METH_O, nullptr},
    {"throw", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(coroutine_throw)), METH_FASTCALL, nullptr},
    {"close", reinterpret_cast<PyCFunction>(coroutine_close), METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef coroutine_getset[] = {
    {"__qualname__", coroutine_get_qualname, nullptr, nullptr, nullptr},
    {"__name__", coroutine_get_name, nullptr, nullptr, nullptr},
    {"cr_running", coroutine_get_running, nullptr, nullptr, nullptr},
    {"cr_suspended", coroutine_get_suspended, nullptr, nullptr, nullptr},
    {"cr_frame", coroutine_get_frame, nullptr, nullptr, nullptr},
    {"cr_await", coroutine_get_await, nullptr, nullptr, nullptr},
    {"cr_code", coroutine_get_code, nullptr, nullptr, nullptr},
    {"cr_origin", coroutine_get_origin, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The host's coroutines take weak references.
PyMemberDef coroutine_members[] = {
    {"__weaklistoffset__", Py_T_PYSSIZET, offsetof(CoroutineObject, weakreflist), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot coroutine_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(coroutine_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(coroutine_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(coroutine_clear)},
    {Py_tp_finalize, reinterpret_cast<void*>(coroutine_finalize)},
    {Py_tp_iternext, reinterpret_cast<void*>(coroutine_iternext)},
    {Py_am_await, reinterpret_cast<void*>(coroutine_await)},
    {Py_am_send, reinterpret_cast<void*>(coroutine_am_send)},
    {Py_tp_repr, reinterpret_cast<void*>(coroutine_repr)},
    {Py_tp_methods, coroutine_methods},
    {Py_tp_members, coroutine_members},
    {Py_tp_getset, coroutine_getset},
    {0, nullptr},
};

PyType_Spec coroutine_spec = {
    "zunt_core.coroutine",
    sizeof(CoroutineObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    coroutine_slots,
};

}  // namespace

Step AsyncBody::resume_error(nb::python_error& error) { throw std::move(error); }

void AsyncBody::enter() {}

void AsyncBody::leave() {}

void AsyncBody::close() {}

int AsyncBody::traverse(visitproc, void*) { return 0; }

void init_coroutine_type() {
    if (coroutine_type != nullptr) return;
    // The host's types first: a stand-in frame needs its class once it exists.
    nb::object types = nb::module_::import_("types");
    host_coroutine_type = reinterpret_cast<PyTypeObject*>(types.attr("CoroutineType").ptr());
    host_frame_type = reinterpret_cast<PyTypeObject*>(types.attr("FrameType").ptr());
    PyObject* frame_tp = PyType_FromSpec(&stand_in_frame_spec);
    if (frame_tp == nullptr) throw_current();
    PyObject* tp = PyType_FromSpec(&coroutine_spec);
    if (tp == nullptr) {
        Py_DECREF(frame_tp);
        throw_current();
    }
    stand_in_frame_type = reinterpret_cast<PyTypeObject*>(frame_tp);
    coroutine_type = reinterpret_cast<PyTypeObject*>(tp);
    nb::module_::import_("collections.abc").attr("Coroutine").attr("register")(nb::handle(tp));
}

nb::object make_coroutine(std::unique_ptr<AsyncBody> body, const char* qualname) {
    nb::object name = steal_or_throw(PyUnicode_FromString(qualname));
    return make_coroutine(std::move(body), name);
}

nb::object make_coroutine(std::unique_ptr<AsyncBody> body, nb::handle qualname) {
    return make_coroutine(std::move(body), qualname, nb::handle());
}

nb::object make_coroutine(std::unique_ptr<AsyncBody> body, nb::handle qualname, nb::handle wrapped) {
    init_coroutine_type();
    nb::object origin = origin_here();
    nb::object obj = new_instance(coroutine_type);
    CoroutineObject* c = as_coroutine(obj.ptr());
    c->qualname = Py_NewRef(qualname.ptr());
    c->body = body.release();
    c->wrapped = wrapped.is_valid() ? Py_NewRef(wrapped.ptr()) : nullptr;
    c->stand_in = nullptr;
    c->origin = origin.is_valid() ? origin.release().ptr() : nullptr;
    c->weakreflist = nullptr;
    c->awaiting = nullptr;
    c->state = State::created;
    c->running = false;
    return obj;
}

}  // namespace zunt::rt
