"""The toolkit's `with` statement for C++ bodies, against the host's own."""

import sys

import pytest

import _zunt_runtime_test as rt


class Recorder:
    """A context manager that records what it sees and can suppress or fail."""

    def __init__(self, suppress=False, fail_on_exit=False):
        self.suppress, self.fail_on_exit, self.events = suppress, fail_on_exit, []

    def __enter__(self):
        self.events.append("enter")
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


@pytest.mark.parametrize("cm_args", [{}, {"suppress": True}, {"fail_on_exit": True}])
@pytest.mark.parametrize("body", [str.upper, fails], ids=["returns", "raises"])
def test_matches_the_host(cm_args, body):
    assert outcome(rt.with_context, cm_args, body) == outcome(python_with, cm_args, body)


def test_without_the_protocol():
    with pytest.raises(TypeError, match="context manager protocol"):
        rt.with_context(object(), str)


@pytest.mark.parametrize("suppress", [False, True])
def test_a_body_error_without_a_traceback_leaves_the_block(suppress):
    # int("value") fails in C code that no Python frame has passed on: the
    # error has no traceback yet, and __exit__ gets None in its place.
    cm = Recorder(suppress=suppress)
    if suppress:
        assert rt.with_context(cm, int) is None
    else:
        with pytest.raises(ValueError, match="invalid literal"):
            rt.with_context(cm, int)
    assert cm.events == ["enter", ("exit", ValueError, True, False)]
