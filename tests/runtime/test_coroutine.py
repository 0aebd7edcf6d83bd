"""The C++ coroutine object, driven by the host's event loop."""

import asyncio
import collections.abc
import inspect
import types

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
