"""The C++ coroutine object, driven by the host's event loop."""

import asyncio
import collections.abc
import contextvars
import gc
import inspect
import sys
import types
import weakref

import pytest

import _zunt_runtime_test as rt


def test_recognised_as_coroutine_function_and_coroutine():
    assert inspect.iscoroutinefunction(rt.sleep_then)
    assert asyncio.iscoroutinefunction(rt.sleep_then)
    coro = rt.sleep_then(1)
    assert isinstance(coro, collections.abc.Coroutine)
    assert asyncio.iscoroutine(coro)
    coro.close()


def test_runs_under_asyncio_run():
    assert asyncio.run(rt.sleep_then("value", 3)) == "value"
    assert asyncio.run(rt.sleep_then(7, 0)) == 7


def test_nothing_runs_until_awaited():
    calls = []

    async def record():
        calls.append(1)
        return "r"

    coro = rt.await_it(record())
    assert calls == []
    assert asyncio.run(coro) == ("done", "r")
    assert calls == [1]


def test_suspends_and_interleaves_with_other_tasks():
    order = []

    async def ticker():
        for i in range(3):
            order.append(f"tick{i}")
            await asyncio.sleep(0)

    async def main():
        async def native():
            result = await rt.sleep_then("n", 3)
            order.append("native done")
            return result

        return await asyncio.gather(native(), ticker())

    assert asyncio.run(main()) == ["n", None]
    # The native coroutine finishes only after the ticker ran between its sleeps.
    assert order.index("native done") > order.index("tick1")


def test_cancellation_is_forwarded_to_the_awaited_object():
    async def main():
        task = asyncio.ensure_future(rt.await_it(asyncio.sleep(10)))
        await asyncio.sleep(0)
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task
        return task.cancelled()

    assert asyncio.run(main()) is True


def test_error_of_the_awaited_object_reaches_the_body():
    async def main():
        fut = asyncio.get_running_loop().create_future()
        task = asyncio.ensure_future(rt.await_it(fut, True))
        await asyncio.sleep(0)
        fut.set_exception(LookupError("gone"))
        return await task

    kind, exc = asyncio.run(main())
    assert kind == "caught" and isinstance(exc, LookupError)


@types.coroutine
def manual():
    """An awaitable that yields twice and records what it is sent and thrown."""
    log = []
    try:
        log.append((yield "first"))
        log.append((yield "second"))
    except ValueError as exc:
        log.append(("thrown", str(exc)))
        raise
    finally:
        log.append("closed")
        manual.log = log
    return "end"


def test_send_and_throw_are_delegated():
    coro = rt.await_it(manual())
    assert coro.send(None) == "first"
    assert coro.send("a") == "second"
    with pytest.raises(StopIteration) as info:
        coro.send("b")
    assert info.value.value == ("done", "end")
    assert manual.log == ["a", "b", "closed"]
    with pytest.raises(RuntimeError, match="cannot reuse already awaited coroutine"):
        coro.send(None)

    coro = rt.await_it(manual())
    coro.send(None)
    with pytest.raises(ValueError, match="boom"):
        coro.throw(ValueError("boom"))
    assert manual.log == [("thrown", "boom"), "closed"]

    coro = rt.await_it(manual(), True)
    coro.send(None)
    with pytest.raises(StopIteration) as info:
        coro.throw(ValueError("boom"))
    assert info.value.value[0] == "caught"


def test_close_closes_the_awaited_object():
    coro = rt.await_it(manual())
    coro.send(None)
    coro.close()
    assert manual.log == ["closed"]
    with pytest.raises(RuntimeError):
        coro.send(None)


def test_just_started_coroutine_refuses_a_value():
    coro = rt.sleep_then(1)
    with pytest.raises(TypeError, match="can't send non-None value to a just-started coroutine"):
        coro.send(1)
    coro.close()


def test_awaiting_a_non_awaitable_raises_type_error():
    with pytest.raises(TypeError, match="can't be used in 'await' expression"):
        asyncio.run(rt.await_it(5))


