// The host's truth, membership, subclass and instance tests, as C++ booleans
// (an error raised by the test is thrown as nb::python_error), and the
// module-level logging calls.
#pragma once

#include "runtime/errors.hpp"
#include "runtime/function.hpp"

#include <utility>

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

// a == b as the host evaluates it: for a mapped column, an SQL condition.
inline nb::object rich_eq(nb::handle a, nb::handle b) {
    return steal_or_throw(PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ));
}

// logging.<level>(*args) through the calling module's own `logging`,
// looked up at call time.
template <class... Args>
void log(const Call& c, const char* level, Args&&... args) {
    c.global("logging").attr(level)(std::forward<Args>(args)...);
}

}  // namespace zunt::rt
