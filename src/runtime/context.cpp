#include "runtime/context.hpp"

#include "runtime/host.hpp"

namespace zunt::rt {

namespace {

// type(cm).<name>, bound to cm as the host binds special methods: through the
// found object's __get__, where it has one.
nb::object special_method(nb::handle cm, const char* name) {
    nb::handle type = type_of(cm);
    PyObject* fn = PyObject_GetAttrString(type.ptr(), name);
    if (fn == nullptr) {
        PyErr_Clear();
        nb::object type_name = type.attr("__qualname__");
        raise(PyExc_TypeError,
              steal_or_throw(PyUnicode_FromFormat(
                  "'%U' object does not support the context manager protocol", type_name.ptr())));
    }
    nb::object found = nb::steal(fn);
    auto get = reinterpret_cast<descrgetfunc>(PyType_GetSlot(Py_TYPE(fn), Py_tp_descr_get));
    if (get == nullptr) return found;
    return steal_or_throw(get(fn, cm.ptr(), type.ptr()));
}

}  // namespace

ContextScope::ContextScope(nb::handle cm) {
    nb::object exit = special_method(cm, "__exit__");
    nb::object enter = special_method(cm, "__enter__");
    value_ = steal_or_throw(PyObject_CallNoArgs(enter.ptr()));
    exit_ = std::move(exit);
}

void ContextScope::close() {
    nb::object exit = take_exit();
    PyObject* argv[] = {Py_None, Py_None, Py_None};
    steal_or_throw(PyObject_Vectorcall(exit.ptr(), argv, 3, nullptr));
}

bool ContextScope::close(const nb::python_error& error) {
    nb::object exit = take_exit();
    Handling handling(error);
    return truthy(exit(error.type(), error.value(), traceback_of(error)));
}

int ContextScope::traverse(visitproc visit, void* arg) const {
    Py_VISIT(exit_.ptr());
    Py_VISIT(value_.ptr());
    return 0;
}

nb::object ContextScope::take_exit() {
    nb::object exit = std::move(exit_);
    exit_ = nb::object();
    return exit;
}

}  // namespace zunt::rt
