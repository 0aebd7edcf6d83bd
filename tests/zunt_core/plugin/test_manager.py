import asyncio
import inspect
import logging
import os
import threading
import typing
from typing import List, Optional

import pytest

from zunt_core import ConfigService, Plugin, PluginHandler, PluginManager
from zunt_core.plugin import manager as manager_module
from zunt_core.plugin.manager import HandlerNotFoundError
from zunt_core.plugin.registry import ServiceRegistry


class Service:
    pass


class SubService(Service):
    pass


class Other:
    pass


class BaseHandler(PluginHandler):
    """A handler whose injections and calls are recorded on the object."""

    def __init__(self, injections=None):
        self.injections = injections if injections is not None else {}
        self.initialized = []

    @classmethod
    def create_injections(cls, instance):
        return instance.injections

    @classmethod
    def initialize_plugin(cls, instance, plugin):
        instance.initialized.append(plugin)


class SubHandler1(BaseHandler):
    pass


class SubHandler2(BaseHandler):
    pass


class HandlerX(BaseHandler):
    pass


def make_plugin(handler_type=BaseHandler, name="p", **annotations):
    ns = {"name": name, "description": "d", "version": "1", "__annotations__": annotations}
    cls = type("P_" + name, (Plugin,), ns)
    if handler_type is not None:
        cls = Plugin.for_handler(handler_type)(cls)
    return cls


@pytest.fixture
def no_dotenv(monkeypatch):
    """Replaces load_dotenv and records what it receives."""
    calls = []
    monkeypatch.setattr(manager_module, "load_dotenv", lambda path: calls.append(path))
    return calls


@pytest.fixture
def manager(no_dotenv):
    handler = BaseHandler({Service: Service()})
    return PluginManager(handlers=[handler])


# --- module surface -------------------------------------------------------


def test_module_surface():
    import pathlib

    import dotenv

    assert manager_module.asyncio is asyncio and manager_module.logging is logging
    assert manager_module.Path is pathlib.Path and manager_module.Lock is threading.Lock
    assert manager_module.load_dotenv is dotenv.load_dotenv
    for name in ("Any", "Callable", "Dict", "List", "Optional", "Tuple", "Type", "TypeVar", "Union", "get_origin"):
        assert getattr(manager_module, name) is getattr(typing, name)
    assert manager_module.T.__bound__ is PluginHandler
    assert HandlerNotFoundError.__bases__ == (RuntimeError,)
    assert PluginManager.__bases__ == (object,)
    assert isinstance(PluginManager.__dict__["_lock"], type(threading.Lock()))
    assert asyncio.iscoroutinefunction(PluginManager.aregister_plugin)
    params = "(*, handlers: Optional[List[zunt_core.plugin.handler.PluginHandler]] = None, env_file: Optional[str] = None, global_services: List[Any] = (), key_instance: Optional[str] = None)"
    assert str(inspect.signature(PluginManager.__new__)) == "(cls, " + params[1:] + " -> 'PluginManager'"
    assert str(inspect.signature(PluginManager.__init__)) == "(self, " + params[1:]
    assert str(inspect.signature(PluginManager.get_handler)) == "(self, handler_type: Type[~T]) -> ~T"


# --- instances ------------------------------------------------------------


def test_default_instance_is_shared_and_second_call_loads_nothing(no_dotenv, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / ".env").write_text("")
    first = PluginManager(handlers=[BaseHandler()])
    assert no_dotenv == [tmp_path / ".env"]
    assert PluginManager() is first
    assert PluginManager(handlers=[HandlerX()], env_file="other") is first
    assert no_dotenv == [tmp_path / ".env"]
    assert list(first._handlers) == [BaseHandler]


def test_first_call_without_handlers_fails_then_succeeds(no_dotenv):
    with pytest.raises(ValueError) as info:
        PluginManager()
    assert str(info.value) == "handlers must be provided when creating the first instance"
    assert PluginManager._instance is None
    assert isinstance(PluginManager(handlers=[BaseHandler()]), PluginManager)


