"""The native function type, checked against Python functions of the same shape."""

import abc
import functools
import inspect
import traceback
import typing

import pytest

import _zunt_runtime_test as rt


def sample(a, b: int = 2, *args, c, d=4, **kwargs):
    """Returns the bound arguments."""
    return dict(a=a, b=b, args=args, c=c, d=d, kwargs=kwargs)


def plain(x, y=None, *, z=None):
    return (x, y, z)


def only_self(self):
    return self


def outcome(fn, args, kwargs):
    try:
        return ("ok", fn(*args, **kwargs))
    except TypeError as exc:
        return ("TypeError", str(exc))


CALLS = [
    ((1,), {"c": 3}),
    ((1, 5, 6, 7), {"c": 3, "e": 9}),
    ((), {"a": 1, "b": 7, "c": 3, "d": 8}),
    ((), {"c": 3}),
    ((), {}),
    ((1,), {}),
    ((1,), {"a": 2, "c": 3}),
    ((1, 2), {"b": 3, "c": 4}),
]


@pytest.mark.parametrize("args, kwargs", CALLS)
def test_binding_and_errors_match_python_functions(args, kwargs):
    assert outcome(rt.sample, args, kwargs) == outcome(sample, args, kwargs)


PLAIN_CALLS = [
    ((1, 2, 3), {}),
    ((1, 2, 3), {"z": 1}),
    ((), {"y": 1}),
    ((), {"y": 1, "z": 2}),
    ((1,), {"w": 1}),
    ((1,), {"x": 1}),
    ((1, 2), {}),
]


@pytest.mark.parametrize("args, kwargs", PLAIN_CALLS)
def test_plain_signature_errors(args, kwargs):
    assert outcome(rt.plain, args, kwargs) == outcome(plain, args, kwargs)


@pytest.mark.parametrize("args", [(), (1, 2)])
def test_single_parameter_errors(args):
    with pytest.raises(TypeError) as native:
        rt.only_self(*args)
    with pytest.raises(TypeError) as python:
        only_self(*args)
    assert str(native.value) == str(python.value)


def test_signature_and_metadata():
    assert str(inspect.signature(rt.sample)) == str(inspect.signature(sample))
    assert inspect.signature(rt.sample) == inspect.signature(sample)
    assert rt.sample.__name__ == "sample"
    assert rt.sample.__qualname__ == "sample"
    assert rt.sample.__module__ == "_zunt_runtime_test"
    assert rt.sample.__doc__ == "Returns the bound arguments."
    assert rt.plain.__doc__ is None
    assert typing.get_type_hints(rt.sample) == {"b": int}
    assert repr(rt.sample).startswith("<function sample at 0x")


def test_function_dict_supports_decorators():
    rt.plain.custom = 1
    assert rt.plain.__dict__["custom"] == 1

    @functools.wraps(rt.sample)
    def wrapper(*args, **kwargs):
        return rt.sample(*args, **kwargs)

    assert wrapper.__name__ == "sample"
    assert wrapper.__doc__ == "Returns the bound arguments."
    assert inspect.signature(wrapper) == inspect.signature(sample)


def test_methods_bind_like_python_functions():
    w = rt.Widget(21)
    assert w.double() == 42
    assert rt.Widget.double(w) == 42
    assert w.doubled == 42
    assert rt.Widget.kind() is rt.Widget
    assert w.kind() is rt.Widget
    assert rt.Widget.describe(3) == "widget 3"
    assert w.describe(3) == "widget 3"
    assert rt.Widget.double.__qualname__ == "Widget.double"
    assert str(inspect.signature(w.double)) == "() -> int"
    assert str(inspect.signature(rt.Widget)) == "(value)"
    assert typing.get_type_hints(rt.Widget.double) == {"return": int}
    assert rt.Widget.__module__ == "_zunt_runtime_test"
    assert rt.Widget.__doc__ == "A widget."

    class Sub(rt.Widget):
        def double(self):
            return super().double() + 1

    assert Sub(1).double() == 3
    assert Sub.kind() is Sub


def test_missing_self_is_reported_with_the_qualname():
    with pytest.raises(TypeError, match=r"^Widget.double\(\) missing 1 required positional argument: 'self'$"):
        rt.Widget.double()


def test_abstract_class_methods():
    assert isinstance(rt.Shape, abc.ABCMeta)
    assert rt.Shape.__abstractmethods__ == frozenset({"area"})
    with pytest.raises(TypeError, match="abstract"):
        rt.Shape()

    class Square(rt.Shape):
        @classmethod
        def area(cls, instance):
            return 4

    assert Square().area(None) == 4


def test_raise_from_sets_the_cause():
    def fail():
        raise KeyError("k")

    with pytest.raises(ValueError, match="^converted$") as info:
        rt.convert_key_error(fail)
    assert isinstance(info.value.__cause__, KeyError)
    assert info.value.__context__ is info.value.__cause__
    assert info.value.__suppress_context__ is True


def test_a_cause_raised_natively_carries_a_traceback():
    # {}.__getitem__ raises in C code: caught there, the cause still shows
    # where it was caught, as one caught by a Python frame does.
    with pytest.raises(ValueError, match="^converted$") as info:
        rt.convert_key_error(functools.partial({}.__getitem__, "k"))
    cause = info.value.__cause__
    assert isinstance(cause, KeyError) and cause.__traceback__ is not None
    assert traceback.extract_tb(cause.__traceback__)[-1].name == "test_a_cause_raised_natively_carries_a_traceback"


def test_other_errors_pass_through_unchanged():
    def fail():
        raise OSError("disk")

    with pytest.raises(OSError, match="disk") as info:
        rt.convert_key_error(fail)
    assert info.value.__cause__ is None
