import abc
import asyncio
import inspect
import typing

import pytest

from zunt_core.plugin import handler as handler_module
from zunt_core.plugin.handler import PluginHandler


def test_module_surface():
    assert handler_module.__doc__.startswith("PluginHandler interface for plugin system.")
    assert handler_module.ABC is abc.ABC and handler_module.abstractmethod is abc.abstractmethod
    for name in ("Any", "Dict", "Type"):
        assert getattr(handler_module, name) is getattr(typing, name)
    assert PluginHandler.__bases__ == (abc.ABC,)
    assert PluginHandler.__doc__ == "Base interface for classes that can provide injections to the plugin system."
    assert PluginHandler.__abstractmethods__ == frozenset({"create_injections", "initialize_plugin"})


def test_method_kinds_and_signatures():
    raw = PluginHandler.__dict__
    for name in ("create_injections", "initialize_plugin", "ainitialize_plugin"):
        assert isinstance(raw[name], classmethod)
    assert raw["create_injections"].__func__.__isabstractmethod__
    assert not getattr(raw["ainitialize_plugin"].__func__, "__isabstractmethod__", False)
    assert asyncio.iscoroutinefunction(PluginHandler.ainitialize_plugin)
    assert inspect.iscoroutinefunction(PluginHandler.ainitialize_plugin)
    assert str(inspect.signature(PluginHandler.create_injections)) == (
        "(instance: Any) -> Dict[Type, Any]"
    )
    assert str(inspect.signature(PluginHandler.initialize_plugin)) == "(instance: Any, plugin: Any) -> None"
    assert str(inspect.signature(PluginHandler.ainitialize_plugin)) == "(instance: Any, plugin: Any) -> None"


class OnlyInjections(PluginHandler):
    @classmethod
    def create_injections(cls, instance):
        return {}


def test_handler_missing_an_override_cannot_be_instantiated():
    with pytest.raises(TypeError, match="abstract"):
        OnlyInjections()
    with pytest.raises(TypeError, match="abstract"):
        PluginHandler()


class Recording(PluginHandler):
    def __init__(self):
        self.calls = []

    @classmethod
    def create_injections(cls, instance):
        return super().create_injections(instance)

    @classmethod
    def initialize_plugin(cls, instance, plugin):
        instance.calls.append((cls, plugin))
        return "ignored"


def test_base_bodies_return_none():
    assert Recording.create_injections(Recording()) is None
    assert PluginHandler.initialize_plugin.__func__(Recording, None, None) is None


def test_ainitialize_plugin_runs_initialize_plugin_once_when_awaited():
    handler = Recording()
    coro = Recording.ainitialize_plugin(handler, "plugin")
    assert handler.calls == []  # nothing happens before it is awaited
    assert asyncio.run(coro) is None
    assert handler.calls == [(Recording, "plugin")]


def test_ainitialize_plugin_passes_errors_through():
    class Failing(Recording):
        @classmethod
        def initialize_plugin(cls, instance, plugin):
            raise LookupError("init failed")

    with pytest.raises(LookupError, match="init failed"):
        asyncio.run(Failing.ainitialize_plugin(Failing(), None))


def test_asynchronous_initialize_plugin_is_dropped_unawaited():
    ran = []

    class AsyncInit(Recording):
        @classmethod
        async def initialize_plugin(cls, instance, plugin):
            ran.append(plugin)

    with pytest.warns(RuntimeWarning, match="never awaited"):
        asyncio.run(AsyncInit.ainitialize_plugin(AsyncInit(), "p"))
        import gc

        gc.collect()
    assert ran == []