VAR = contextvars.ContextVar("VAR", default="outside")


def test_enter_and_leave_wrap_each_stretch_of_work():
    log = []
    seen = []

    @types.coroutine
    def steps():
        seen.append(VAR.get())
        yield "one"
        seen.append(VAR.get())
        yield "two"
        seen.append(VAR.get())
        return "end"

    coro = rt.hooked(steps(), log, VAR, "inside")
    assert log == []
    assert coro.send(None) == "one"
    assert VAR.get() == "outside"
    assert coro.send(None) == "two"
    with pytest.raises(StopIteration) as info:
        coro.send(None)
    assert info.value.value == ("done", "end")
    assert seen == ["inside", "inside", "inside"]
    assert log == ["enter", "leave"] * 3
    assert VAR.get() == "outside"


def test_state_set_on_enter_is_invisible_to_interleaving_tasks():
    observed = []

    async def inner():
        for _ in range(3):
            observed.append(("traced", VAR.get()))
            await asyncio.sleep(0)
        return "r"

    async def other():
        for _ in range(3):
            observed.append(("other", VAR.get()))
            await asyncio.sleep(0)

    async def main():
        return await asyncio.gather(rt.hooked(inner(), [], VAR, "inside"), other())

    assert asyncio.run(main())[0] == ("done", "r")
    assert {value for who, value in observed if who == "traced"} == {"inside"}
    assert {value for who, value in observed if who == "other"} == {"outside"}


def test_throw_runs_inside_enter_and_leave():
    log = []
    coro = rt.hooked(manual(), log, VAR, "inside")
    coro.send(None)
    with pytest.raises(ValueError):
        coro.throw(ValueError("boom"))
    assert log == ["enter", "leave", "enter", "leave"]
    assert VAR.get() == "outside"


def test_close_while_waiting_closes_the_awaited_object_then_the_body():
    log = []
    coro = rt.hooked(manual(), log, VAR, "inside")
    coro.send(None)
    coro.close()
    assert manual.log == ["closed"]
    assert log == ["enter", "leave", "enter", ("close", "inside"), "leave"]
    coro.close()  # closing again does nothing
    assert len(log) == 5


def test_close_before_start_does_not_run_the_body():
    log = []
    awaited = manual()
    coro = rt.hooked(awaited, log, VAR, "inside")
    coro.close()
    assert log == []
    awaited.close()


def test_error_of_the_body_close_comes_out_of_close():
    coro = rt.hooked(manual(), [], VAR, "fail on close")
    coro.send(None)
    with pytest.raises(LookupError, match="close failed"):
        coro.close()


def test_an_error_of_the_body_close_when_dropped_is_unraisable_with_a_traceback(monkeypatch):
    reported = []
    monkeypatch.setattr("sys.unraisablehook", reported.append)
    coro = rt.hooked(manual(), [], VAR, "fail on close")
    coro.send(None)
    del coro  # closed by its finaliser: the error can reach no caller
    (report,) = reported
    assert report.exc_type is LookupError and str(report.exc_value) == "close failed"
    assert report.exc_traceback is not None and report.exc_traceback.tb_frame is not None


async def host_fails_on_close():
    try:
        await manual()
    finally:
        raise LookupError("close failed")


@pytest.mark.parametrize(
    "make", [lambda: rt.hooked(manual(), [], VAR, "fail on close"), host_fails_on_close], ids=["toolkit", "host"]
)
def test_weak_references_die_before_the_finaliser_that_revives_the_coroutine(monkeypatch, make):
    revived = []  # the coroutine, kept alive by the report of its finaliser's error
    monkeypatch.setattr("sys.unraisablehook", lambda report: revived.append(report.object))
    coro = make()
    coro.send(None)
    reports_when_dead = []
    ref = weakref.ref(coro, lambda _: reports_when_dead.append(len(revived)))
    del coro
    assert reports_when_dead == [0] and ref() is None
    (coro,) = revived
    assert inspect.getcoroutinestate(coro) == "CORO_CLOSED"
    assert weakref.ref(coro)() is coro


