#include "runtime/walk.hpp"

#include <string>

namespace zunt::rt {

namespace {

std::string type_name(PyObject* obj) {
    nb::object name = steal_or_throw(PyType_GetName(Py_TYPE(obj)));
    return to_utf8(name);
}

}  // namespace

void DepthBudget::raise_exceeded() { raise(PyExc_RecursionError, "maximum recursion depth exceeded"); }

// ---------------------------------------------------------------------------

SeqCursor::SeqCursor(nb::handle seq) {
    PyObject* s = seq.ptr();
    if (PyList_CheckExact(s)) {
        kind_ = Kind::list;
        seq_ = nb::borrow(s);
    } else if (PyTuple_CheckExact(s)) {
        kind_ = Kind::tuple;
        seq_ = nb::borrow(s);
    } else {
        seq_ = steal_or_throw(PyObject_GetIter(s));
    }
}

// A tuple or an iterator: next() reads a list itself.
bool SeqCursor::next_other(PyObject*& item) {
    if (kind_ == Kind::tuple) {
        if (index_ >= PyTuple_Size(seq_.ptr())) return false;
        item = PyTuple_GetItem(seq_.ptr(), index_++);
        if (item == nullptr) throw_current();
        return true;
    }
    PyObject* found = PyIter_Next(seq_.ptr());
    if (found == nullptr) {
        held_.reset();
        if (PyErr_Occurred()) throw_current();
        return false;
    }
    held_ = nb::steal(found);
    item = found;
    return true;
}

void SeqCursor::detach() {
    if (kind_ == Kind::list) seq_ = steal_or_throw(PyList_GetSlice(seq_.ptr(), 0, PY_SSIZE_T_MAX));
    // A tuple cannot change.
}

// ---------------------------------------------------------------------------

ItemsCursor::ItemsCursor(nb::handle mapping) {
    PyObject* m = mapping.ptr();
    if (PyDict_CheckExact(m)) {
        dict_ = nb::borrow(m);
        used_ = left_ = PyDict_Size(m);
        return;
    }
    nb::str name("items");
    PyObject* args[1] = {m};
    nb::object items = steal_or_throw(PyObject_VectorcallMethod(name.ptr(), args, 1, nullptr));
    generic_ = steal_or_throw(PyObject_GetIter(items.ptr()));
}

bool ItemsCursor::next_generic(PyObject*& key, PyObject*& value) {
    PyObject* item = PyIter_Next(generic_.ptr());
    if (item == nullptr) {
        held_key_.reset();
        held_value_.reset();
        if (PyErr_Occurred()) throw_current();
        return false;
    }
    auto pair = unpack_pair(nb::steal(item));
    held_key_ = std::move(pair.first);
    held_value_ = std::move(pair.second);
    key = held_key_.ptr();
    value = held_value_.ptr();
    return true;
}

void ItemsCursor::raise_changed_size() {
    used_ = -1;
    raise(PyExc_RuntimeError, "dictionary changed size during iteration");
}

void ItemsCursor::raise_keys_changed() { raise(PyExc_RuntimeError, "dictionary keys changed during iteration"); }

void ItemsCursor::detach() {
    nb::object copy = steal_or_throw(PyDict_Copy(dict_.ptr()));
    // The copy keeps the order but not necessarily the positions: skip as
    // many items as have been read.
    Py_ssize_t read = used_ - left_;
    Py_ssize_t pos = 0;
    PyObject* k;
    PyObject* v;
    for (Py_ssize_t i = 0; i < read && PyDict_Next(copy.ptr(), &pos, &k, &v); ++i) {
    }
    dict_ = std::move(copy);
    pos_ = pos;
}

// ---------------------------------------------------------------------------

std::pair<nb::object, nb::object> unpack_pair(nb::handle pair) {
    PyObject* p = pair.ptr();
    if (PyTuple_CheckExact(p) && PyTuple_Size(p) == 2) {
        return {nb::borrow(PyTuple_GetItem(p, 0)), nb::borrow(PyTuple_GetItem(p, 1))};
    }
    PyObject* it = PyObject_GetIter(p);
    if (it == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_TypeError) && PyType_GetSlot(Py_TYPE(p), Py_tp_iter) == nullptr &&
            !PySequence_Check(p)) {
            PyErr_Clear();
            raise(PyExc_TypeError, "cannot unpack non-iterable " + type_name(p) + " object");
        }
        throw_current();
    }
    nb::object iter = nb::steal(it);
    nb::object values[2];
    for (int i = 0; i < 2; ++i) {
        PyObject* item = PyIter_Next(it);
        if (item == nullptr) {
            if (PyErr_Occurred()) throw_current();
            raise(PyExc_ValueError, "not enough values to unpack (expected 2, got " + std::to_string(i) + ")");
        }
        values[i] = nb::steal(item);
    }
    PyObject* extra = PyIter_Next(it);
    if (extra != nullptr) {
        Py_DECREF(extra);
        raise(PyExc_ValueError, "too many values to unpack (expected 2)");
    }
    if (PyErr_Occurred()) throw_current();
    return {std::move(values[0]), std::move(values[1])};
}

}  // namespace zunt::rt
