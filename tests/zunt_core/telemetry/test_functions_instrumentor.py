"""The function-tracing instrumentor: span names and contents (through the
SDK's in-memory exporter on the global provider of this process), the
asynchronous wrapper under a real event loop, and putting every kind of
function back."""

import asyncio
import gc
import inspect
import io
import re
import sys
import threading
import weakref

import pytest
import wrapt
from opentelemetry import trace
from opentelemetry.sdk.trace import TracerProvider
from opentelemetry.sdk.trace.export import SimpleSpanProcessor
from opentelemetry.sdk.trace.export.in_memory_span_exporter import InMemorySpanExporter
from opentelemetry.trace import StatusCode

import traced_top
from telemetry_servers import run_script
from traced_pkg import targets
from traced_pkg.targets import Base, Derived, Outer
from zunt_core.telemetry.opentelemetry.instrument.functions import ZUNTFunctionsInstrumentor

TRACER_NAME = "zunt_core.telemetry.opentelemetry.instrument.functions"
PLACEHOLDER = "<str() failed>"
PROXY = getattr(wrapt, "BaseObjectProxy", wrapt.ObjectProxy)

# Every place a test may wrap, with what stands there untraced.
PLACES = [(targets, name) for name in vars(targets) if inspect.isfunction(getattr(targets, name))]
PLACES += [(traced_top, "double")]
PLACES += [(cls, name) for cls in (Base, Outer.Inner) for name in vars(cls) if not name.startswith("__")]
ORIGINALS = {(owner, name): vars(owner)[name] for owner, name in PLACES}


@pytest.fixture(scope="module")
def exporter():
    """An in-memory exporter on the global SDK provider of this process."""
    provider = trace.get_tracer_provider()
    if not isinstance(provider, TracerProvider):
        provider = TracerProvider()
        trace.set_tracer_provider(provider)
    exporter = InMemorySpanExporter()
    provider.add_span_processor(SimpleSpanProcessor(exporter))
    return exporter


@pytest.fixture
def spans(exporter):
    """The spans finished so far in the test, oldest first."""
    exporter.clear()
    targets.calls.clear()
    yield exporter.get_finished_spans
    exporter.clear()


@pytest.fixture
def instrumentor():
    """The instrumentor; afterwards everything must stand as it was."""
    instrumentor = ZUNTFunctionsInstrumentor()
    yield instrumentor
    instrumentor.uninstrument()
    assert ZUNTFunctionsInstrumentor._instrumented_methods == set()
    for (owner, name), original in ORIGINALS.items():
        if vars(owner)[name] is not original:
            setattr(owner, name, original)
            pytest.fail(f"{owner.__name__}.{name} was left wrapped")


def summary(span):
    return (span.name, dict(span.attributes))


def test_instrumentation_dependencies_is_a_new_empty_list(instrumentor):
    first = instrumentor.instrumentation_dependencies()
    assert first == [] and isinstance(first, list)
    assert instrumentor.instrumentation_dependencies() is not first


def test_get_methods(instrumentor):
    methods = [targets.add]
    assert instrumentor._get_methods({"methods": methods, "other": 1}) is methods
    assert instrumentor._get_methods({}) == []
    assert instrumentor._get_methods({}) is not instrumentor._get_methods({})


@pytest.mark.parametrize("kwargs", [{}, {"methods": []}, {"methods": None}], ids=["absent", "empty", "none"])
def test_instrument_without_methods_wraps_nothing(instrumentor, kwargs):
    instrumentor.instrument(**kwargs)
    assert ZUNTFunctionsInstrumentor._instrumented_methods == set()
    assert not isinstance(targets.add, PROXY)


def test_instrumentor_is_a_real_instrumentor_subclass(instrumentor):
    from opentelemetry.instrumentation.instrumentor import BaseInstrumentor

    assert isinstance(instrumentor, BaseInstrumentor) and ZUNTFunctionsInstrumentor() is instrumentor
    sync, async_ = instrumentor._create_trace_wrapper_method()
    assert not inspect.iscoroutinefunction(sync)
    assert inspect.iscoroutinefunction(async_) and asyncio.iscoroutinefunction(async_)
    again = instrumentor._create_trace_wrapper_method()
    assert again[0] is not sync and again[1] is not async_