def test_dropped_while_waiting_is_closed():
    log = []
    coro = rt.hooked(manual(), log, VAR, "inside")
    coro.send(None)
    del coro
    assert ("close", "inside") in log
    assert manual.log == ["closed"]


def test_dropped_in_a_cycle_is_closed_by_the_collector():
    log = []
    box = []
    coro = rt.hooked(manual(), log, VAR, box)
    coro.send(None)
    box.append(coro)  # a cycle: the coroutine holds the box that holds it
    del coro, box
    gc.collect()
    assert [entry[0] for entry in log if isinstance(entry, tuple)] == ["close"]
    assert manual.log == ["closed"]


def test_host_coroutines_are_awaited_directly():
    async def inner():
        await asyncio.sleep(0)
        return 5

    coro = inner()
    assert asyncio.run(rt.await_it(coro)) == ("done", 5)
    with pytest.raises(RuntimeError, match="cannot reuse already awaited coroutine"):
        asyncio.run(rt.await_it(coro))


# One awaiter, and what the host's introspection sees


async def host_awaits_manual():
    return await manual()


@pytest.mark.parametrize("make", [lambda: rt.await_it(manual()), host_awaits_manual], ids=["toolkit", "host"])
@pytest.mark.parametrize("second", ["await", "toolkit await"])
def test_a_waiting_coroutine_refuses_a_second_awaiter(make, second):
    coro = make()
    assert coro.send(None) == "first"

    async def awaits():
        return await coro

    awaiter = awaits() if second == "await" else rt.await_it(coro)
    with pytest.raises(RuntimeError, match="^coroutine is being awaited already$"):
        awaiter.send(None)
    assert coro.send("a") == "second"  # its own awaiter still drives it
    with pytest.raises(StopIteration):
        coro.send("b")
    assert manual.log == ["a", "b", "closed"]


async def sleeps_once():
    await asyncio.sleep(0)
    return "slept"


@types.coroutine
def yields_once():
    yield "step"
    return "yielded"


class PlainAwaitable:
    """Awaitable through an iterator that is no coroutine and has no frame."""

    def __await__(self):
        return iter(["step"])


def plain_awaitable():
    return PlainAwaitable()


def described(obj):
    """A coroutine's qualified name, another object's type name."""
    return None if obj is None else getattr(obj, "__qualname__", type(obj).__name__)


# A wrapper suspended on what it awaits: (make it, the code of the frame it
# shows, that frame's line after the code's first, what cr_await is, cr_code).
SUSPENDED_WRAPPERS = [
    ("host coroutine", lambda: rt.wrap_call(sleeps_once), sleeps_once, 1, "sleep", sleeps_once),
    ("generator", lambda: rt.wrap_call(yields_once), yields_once, 2, None, yields_once),
    ("no frame to show", lambda: rt.wrap_call(plain_awaitable), plain_awaitable, 0, "list_iterator", plain_awaitable),
    ("wrapper of a wrapper", lambda: rt.wrap_call(rt.wrap_call, sleeps_once), sleeps_once, 1, "sleep", None),
]


@pytest.mark.parametrize(
    "make, frame_of, line, awaited, code_of",
    [case[1:] for case in SUSPENDED_WRAPPERS],
    ids=[case[0] for case in SUSPENDED_WRAPPERS],
)
def test_a_wrapper_shows_what_it_awaits(make, frame_of, line, awaited, code_of):
    coro = make()
    coro.send(None)
    assert (coro.cr_running, coro.cr_suspended, inspect.getcoroutinestate(coro)) == (False, True, "CORO_SUSPENDED")
    frame = coro.cr_frame
    assert frame.f_code is frame_of.__code__ and frame.f_back is None
    assert frame.f_lineno == frame_of.__code__.co_firstlineno + line
    assert described(coro.cr_await) == awaited
    assert coro.cr_code is (None if code_of is None else code_of.__code__)
    coro.close()
    closed = (coro.cr_frame, coro.cr_await, coro.cr_suspended, inspect.getcoroutinestate(coro))
    assert closed == (None, None, False, "CORO_CLOSED")
    assert coro.cr_code is (None if code_of is None else code_of.__code__)


