"""A C++ exception becomes a host error wherever C++ returns to the host:
function and method calls, and every step, hook and close of a coroutine.
Never a terminate."""

import gc
import types
import warnings

import pytest

import _zunt_runtime_test as rt

KINDS = [
    ("runtime_error", SystemError, "native failure"),
    ("bad_alloc", MemoryError, ""),
    ("cast_error", TypeError, "invalid argument type"),
    ("other", SystemError, "unknown C++ exception"),
]


@types.coroutine
def steps(values):
    """A generator-based awaitable that yields each value once, then returns."""
    for value in values:
        yield value
    return "end"


@pytest.mark.parametrize("kind, error, text", KINDS)
def test_functions_and_methods(kind, error, text):
    for call in (rt.throw_cpp, rt.Widget(1).fail):
        with pytest.raises(error) as info:
            call(kind)
        assert str(info.value) == text


@pytest.mark.parametrize("kind, error, text", KINDS)
@pytest.mark.parametrize("when", ["first", "later"])
def test_async_body_at_its_first_and_a_later_resume(kind, error, text, when):
    coro = rt.throwing_body(kind, when, steps(["waiting"]))
    if when == "later":
        assert coro.send(None) == "waiting"
    with pytest.raises(error) as info:
        coro.send(None)
    assert str(info.value) == text
    with pytest.raises(RuntimeError, match="cannot reuse already awaited coroutine"):
        coro.send(None)


@pytest.mark.parametrize("kind, error, text", KINDS)
def test_async_body_close(kind, error, text):
    coro = rt.throwing_body(kind, "close", steps(["waiting"]))
    assert coro.send(None) == "waiting"
    with pytest.raises(error) as info:
        coro.close()
    assert str(info.value) == text


@pytest.mark.parametrize("kind, error, text", KINDS)
@pytest.mark.parametrize("when", ["enter", "leave", "close"])
def test_hooks_and_a_close_on_drop_report_as_unraisable(kind, error, text, when, monkeypatch):
    reported = []
    monkeypatch.setattr("sys.unraisablehook", reported.append)
    coro = rt.throwing_body(kind, when, steps(["waiting"]))
    assert coro.send(None) == "waiting"  # a failing hook does not stop the work
    del coro  # closed while waiting
    gc.collect()
    assert reported and all(r.exc_type is error and str(r.exc_value) == text for r in reported)


def test_a_coroutine_never_awaited_warns_as_the_hosts_do():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        rt.throwing_body("other", "first", steps([]))
        gc.collect()
        closed = rt.throwing_body("other", "first", steps([]))
        closed.close()
        del closed
    assert [(w.category, str(w.message)) for w in caught] == [
        (RuntimeWarning, "coroutine 'throwing_body' was never awaited")]


def test_a_coroutine_never_awaited_in_a_cycle_warns_once():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        box = []
        coro = rt.throwing_body(box, "first", steps([]))
        box.append(coro)  # the coroutine holds the list that holds it
        del coro, box
        gc.collect()
    assert [str(w.message) for w in caught] == ["coroutine 'throwing_body' was never awaited"]