NAMES = [
    ("module function", lambda: [targets.add], lambda: targets.add(1, 2), [("add", ["1", "2"])]),
    ("top-level module", lambda: [traced_top.double], lambda: traced_top.double(4), [("double", ["4"])]),
    ("instance method", lambda: [Base.method], lambda: Base().method(5), [("Base.method", ["5"])]),
    ("inherited, on a subclass object", lambda: [Base.method], lambda: Derived().method(5), [("Derived.method", ["5"])]),
    (
        "listed through a subclass",
        lambda: [Derived.method],
        lambda: (Derived().method(1), Base().method(2)),
        [("Derived.method", ["1"]), ("Base.method", ["2"])],
    ),
    ("called through the class", lambda: [Base.method], lambda: Base.method(Base(), 6), [("Base.method", ["6"])]),
    (
        "class method",
        lambda: [Base.build],
        lambda: (Base.build(1), Derived.build(2), Derived().build(3)),
        [("Base.build", ["1"]), ("Derived.build", ["2"]), ("Derived.build", ["3"])],
    ),
    (
        "static method",
        lambda: [Base.helper],
        lambda: (Base.helper(1), Derived().helper(2)),
        [("Base.helper", ["1"]), ("Base.helper", ["2"])],
    ),
    ("nested static method", lambda: [Outer.Inner.helper], lambda: Outer.Inner.helper(), [("Outer.Inner.helper", [])]),
    ("nested instance method", lambda: [Outer.Inner.method], lambda: Outer.Inner().method(), [("Inner.method", [])]),
]


@pytest.mark.parametrize("methods, call, expected", [case[1:] for case in NAMES], ids=[case[0] for case in NAMES])
def test_span_names_and_positional_arguments(instrumentor, spans, methods, call, expected):
    untraced = call()
    instrumentor.instrument(methods=methods())
    assert call() == untraced
    found = [(s.name, [v for k, v in s.attributes.items() if k.startswith("input.args[")]) for s in spans()]
    assert found == expected
    assert all(s.instrumentation_scope.name == TRACER_NAME for s in spans())


def test_inputs_then_output_as_text(instrumentor, spans):
    instrumentor.instrument(methods=[targets.add])
    assert targets.add(1, None, c=[2]) == "1+None+[2]"
    assert list(spans()[0].attributes.items()) == [
        ("input.args[0]", "1"),
        ("input.args[1]", "None"),
        ("input.kwargs.c", "[2]"),
        ("output", "1+None+[2]"),
    ]
    assert spans()[0].status.status_code is StatusCode.UNSET and spans()[0].events == ()


def test_spans_of_nested_traced_calls_are_parent_and_child(instrumentor, spans):
    instrumentor.instrument(methods=[targets.outer, targets.identity])
    targets.outer(7)
    inner, outer = spans()
    assert (inner.name, outer.name) == ("identity", "outer")
    assert inner.parent.span_id == outer.context.span_id and outer.parent is None


class TracedError(Exception):
    pass


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


class UnprintableError(Exception):
    def __str__(self):
        raise RuntimeError("no text")


class NotText:
    def __str__(self):
        return 42


@pytest.mark.parametrize(
    "error, type_name, message",
    [
        (ValueError("bad value"), "ValueError", "bad value"),
        (TracedError("own kind"), f"{__name__}.TracedError", "own kind"),
        (UnprintableError(), f"{__name__}.UnprintableError", PLACEHOLDER),
    ],
    ids=["builtin", "own-class", "unprintable"],
)
def test_exception_is_recorded_once_and_raised_unchanged(instrumentor, spans, error, type_name, message):
    instrumentor.instrument(methods=[targets.fail])
    with pytest.raises(type(error)) as info:
        targets.fail(error)
    assert info.value is error
    assert info.traceback[-1].name == "fail"  # raised from the traced function itself
    [span] = spans()
    [event] = span.events
    assert event.name == "exception"
    assert event.attributes["exception.type"] == type_name
    assert event.attributes["exception.message"] == message
    assert type(error).__name__ in event.attributes["exception.stacktrace"]
    assert (span.status.status_code, span.status.description) == (StatusCode.ERROR, message)
    assert "output" not in span.attributes


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(3)], ids=["interrupt", "exit"])
def test_interruptions_are_not_recorded(instrumentor, spans, error):
    instrumentor.instrument(methods=[targets.fail])
    with pytest.raises(type(error)) as info:
        targets.fail(error)
    assert info.value is error
    [span] = spans()
    assert span.events == () and span.status.status_code is StatusCode.UNSET
    assert span.end_time is not None