def test_keyed_instances(no_dotenv):
    a = PluginManager(handlers=[BaseHandler()], key_instance="a")
    b = PluginManager(handlers=[BaseHandler()], key_instance="b")
    default = PluginManager(handlers=[BaseHandler()])
    empty = PluginManager(handlers=[BaseHandler()], key_instance="")
    assert len({id(a), id(b), id(default), id(empty)}) == 4
    assert PluginManager(key_instance="a") is a
    assert PluginManager._instance is default
    assert (a._key_instance, empty._key_instance, default._key_instance) == ("a", "", None)
    assert PluginManager._multi_initialized == {"a": True, "b": True, "": True}
    with pytest.raises(ValueError) as info:
        PluginManager(key_instance="x")
    assert str(info.value) == "handlers must be provided when creating instance 'x' for the first time"
    assert "x" not in PluginManager._multi_instance


@pytest.mark.parametrize("key", [None, "k"])
def test_empty_handler_list_fails_and_instance_can_be_initialised_later(no_dotenv, key):
    with pytest.raises(ValueError) as info:
        PluginManager(handlers=[], key_instance=key)
    assert str(info.value) == "At least one plugin handler must be provided"
    handler = BaseHandler()
    manager = PluginManager(handlers=[handler], key_instance=key)
    assert manager.get_handlers() == [handler]


@pytest.mark.parametrize("key", [None, "k"])
def test_failed_first_initialisation_can_be_retried(no_dotenv, key):
    class Failing(BaseHandler):
        @classmethod
        def create_injections(cls, instance):
            raise LookupError("injections failed")

    with pytest.raises(LookupError, match="injections failed"):
        PluginManager(handlers=[BaseHandler(), Failing()], key_instance=key)
    manager = PluginManager._instance if key is None else PluginManager._multi_instance[key]
    assert not hasattr(manager, "_handlers")
    with pytest.raises(ValueError, match="At least one plugin handler must be provided"):
        PluginManager(key_instance=key)
    handler = HandlerX()
    again = PluginManager(handlers=[handler], key_instance=key)
    assert again is manager
    assert manager.get_handlers() == [handler]


def test_handler_order_and_replacement(no_dotenv):
    class A(BaseHandler):
        pass

    class B(BaseHandler):
        pass

    a1, b, a2 = A(), B(), A()
    manager = PluginManager(handlers=[a1, b, a2])
    assert list(manager._handlers.items()) == [(A, a2), (B, b)]
    assert list(manager._handler_registries) == [A, B]
    assert manager._plugins == {}


def test_registries_contents_and_precedence(no_dotenv):
    class A(BaseHandler):
        pass

    class B(BaseHandler):
        pass

    own_config = object()
    shared = Service()
    a = A({str: "own text", ConfigService: own_config})
    b = B({Other: "other"})
    manager = PluginManager(handlers=[a, b], global_services=["global text", shared])
    reg_a, reg_b = manager._handler_registries[A], manager._handler_registries[B]
    assert isinstance(reg_a, ServiceRegistry)
    assert list(reg_a._services) == [ConfigService, str, Service]
    assert reg_a._services[str] == "own text" and reg_a._services[ConfigService] is own_config
    assert list(reg_b._services) == [ConfigService, str, Service, Other]
    assert isinstance(reg_b._services[ConfigService], ConfigService)
    assert reg_b._services[str] == "global text"
    assert reg_a._services[Service] is shared is reg_b._services[Service]


def test_every_registry_gets_its_own_config_service(no_dotenv):
    manager = PluginManager(handlers=[SubHandler1(), SubHandler2()])
    first, second = (r._services[ConfigService] for r in manager._handler_registries.values())
    assert first is not second


# --- lock -----------------------------------------------------------------


