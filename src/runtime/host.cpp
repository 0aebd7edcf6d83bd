#include "runtime/host.hpp"

namespace zunt::rt {

nb::object attr_or_missing(nb::handle obj, nb::handle name) {
    PyObject* value = PyObject_GetAttr(obj.ptr(), name.ptr());
    if (value != nullptr) return nb::steal(value);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_current();
    PyErr_Clear();
    return nb::object();
}

nb::object attr_or_missing(nb::handle obj, const char* name) {
    nb::object key = steal_or_throw(PyUnicode_FromString(name));
    return attr_or_missing(obj, key);
}

nb::object new_instance(PyTypeObject* type) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    return steal_or_throw(alloc(type, 0));
}

void free_instance(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_fn(self);
    Py_DECREF(tp);
}

}  // namespace zunt::rt
