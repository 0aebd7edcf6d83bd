"""Times the cost per call of a function traced by ZUNTFunctionsInstrumentor
against the same work written by hand in Python: get the tracer from the
global provider, start the span, set the same attributes from str(), call the
function, set the output. Both run on one SDK tracer provider whose span
processor hands each ended span to an exporter that drops it, so the SDK's
span work is in both and the difference is the wrapper's own.

Two hand-written baselines: one starts the span exactly as a plain
`with tracer.start_as_current_span(name)` does, one also switches off the
SDK's own exception recording and status setting as the instrumentor does.
Runs are interleaved, each variant first in turn; the best of --repeat runs counts. Times are the
process's CPU time (time.process_time), so that other processes on a busy
machine count less.

Run by hand:  python bench/bench_tracing.py [--calls 20000] [--repeat 7] [--profile]
"""

import argparse
import asyncio
import cProfile
import pstats
import sys
import time
import types

from opentelemetry import trace
from opentelemetry.sdk.trace import TracerProvider
from opentelemetry.sdk.trace.export import SimpleSpanProcessor, SpanExporter, SpanExportResult

from zunt_core.telemetry.opentelemetry.instrument.functions import ZUNTFunctionsInstrumentor

TRACER_NAME = "zunt_core.telemetry.opentelemetry.instrument.functions"


class DropExporter(SpanExporter):
    def export(self, spans):
        return SpanExportResult.SUCCESS


def work(a, b, scale=1):
    return (a + b) * scale


async def awork(a, b, scale=1):
    await asyncio.sleep(0)
    return (a + b) * scale


def by_hand(fn, **span_options):
    """The tracing of one function, written by hand."""
    name = fn.__qualname__

    def wrapper(*args, **kwargs):
        tracer = trace.get_tracer(TRACER_NAME)
        with tracer.start_as_current_span(name, **span_options) as span:
            for index, arg in enumerate(args):
                span.set_attribute(f"input.args[{index}]", str(arg))
            for key, value in kwargs.items():
                span.set_attribute(f"input.kwargs.{key}", str(value))
            result = fn(*args, **kwargs)
            span.set_attribute("output", str(result))
            return result

    return wrapper


def by_hand_async(fn, **span_options):
    name = fn.__qualname__

    async def wrapper(*args, **kwargs):
        tracer = trace.get_tracer(TRACER_NAME)
        with tracer.start_as_current_span(name, **span_options) as span:
            for index, arg in enumerate(args):
                span.set_attribute(f"input.args[{index}]", str(arg))
            for key, value in kwargs.items():
                span.set_attribute(f"input.kwargs.{key}", str(value))
            result = await fn(*args, **kwargs)
            span.set_attribute("output", str(result))
            return result

    return wrapper


def make_targets():
    """Three modules holding the same functions: one traced by the
    instrumentor, two by hand."""
    native = types.ModuleType("bench_native")
    native.work, native.awork = work, awork
    native.work.__module__ = native.awork.__module__ = "bench_native"
    sys.modules["bench_native"] = native
    ZUNTFunctionsInstrumentor().instrument(methods=[native.work, native.awork])
    quiet = {"record_exception": False, "set_status_on_exception": False}
    return {
        "instrumentor": (native.work, native.awork),
        "by hand": (by_hand(work), by_hand_async(awork)),
        "by hand, quiet span": (by_hand(work, **quiet), by_hand_async(awork, **quiet)),
    }


def sync_loop(fn, calls):
    def run():
        for i in range(calls):
            fn(i, 2, scale=3)

    return run


def async_loop(fn, calls):
    async def many():
        for i in range(calls):
            await fn(i, 2, scale=3)

    return lambda: asyncio.run(many())


def best_times(loops, repeat):
    best = {name: float("inf") for name in loops}
    order = list(loops)
    for turn in range(repeat):
        # Each variant runs first in turn, so that none always meets the
        # state (collector, caches) that another left.
        for name in order[turn % len(order):] + order[: turn % len(order)]:
            run = loops[name]
            t0 = time.process_time()
            run()
            best[name] = min(best[name], time.process_time() - t0)
    return best


def report(title, best, calls):
    native = best["instrumentor"]
    print(f"\n{title}, {calls} calls, best run, µs of CPU time per call")
    for name, seconds in best.items():
        ratio = "" if name == "instrumentor" else f"   instrumentor costs {native / seconds:4.2f}x this"
        print(f"  {name:22}{seconds / calls * 1e6:9.2f}{ratio}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--calls", type=int, default=20_000)
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--profile", action="store_true")
    args = parser.parse_args()

    provider = TracerProvider()
    provider.add_span_processor(SimpleSpanProcessor(DropExporter()))
    trace.set_tracer_provider(provider)
    targets = make_targets()
    for sync_fn, async_fn in targets.values():
        assert sync_fn(1, 2, scale=3) == 9 and asyncio.run(async_fn(1, 2, scale=3)) == 9

    sync = best_times({n: sync_loop(f[0], args.calls) for n, f in targets.items()}, args.repeat)
    report("synchronous function", sync, args.calls)
    async_calls = args.calls // 4
    asynchronous = best_times({n: async_loop(f[1], async_calls) for n, f in targets.items()}, args.repeat)
    report("coroutine function (each call awaits one suspension)", asynchronous, async_calls)

    floor = best_times({"instrumentor": sync_loop(work, args.calls)}, args.repeat)["instrumentor"]
    print(f"\nthe function alone, untraced: {floor / args.calls * 1e6:.2f} µs per call")

    if args.profile:
        fn = targets["instrumentor"][0]
        prof = cProfile.Profile()
        prof.enable()
        sync_loop(fn, args.calls)()
        prof.disable()
        print("\n--- profile: instrumentor, synchronous ---")
        pstats.Stats(prof).sort_stats("tottime").print_stats(12)


if __name__ == "__main__":
    main()
