import inspect
import typing
from typing import Optional

import pytest

from zunt_core.plugin import plugin as plugin_module
from zunt_core.plugin.handler import PluginHandler
from zunt_core.plugin.plugin import Plugin
from zunt_core.plugin.registry import ServiceRegistry


class HandlerA(PluginHandler):
    @classmethod
    def create_injections(cls, instance):
        return {}

    @classmethod
    def initialize_plugin(cls, instance, plugin):
        pass


class HandlerB(HandlerA):
    pass


class Service:
    pass


def plugin_class(name="p", description="d", version="1", base=Plugin, **annotations):
    ns = {"name": name, "description": description, "version": version, "__annotations__": annotations}
    return type("SomePlugin", (base,), ns)


@pytest.fixture
def unbind():
    """Undo registry bindings made on the shared Plugin base."""
    yield
    Plugin._registry = None


def test_module_surface():
    assert plugin_module.__doc__.startswith("Plugin base class for the Plugin Architecture.")
    for name in ("Callable", "Optional", "Type"):
        assert getattr(plugin_module, name) is getattr(typing, name)
    assert plugin_module.PluginHandler is PluginHandler
    assert plugin_module.ServiceRegistry is ServiceRegistry
    assert Plugin.__bases__ == (object,)
    assert Plugin.__doc__ == "Base class for ZUNT Plugins."
    for attr in ("name", "description", "version", "_handler_type", "_registry"):
        assert Plugin.__dict__[attr] is None
    assert isinstance(Plugin.__dict__["__new__"], staticmethod)
    assert isinstance(Plugin.__dict__["handler_type"], property)


def test_declared_types_resolve_the_forward_reference():
    hints = typing.get_type_hints(plugin_class(svc=Service))
    assert list(hints) == ["name", "description", "version", "_handler_type", "_registry", "svc"]
    assert hints["_handler_type"] == Optional[typing.Type[PluginHandler]]
    assert hints["_registry"] == Optional[ServiceRegistry]
    assert Plugin.__annotations__["_handler_type"] == Optional[typing.Type["PluginHandler"]]


def test_signatures():
    assert str(inspect.signature(Plugin.__init__)) == "(self, *args, **kwargs)"
    assert str(inspect.signature(Plugin.__new__)) == "(cls, *args, **kwargs)"
    assert str(inspect.signature(Plugin.get_handler_type)) == (
        "() -> Optional[Type[ForwardRef('PluginHandler')]]"
    )
    assert str(inspect.signature(Plugin.set_registry)) == (
        "(registry: zunt_core.plugin.registry.ServiceRegistry) -> None"
    )
    decorator = Plugin.for_handler(HandlerA)
    assert decorator.__name__ == "decorator"
    assert decorator.__qualname__ == "Plugin.for_handler.<locals>.decorator"
    assert str(inspect.signature(decorator)) == (
        "(plugin_cls: Type[ForwardRef('Plugin')]) -> Type[ForwardRef('Plugin')]"
    )
    assert typing.get_type_hints(decorator) == {
        "plugin_cls": typing.Type[Plugin],
        "return": typing.Type[Plugin],
    }


@pytest.mark.parametrize(
    "values",
    [
        {"description": None},  # only name and version set
        {"name": ""},
        {"version": None},
    ],
)
def test_missing_descriptive_attribute_fails(values):
    cls = plugin_class(**values)
    with pytest.raises(ValueError) as info:
        cls()
    assert str(info.value) == (
        "Plugin class SomePlugin must set name, description, and version as class attributes"
    )


def test_text_entry_fills_name_description_version(unbind):
    cls = plugin_class(name=None, description=None, version=None)
    registry = ServiceRegistry()
    registry.register(str, "from-registry")
    cls.set_registry(registry)
    instance = cls()
    assert (instance.name, instance.description, instance.version) == ("from-registry",) * 3


def test_handler_type_resolution():
    plain = plugin_class()
    assert Plugin.get_handler_type() is None
    assert plain.get_handler_type() is None

    decorate = Plugin.for_handler(HandlerA)
    decorated = plugin_class()
    assert decorate(decorated) is decorated
    assert decorated.__dict__["_handler_type"] is HandlerA

    undecorated_child = plugin_class(base=decorated)
    assert undecorated_child.get_handler_type() is HandlerA

    redecorated_child = Plugin.for_handler(HandlerB)(plugin_class(base=decorated))
    assert redecorated_child.get_handler_type() is HandlerB
    assert decorated.get_handler_type() is HandlerA

    cleared_child = Plugin.for_handler(None)(plugin_class(base=decorated))
    assert cleared_child.get_handler_type() is None


def test_for_handler_checks_nothing():
    class Anything:
        pass

    assert Plugin.for_handler("not a class")(Anything) is Anything
    assert Anything._handler_type == "not a class"


def test_handler_type_property_follows_redecoration():
    cls = Plugin.for_handler(HandlerA)(plugin_class())
    instance = cls()
    assert instance.handler_type is HandlerA
    Plugin.for_handler(HandlerB)(cls)
    assert instance.handler_type is HandlerB
    with pytest.raises(AttributeError):
        instance.handler_type = HandlerA


def test_injection_before_init_and_binding_rules(unbind):
    seen = []
    registry = ServiceRegistry()
    service = Service()
    registry.register(Service, service)

    class Injected(plugin_class(svc=Service)):
        def __init__(self):
            seen.append(getattr(self, "svc", None))
            super().__init__()

    Injected.set_registry(registry)
    instance = Injected()
    assert seen == [service] and instance.svc is service

    child = type("Child", (Injected,), {})
    assert child().svc is service  # a subclass without its own binding uses its ancestor's

    child.set_registry(None)
    assert "svc" not in vars(child())

    other = plugin_class(svc=Service)
    assert "svc" not in vars(other())
    Plugin.set_registry(registry)
    assert other().svc is service
    assert "svc" not in vars(child())  # its own None hides the binding of Plugin


def test_constructor_arguments_reach_the_root_initialiser_after_injection(unbind):
    calls = []
    registry = ServiceRegistry()
    registry.register(Service, lambda: calls.append("factory") or Service())
    cls = plugin_class(svc=Service)
    cls.set_registry(registry)
    with pytest.raises(TypeError):
        cls(1, key=2)
    assert calls == ["factory"]


def test_injection_error_prevents_init():
    inits = []

    class Broken(plugin_class(ref="Missing")):
        def __init__(self):
            inits.append(1)

    registry = ServiceRegistry()
    Broken.set_registry(registry)
    with pytest.raises(NameError):
        Broken()
    assert inits == []


def test_subclass_may_take_its_own_arguments(unbind):
    class WithArgs(plugin_class()):
        def __init__(self, value):
            self.value = value
            super().__init__()

    assert WithArgs(5).value == 5
