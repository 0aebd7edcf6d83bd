#include "runtime/errors.hpp"

#include <exception>
#include <new>

namespace zunt::rt {

void throw_current() {
    throw nb::python_error();
}

void translate_exception() noexcept {
    try {
        throw;
    } catch (nb::python_error& e) {
        e.restore();
    } catch (const nb::cast_error&) {
        PyErr_SetString(PyExc_TypeError, "invalid argument type");
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
}

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw nb::python_error();
}

void raise(PyObject* type, nb::handle message) {
    PyErr_SetObject(type, message.ptr());
    throw nb::python_error();
}

void raise_empty(PyObject* type) {
    PyErr_SetNone(type);
    throw nb::python_error();
}

namespace {

[[noreturn]] void raise_chained(PyObject* type, PyObject* args, const nb::python_error& cause) {
    PyObject* exc = PyObject_CallObject(type, args);
    Py_XDECREF(args);
    if (exc == nullptr) {
        throw nb::python_error();
    }
    // The cause was caught here, where a Python frame would have given it a
    // traceback on its way.
    give_traceback(cause);
    PyObject* cause_value = cause.value().ptr();
    // raise ... from cause: __cause__ and __context__ both name the caught
    // error, and the context is suppressed in tracebacks.
    Py_INCREF(cause_value);
    PyException_SetCause(exc, cause_value);
    Py_INCREF(cause_value);
    PyException_SetContext(exc, cause_value);
    PyErr_SetRaisedException(exc);
    throw nb::python_error();
}

}  // namespace

void raise_from(PyObject* type, const std::string& message, const nb::python_error& cause) {
    PyObject* args = Py_BuildValue("(s)", message.c_str());
    if (args == nullptr) {
        throw nb::python_error();
    }
    raise_chained(type, args, cause);
}

void raise_from(PyObject* type, nb::handle message, const nb::python_error& cause) {
    PyObject* args = PyTuple_Pack(1, message.ptr());
    if (args == nullptr) {
        throw nb::python_error();
    }
    raise_chained(type, args, cause);
}

PyObject* give_traceback(const nb::python_error& error) {
    PyObject* value = error.value().ptr();
    if (PyObject* existing = PyException_GetTraceback(value)) {
        Py_DECREF(existing);
        return nullptr;
    }
    PyFrameObject* frame = PyEval_GetFrame();  // borrowed
    if (frame == nullptr) return nullptr;
    // PyTraceBack_Here adds to the error being raised: raise it for the
    // length of the call, with whatever was pending kept aside.
    PyObject* pending = PyErr_GetRaisedException();
    PyErr_SetRaisedException(Py_NewRef(value));
    const bool added = PyTraceBack_Here(frame) == 0;
    Py_DECREF(PyErr_GetRaisedException());
    PyErr_SetRaisedException(pending);
    if (!added) return nullptr;
    PyObject* traceback = PyException_GetTraceback(value);
    Py_XDECREF(traceback);  // the error keeps it alive
    return traceback;
}

void write_unraisable(nb::python_error& error, nb::handle context) {
    give_traceback(error);
    error.discard_as_unraisable(context);
}

void write_unraisable(nb::python_error& error, const char* context) {
    write_unraisable(error, nb::str(context));
}

Handling::Handling(const nb::python_error& error)
    : previous_(PyErr_GetHandledException()),
      error_(Py_NewRef(error.value().ptr())),
      traceback_(give_traceback(error)) {
    PyErr_SetHandledException(error_);
}

Handling::~Handling() {
    PyErr_SetHandledException(previous_);
    Py_XDECREF(previous_);
    if (traceback_ != nullptr) {
        // Only the entry given here goes; a traceback that the handling code
        // put in its place stays.
        PyObject* current = PyException_GetTraceback(error_);
        if (current == traceback_) PyException_SetTraceback(error_, Py_None);
        Py_XDECREF(current);
    }
    Py_DECREF(error_);
}

nb::object steal_or_throw(PyObject* obj) {
    if (obj == nullptr) {
        throw nb::python_error();
    }
    return nb::steal(obj);
}

std::string to_utf8(nb::handle obj) {
    nb::object text = steal_or_throw(PyObject_Str(obj.ptr()));
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (data == nullptr) {
        throw nb::python_error();
    }
    return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace zunt::rt
