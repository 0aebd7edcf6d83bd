// Walks over the caller's data with an explicit stack on the heap.
//
// A walk that recursed on the C stack would stop at the host's C recursion
// limit, or crash first in a thread with a small stack. Instead, a walk keeps
// one frame per level in a vector and counts its levels against the host's
// recursion limit (sys.getrecursionlimit(), read when the walk starts), so it
// goes as deep as a Python function recursing under the same limit, and a
// tree that contains itself ends in RecursionError.
//
// The cursors below step through a container the way a Python `for` loop
// does, one item at a time, so a walk can leave a level half-way and come
// back to it. Nothing read before a step (a length, a position) is trusted
// after it: the caller's code that a walk runs between two steps may change
// the container. The items a step hands out are borrowed, and stay valid
// until the next step or until any code of the caller's runs, whichever comes
// first: a walk that runs such code while it still needs an item (or a key)
// takes a strong reference to it first.
#pragma once

#include "runtime/errors.hpp"

#include <cstdint>
#include <utility>

namespace zunt::rt {

// The levels of one walk, against the host's recursion limit.
class DepthBudget {
public:
    DepthBudget() : limit_(Py_GetRecursionLimit()) {}

    // One level deeper; RecursionError past the limit.
    void enter() {
        if (++depth_ > limit_) raise_exceeded();
    }
    void leave(long levels = 1) { depth_ -= levels; }

private:
    [[noreturn]] static void raise_exceeded();

    long depth_ = 0;
    long limit_;
};

// `for item in seq`. An exact list is read by index, its length read afresh
// at each step, as the host's list iterator does (items added meanwhile are
// seen, a shortened list ends the loop); an exact tuple by index; anything
// else through iter() and next().
class SeqCursor {
public:
    SeqCursor() = default;
    // iter(seq): may raise (TypeError for what is not iterable, or any error
    // of the caller's __iter__).
    explicit SeqCursor(nb::handle seq);

    // The next item (borrowed, see above), or false at the end; an error of
    // next() is thrown.
    bool next(PyObject*& item) {
        if (kind_ == Kind::list) {
            // Checked access: the list may have changed since the last step.
            if (index_ >= PyList_Size(seq_.ptr())) return false;
            item = PyList_GetItem(seq_.ptr(), index_++);
            if (item == nullptr) throw_current();
            return true;
        }
        return next_other(item);
    }

    // True when the cursor walks an exact list or tuple in place.
    bool in_place() const { return kind_ != Kind::iter; }
    // From now on, walk a shallow copy of the list taken now, from the same
    // place. Only for a cursor in place.
    void detach();

private:
    bool next_other(PyObject*& item);

    enum class Kind : std::uint8_t { list, tuple, iter };
    nb::object seq_;  // the list or tuple, or the iterator
    nb::object held_;  // the last item an iterator gave
    Py_ssize_t index_ = 0;
    Kind kind_ = Kind::iter;
};

// `for key, value in mapping.items()`. An exact dict is read in place with
// the checks of the host's dict iterator: RuntimeError when its size changes
// between two steps, or when more keys turn up than it held at the start.
// Anything else goes through items(), iter(), next() and the unpacking of
// each item into two values, with the host's errors.
class ItemsCursor {
public:
    ItemsCursor() = default;
    explicit ItemsCursor(nb::handle mapping);

    // The next key and value (borrowed, see above), or false at the end.
    bool next(PyObject*& key, PyObject*& value) {
        if (generic_.ptr() != nullptr) return next_generic(key, value);
        PyObject* d = dict_.ptr();
        if (PyDict_Size(d) != used_) raise_changed_size();
        // PyDict_Next goes on from the same position in the dict's current
        // entries, as the host's iterator does, and checks its bounds.
        if (!PyDict_Next(d, &pos_, &key, &value)) return false;
        if (left_ == 0) raise_keys_changed();
        --left_;
        return true;
    }

    // The same for an exact dict that nothing changes while it is walked (a
    // private copy, or one walked in place until a copy is taken, see
    // detach()): the host's checks could never fire.
    bool next_unchanged(PyObject*& key, PyObject*& value) {
        if (generic_.ptr() != nullptr) return next_generic(key, value);
        if (!PyDict_Next(dict_.ptr(), &pos_, &key, &value)) return false;
        --left_;
        return true;
    }

    bool in_place() const { return generic_.ptr() == nullptr && dict_.ptr() != nullptr; }
    // From now on, walk a shallow copy of the dict taken now, from the same
    // place. Only for a cursor in place.
    void detach();

private:
    bool next_generic(PyObject*& key, PyObject*& value);
    [[noreturn]] void raise_changed_size();
    [[noreturn]] static void raise_keys_changed();

    nb::object dict_;     // the exact dict walked in place
    nb::object generic_;  // or the iterator over mapping.items()
    nb::object held_key_, held_value_;  // the last pair the iterator gave
    Py_ssize_t pos_ = 0;
    Py_ssize_t used_ = 0;  // size when the walk started
    Py_ssize_t left_ = 0;  // items still expected
};

// `a, b = pair`, with the host's errors.
std::pair<nb::object, nb::object> unpack_pair(nb::handle pair);

}  // namespace zunt::rt
