#include "runtime/names.hpp"

namespace zunt::rt {

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

void check_table(nb::handle tuple, std::size_t count, const char* name) {
    if (!tuple.is_valid()) raise(PyExc_TypeError, std::string(name) + " table is missing");
    if (PyTuple_CheckExact(tuple.ptr()) && PyTuple_Size(tuple.ptr()) == static_cast<Py_ssize_t>(count)) return;
    nb::object type_name = steal_or_throw(PyType_GetQualName(Py_TYPE(tuple.ptr())));
    std::string message = std::string(name) + " table must be a tuple of " + std::to_string(count) +
                          " entries, not " + to_utf8(type_name);
    if (PyTuple_Check(tuple.ptr())) message += " of " + std::to_string(PyTuple_Size(tuple.ptr()));
    raise(PyExc_TypeError, message);
}

}  // namespace zunt::rt
