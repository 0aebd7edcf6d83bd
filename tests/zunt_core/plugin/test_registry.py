import functools
import inspect
import typing
from typing import List, Optional

import pytest

from zunt_core.plugin import registry as registry_module
from zunt_core.plugin.registry import ServiceRegistry


class Base:
    pass


class Child1(Base):
    pass


class Child2(Base):
    pass


class Holder:
    """A target that declares one attribute of each interesting kind."""

    base: Base
    child: Child1
    items: List[Base]
    maybe: Optional[Base]
    anything: object


def make(*pairs):
    registry = ServiceRegistry()
    for key, value in pairs:
        registry.register(key, value)
    return registry


def injected(registry, target_cls=Holder):
    target = target_cls()
    registry.inject_services(target)
    return vars(target)


def test_module_surface():
    assert registry_module.__doc__.startswith(
        "Service registry for core services that can be injected into plugins."
    )
    assert ServiceRegistry.__doc__ == "Registry for core services that can be injected into plugins."
    assert isinstance(registry_module.T, typing.TypeVar)
    assert registry_module.T.__bound__ is None
    for name in ("Any", "Dict", "Type", "TypeVar", "get_origin", "get_type_hints"):
        assert getattr(registry_module, name) is getattr(typing, name)
    assert str(inspect.signature(ServiceRegistry.register)) == (
        "(self, service_type: Type[~T], instance: ~T) -> None"
    )
    assert str(inspect.signature(ServiceRegistry.get)) == "(self, service_type: Type[~T]) -> ~T"
    assert str(inspect.signature(ServiceRegistry.inject_services)) == "(self, target: Any) -> None"


def test_register_keeps_first_position_and_replaces_value():
    registry = make((Base, 1), (Child1, 2), (Base, 3))
    assert list(registry._services.items()) == [(Base, 3), (Child1, 2)]


def test_register_unhashable_key_fails_and_leaves_map():
    registry = make((Base, 1))
    with pytest.raises(TypeError, match="unhashable"):
        registry.register([], 2)
    assert registry._services == {Base: 1}


@pytest.mark.parametrize(
    "pairs, expected",
    [
        # the exact entry wins over a subclass entry registered before it
        ([(Child1, "c1"), (Base, "b")], "b"),
        # without an exact entry, the first subclass entry in order wins
        ([(Child1, "c1"), (Child2, "c2")], "c1"),
        ([(Child2, "c2"), (Child1, "c1")], "c2"),
        # an exact None starts the fallback, which meets that same entry: untouched
        ([(Base, None)], None),
        # ... unless a subclass entry came first
        ([(Child1, "c1"), (Base, None)], "c1"),
        # a first matching subclass entry holding None ends the walk
        ([(Child1, None), (Child2, "c2")], None),
        # falsy values other than None are services
        ([(Base, "")], ""),
        ([(Base, 0)], 0),
    ],
)
def test_base_declaration_lookup(pairs, expected):
    values = injected(make(*pairs))
    assert values.get("base") == expected
    if expected is None:
        assert "base" not in values


def test_list_declaration_falls_back_to_any_list_key():
    assert injected(make((list, "plain")))["items"] == "plain"
    assert injected(make((List[int], "ints")))["items"] == "ints"
    assert injected(make((List[Base], "exact"), (list, "plain")))["items"] == "exact"


def test_optional_declaration_needs_an_equal_optional_key():
    assert "maybe" not in injected(make((Base, "b")))
    assert injected(make((Optional[Base], "opt")))["maybe"] == "opt"


def test_object_declaration_takes_first_class_key():
    values = injected(make(("text-key", "t"), (Child2, "c2"), (Base, "b")))
    assert values["anything"] == "c2"


def test_factories_are_called_per_injection_other_values_are_shared():
    calls = []

    def factory():
        calls.append(1)
        return object()

    class Callable:
        def __call__(self):
            return "called"

    class Target:
        a: Base
        b: Child1
        c: Child2
        d: str

    registry = make(
        (Base, factory), (Child1, Child2), (Child2, Callable()), (str, functools.partial(str, "p"))
    )
    first, second = Target(), Target()
    registry.inject_services(first)
    registry.inject_services(second)
    assert len(calls) == 2 and first.a is not second.a
    assert first.b is Child2  # a class stored as a value is injected as the class
    assert first.c == "called"
    assert first.d == "p"


def test_factory_returning_none_sets_none():
    class Target:
        a: Base

    target = Target()
    make((Base, lambda: None)).inject_services(target)
    assert "a" in vars(target) and target.a is None


def test_inherited_declarations_are_injected_and_string_annotations_resolved():
    class Parent:
        base: "Base"

    class Kid(Parent):
        child: Child1

    values = injected(make((Base, "b"), (Child1, "c")), Kid)
    assert values == {"base": "b", "child": "c"}


def test_entries_registered_later_are_used():
    registry = ServiceRegistry()
    assert injected(registry) == {}
    registry.register(Base, "late")
    assert injected(registry)["base"] == "late"