def test_concurrent_constructions_share_one_initialisation(no_dotenv):
    calls = []
    gate = threading.Barrier(8)

    class Slow(BaseHandler):
        @classmethod
        def create_injections(cls, instance):
            calls.append(threading.get_ident())
            threading.Event().wait(0.05)
            return {}

    results = [None] * 8

    def construct(i):
        gate.wait()
        results[i] = PluginManager(handlers=[Slow()])

    threads = [threading.Thread(target=construct, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(10)
    assert all(not t.is_alive() for t in threads)
    assert len(calls) == 1
    assert all(r is results[0] for r in results)
    assert hasattr(results[0], "_handlers")
    assert not PluginManager._lock.locked()


def run_with_timeout(fn, timeout=10):
    outcome = {}

    def target():
        try:
            outcome["value"] = fn()
        except BaseException as e:  # noqa: BLE001
            outcome["error"] = e

    t = threading.Thread(target=target, daemon=True)
    t.start()
    t.join(timeout)
    assert not t.is_alive(), "construction hung"
    return outcome


def test_construction_under_the_lock_raises_instead_of_hanging(no_dotenv):
    PluginManager(handlers=[BaseHandler()])  # an existing instance must not be fetched either
    inner = []

    class Nested(BaseHandler):
        @classmethod
        def create_injections(cls, instance):
            inner.append(PluginManager())
            return {}

    outcome = run_with_timeout(lambda: PluginManager(handlers=[Nested()], key_instance="nested"))
    assert isinstance(outcome.get("error"), RuntimeError)
    assert "lock" in str(outcome["error"])
    assert inner == []
    assert not PluginManager._lock.locked()
    # the failed initialisation left the keyed instance open to a later one
    assert PluginManager(handlers=[BaseHandler()], key_instance="nested").get_handlers()


def test_construction_from_dotenv_loading_raises(monkeypatch):
    monkeypatch.setattr(manager_module, "load_dotenv", lambda path: PluginManager(handlers=[BaseHandler()]))
    outcome = run_with_timeout(lambda: PluginManager(handlers=[BaseHandler()], env_file="x"))
    assert isinstance(outcome.get("error"), RuntimeError)


def test_lock_is_read_from_the_class(no_dotenv, monkeypatch):
    events = []

    class RecordingLock:
        def acquire(self):
            events.append("acquire")
            return True

        def release(self):
            events.append("release")

    monkeypatch.setattr(PluginManager, "_lock", RecordingLock())
    with pytest.raises(ValueError):
        PluginManager()
    PluginManager(handlers=[BaseHandler()])
    assert events == ["acquire", "release"] * 3


# --- .env file ------------------------------------------------------------


@pytest.fixture
def tree(tmp_path, monkeypatch):
    cwd = tmp_path / "w" / "a" / "b" / "c"
    cwd.mkdir(parents=True)
    monkeypatch.chdir(cwd)
    return tmp_path


@pytest.mark.parametrize(
    "where, expected",
    [
        ("w/a/b/c", "w/a/b/c"),
        ("w/a", "w/a"),
        ("w", "w"),  # third parent
        ("", None),  # fourth parent: too far
    ],
)
def test_env_file_search(no_dotenv, tree, where, expected):
    (tree / where / ".env").write_text("")
    (tree / ".env").write_text("")  # always out of reach
    PluginManager(handlers=[BaseHandler()])
    assert no_dotenv == ([] if expected is None else [tree / expected / ".env"])


def test_env_search_nearest_first_and_directory_counts(no_dotenv, tree):
    (tree / "w" / ".env").write_text("")
    (tree / "w" / "a" / "b" / "c" / ".env").mkdir()
    PluginManager(handlers=[BaseHandler()], env_file="")
    assert no_dotenv == [tree / "w" / "a" / "b" / "c" / ".env"]


def test_given_env_file_is_passed_without_search(no_dotenv, tree):
    (tree / "w" / ".env").write_text("")
    PluginManager(handlers=[BaseHandler()], env_file="does/not/exist.env")
    assert no_dotenv == ["does/not/exist.env"]


def test_each_instance_loads_at_its_first_initialisation(no_dotenv):
    PluginManager(handlers=[BaseHandler()], env_file="one")
    PluginManager(handlers=[BaseHandler()], env_file="two", key_instance="k")
    PluginManager(handlers=[BaseHandler()], env_file="three", key_instance="k")
    assert no_dotenv == ["one", "two"]


def test_real_dotenv_keeps_existing_variables(tmp_path, monkeypatch):
    env = tmp_path / ".env"
    env.write_text("ZUNT_TEST_KEPT=from-file\nZUNT_TEST_NEW=new\n")
    monkeypatch.setenv("ZUNT_TEST_KEPT", "from-env")
    monkeypatch.delenv("ZUNT_TEST_NEW", raising=False)
    monkeypatch.chdir(tmp_path)
    try:
        PluginManager(handlers=[BaseHandler()])
        assert os.environ["ZUNT_TEST_KEPT"] == "from-env"
        assert os.environ["ZUNT_TEST_NEW"] == "new"
    finally:
        os.environ.pop("ZUNT_TEST_NEW", None)


# --- registration ---------------------------------------------------------


def test_register_plugin_injects_stores_and_initialises(manager, caplog):
    caplog.set_level(logging.INFO)
    cls = make_plugin(svc=Service, config=ConfigService)
    order = []
    manager.register_plugin(cls, lambda p: order.append(("custom", p)))
    plugin = manager.get_plugin("p")
    handler = manager.get_handler(BaseHandler)
    assert isinstance(plugin, cls) and cls._registry is manager._handler_registries[BaseHandler]
    assert plugin.svc is handler.injections[Service]
    assert isinstance(plugin.config, ConfigService)
    assert handler.initialized == [plugin] and order == [("custom", plugin)]
    assert [(r.name, r.levelname, r.getMessage()) for r in caplog.records] == [
        ("root", "INFO", "Initializing plugin P_p")
    ]


def test_prepare_returns_the_four_parts(manager):
    cls = make_plugin()
    handler, registry, handler_type, plugin = manager._prepare_plugin_registration(cls)
    assert handler is manager.get_handler(BaseHandler)
    assert registry is manager._handler_registries[BaseHandler]
    assert handler_type is BaseHandler and manager.get_plugin("p") is plugin
    assert handler.initialized == []


def test_first_compatible_handler_is_chosen_and_messages_name_the_declared_type(no_dotenv, caplog):
    s1, s2 = SubHandler1({Service: "one"}), SubHandler2({Service: "two"})
    manager = PluginManager(handlers=[s1, s2])
    caplog.set_level(logging.INFO)
    manager.register_plugin(make_plugin(BaseHandler, svc=Service, missing=Other))
    assert manager.get_plugin("p").svc == "one" and len(s1.initialized) == 1 and s2.initialized == []
    assert caplog.records[-1].getMessage() == (
        "Plugin P_p using handler BaseHandler could not inject the following services: Other"
    )


def test_no_compatible_handler(no_dotenv, caplog):
    manager = PluginManager(handlers=[BaseHandler()])
    caplog.set_level(logging.INFO)
    with pytest.raises(RuntimeError) as info:
        manager.register_plugin(make_plugin(SubHandler1))
    assert str(info.value) == "Plugin P_p requires handler SubHandler1 or a subclass, but none was provided"
    assert caplog.records == []


def test_falsy_handler_object_counts_as_no_match(no_dotenv):
    class Falsy(BaseHandler):
        def __bool__(self):
            return False

    manager = PluginManager(handlers=[Falsy()])
    with pytest.raises(RuntimeError, match="requires handler Falsy"):
        manager.register_plugin(make_plugin(Falsy))


def test_undecorated_plugin_is_refused(manager, caplog):
    caplog.set_level(logging.INFO)
    with pytest.raises(ValueError) as info:
        manager.register_plugin(make_plugin(None))
    assert str(info.value) == "Plugin P_p must specify a handler type using @Plugin.for_handler decorator"
    assert caplog.records == [] and manager._plugins == {}


T = typing.TypeVar("T")


@pytest.mark.parametrize(
    "annotations, unions, missing",
    [
        ({"a": Optional[Service], "b": Service | None, "c": typing.Union[Service, Other]}, "a, b, c", None),
        ({"a": SubService | Other}, None, str(SubService | Other)),
        ({"a": "Service"}, None, "Service"),
        ({"a": str, "b": int, "c": list}, None, None),
        ({"a": List[Other]}, None, None),  # found: some key reduces to list
        ({"a": Other, "b": SubService}, None, "Other, SubService"),
        ({"a": Service, "b": object}, None, None),
        # no __args__: looked up as a service, and never a crash
        ({"a": T, "b": typing.Self}, None, "T, Self"),
    ],
)
def test_declared_service_warnings(no_dotenv, caplog, annotations, unions, missing):
    manager = PluginManager(handlers=[BaseHandler({Service: Service(), List[int]: [1]})])
    caplog.set_level(logging.WARNING)
    manager.register_plugin(make_plugin(**annotations))
    messages = [r.getMessage() for r in caplog.records]
    expected = []
    if unions:
        expected.append(
            f"Plugin P_p using handler BaseHandler has Union types which are not supported for injection: {unions}"
        )
    if missing:
        expected.append(f"Plugin P_p using handler BaseHandler could not inject the following services: {missing}")
    assert messages == expected
    assert manager.get_plugin("p") is not None


def test_inherited_annotations_are_not_checked_but_injected(manager, caplog):
    parent = make_plugin(svc=Service, other=Other)
    child = Plugin.for_handler(BaseHandler)(type("Child", (parent,), {}))
    caplog.set_level(logging.WARNING)
    manager.register_plugin(child)
    assert caplog.records == []
    assert isinstance(manager.get_plugin("p").svc, Service)


def test_percent_in_names_is_not_formatted(no_dotenv, caplog):
    manager = PluginManager(handlers=[BaseHandler()])
    odd = type("Odd%s", (), {})
    caplog.set_level(logging.WARNING)
    manager.register_plugin(make_plugin(a=odd))
    assert caplog.records[0].getMessage().endswith("services: Odd%s")


def test_same_name_replaces_and_keeps_position(no_dotenv):
    manager = PluginManager(handlers=[BaseHandler()])
    first, middle, second = make_plugin(name="x"), make_plugin(name="m"), make_plugin(name="x")
    for cls in (first, middle, second):
        manager.register_plugin(cls)
    assert isinstance(manager.get_plugin("x"), second)
    assert [type(p) for p in manager.get_plugins()] == [second, middle]


def test_failed_creation_leaves_class_bound_and_nothing_stored(manager):
    cls = make_plugin()
    cls.description = None
    with pytest.raises(ValueError, match="must set name, description, and version"):
        manager.register_plugin(cls)
    assert manager.get_plugin("p") is None
    assert cls._registry is manager._handler_registries[BaseHandler]


def test_handler_and_custom_initializer_failures(no_dotenv):
    class Failing(BaseHandler):
        @classmethod
        def initialize_plugin(cls, instance, plugin):
            raise LookupError("handler init failed")

    manager = PluginManager(handlers=[Failing()])
    custom = []
    with pytest.raises(LookupError, match="handler init failed"):
        manager.register_plugin(make_plugin(Failing), custom.append)
    assert manager.get_plugin("p") is not None and custom == []


def test_sync_registration_drops_a_coroutine_initializer(manager):
    ran = []

    async def custom(plugin):
        ran.append(plugin)

    with pytest.warns(RuntimeWarning, match="never awaited"):
        manager.register_plugin(make_plugin(), custom)
        import gc

        gc.collect()
    assert ran == []


def test_factory_services_are_called_per_plugin(no_dotenv):
    manager = PluginManager(handlers=[BaseHandler({Service: Service})])
    manager._handler_registries[BaseHandler].register(Other, lambda: Other())
    manager.register_plugin(make_plugin(name="a", svc=Service, other=Other))
    manager.register_plugin(make_plugin(name="b", svc=Service, other=Other))
    a, b = manager.get_plugin("a"), manager.get_plugin("b")
    assert a.svc is Service and a.other is not b.other


# --- asynchronous registration --------------------------------------------


class AsyncHandler(BaseHandler):
    @classmethod
    async def ainitialize_plugin(cls, instance, plugin):
        await asyncio.sleep(0)
        instance.initialized.append(("async", plugin))


class PlainAinitHandler(BaseHandler):
    @classmethod
    def ainitialize_plugin(cls, instance, plugin):
        raise AssertionError("must not run")


@pytest.mark.parametrize(
    "handler_cls, expect",
    [(BaseHandler, "sync"), (AsyncHandler, "async"), (PlainAinitHandler, "sync")],
)
@pytest.mark.parametrize("custom_kind", [None, "sync", "async"])
def test_aregister_plugin(no_dotenv, handler_cls, expect, custom_kind):
    handler = handler_cls()
    manager = PluginManager(handlers=[handler])
    custom_calls = []

    def sync_custom(plugin):
        custom_calls.append(plugin)

    async def async_custom(plugin):
        await asyncio.sleep(0)
        custom_calls.append(plugin)

    custom = {None: None, "sync": sync_custom, "async": async_custom}[custom_kind]
    coro = manager.aregister_plugin(make_plugin(handler_cls), custom)
    assert manager.get_plugin("p") is None  # nothing runs before it is awaited
    assert asyncio.run(coro) is None
    plugin = manager.get_plugin("p")
    assert handler.initialized == ([plugin] if expect == "sync" else [("async", plugin)])
    assert custom_calls == ([] if custom is None else [plugin])


def test_aregister_plugin_suspends_and_forwards_cancellation(no_dotenv):
    started, release = [], None

    class Waiting(BaseHandler):
        @classmethod
        async def ainitialize_plugin(cls, instance, plugin):
            started.append(plugin)
            await release.wait()

    manager = PluginManager(handlers=[Waiting()])
    custom = []

    async def main():
        nonlocal release
        release = asyncio.Event()
        task = asyncio.create_task(manager.aregister_plugin(make_plugin(Waiting, name="w"), custom.append))
        await asyncio.sleep(0.01)
        assert len(started) == 1 and not task.done()
        # other work proceeds while registration is suspended
        manager.register_plugin(make_plugin(Waiting, name="other"))
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task

    asyncio.run(main())
    assert custom == []
    assert manager.get_plugin("w") is started[0]


def test_aregister_plugin_errors(no_dotenv):
    manager = PluginManager(handlers=[BaseHandler()])
    with pytest.raises(ValueError, match="must specify a handler type"):
        asyncio.run(manager.aregister_plugin(make_plugin(None)))

    async def failing(plugin):
        raise LookupError("custom failed")

    with pytest.raises(LookupError, match="custom failed"):
        asyncio.run(manager.aregister_plugin(make_plugin(), failing))
    assert manager.get_handler(BaseHandler).initialized == [manager.get_plugin("p")]


# --- look-ups -------------------------------------------------------------


def test_lookups(no_dotenv):
    base, sub = BaseHandler(), SubHandler1()
    manager = PluginManager(handlers=[base, sub])
    manager.register_plugin(make_plugin(BaseHandler, name="b"))
    manager.register_plugin(make_plugin(SubHandler1, name="s"))
    pb, ps = manager.get_plugin("b"), manager.get_plugin("s")
    assert manager.get_plugin("none") is None
    assert manager.get_plugins() == [pb, ps]
    assert manager.get_plugins() is not manager.get_plugins()
    assert manager.get_plugins(plugin_names=[]) == []
    assert manager.get_plugins(plugin_names=("s",)) == [ps]
    assert manager.get_plugins(handler_type=BaseHandler) == [pb, ps]
    assert manager.get_plugins(handler_type=SubHandler1) == [ps]
    assert manager.get_plugins(handler_type=BaseHandler, plugin_names=["b"]) == [pb]
    assert manager.get_handlers() == [base, sub]
    assert manager.get_handlers(SubHandler1) == [sub]
    assert manager.get_handler(BaseHandler) is base
    assert manager.get_handler(SubHandler1) is sub
    with pytest.raises(HandlerNotFoundError) as info:
        manager.get_handler(HandlerX)
    assert str(info.value) == "No handler of type HandlerX found"
    assert isinstance(info.value, RuntimeError)


def test_get_plugins_tests_the_declared_type_of_the_class(no_dotenv):
    manager = PluginManager(handlers=[SubHandler1()])
    cls = make_plugin(BaseHandler, name="b")
    manager.register_plugin(cls)
    assert manager.get_plugins(handler_type=SubHandler1) == []
    Plugin.for_handler(None)(cls)
    assert manager.get_plugins(handler_type=BaseHandler) == []
