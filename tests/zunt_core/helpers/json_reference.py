"""The straightforward pure-Python JSON helpers (json_baseline.py), the
reference of the host's own behaviour for the tests, and small tools to run
a helper and the reference on twin inputs."""

from datetime import date, time, timedelta

import json_baseline as reference

from zunt_core.helpers import json as native


def outcome(fn, *args):
    """("ok", result) or ("raised", exception type)."""
    try:
        return "ok", fn(*args)
    except Exception as exc:  # noqa: BLE001 - the type is what is compared
        return "raised", type(exc)


def both(name, make):
    """Runs the native helper `name` and the reference on two fresh inputs
    from `make()` (which returns the argument tuple), and returns both
    outcomes with the arguments each one was given."""
    args_native, args_reference = make(), make()
    return (outcome(getattr(native, name), *args_native), args_native,
            outcome(getattr(reference, name), *args_reference), args_reference)


def snapshot(value, known=None):
    """A comparable picture of a tree: types, order and contents, without
    object addresses and without running any method the tree's classes
    override (containers are read through the base types' own methods).
    Objects seen before are shown by their number, so shared and cyclic
    parts show as such; objects in `known` (id -> label) by their label."""
    seen = {}
    known = known or {}

    def walk(x):
        if x is None or type(x) in (bool, int, float, str):
            return x
        if id(x) in known:
            return ("known", known[id(x)])
        if isinstance(x, type):
            return ("class", x.__module__, x.__qualname__)
        if id(x) in seen:
            return ("seen", seen[id(x)])
        seen[id(x)] = len(seen)
        name = type(x).__name__
        if isinstance(x, dict):
            return (name, [(walk(k), walk(v)) for k, v in dict.items(x)])
        if isinstance(x, list):
            return (name, [walk(item) for item in list.__iter__(x)])
        if isinstance(x, tuple):
            return (name, [walk(item) for item in tuple.__iter__(x)])
        if isinstance(x, (int, float, str)):
            return (name, type(x).__mro__[-2].__repr__(x))
        state = getattr(type(x), "_snapshot_state", None)
        if state is not None:
            return (name, walk(state(x)))
        if isinstance(x, (date, time, timedelta)):
            return (name, type(x).__mro__[-2].__repr__(x))
        try:
            attrs = object.__getattribute__(x, "__dict__")
        except AttributeError:
            return (name,)
        return (name, walk(attrs) if type(attrs) is dict else None)

    return walk(value)


def both_logged(name, make):
    """Like both(), for inputs that record what is done to them: `make(log)`
    returns the arguments; the result holds each side's outcome, log and
    arguments afterwards, as snapshots."""
    sides = []
    for module in (native, reference):
        log = []
        args = make(log)
        kind, value = outcome(getattr(module, name), *args)
        sides.append(((kind, snapshot(value) if kind == "ok" else value), snapshot(log), snapshot(args)))
    return sides
