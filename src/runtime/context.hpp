// The host's `with` statement, for C++ bodies: enter the context manager,
// run the body on what it gave, and leave it with the body's error, if any.
// An error that the context manager does not suppress goes on to the caller
// after the manager has been left (a session closed, a transaction rolled
// back).
#pragma once

#include "runtime/errors.hpp"

#include <type_traits>
#include <utility>

namespace zunt::rt {

// An entered context manager: the two halves of a `with` block, for a block
// that C++ leaves at a time of its choosing (a coroutine's span left steps
// after it was entered), and the scope of with_context below.
class ContextScope {
public:
    // Enters cm: type(cm).__exit__ and type(cm).__enter__ bound to cm, as the
    // host binds special methods, then __enter__(). TypeError when cm is no
    // context manager.
    explicit ContextScope(nb::handle cm);

    // Left once: moved, not copied.
    ContextScope(ContextScope&&) = default;
    ContextScope& operator=(ContextScope&&) = default;
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;

    // What __enter__ gave.
    nb::handle value() const { return value_; }
    // Whether the block is still to be left.
    bool open() const { return exit_.is_valid(); }

    // Leaves the block normally: __exit__(None, None, None).
    void close();

    // Leaves the block with the error that ends it, as the host leaves a with
    // block on an error: the error is the one being handled (sys.exc_info()
    // inside __exit__ shows it, and an error raised there takes it as
    // context). True when the manager suppressed it.
    bool close(const nb::python_error& error);

    // Reports the Python objects it holds, for the cycle collector.
    int traverse(visitproc visit, void* arg) const;

private:
    nb::object take_exit();

    nb::object exit_;  // bound __exit__, unset once the block was left
    nb::object value_;
};

// with cm as value: body(value)
// When the manager suppresses the body's error, the result is a
// default-made value (an unset nb::object for object results).
template <class Body>
auto with_context(nb::handle cm, Body&& body) -> std::invoke_result_t<Body, nb::object> {
    using Result = std::invoke_result_t<Body, nb::object>;
    using Stored = std::conditional_t<std::is_void_v<Result>, bool, Result>;
    ContextScope scope(cm);
    Stored result{};
    try {
        if constexpr (std::is_void_v<Result>) {
            body(nb::borrow(scope.value()));
        } else {
            result = body(nb::borrow(scope.value()));
        }
    } catch (nb::python_error& error) {
        if (!scope.close(error)) throw;
        if constexpr (!std::is_void_v<Result>) return Result{};
        else return;
    }
    scope.close();
    if constexpr (!std::is_void_v<Result>) return result;
}

}  // namespace zunt::rt