def test_a_wrapper_not_started_shows_a_frame_of_the_code_at_its_first_line():
    coro = rt.wrap_call(sleeps_once)
    frame = coro.cr_frame
    assert inspect.getcoroutinestate(coro) == "CORO_CREATED" and coro.cr_frame is frame
    code = sleeps_once.__code__
    assert (frame.f_code, frame.f_lineno, frame.f_back, frame.f_locals) == (code, code.co_firstlineno, None, {})
    assert frame.f_globals is globals()
    where = f"file {code.co_filename!r}, line {code.co_firstlineno}, code sleeps_once"
    assert repr(frame) == f"<frame of a coroutine not started, {where}>"
    coro.close()
    assert coro.cr_frame is None and coro.cr_code is code


def closure():
    value = "closed over"

    async def returns_it():
        return value

    return returns_it


async def with_cell():
    value = "in a cell"

    def inner():
        return value

    return inner()


class Owner:
    async def method(self=None):
        return __class__  # a free variable of the method's code


# Code that makes a coroutine, with and without a prologue before it does so
# (free variables copied, cells made).
NOT_STARTED = [
    ("plain", sleeps_once),
    ("closure", closure()),
    ("cell variables", with_cell),
    ("free __class__", Owner.method),
    ("generator-based", yields_once),
]


@pytest.mark.parametrize("function", [case[1] for case in NOT_STARTED], ids=[case[0] for case in NOT_STARTED])
def test_a_wrapper_not_started_answers_inspect_as_the_frame_of_the_coroutine_not_started(function):
    host, wrapper = function(), rt.wrap_call(function)
    seen = []
    for frame in (getattr(host, "cr_frame", None) or host.gi_frame, wrapper.cr_frame):
        info = inspect.getframeinfo(frame)
        seen.append((info, info.positions, frame.f_lasti, inspect.isframe(frame), hasattr(frame, "__module__")))
    assert seen[1] == seen[0]
    host.close()
    wrapper.close()


def test_a_wrapper_of_code_that_makes_no_coroutine_shows_a_frame_that_ran_no_instruction():
    coro = rt.wrap_call(plain_awaitable)
    frame = coro.cr_frame
    code = plain_awaitable.__code__
    assert frame.f_lasti == -1
    assert inspect.getframeinfo(frame)[:3] == (code.co_filename, code.co_firstlineno, "plain_awaitable")
    coro.close()


def made_here(origin_depth, function, *args):
    """function(*args), made while the host tracks the origin of coroutines
    `origin_depth` frames deep."""
    previous = sys.get_coroutine_origin_tracking_depth()
    sys.set_coroutine_origin_tracking_depth(origin_depth)
    try:
        return function(*args)
    finally:
        sys.set_coroutine_origin_tracking_depth(previous)


@pytest.mark.parametrize("origin_depth", [0, 2, 1000], ids=["not tracked", "cut", "the whole stack"])
def test_cr_origin_is_where_it_was_made_as_for_a_host_coroutine(origin_depth):
    native, host = [made_here(origin_depth, *call) for call in [(rt.sleep_then, 1), (sleeps_once,)]]
    assert native.cr_origin == host.cr_origin
    assert (native.cr_origin is None) == (origin_depth == 0)
    native.close()
    host.close()


def test_a_coroutine_for_no_function_shows_only_what_it_awaits():
    awaited = manual()
    coro = rt.await_it(awaited)
    assert (coro.cr_frame, coro.cr_code, coro.cr_await) == (None, None, None)
    coro.send(None)
    assert coro.cr_await is awaited and coro.cr_suspended
    assert (coro.cr_frame, coro.cr_code) == (None, None)
    coro.close()
    assert coro.cr_await is None and not coro.cr_suspended
