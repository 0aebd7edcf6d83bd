#include "runtime/host.hpp"
#include "runtime/names.hpp"

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

namespace {

template <class Entries>
nb::object tuple_of(const Entries& entries) {
    nb::object tuple = steal_or_throw(PyTuple_New(static_cast<Py_ssize_t>(entries.size())));
    Py_ssize_t i = 0;
    for (const TableEntry& entry : entries) PyTuple_SetItem(tuple.ptr(), i++, Py_NewRef(entry.value.ptr()));
    return tuple;
}

}  // namespace

nb::object make_table(std::initializer_list<TableEntry> entries) { return tuple_of(entries); }

nb::object make_table(const std::vector<TableEntry>& entries) { return tuple_of(entries); }

}  // namespace zunt::rt
