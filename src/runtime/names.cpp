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

}  // namespace zunt::rt
