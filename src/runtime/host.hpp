// The host's everyday operations on objects, as C++ calls: truth,
// membership, subclass and instance tests as C++ booleans, attribute and
// item access, method calls. An error the host raises is thrown as
// nb::python_error.
#pragma once

#include "runtime/errors.hpp"

#include <cstddef>

namespace zunt::rt {

inline bool check_test(int result) {
    if (result < 0) throw_current();
    return result != 0;
}

// bool(value)
inline bool truthy(nb::handle value) { return check_test(PyObject_IsTrue(value.ptr())); }

// item in container
inline bool contains(nb::handle container, nb::handle item) {
    PyObject* c = container.ptr();
    return check_test(PyDict_CheckExact(c) ? PyDict_Contains(c, item.ptr()) : PySequence_Contains(c, item.ptr()));
}

// issubclass(derived, cls)
inline bool is_subclass(nb::handle derived, nb::handle cls) {
    return check_test(PyObject_IsSubclass(derived.ptr(), cls.ptr()));
}

// isinstance(obj, cls)
inline bool is_instance(nb::handle obj, nb::handle cls) {
    return check_test(PyObject_IsInstance(obj.ptr(), cls.ptr()));
}

// type(obj)
inline nb::handle type_of(nb::handle obj) { return reinterpret_cast<PyObject*>(Py_TYPE(obj.ptr())); }

// obj.<name>, for a name that is a str object (interned where it is read often).
inline nb::object get_attr(nb::handle obj, nb::handle name) {
    return steal_or_throw(PyObject_GetAttr(obj.ptr(), name.ptr()));
}

// obj.<name> = value
inline void set_attr(nb::handle obj, nb::handle name, nb::handle value) {
    if (PyObject_SetAttr(obj.ptr(), name.ptr(), value.ptr()) != 0) throw_current();
}

// getattr(obj, name, <missing>): one look-up, as the host's getattr with a
// default makes; an unset object when it raises AttributeError, any other
// error thrown.
nb::object attr_or_missing(nb::handle obj, nb::handle name);
nb::object attr_or_missing(nb::handle obj, const char* name);

// container[key] = value (an exact dict is stored into directly).
inline void set_item(nb::handle container, nb::handle key, nb::handle value) {
    PyObject* c = container.ptr();
    if ((PyDict_CheckExact(c) ? PyDict_SetItem(c, key.ptr(), value.ptr())
                              : PyObject_SetItem(c, key.ptr(), value.ptr())) < 0) {
        throw_current();
    }
}

// obj.<name>(args...), without making a bound method.
template <class... Args>
nb::object call_method(nb::handle obj, nb::handle name, const Args&... args) {
    PyObject* argv[] = {nullptr, obj.ptr(), nb::handle(args).ptr()...};
    constexpr std::size_t nargs = 1 + sizeof...(Args);
    return steal_or_throw(
        PyObject_VectorcallMethod(name.ptr(), argv + 1, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// The same, for a method named by a C string (made a str at each call).
template <class... Args>
nb::object call_method(nb::handle obj, const char* name, const Args&... args) {
    nb::object key = steal_or_throw(PyUnicode_FromString(name));
    return call_method(obj, nb::handle(key), args...);
}

// a == b as the host evaluates it: for a mapped column, an SQL condition.
inline nb::object rich_eq(nb::handle a, nb::handle b) {
    return steal_or_throw(PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ));
}

// A new instance of a heap type made from a spec (PyType_FromSpec), its
// fields zeroed.
nb::object new_instance(PyTypeObject* type);

// The end of the dealloc of such an instance, once its fields are cleared:
// its memory freed, and its reference to its type dropped.
void free_instance(PyObject* self);

}  // namespace zunt::rt
