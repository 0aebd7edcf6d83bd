"""An application's use of every public name of zunt_core, as its type checkers see it.

scripts/test.sh runs mypy --strict and pyright (strict) over this file, and
tests/test_examples.py runs it. Each assert_type states what a user's checker
must infer; at run time the program checks the values as well.
"""

import asyncio
import os
import tempfile
from datetime import datetime
from pathlib import Path
from typing import Any, assert_type

import zunt_core
import zunt_core.exception
import zunt_core.services
from zunt_core import ConfigService, Plugin, PluginHandler, PluginManager
from zunt_core.exception import InvalidClientException, UnauthorizedException, ZuntException
from zunt_core.exception.base import NotFoundException, UninitializedException, UserAlreadyExistsException
from zunt_core.helpers.json import (
    camel_to_snake_case,
    convert_keys_to_snake_case,
    filter_json,
    get_value,
    get_value_by_path,
    has_value,
    merge_dicts,
    set_value_by_path,
    to_dict,
)
from zunt_core.plugin.handler import PluginHandler as HandlerBase
from zunt_core.plugin.manager import HandlerNotFoundError
from zunt_core.plugin.plugin import Plugin as PluginBase
from zunt_core.plugin.registry import ServiceRegistry
from zunt_core.services.config import ConfigService as ConfigServiceClass


class Clock:
    """A service that handlers hand to plugins."""

    def now(self) -> datetime:
        return datetime(2024, 5, 1, 12, 30)


class Mailer:
    def __init__(self) -> None:
        self.sent: list[str] = []

    def send(self, text: str) -> None:
        self.sent.append(text)


class SchedulerHandler(PluginHandler):
    """Supplies a clock and a mailer; counts the plugins it prepared."""

    def __init__(self, mailer: Mailer) -> None:
        self.mailer = mailer
        self.prepared: list[str] = []

    @classmethod
    def create_injections(cls, instance: Any) -> dict[type[Any], Any]:
        return {Clock: Clock(), Mailer: instance.mailer}

    @classmethod
    def initialize_plugin(cls, instance: Any, plugin: Any) -> None:
        instance.prepared.append(plugin.name)


class ReportHandler(PluginHandler):
    @classmethod
    def create_injections(cls, instance: Any) -> dict[type[Any], Any]:
        return {}

    @classmethod
    def initialize_plugin(cls, instance: Any, plugin: Any) -> None:
        pass


class UnusedHandler(PluginHandler):
    @classmethod
    def create_injections(cls, instance: Any) -> dict[type[Any], Any]:
        return {}

    @classmethod
    def initialize_plugin(cls, instance: Any, plugin: Any) -> None:
        pass


@Plugin.for_handler(SchedulerHandler)
class ReminderPlugin(Plugin):
    name = "reminder"
    description = "Mails a reminder"
    version = "1.0"

    clock: Clock
    mailer: Mailer
    config: ConfigService

    def remind(self, who: str) -> str:
        text = f"{self.config.get_string('REMINDER_GREETING', default='Hi')} {who}, it is {self.clock.now():%H:%M}"
        self.mailer.send(text)
        return text


@Plugin.for_handler(SchedulerHandler)
class AsyncPlugin(Plugin):
    name = "async"
    description = "Registered from a coroutine"
    version = "2.0"

    clock: Clock


def plugins_and_manager(env_file: str) -> None:
    mailer = Mailer()
    scheduler = SchedulerHandler(mailer)
    manager = PluginManager(handlers=[scheduler, ReportHandler()], env_file=env_file, global_services=[mailer])
    assert_type(manager, PluginManager)
    assert PluginManager(key_instance="second", handlers=[ReportHandler()]) is not manager

    ready: list[ReminderPlugin] = []

    def on_ready(plugin: ReminderPlugin) -> None:
        ready.append(plugin)

    manager.register_plugin(ReminderPlugin, custom_initializer=on_ready)
    assert ready[0].remind("Ada") == "Hello from .env Ada, it is 12:30"

    async def on_async_ready(plugin: AsyncPlugin) -> None:
        assert plugin.clock.now().year == 2024

    asyncio.run(manager.aregister_plugin(AsyncPlugin, custom_initializer=on_async_ready))

    found = manager.get_plugin("reminder")
    assert_type(found, Plugin | None)
    assert isinstance(found, ReminderPlugin) and found.name == "reminder"
    assert manager.get_plugin("nobody") is None
    names: list[str] = [p.name for p in manager.get_plugins(handler_type=SchedulerHandler)]
    assert names == ["reminder", "async"]
    assert manager.get_plugins(plugin_names=["async"])[0].version == "2.0"

    handler = manager.get_handler(SchedulerHandler)
    assert_type(handler, SchedulerHandler)
    assert handler.prepared == ["reminder", "async"]
    handlers: list[PluginHandler] = manager.get_handlers()
    assert len(handlers) == 2 and len(manager.get_handlers(ReportHandler)) == 1
    try:
        manager.get_handler(UnusedHandler)
    except HandlerNotFoundError as err:
        assert str(err) == "No handler of type UnusedHandler found"
    else:
        raise AssertionError("no HandlerNotFoundError")

    # A plugin class bound by the manager is injected wherever it is created.
    direct = ReminderPlugin()
    assert_type(direct, ReminderPlugin)
    assert direct.mailer is mailer
    assert_type(ReminderPlugin.get_handler_type(), type[PluginHandler] | None)
    assert direct.handler_type is SchedulerHandler
    assert issubclass(HandlerBase, PluginHandler) and PluginBase is Plugin


