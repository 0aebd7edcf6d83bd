// A coroutine object driven by a C++ state machine. It does nothing until
// first sent to, then delegates to each object it awaits the way `yield from`
// does: values those objects yield pass out to the event loop, what is sent or
// thrown in (cancellation) passes down to them, and their result resumes the
// state machine. Like the host's coroutines, one that is closed or dropped
// while it waits closes the awaited object and lets the body end what it
// holds open.
#pragma once

#include <nanobind/nanobind.h>

#include <memory>

namespace zunt::rt {

namespace nb = nanobind;

struct Step {
    bool done = false;
    nb::object value;  // the awaitable to wait on, or the result when done

    static Step await(nb::object awaitable) { return Step{false, std::move(awaitable)}; }
    static Step finish(nb::object result = nb::none()) { return Step{true, std::move(result)}; }
};

class AsyncBody {
public:
    virtual ~AsyncBody() = default;
    // First called with None, then with the result of each awaited object.
    virtual Step resume(nb::handle value) = 0;
    // Called when an awaited object raised. The default lets the error out.
    virtual Step resume_error(nb::python_error& error);
    // Called around every stretch of work the started coroutine does for its
    // caller (each send, throw and close, the awaited objects' own steps
    // included): enter() before, leave() after, also when the stretch raised.
    // A body that keeps context-local state current only while it runs (and
    // not while it waits, when other tasks run) sets it up here. Neither may
    // raise; an error they let out is reported as unraisable.
    virtual void enter();
    virtual void leave();
    // Called when the coroutine is closed (or dropped) while it waits on an
    // awaited object, after that object was closed: the body ends what it
    // holds open, like a `finally` that GeneratorExit reaches. It cannot await
    // any more. An error it throws comes out of close().
    virtual void close();
    // Reports the Python objects the body holds, for the cycle collector.
    virtual int traverse(visitproc visit, void* arg);
};

nb::object make_coroutine(std::unique_ptr<AsyncBody> body, const char* qualname);
// The same, with the qualified name as a str (made once by the caller).
nb::object make_coroutine(std::unique_ptr<AsyncBody> body, nb::handle qualname);

// Creates the coroutine type once per process and registers it with
// collections.abc.Coroutine.
void init_coroutine_type();

}  // namespace zunt::rt
