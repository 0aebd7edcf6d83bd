"""Functions and classes that the instrumentor tests trace, of every kind."""

import asyncio

from opentelemetry import trace

calls = []


def add(a, b, c=None):
    calls.append("add")
    return f"{a}+{b}+{c}"


def count(*args, **kwargs):
    calls.append("count")
    return len(args) + len(kwargs)


def identity(value):
    return value


def fail(error):
    raise error


def outer(x):
    return identity(x)


class Base:
    def method(self, x):
        return ("method", x)

    @classmethod
    def build(cls, x):
        return (cls.__name__, x)

    @staticmethod
    def helper(x):
        return ("helper", x)


class Derived(Base):
    pass


class Outer:
    class Inner:
        def method(self):
            return "inner"

        @staticmethod
        def helper():
            return "inner helper"


async def fetch(x):
    calls.append("fetch")
    await asyncio.sleep(0)
    return {"fetched": x}


async def looked_at(look):
    """Calls look() while it runs, before and after one suspension."""
    look()
    await asyncio.sleep(0)
    look()
    return "looked at"


async def watch(steps):
    """Notes the current span's name after each of `steps` real suspensions."""
    seen = []
    for _ in range(steps):
        await asyncio.sleep(0)
        seen.append(trace.get_current_span().name)
    return seen


async def nested_block():
    """A span of the traced coroutine's own, current across its awaits."""
    with trace.get_tracer("app").start_as_current_span("block"):
        await asyncio.sleep(0)
        inside = trace.get_current_span().name
    await asyncio.sleep(0)
    return [inside, trace.get_current_span().name]


async def afetch_twice(x):
    first = await fetch(x)
    return [first, await fetch(x + 1)]


async def afail(error):
    await asyncio.sleep(0)
    raise error


async def wait_forever():
    await asyncio.Event().wait()


async def numbers():
    yield 1


def returns_awaitable():
    return asyncio.sleep(0)
