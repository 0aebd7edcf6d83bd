// The fixed objects that native functions read at every call (attribute
// names, keys, a module), made once when their module is built and held in a
// tuple, usually as the functions' closure. Texts are interned, as the
// names of the host's own code are.
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

// One entry of a table, given with the slot it fills.
template <class Slot>
struct SlotEntry {
    Slot slot;
    TableEntry entry;
};

// Reading a table as `Slot`'s view: the object must be an exact tuple of
// `count` entries (what make() gives); anything else is a TypeError naming
// the table, not a null handle later.
void check_table(nb::handle tuple, std::size_t count, const char* name);

// A table is listed by an `enum class` whose last member is `count`.
template <class Slot>
class Table {
public:
    static constexpr std::size_t size = static_cast<std::size_t>(Slot::count);

    // Reads a table made by make(), typically a function's closure.
    explicit Table(nb::handle tuple, const char* name = "a native function's") : tuple_(tuple.ptr()) {
        check_table(tuple, size, name);
    }

    // Makes the table: every slot once, each entry at its slot's index
    // (the order is checked, so a moved enum member cannot pair a slot with
    // another slot's object).
    static nb::object make(std::initializer_list<SlotEntry<Slot>> entries) {
        if (entries.size() != size) throw std::logic_error("a table needs one entry per slot");
        std::vector<TableEntry> values;
        values.reserve(size);
        for (const SlotEntry<Slot>& e : entries) {
            if (static_cast<std::size_t>(e.slot) != values.size()) {
                throw std::logic_error("a table entry is given out of its slot's order");
            }
            values.push_back(e.entry);
        }
        return make_table(values);
    }

    nb::handle operator[](Slot slot) const { return PyTuple_GetItem(tuple_, static_cast<Py_ssize_t>(slot)); }

private:
    PyObject* tuple_;
};

}  // namespace zunt::rt
