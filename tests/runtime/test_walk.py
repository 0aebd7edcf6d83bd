"""The cursors of explicit-stack walks, checked against the host's own loops
over containers that the loop body changes, and the depth budget against
the recursion limit."""

import sys

import pytest

import _zunt_runtime_test as rt


def host_walk_items(mapping, fn):
    for key, value in mapping.items():
        fn(key, value)


def host_walk_seq(seq, fn):
    for item in seq:
        fn(item)


def outcome(walk, make, body):
    """What a walk saw, and how it ended (the error's type and text)."""
    container = make()
    seen = []

    def fn(*item):
        seen.append(item)
        body(container, seen)

    try:
        walk(container, fn)
        end = None
    except Exception as exc:  # noqa: BLE001 - compared with the host's
        end = (type(exc), str(exc))
    return seen, end


class Pairs(dict):
    def items(self):
        return [("p", 1), ("q", 2)]


class BadPairs(dict):
    def items(self):
        return iter([("p", 1), ("q", 2, 3)])


def nothing(d, seen):
    pass


def grow_once(d, seen):
    if len(seen) == 1:
        d["new"] = 0


def swap_a_read_key(d, seen):
    # Same size, one key read before swapped for a new one.
    if len(seen) == 1:
        del d["a"]
        d["z"] = 9


def swap_a_later_key(d, seen):
    if len(seen) == 1:
        del d["c"]
        d["z"] = 9


def change_values(d, seen):
    d["c"] = len(seen)


@pytest.mark.parametrize("make", [lambda: {"a": 1, "b": 2, "c": 3}, lambda: Pairs(a=1), lambda: BadPairs()])
@pytest.mark.parametrize("body", [nothing, grow_once, swap_a_read_key, swap_a_later_key, change_values])
def test_items_cursor_steps_like_the_hosts_loop(make, body):
    assert outcome(rt.walk_items, make, body) == outcome(host_walk_items, make, body)


class Backwards(list):
    def __iter__(self):
        return reversed(list(list.__iter__(self)))


def append_once(lst, seen):
    if len(seen) == 1:
        lst.append("late")


def pop_front(lst, seen):
    if lst:
        del lst[0]


def clear(lst, seen):
    lst.clear()


@pytest.mark.parametrize("make", [lambda: [1, 2, 3], lambda: Backwards([1, 2, 3]), lambda: (1, 2)])
@pytest.mark.parametrize("body", [lambda lst, seen: None, append_once, pop_front, clear])
def test_seq_cursor_steps_like_the_hosts_loop(make, body):
    assert outcome(rt.walk_seq, make, body) == outcome(host_walk_seq, make, body)


@pytest.mark.parametrize("make, error", [(lambda: 5, TypeError), (lambda: iter([1]), None)])
def test_seq_cursor_errors(make, error):
    if error is None:
        rt.walk_seq(make(), lambda item: None)
    else:
        with pytest.raises(error):
            rt.walk_seq(make(), lambda item: None)


def test_depth_budget_is_the_recursion_limit():
    limit = sys.getrecursionlimit()
    rt.enter_levels(limit)
    with pytest.raises(RecursionError, match="maximum recursion depth exceeded"):
        rt.enter_levels(limit + 1)