def test_unresolvable_forward_reference_sets_nothing():
    class Target:
        base: Base
        broken: "NoSuchName"  # noqa: F821

    target = Target()
    with pytest.raises(NameError):
        make((Base, "b")).inject_services(target)
    assert vars(target) == {}


def test_empty_registry_injects_nothing():
    assert injected(ServiceRegistry()) == {}


def test_errors_after_assignment_keep_earlier_attributes():
    def failing():
        raise LookupError("factory failed")

    class Target:
        first: Base
        second: Child1

    target = Target()
    with pytest.raises(LookupError, match="factory failed"):
        make((Base, "b"), (Child1, failing)).inject_services(target)
    assert vars(target) == {"first": "b"}


def test_read_only_attribute_error_passes_through():
    class Target:
        base: Base

        @property
        def base(self):
            return "fixed"

    with pytest.raises(AttributeError):
        make((Base, "b")).inject_services(Target())


def test_unhashable_declaration_raises_type_error():
    class Target:
        odd: ["not", "hashable"]  # noqa: F821

    with pytest.raises(TypeError, match="unhashable"):
        make((Base, "b")).inject_services(Target())


def test_subclass_test_errors_other_than_type_error_pass_through():
    class Meta(type):
        def __subclasscheck__(cls, other):
            raise LookupError("check failed")

    class Odd(metaclass=Meta):
        pass

    class Target:
        odd: Odd

    with pytest.raises(LookupError, match="check failed"):
        make((Base, "b")).inject_services(Target())


def test_registry_changed_during_fallback_walk():
    registry = ServiceRegistry()

    class Meta(type):
        def __subclasscheck__(cls, other):
            registry.register(object(), "added")
            return False

    class Odd(metaclass=Meta):
        pass

    class Target:
        odd: Odd

    registry.register(Base, "b")
    with pytest.raises(RuntimeError, match="changed size during iteration"):
        registry.inject_services(Target())


def test_text_class_entry_fills_text_declarations_but_get_refuses_it():
    registry = make((str, "text"))

    class Target:
        label: str

    assert injected(registry, Target) == {"label": "text"}
    with pytest.raises(TypeError) as info:
        registry.get(str)
    assert str(info.value) == "Built-in type str cannot be injected. Pass this value directly instead."


def test_get():
    def factory():
        raise AssertionError("must not be called")

    registry = make((Base, factory), ("key", 1))
    assert registry.get(Base) is factory
    assert registry.get("key") == 1

    class Foo:
        pass

    with pytest.raises(KeyError) as info:
        registry.get(Foo)
    assert info.value.args == ("Service Foo not registered",)
    with pytest.raises(KeyError) as info:
        registry.get("other")
    assert info.value.args == ("Service other not registered",)
    with pytest.raises(KeyError) as info:
        registry.get(List[int])
    assert info.value.args == ("Service List not registered",)


# --- differential check of the subclass matching against the host's typing ---


TV = typing.TypeVar("TV")


class GenericBox(typing.Generic[TV]):
    pass


class Proto(typing.Protocol):
    def method(self) -> None: ...


class Abstract(__import__("abc").ABC):
    pass


class ConcreteAbstract(Abstract):
    pass


KEYS = [
    Base,
    Child1,
    list,
    List[int],
    list[str],
    typing.Generic,
    GenericBox,
    GenericBox[int],
    Proto,
    Abstract,
    ConcreteAbstract,
    int | str,
    Optional[Base],
    typing.Union[Child1, Child2],
    "text",
    typing.Literal[1],
    typing.Callable[[int], str],
]


def reference_choice(services, declared):
    """The matching written with the host's typing.get_origin and issubclass."""
    service = services.get(declared)
    if service is None:
        target = typing.get_origin(declared) or declared
        for key, value in services.items():
            base = typing.get_origin(key) or key
            if not isinstance(base, type):
                continue
            try:
                if issubclass(base, target):
                    service = value
                    break
            except TypeError:
                continue
    return service


@pytest.mark.parametrize("declared", [k for k in KEYS if not isinstance(k, str)] + [object, typing.Any, dict, GenericBox[str], typing.Protocol])
@pytest.mark.parametrize("rotation", range(0, len(KEYS), 3))
def test_matching_agrees_with_the_host_typing_functions(declared, rotation):
    keys = KEYS[rotation:] + KEYS[:rotation]
    registry = ServiceRegistry()
    for i, key in enumerate(keys):
        registry.register(key, ("value", i))
    target_cls = type("Target", (), {"__annotations__": {"field": declared}})
    target = target_cls()
    registry.inject_services(target)
    expected = reference_choice(dict(registry._services), declared)
    assert vars(target).get("field") == expected


def test_patched_get_origin_is_used(monkeypatch):
    calls = []

    def recording(tp):
        calls.append(tp)
        return typing.get_origin(tp)

    monkeypatch.setattr(registry_module, "get_origin", recording)
    injected(make((Child1, "c")))
    assert Base in calls and Child1 in calls