def test_values_without_text_never_change_the_call(instrumentor, spans):
    instrumentor.instrument(methods=[targets.identity, targets.count])
    odd = Unprintable()
    assert targets.identity(odd) is odd
    assert targets.count(NotText(), 1, c=Unprintable()) == 3
    identity_span, count_span = spans()
    assert dict(identity_span.attributes) == {"input.args[0]": PLACEHOLDER, "output": PLACEHOLDER}
    assert dict(count_span.attributes) == {
        "input.args[0]": PLACEHOLDER,
        "input.args[1]": "1",
        "input.kwargs.c": PLACEHOLDER,
        "output": "3",
    }
    assert all(s.status.status_code is StatusCode.UNSET and s.events == () for s in spans())
    assert targets.calls == ["count"]


def test_function_listed_twice_is_traced_twice_and_unwrapped_once(instrumentor, spans):
    original = targets.identity
    try:
        instrumentor.instrument(methods=[targets.identity, targets.identity])
        assert ZUNTFunctionsInstrumentor._instrumented_methods == {original}
        targets.identity(1)
        inner, outer = spans()
        assert inner.name == outer.name == "identity" and inner.parent.span_id == outer.context.span_id
        instrumentor.uninstrument()
        targets.identity(2)
        assert len(spans()) == 3
        assert targets.identity.__wrapped__ is original
    finally:
        targets.identity = original


def test_reference_taken_before_instrumenting_stays_untraced(instrumentor, spans):
    early = targets.identity
    bound = Base().method
    instrumentor.instrument(methods=[targets.identity, Base.method])
    early(1)
    bound(2)
    assert spans() == ()
    targets.identity(3)
    assert [s.name for s in spans()] == ["identity"]


