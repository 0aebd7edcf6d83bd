// The host's `with` statement, for C++ bodies: enter the context manager,
// run the body on what it gave, and leave it with the body's error, if any.
// An error that the context manager does not suppress goes on to the caller
// after the manager has been left (a session closed, a transaction rolled
// back).
#pragma once

#include "runtime/errors.hpp"
#include "runtime/host.hpp"

#include <type_traits>
#include <utility>

namespace zunt::rt {

namespace detail {

// type(cm).<name>, bound to cm as the host binds special methods.
inline nb::object special_method(nb::handle cm, const char* name) {
    nb::object type = nb::borrow(reinterpret_cast<PyObject*>(Py_TYPE(cm.ptr())));
    PyObject* fn = PyObject_GetAttrString(type.ptr(), name);
    if (fn == nullptr) {
        PyErr_Clear();
        nb::object type_name = type.attr("__qualname__");
        raise(PyExc_TypeError,
              steal_or_throw(PyUnicode_FromFormat(
                  "'%U' object does not support the context manager protocol", type_name.ptr())));
    }
    nb::object unbound = nb::steal(fn);
    return steal_or_throw(PyObject_CallMethod(unbound.ptr(), "__get__", "OO", cm.ptr(), type.ptr()));
}

}  // namespace detail

// with cm as value: body(value)
// When the manager suppresses the body's error, the result is a
// default-made value (an unset nb::object for object results).
template <class Body>
auto with_context(nb::handle cm, Body&& body) -> std::invoke_result_t<Body, nb::object> {
    using Result = std::invoke_result_t<Body, nb::object>;
    using Stored = std::conditional_t<std::is_void_v<Result>, bool, Result>;
    nb::object exit = detail::special_method(cm, "__exit__");
    nb::object enter = detail::special_method(cm, "__enter__");
    nb::object value = steal_or_throw(PyObject_CallNoArgs(enter.ptr()));
    Stored result{};
    try {
        if constexpr (std::is_void_v<Result>) {
            body(std::move(value));
        } else {
            result = body(std::move(value));
        }
    } catch (nb::python_error& error) {
        // Left as the host leaves a with block on an error: the error is the
        // one being handled (sys.exc_info() inside __exit__ shows it, and an
        // error raised there takes it as context).
        bool suppressed;
        {
            Handling handling(error);
            suppressed = truthy(exit(error.type(), error.value(), traceback_of(error)));
        }
        if (!suppressed) throw;
        if constexpr (!std::is_void_v<Result>) return Result{};
        else return;
    }
    exit(nb::none(), nb::none(), nb::none());
    if constexpr (!std::is_void_v<Result>) return result;
}

}  // namespace zunt::rt
