// Native code that may still be running when the host ends the interpreter.
//
// Once finalisation has begun, a daemon thread that asks for the GIL back
// (after a blocking call, or at any switch between threads, a finaliser's
// included) is ended by the host with pthread_exit, which unwinds the
// thread's stack as a forced exception. Every C++ frame on the way would run
// its destructors, and a destructor that drops a Python reference then does
// so without the GIL and without a thread state: the process crashes on its
// way out (a noexcept frame on the way aborts it instead).
//
// Code that runs on a thread of the toolkit's own, or waits somewhere for a
// long time, therefore makes its calls into the host through
// park_on_thread_exit: should the host end the thread inside, the thread
// stays there, holding nothing, until the process ends (what newer hosts do
// themselves), so no frame of ours is ever unwound by it. The work given must
// own no reference itself (it is one C API call, on borrowed or outside-held
// objects); ExitSafeRef holds the references outside, and drops them the same
// way.
#pragma once

#include <Python.h>

#include <cstddef>
#include <utility>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace zunt::rt {

// Never returns: the thread waits for the end of the process.
[[noreturn]] void park_forever() noexcept;

template <class Work>
decltype(auto) park_on_thread_exit(Work&& work) {
#if defined(__GLIBCXX__)
    try {
        return std::forward<Work>(work)();
    } catch (abi::__forced_unwind&) {
        park_forever();
    }
#else
    return std::forward<Work>(work)();
#endif
}

// An owned reference (or null), dropped under park_on_thread_exit: dropping
// it may run a finaliser, which may let the GIL go.
class ExitSafeRef {
public:
    ExitSafeRef() = default;
    explicit ExitSafeRef(PyObject* owned) : ptr_(owned) {}
    ExitSafeRef(ExitSafeRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ExitSafeRef& operator=(ExitSafeRef&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ExitSafeRef(const ExitSafeRef&) = delete;
    ExitSafeRef& operator=(const ExitSafeRef&) = delete;
    ~ExitSafeRef() { reset(); }

    PyObject* get() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    PyObject* release() { return std::exchange(ptr_, nullptr); }
    void reset(PyObject* owned = nullptr) noexcept {
        if (PyObject* old = std::exchange(ptr_, owned)) park_on_thread_exit([old] { Py_DECREF(old); });
    }

private:
    PyObject* ptr_ = nullptr;
};

// The calls into the host of such code: each answers a new reference (or
// null with the error set) or the C API's own result.
namespace parked {

template <class Work>
ExitSafeRef host_call(Work&& work) {
    return ExitSafeRef(park_on_thread_exit(std::forward<Work>(work)));
}

inline ExitSafeRef get_attr(PyObject* obj, PyObject* name) {
    return host_call([&] { return PyObject_GetAttr(obj, name); });
}

inline int set_attr(PyObject* obj, PyObject* name, PyObject* value) {
    return park_on_thread_exit([&] { return PyObject_SetAttr(obj, name, value); });
}

// callable(*args, **kwargs), the arguments a tuple and a dict (or null)
inline ExitSafeRef call(PyObject* callable, PyObject* args, PyObject* kwargs) {
    return host_call([&] { return PyObject_Call(callable, args, kwargs); });
}

// callable(*args) with keyword arguments named by `kwnames`, vectorcall style
inline ExitSafeRef vectorcall(PyObject* callable, PyObject* const* args, std::size_t nargs, PyObject* kwnames) {
    return host_call([&] { return PyObject_Vectorcall(callable, args, nargs, kwnames); });
}

// obj.<name>(args...)
template <class... Args>
ExitSafeRef call_method(PyObject* obj, PyObject* name, Args... args) {
    return host_call([&] {
        PyObject* argv[] = {obj, args...};
        return PyObject_VectorcallMethod(name, argv, sizeof...(Args) + 1, nullptr);
    });
}

inline Py_ssize_t size(PyObject* obj) {
    return park_on_thread_exit([&] { return PyObject_Size(obj); });
}

// Drops the pending error, if any (dropping it may run finalisers).
inline void clear_error() {
    park_on_thread_exit([] { PyErr_Clear(); });
}

}  // namespace parked

}  // namespace zunt::rt