def test_calls_from_many_threads_get_one_root_span_each(instrumentor, spans):
    instrumentor.instrument(methods=[targets.identity])
    threads = [threading.Thread(target=lambda i=i: [targets.identity(i) for _ in range(20)]) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(spans()) == 80
    assert all(s.parent is None for s in spans())
    assert len({s.context.span_id for s in spans()}) == 80


# Asynchronous functions


def test_coroutine_function_runs_only_when_awaited(instrumentor, spans):
    instrumentor.instrument(methods=[targets.fetch])
    assert inspect.iscoroutinefunction(targets.fetch)
    awaitable = targets.fetch(3)
    assert spans() == () and targets.calls == []
    assert asyncio.run(awaitable) == {"fetched": 3}
    [span] = spans()
    assert summary(span) == ("fetch", {"input.args[0]": "3", "output": "{'fetched': 3}"})
    assert targets.calls == ["fetch"]


def test_never_awaited_produces_no_span_and_no_call(instrumentor, spans):
    instrumentor.instrument(methods=[targets.fetch])
    awaitable = targets.fetch(1)
    # as for the host's own coroutines
    with pytest.warns(RuntimeWarning, match=r"^coroutine '.*\.trace_async_method' was never awaited$"):
        del awaitable
        gc.collect()
    assert spans() == () and targets.calls == []


def test_span_stays_current_across_suspensions_and_only_in_its_task(instrumentor, spans):
    instrumentor.instrument(methods=[targets.watch])

    async def bystander():
        seen = []
        for _ in range(4):
            await asyncio.sleep(0)
            seen.append(trace.get_current_span().is_recording())
        return seen

    async def main():
        return await asyncio.gather(targets.watch(4), bystander(), targets.watch(2))

    traced, other, second = asyncio.run(main())
    assert traced == ["watch"] * 4 and second == ["watch"] * 2
    assert other == [False] * 4
    assert trace.get_current_span().is_recording() is False
    first, last = sorted(spans(), key=lambda s: len(s.attributes["output"]))
    assert first.context.trace_id != last.context.trace_id


def test_own_spans_of_the_traced_coroutine_stay_current_across_its_awaits(instrumentor, spans):
    instrumentor.instrument(methods=[targets.nested_block])
    assert asyncio.run(targets.nested_block()) == ["block", "nested_block"]
    block, traced = spans()
    assert block.parent.span_id == traced.context.span_id


def test_awaited_traced_coroutines_are_children(instrumentor, spans):
    instrumentor.instrument(methods=[targets.afetch_twice, targets.fetch])
    asyncio.run(targets.afetch_twice(1))
    first, second, parent = spans()
    assert [s.name for s in spans()] == ["fetch", "fetch", "afetch_twice"]
    assert first.parent.span_id == second.parent.span_id == parent.context.span_id


def test_coroutine_exception_is_recorded_once(instrumentor, spans):
    instrumentor.instrument(methods=[targets.afail])
    error = TracedError("async failure")
    with pytest.raises(TracedError) as info:
        asyncio.run(targets.afail(error))
    assert info.value is error
    [span] = spans()
    assert [e.attributes["exception.message"] for e in span.events] == ["async failure"]
    assert span.status.description == "async failure"


def test_cancellation_ends_the_span_unrecorded(instrumentor, spans):
    instrumentor.instrument(methods=[targets.wait_forever])

    async def main():
        task = asyncio.ensure_future(targets.wait_forever())
        await asyncio.sleep(0)
        assert trace.get_current_span().is_recording() is False
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task

    asyncio.run(main())
    [span] = spans()
    assert span.name == "wait_forever" and span.end_time is not None
    assert span.events == () and span.status.status_code is StatusCode.UNSET


@pytest.mark.parametrize("ending", ["close", "drop"])
def test_coroutine_closed_or_dropped_while_waiting_ends_its_span(instrumentor, spans, ending):
    instrumentor.instrument(methods=[targets.fetch])
    awaitable = targets.fetch(1)
    awaitable.send(None)  # runs up to the first suspension
    assert spans() == ()
    # While it waits, its span is not current for whoever drives it.
    assert trace.get_current_span().is_recording() is False
    if ending == "close":
        awaitable.close()
    else:
        del awaitable
        gc.collect()
    [span] = spans()
    assert span.name == "fetch" and span.events == () and "output" not in span.attributes
    assert trace.get_current_span().is_recording() is False


async def await_twice(function, when):
    """Awaits one coroutine of `function` in a task, then once more `when`
    ("while the task awaits it" or "after it finished"): what the second
    `await` raised, and the task's result."""
    coro = function(1)
    first = asyncio.ensure_future(coro)
    await asyncio.sleep(0)
    if when == "after it finished":
        await first
    with pytest.raises(RuntimeError) as info:
        await coro
    return str(info.value), await first


@pytest.mark.parametrize(
    "when, message",
    [
        ("while the task awaits it", "coroutine is being awaited already"),
        ("after it finished", "cannot reuse already awaited coroutine"),
    ],
)
def test_a_second_awaiter_is_refused_as_without_tracing(instrumentor, spans, when, message):
    untraced = asyncio.run(await_twice(targets.fetch, when))
    instrumentor.instrument(methods=[targets.fetch])
    traced = asyncio.run(await_twice(targets.fetch, when))
    assert traced == untraced == (message, {"fetched": 1})
    [span] = spans()  # the task's own call, undisturbed
    assert span.attributes["output"] == "{'fetched': 1}"


def frame_answers(frame):
    """What the host's introspection answers about a frame: inspect's frame
    info with its positions (no part of the tuple that == compares) too."""
    info = inspect.getframeinfo(frame)
    back = frame.f_back and frame.f_back.f_code
    return (frame.f_code, frame.f_lineno, frame.f_lasti, back, info, info.positions, inspect.getmodule(frame))


def answers(coro):
    """What the host's introspection answers about a coroutine."""
    frame = coro.cr_frame
    return {
        "state": inspect.getcoroutinestate(coro),
        "running": coro.cr_running,
        "suspended": coro.cr_suspended,
        "code": coro.cr_code,
        "awaits": None if coro.cr_await is None else coro.cr_await.__qualname__,
        "frame": None if frame is None else frame_answers(frame),
        "weakly referenced": weakref.ref(coro)() is coro,
        "origin": coro.cr_origin,
    }


def life(function, ending, origin_depth):
    """The answers about a coroutine of targets.looked_at through its life,
    from inside too (while it runs), up to `ending`; the host tracks the
    origin of coroutines `origin_depth` frames deep while it is made."""
    seen = []
    previous = sys.get_coroutine_origin_tracking_depth()
    sys.set_coroutine_origin_tracking_depth(origin_depth)
    try:
        coro = function(lambda: seen.append(answers(coro)))
    finally:
        sys.set_coroutine_origin_tracking_depth(previous)
    seen.append(answers(coro))
    if ending == "closed before start":
        coro.close()
    else:
        coro.send(None)
        seen.append(answers(coro))
        if ending == "closed while suspended":
            coro.close()
        else:
            with pytest.raises(StopIteration):
                coro.send(None)
    seen.append(answers(coro))
    return seen


LIVES = {
    "finished": ["CORO_CREATED", "CORO_RUNNING", "CORO_SUSPENDED", "CORO_RUNNING", "CORO_CLOSED"],
    "closed while suspended": ["CORO_CREATED", "CORO_RUNNING", "CORO_SUSPENDED", "CORO_CLOSED"],
    "closed before start": ["CORO_CREATED", "CORO_CLOSED"],
}


@pytest.mark.parametrize("origin_depth", [0, 3])
@pytest.mark.parametrize("ending", list(LIVES))
def test_a_traced_coroutine_answers_introspection_as_the_untraced_one(instrumentor, spans, ending, origin_depth):
    lives = []
    for traced in (False, True):  # both made from this line: their origins are the same frames
        if traced:
            instrumentor.instrument(methods=[targets.looked_at])
        lives.append(life(targets.looked_at, ending, origin_depth))
    untraced, traced = lives
    assert traced == untraced
    assert [entry["state"] for entry in traced] == LIVES[ending]
    assert {len(entry["origin"] or ()) for entry in traced} == {origin_depth}
    assert len(spans()) == (0 if ending == "closed before start" else 1)


def stack_of(task):
    """The newest frames that Task.get_stack() shows, and the lines that
    print_stack() prints of them."""
    frames = [(f.f_code.co_name, f.f_lineno) for f in task.get_stack(limit=3)]
    out = io.StringIO()
    task.print_stack(limit=3, file=out)
    return frames, [line for line in out.getvalue().splitlines() if line.startswith("  ")]


async def stacks(function):
    seen = {}
    task = asyncio.ensure_future(function(lambda: seen.setdefault("running", stack_of(task))))
    seen["created"] = stack_of(task)
    await asyncio.sleep(0)
    seen["suspended"] = stack_of(task)
    await task
    seen["done"] = stack_of(task)
    return seen


def test_task_stacks_show_the_frames_of_the_traced_coroutine(instrumentor, spans):
    untraced = asyncio.run(stacks(targets.looked_at))
    instrumentor.instrument(methods=[targets.looked_at])
    traced = asyncio.run(stacks(targets.looked_at))
    assert traced == untraced
    first = ORIGINALS[(targets, "looked_at")].__code__.co_firstlineno
    assert traced["created"][0] == [("looked_at", first)]
    running = traced["running"][0]
    assert len(running) == 3 and running[-1] == ("looked_at", first + 2)  # with its callers
    assert traced["suspended"][0] == [("looked_at", first + 3)]
    assert traced["done"] == ([], [])


@pytest.mark.parametrize("function", [targets.numbers, targets.returns_awaitable], ids=["async-generator", "awaitable"])
def test_functions_returning_awaitables_get_the_synchronous_wrapper(instrumentor, spans, function):
    instrumentor.instrument(methods=[function])
    result = getattr(targets, function.__name__)()
    [span] = spans()
    assert span.end_time is not None
    assert span.attributes["output"] == str(result)
    if inspect.isasyncgen(result):
        asyncio.run(result.aclose())
    else:
        asyncio.run(result)


# Failures and putting functions back


def test_failing_entry_stops_instrumenting_there(instrumentor):
    def local():
        pass

    with pytest.raises(AttributeError):
        instrumentor.instrument(methods=[targets.add, local, targets.identity])
    assert isinstance(targets.add, PROXY) and not isinstance(targets.identity, PROXY)
    assert ZUNTFunctionsInstrumentor._instrumented_methods == {ORIGINALS[(targets, "add")]}
    # The base class does not count a failed instrument() as done, so
    # uninstrument() would not run: put the wrapped entry back directly.
    instrumentor._uninstrument()
    assert not isinstance(targets.add, PROXY)


@pytest.mark.parametrize("pair", [42, (1,)], ids=["not iterable", "too short"])
def test_wrapper_pair_is_unpacked_as_the_host_unpacks(instrumentor, monkeypatch, pair):
    with pytest.raises(Exception) as expected:
        _, _ = pair
    monkeypatch.setattr(instrumentor, "_create_trace_wrapper_method", lambda: pair)
    with pytest.raises(type(expected.value), match=re.escape(str(expected.value))):
        instrumentor._instrument(methods=[targets.add])
    assert not isinstance(targets.add, PROXY)


RESTORED = [
    ("module function", targets, "add", lambda: targets.add(1, 2)),
    ("top-level module function", traced_top, "double", lambda: traced_top.double(2)),
    ("instance method", Base, "method", lambda: Base().method(1)),
    ("class method", Base, "build", lambda: Derived.build(1)),
    ("static method", Base, "helper", lambda: Base().helper(1)),
    ("nested static method", Outer.Inner, "helper", lambda: Outer.Inner.helper()),
    ("coroutine function", targets, "fetch", lambda: asyncio.run(targets.fetch(1))),
]


@pytest.mark.parametrize("owner, name, call", [case[1:] for case in RESTORED], ids=[case[0] for case in RESTORED])
def test_uninstrument_puts_back_every_kind_of_function(instrumentor, spans, owner, name, call):
    original = vars(owner)[name]
    instrumentor.instrument(methods=[getattr(owner, name)])
    assert isinstance(vars(owner)[name], PROXY)
    call()
    assert len(spans()) == 1
    instrumentor.uninstrument()
    assert vars(owner)[name] is original  # a class or static method keeps its own descriptor
    call()
    assert len(spans()) == 1
    assert ZUNTFunctionsInstrumentor._instrumented_methods == set()


def test_uninstrument_with_nothing_instrumented(instrumentor):
    instrumentor.instrument(methods=[])
    instrumentor.uninstrument()
    assert ZUNTFunctionsInstrumentor._instrumented_methods == set()


def test_instrument_again_after_uninstrument(instrumentor, spans):
    instrumentor.instrument(methods=[targets.identity])
    instrumentor.uninstrument()
    instrumentor.instrument(methods=[targets.identity])
    targets.identity(1)
    assert [s.name for s in spans()] == ["identity"]


def test_tracer_comes_from_the_global_provider_at_each_call():
    script = run_script(
        """
from opentelemetry import trace
from opentelemetry.sdk.trace import TracerProvider
from opentelemetry.sdk.trace.export import SimpleSpanProcessor
from opentelemetry.sdk.trace.export.in_memory_span_exporter import InMemorySpanExporter
from zunt_core.telemetry.opentelemetry.instrument.functions import ZUNTFunctionsInstrumentor
import colorsys

ZUNTFunctionsInstrumentor().instrument(methods=[colorsys.rgb_to_hsv])
colorsys.rgb_to_hsv(1, 1, 1)  # no provider yet: a span that goes nowhere
exporter = InMemorySpanExporter()
provider = TracerProvider()
provider.add_span_processor(SimpleSpanProcessor(exporter))
trace.set_tracer_provider(provider)
emit(colorsys.rgb_to_hsv(1.0, 0.0, 0.0))
emit([(s.name, dict(s.attributes)) for s in exporter.get_finished_spans()])
"""
    )
    expected = {"input.args[0]": "1.0", "input.args[1]": "0.0", "input.args[2]": "0.0", "output": "(0.0, 1.0, 1.0)"}
    assert script.results == [[0.0, 1.0, 1.0], [["rgb_to_hsv", expected]]]


@pytest.mark.parametrize("run", ["slow.wait", "lambda: asyncio.run(slow.step())"],
                         ids=["in a traced function", "in a step of a traced coroutine"])
def test_the_process_ends_cleanly_while_a_daemon_thread_runs_traced_code(tmp_path, run):
    """The host ends daemon threads that still run when it finalises: a thread
    inside a traced function, or inside a step of a traced coroutine, then
    stays there instead of being unwound (which would crash the process)."""
    marked = tmp_path / "finalised"
    script = run_script(
        """
import asyncio, sys, threading, time, types
from zunt_core.telemetry.opentelemetry.instrument.functions import ZUNTFunctionsInstrumentor

slow = types.ModuleType("slow")
sys.modules["slow"] = slow
exec("import time\\ndef wait():\\n    time.sleep(0.5)\\nasync def step():\\n    time.sleep(0.5)\\n", vars(slow))
ZUNTFunctionsInstrumentor().instrument(methods=[slow.wait, slow.step])
threading.Thread(target=eval(RUN), daemon=True).start()
time.sleep(0.2)


class SlowToGo:  # keeps the host's finalisation going until the thread wants the GIL back
    def __del__(self, sleep=time.sleep, path=MARKED, open=open):
        sleep(0.6)
        open(path, "w").close()


holder = types.ModuleType("holder")  # a module of its own, which the host clears once it finalises
sys.modules["holder"] = holder
holder.keep = SlowToGo()
del holder
emit("ended")
""",
        RUN=run,
        MARKED=str(marked),
    )
    assert script.results == ["ended"]
    assert marked.exists()
