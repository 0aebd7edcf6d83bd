"""Deep trees: the recursive helpers go as deep as a pure-Python version of
them goes under the same recursion limit, whatever the thread's C stack, and
end in RecursionError where that version does.

Each case runs in a fresh interpreter: it changes the recursion limit or the
stack size of new threads, and a fault there would take the test run with it."""

import subprocess
import sys
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent

PRELUDE = f"""
import sys, threading
from datetime import datetime
sys.path.insert(0, {str(HERE)!r})
from json_reference import reference
from zunt_core.helpers import json as native


def nest(depth, wrap, leaf):
    value = leaf
    for level in range(depth):
        value = wrap(level, value)
    return value


def mixed(level, inner):
    return ([inner], {{"aB": inner}}, (inner, 1))[level % 3]


def trees(name, depth):
    '''Fresh arguments for one call of `name` on a tree `depth` levels deep.'''
    if name == "to_dict":
        return (nest(depth, mixed, {{"when": datetime(2024, 1, 2)}}),)
    if name == "convert_keys_to_snake_case":
        return (nest(depth, lambda level, inner: [inner] if level % 2 else {{"aB": inner}}, {{"cD": 1}}),)
    if name == "filter_json":
        return nest(depth, lambda level, inner: [inner, 5], {{"a": 1, "b": 2}}), ["a", "b.c"]
    if name == "merge_dicts":
        return (nest(depth, lambda level, inner: {{"k": inner, "n": level}}, {{"x": 1}}),
                nest(depth, lambda level, inner: {{"k": inner}}, {{"y": 2}}))
    raise KeyError(name)


def same(a, b):
    '''Structural equality without recursion (== on deep trees recurses in C).'''
    pending = [(a, b)]
    while pending:
        x, y = pending.pop()
        if type(x) is not type(y):
            return False
        if isinstance(x, dict):
            if list(x) != list(y):
                return False
            pending.extend((x[k], y[k]) for k in x)
        elif isinstance(x, (list, tuple)):
            if len(x) != len(y):
                return False
            pending.extend(zip(x, y))
        elif x != y:
            return False
    return True


def outcome(fn, args):
    try:
        return "ok", fn(*args)
    except RecursionError:
        return "RecursionError", None


def check(name, depth):
    ours = outcome(getattr(native, name), trees(name, depth))
    host = outcome(getattr(reference, name), trees(name, depth))
    assert ours[0] == host[0], (name, depth, ours[0], host[0])
    assert ours[0] != "ok" or same(ours[1], host[1]), (name, depth)
    return ours[0]
"""

NAMES = ["to_dict", "convert_keys_to_snake_case", "filter_json", "merge_dicts"]


def run_fresh(code):
    """Runs code in a fresh interpreter; it must print ok."""
    out = subprocess.run([sys.executable, "-c", PRELUDE + code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "ok"


@pytest.mark.parametrize("name", NAMES)
def test_small_thread_stack(name):
    # With the default limit, both give RecursionError from the same depth
    # on; with a raised limit, both give the same result. The C stack of the
    # thread, 256 KiB, takes no part in either. (Trees much deeper than these
    # are beyond the thread itself on Python 3.13: freeing one 10,000 levels
    # deep overflows such a stack in the interpreter, whatever made it.)
    run_fresh(f"""
threading.stack_size(256 * 1024)
kinds = []

def work():
    for depth in (900, 1400, 3000):
        kinds.append(check({name!r}, depth))
    sys.setrecursionlimit(20_000)
    for depth in (1400, 3000):
        kinds.append(check({name!r}, depth))

t = threading.Thread(target=work)
t.start()
t.join()
assert kinds == ["ok", "RecursionError", "RecursionError", "ok", "ok"], kinds
print("ok")
""")


@pytest.mark.parametrize("name", NAMES)
def test_depth_follows_the_recursion_limit(name):
    run_fresh(f"""
sys.setrecursionlimit(150_000)
assert check({name!r}, 100_000) == "ok"
sys.setrecursionlimit(400)
assert check({name!r}, 1000) == "RecursionError"
print("ok")
""")


@pytest.mark.skipif("libasan" in __import__("os").environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer reserves more address space than the limit allows")
def test_cycles_under_an_enormous_limit_end_in_memory_error():
    # A cycle under a limit that memory cannot reach: the walk's own stack
    # runs out of memory first, which is a MemoryError, never a crash.
    run_fresh("""
import resource
resource.setrlimit(resource.RLIMIT_AS, (768 << 20, 768 << 20))
sys.setrecursionlimit(10**9)
lst = []
lst.append(lst)
d = {}
d["k"] = d
calls = [lambda: native.to_dict(lst), lambda: native.convert_keys_to_snake_case(lst),
         lambda: native.filter_json(lst, ["a"]), lambda: native.merge_dicts(d, d)]
for call in calls:
    try:
        call()
    except MemoryError:
        pass
    else:
        raise AssertionError("no MemoryError")
print("ok")
""")
