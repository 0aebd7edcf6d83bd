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

}  // namespace zunt::rt
