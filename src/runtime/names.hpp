// The fixed objects that native functions read at every call (attribute
// names, keys, a module), made once when their module is built and held in a
// tuple, usually as the functions' closure. A table is listed by an enum
// whose last member is `count`; texts are interned, as the names of the
// host's own code are.
#pragma once

#include "runtime/errors.hpp"

#include <initializer_list>
#include <stdexcept>
#include <vector>

namespace zunt::rt {

// One entry of a table: a text (made an interned str) or an object.
struct TableEntry {
    TableEntry(const char* text) : value(steal_or_throw(PyUnicode_InternFromString(text))) {}
    TableEntry(nb::handle object) : value(nb::borrow(object)) {}
    nb::object value;
};

// The tuple of the entries, in order.
nb::object make_table(std::initializer_list<TableEntry> entries);
nb::object make_table(const std::vector<TableEntry>& entries);

template <class Slot>
class Table {
public:
    explicit Table(nb::handle tuple) : tuple_(tuple.ptr()) {}

    // Makes the table: one entry per slot, in the enum's order.
    static nb::object make(std::initializer_list<TableEntry> entries) {
        if (entries.size() != static_cast<std::size_t>(Slot::count)) {
            throw std::logic_error("a table needs one entry per slot");
        }
        return make_table(entries);
    }

    nb::handle operator[](Slot slot) const { return PyTuple_GetItem(tuple_, static_cast<Py_ssize_t>(slot)); }

private:
    PyObject* tuple_;
};

}  // namespace zunt::rt
