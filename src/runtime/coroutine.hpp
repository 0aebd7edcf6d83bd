// A coroutine object driven by a C++ state machine. It does nothing until
// first sent to, then delegates to each object it awaits the way `yield from`
// does: values those objects yield pass out to the event loop, what is sent or
// thrown in (cancellation) passes down to them, and their result resumes the
// state machine. Like the host's coroutines, one that is closed or dropped
// while it waits closes the awaited object and lets the body end what it
// holds open. It answers the host's questions about a coroutine (cr_running,
// cr_suspended, cr_frame, cr_await, cr_code, cr_origin), takes weak
// references, and refuses a second awaiter while it waits, as the host's
// coroutines do.
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

// Made for no function of the host's, the coroutine has no frame or code
// object to show: cr_frame and cr_code are None, cr_await is what it waits on.
nb::object make_coroutine(std::unique_ptr<AsyncBody> body, const char* qualname);
// The same, with the qualified name as a str (made once by the caller).
nb::object make_coroutine(std::unique_ptr<AsyncBody> body, nb::handle qualname);

// A coroutine that stands for the coroutine of the function `wrapped`: its
// body calls `wrapped` once and awaits what it returns (a wrapper that adds
// work around the call). Introspection sees through it to that coroutine, so
// that the host's stack walks (asyncio's Task.get_stack, inspect) find the
// frames they would find without the wrapper: cr_code is the code object of
// `wrapped`, cr_frame and cr_await are those of the awaited coroutine (or
// generator) while there is one. Before the call, and while the body does its
// own work around it, cr_frame is a stand-in for a frame of that code that
// has not started (f_code, f_lineno at its first line, f_lasti, f_globals,
// empty f_locals, no f_back), which inspect takes for a frame
// (inspect.getframeinfo answers for it what it answers for the frame of the
// coroutine of `wrapped` not started).
nb::object make_coroutine(std::unique_ptr<AsyncBody> body, nb::handle qualname, nb::handle wrapped);

// Creates the coroutine type once per process and registers it with
// collections.abc.Coroutine.
void init_coroutine_type();

}  // namespace zunt::rt