def registry() -> None:
    services = ServiceRegistry()
    services.register(Clock, Clock())
    clock = services.get(Clock)
    assert_type(clock, Clock)

    class Target:
        clock: Clock

    target = Target()
    services.inject_services(target)
    assert target.clock is clock

    @Plugin.for_handler(ReportHandler)
    class Standalone(Plugin):
        name = "standalone"
        description = "Created outside any manager"
        version = "0.1"
        clock: Clock

    Standalone.set_registry(services)
    assert Standalone().clock is clock
    Standalone.set_registry(None)
    assert not hasattr(Standalone(), "clock")


def config() -> None:
    os.environ["USER_PROGRAM_LIST"] = "a; b"
    os.environ["USER_PROGRAM_INT"] = "42"
    os.environ.pop("USER_PROGRAM_UNSET", None)

    assert_type(ConfigService.get_string("USER_PROGRAM_UNSET"), str | None)
    assert_type(ConfigService.get_string("USER_PROGRAM_UNSET", "x"), str)
    assert_type(ConfigService.get_int("USER_PROGRAM_INT"), int | None)
    assert_type(ConfigService.get_int("USER_PROGRAM_INT", default=0), int)
    assert_type(ConfigService.get_float("USER_PROGRAM_UNSET"), float | None)
    assert_type(ConfigService.get_float("USER_PROGRAM_UNSET", 1.5), float)
    assert_type(ConfigService.get_bool("USER_PROGRAM_UNSET"), bool | None)
    assert_type(ConfigService.get_bool("USER_PROGRAM_UNSET", default=False), bool)
    assert_type(ConfigService.get_list("USER_PROGRAM_LIST"), list[str] | None)
    assert_type(ConfigService.get_list("USER_PROGRAM_LIST", ";", []), list[str])
    assert_type(ConfigService.get_list("USER_PROGRAM_LIST", default=["z"]), list[str])
    assert_type(ConfigService.get_list("USER_PROGRAM_LIST", separator=";", default=[]), list[str])
    # A default that may itself be None keeps the optional result.
    def passed_through(text: str | None, items: list[str] | None) -> None:
        assert_type(ConfigService.get_string("USER_PROGRAM_UNSET", default=text), str | None)
        assert_type(ConfigService.get_list("USER_PROGRAM_UNSET", ",", items), list[str] | None)

    passed_through(None, None)
    assert ConfigService.get_list("USER_PROGRAM_LIST", ";", []) == ["a", "b"]
    assert ConfigService.get_int("USER_PROGRAM_INT", default=0) + 1 == 43

    assert_type(ConfigService.require("USER_PROGRAM_INT"), str)
    assert_type(ConfigService.require_as("USER_PROGRAM_INT", int), int)
    assert ConfigService().require_as("USER_PROGRAM_INT", float) == 42.0
    assert zunt_core.services.ConfigService is ConfigServiceClass is zunt_core.ConfigService


def json_helpers() -> None:
    record: dict[str, Any] = {"userId": 7, "profile": {"firstName": "Ada"}, "tags": [{"k": 1}, {"k": 2}]}
    snake = convert_keys_to_snake_case(record)
    assert filter_json(snake, ["profile.first_name"]) == {"profile": {"first_name": "Ada"}}
    assert get_value(snake, "user_id") == 7 and has_value(snake, "tags")
    assert get_value_by_path(record, ["tags", "k"]) == [1, 2]
    merged = merge_dicts(record, {"profile": {"lastName": "Lovelace"}})
    assert_type(merged, dict[Any, Any])
    assert merged["profile"] == {"firstName": "Ada", "lastName": "Lovelace"}
    target: dict[str, Any] = {}
    assert_type(set_value_by_path(target, ["a", "b"], 1), None)
    assert target == {"a": {"b": 1}}
    assert to_dict({"at": datetime(2024, 1, 2)}) == {"at": "2024-01-02T00:00:00"}
    assert_type(camel_to_snake_case("helloWorld"), str)
    assert_type(has_value(record, "x"), bool)


def errors() -> None:
    failures: list[ZuntException] = [
        ZuntException("teapot", status_code=418, extra_info={"why": "short and stout"}),
        UninitializedException(),
        UnauthorizedException(),
        InvalidClientException("no such client"),
        UserAlreadyExistsException(),
        NotFoundException(message="gone"),
    ]
    codes = [failure.status_code for failure in failures]
    assert codes == [418, 500, 401, 404, 409, 404]
    extra = failures[0].extra_info
    assert_type(extra, dict[Any, Any] | None)
    assert extra is not None and extra["why"] == "short and stout"
    assert zunt_core.exception.__all__ == ["ZuntException", "UnauthorizedException", "InvalidClientException"]
    assert zunt_core.__all__ == ["PluginManager", "PluginHandler", "Plugin", "ConfigService"]


def main() -> None:
    with tempfile.TemporaryDirectory() as folder:
        env_file = Path(folder) / ".env"
        env_file.write_text("REMINDER_GREETING=Hello from .env\n")
        os.environ.pop("REMINDER_GREETING", None)
        plugins_and_manager(str(env_file))
    registry()
    config()
    json_helpers()
    errors()
    print("ok")


if __name__ == "__main__":
    main()
