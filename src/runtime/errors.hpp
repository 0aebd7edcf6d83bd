// Raising host errors from C++: every helper sets the Python error and throws
// nb::python_error, which the function trampoline hands back to the host.
#pragma once

#include <nanobind/nanobind.h>

#include <string>

namespace zunt::rt {

namespace nb = nanobind;

// Throws the error the host has just set (after a failed C API call).
[[noreturn]] void throw_current();

// The one way a C++ exception becomes a host error, for every place where
// C++ returns to the host (a function call, a type slot, a coroutine step or
// hook). Called in a `catch (...)` block, it sets the error of the exception
// being handled: a python_error as it is, std::bad_alloc as MemoryError, a
// failed nanobind cast as TypeError, anything else as SystemError with the
// exception's text. Never throws.
void translate_exception() noexcept;

// raise type(message)
[[noreturn]] void raise(PyObject* type, const std::string& message);

[[noreturn]] void raise(PyObject* type, nb::handle message);

// raise type()  (no message, empty argument tuple)
[[noreturn]] void raise_empty(PyObject* type);

// raise type(message) from cause
[[noreturn]] void raise_from(PyObject* type, const std::string& message, const nb::python_error& cause);
[[noreturn]] void raise_from(PyObject* type, nb::handle message, const nb::python_error& cause);

// Checks a C API result: throws the pending error when `obj` is null,
// otherwise steals it.
nb::object steal_or_throw(PyObject* obj);

// fn(arg), new reference or null with the error set (the limited API has no
// PyObject_CallOneArg).
inline PyObject* call_one(PyObject* fn, PyObject* arg) {
    PyObject* args[1] = {arg};
    return PyObject_Vectorcall(fn, args, 1, nullptr);
}

// An error raised by C code carries no traceback until it passes through a
// Python frame on its way out. Before the toolkit hands such an error to
// Python code as the error being handled (an `except` block's view of it),
// it gets the entry the host's eval loop would give it: the innermost
// running Python frame, the one that called into the package. Answers the
// traceback entry added, or null when the error already had a traceback (or
// no Python frame runs).
PyObject* give_traceback(const nb::python_error& error);

// Reports an error that cannot reach any caller (one raised while cleaning
// up) to sys.unraisablehook, as the host reports its own: with a traceback
// (give_traceback). Consumes the error.
void write_unraisable(nb::python_error& error, nb::handle context);
void write_unraisable(nb::python_error& error, const char* context);

// Runs cleanup work that no caller can hear from (a destructor, a hook, a
// finaliser): an error pending meanwhile is kept aside and restored, and an
// error of the work, whatever C++ exception carries it, is reported to
// sys.unraisablehook with `context`.
template <class Context, class Work>
void run_unraisable(const Context& context, Work&& work) noexcept {
    nb::error_scope pending;
    try {
        work();
    } catch (...) {
        translate_exception();
        nb::python_error error;
        write_unraisable(error, context);
    }
}

// For the length of a scope, `error` is the exception being handled, as in an
// `except` block: an error raised meanwhile gets it as its __context__,
// sys.exception() and sys.exc_info() answer it, and it carries a traceback
// (give_traceback), so that the host's handlers can walk it. An entry added
// here is taken off again at the end of the scope, so that an error that
// goes on to the caller gets its frame from the eval loop once, as usual.
class Handling {
public:
    explicit Handling(const nb::python_error& error);
    ~Handling();
    Handling(const Handling&) = delete;
    Handling& operator=(const Handling&) = delete;

private:
    PyObject* previous_;
    PyObject* error_;      // the handled error (owned)
    PyObject* traceback_;  // the entry added here, or null (borrowed: the error holds it)
};

// The error's traceback, or None when it has none (raised by C code that no
// Python frame has passed on yet): what __exit__ and throw() take. Inside a
// Handling scope, the entry that scope gave it.
inline nb::object traceback_of(const nb::python_error& error) {
    nb::object traceback = error.traceback();
    return traceback.is_valid() ? traceback : nb::none();
}

// str(obj) as UTF-8.
std::string to_utf8(nb::handle obj);

// str(obj). Takes a handle, so that an attribute accessor is read first and
// then converted (nb::str(accessor) would take the attribute's value as it is).
inline nb::object str_of(nb::handle obj) { return steal_or_throw(PyObject_Str(obj.ptr())); }

}  // namespace zunt::rt
