"""The toolkit's `with` statement for C++ bodies, against the host's own."""

import sys
import traceback

import pytest

import _zunt_runtime_test as rt


class Recorder:
    """A context manager that records what it sees and can suppress or fail."""

    def __init__(self, suppress=False, fail_on_exit=False, fail_on_enter=False):
        self.suppress, self.fail_on_exit, self.fail_on_enter, self.events = suppress, fail_on_exit, fail_on_enter, []

    def __enter__(self):
        self.events.append("enter")
        if self.fail_on_enter:
            raise LookupError("while entering")
        return "value"

    def __exit__(self, kind, error, tb):
        self.events.append(("exit", kind, sys.exc_info()[1] is error, tb is not None))
        if self.fail_on_exit:
            raise RuntimeError("while leaving")
        return self.suppress


def python_with(cm, body):
    with cm as value:
        return body(value)


def outcome(run, cm_args, body):
    cm = Recorder(**cm_args)
    try:
        result = ("ok", run(cm, body))
    except Exception as e:
        result = (type(e), str(e), type(e.__context__), type(e.__cause__))
    return result, cm.events


def fails(value):
    raise KeyError(value)


@pytest.mark.parametrize(
    "cm_args", [{}, {"suppress": True}, {"suppress": "yes"}, {"fail_on_exit": True}, {"fail_on_enter": True}]
)
@pytest.mark.parametrize("body", [str.upper, fails], ids=["returns", "raises"])
def test_matches_the_host(cm_args, body):
    assert outcome(rt.with_context, cm_args, body) == outcome(python_with, cm_args, body)


class CallableEnter:
    """A callable that is no descriptor: a class holding it calls it as it is."""

    def __call__(self):
        return "entered"


class ClassLevel:
    """Special methods in forms other than functions, found on the class."""

    __enter__ = CallableEnter()

    @classmethod
    def __exit__(cls, kind, error, tb):
        return cls is ClassLevel and kind is KeyError  # bound to the class: suppresses a KeyError


class InstanceLevel:
    """Special methods on the instance only: no context manager for the host."""

    def __init__(self):
        self.__enter__ = lambda: "value"
        self.__exit__ = lambda *exc_info: True


def result_of(run, cm, body):
    try:
        return ("ok", run(cm, body))
    except Exception as e:
        return (type(e), str(e))


@pytest.mark.parametrize("make", [ClassLevel, InstanceLevel])
@pytest.mark.parametrize("body", [str.upper, fails], ids=["returns", "raises"])
def test_special_methods_are_found_and_bound_as_the_host_does(make, body):
    assert result_of(rt.with_context, make(), body) == result_of(python_with, make(), body)


def test_without_the_protocol():
    with pytest.raises(TypeError, match="context manager protocol"):
        rt.with_context(object(), str)


@pytest.mark.parametrize("suppress", [False, True])
def test_a_body_error_raised_natively_reaches_exit_with_a_traceback(suppress):
    # int("value") fails in C code that no Python frame has passed on: as in
    # the host's own with block, __exit__ and sys.exc_info() still see a
    # traceback, and one that goes on to the caller names the caller once.
    cm = Recorder(suppress=suppress)
    if suppress:
        assert rt.with_context(cm, int) is None
    else:
        with pytest.raises(ValueError, match="invalid literal") as info:
            rt.with_context(cm, int)
        names = [entry.name for entry in traceback.extract_tb(info.value.__traceback__)]
        assert names.count("test_a_body_error_raised_natively_reaches_exit_with_a_traceback") == 1
    assert cm.events == ["enter", ("exit", ValueError, True, True)]
