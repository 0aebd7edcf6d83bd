"""Times the native plugin framework against the plain-Python one in
plugin_baseline.py: registering 1,000 plugin classes with five injected
services each, and creating 100,000 plugin instances with injection.

Run by hand:  python bench/bench_plugin.py [--profile]
"""

import argparse
import cProfile
import os
import pstats
import sys
import time
import typing

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import plugin_baseline  # noqa: E402

import zunt_core  # noqa: E402

N_CLASSES = 1_000
N_INSTANCES = 100_000
SERVICES = [type(f"Service{i}", (), {}) for i in range(5)]


def make_framework(ns):
    """Handler, manager and 1,000 plugin classes on one implementation."""
    ns.PluginManager._instance = None
    ns.PluginManager._multi_instance = {}
    ns.PluginManager._initialized = False
    ns.PluginManager._multi_initialized = {}

    class Handler(ns.PluginHandler):
        @classmethod
        def create_injections(cls, instance):
            return {service: service() for service in SERVICES}

        @classmethod
        def initialize_plugin(cls, instance, plugin):
            pass

    manager = ns.PluginManager(handlers=[Handler()], env_file="/nonexistent/.env")
    annotations = {f"svc{i}": service for i, service in enumerate(SERVICES)}
    classes = [
        ns.Plugin.for_handler(Handler)(
            type(
                f"Plugin{i}",
                (ns.Plugin,),
                {"name": f"plugin{i}", "description": "d", "version": "1", "__annotations__": dict(annotations)},
            )
        )
        for i in range(N_CLASSES)
    ]
    return manager, classes


def best_of(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def measure(ns, repeat):
    def registration():
        manager, classes = make_framework(ns)
        t0 = time.perf_counter()
        for cls in classes:
            manager.register_plugin(cls)
        return time.perf_counter() - t0

    reg = min(registration() for _ in range(repeat))
    manager, classes = make_framework(ns)
    for cls in classes:
        manager.register_plugin(cls)
    cls = classes[0]
    probe = cls()
    assert all(isinstance(getattr(probe, f"svc{i}"), s) for i, s in enumerate(SERVICES))

    def creation():
        for _ in range(N_INSTANCES):
            cls()

    create = best_of(creation, repeat)
    return reg, create


def profile(ns, label):
    manager, classes = make_framework(ns)
    for c in classes:
        manager.register_plugin(c)
    cls = classes[0]
    prof = cProfile.Profile()
    prof.enable()
    for _ in range(20_000):
        cls()
    prof.disable()
    print(f"\n--- profile: {label}, 20,000 instance creations ---")
    pstats.Stats(prof).sort_stats("tottime").print_stats(8)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--profile", action="store_true")
    args = parser.parse_args()

    native = measure(zunt_core, args.repeat)
    baseline = measure(plugin_baseline, args.repeat)
    print(f"{'':32}{'native':>12}{'baseline':>12}{'ratio':>8}")
    labels = [f"register {N_CLASSES} plugin classes", f"create {N_INSTANCES} instances"]
    for label, n, b in zip(labels, native, baseline):
        print(f"{label:32}{n:11.3f}s{b:11.3f}s{b / n:7.2f}x")
    # The host's get_type_hints runs afresh on every injection, in both
    # implementations; its share bounds the ratio.
    _, classes = make_framework(zunt_core)
    hints = best_of(lambda: [typing.get_type_hints(classes[0]) for _ in range(N_INSTANCES)], args.repeat)
    print(f"\nget_type_hints alone, {N_INSTANCES} calls: {hints:.3f}s")
    print(f"creation without it: native {native[1] - hints:.3f}s, baseline {baseline[1] - hints:.3f}s, "
          f"ratio {(baseline[1] - hints) / (native[1] - hints):.2f}x")
    per_reg = hints / N_INSTANCES * N_CLASSES
    print(f"registration without it: native {native[0] - per_reg:.3f}s, baseline {baseline[0] - per_reg:.3f}s, "
          f"ratio {(baseline[0] - per_reg) / (native[0] - per_reg):.2f}x")
    if args.profile:
        profile(zunt_core, "native")
        profile(plugin_baseline, "baseline")


if __name__ == "__main__":
    main()
