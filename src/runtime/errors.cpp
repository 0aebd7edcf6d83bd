#include "runtime/errors.hpp"

namespace zunt::rt {

void throw_current() {
    throw nb::python_error();
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

void raise_empty_from(PyObject* type, const nb::python_error& cause) {
    raise_chained(type, nullptr, cause);
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
