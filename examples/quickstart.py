from typing import Any

from zunt_core import ConfigService, Plugin, PluginHandler, PluginManager
from zunt_core.helpers.json import convert_keys_to_snake_case, filter_json


class Greeter:
    def __init__(self, greeting: str) -> None:
        self.greeting = greeting

    def greet(self, who: str) -> str:
        return f"{self.greeting}, {who}!"


class GreetingHandler(PluginHandler):
    """Supplies a Greeter to the plugins declared for it."""

    @classmethod
    def create_injections(cls, instance: Any) -> dict[type[Any], Any]:
        return {Greeter: Greeter("Hello")}

    @classmethod
    def initialize_plugin(cls, instance: Any, plugin: Any) -> None:
        print("initialized", plugin.name)


@Plugin.for_handler(GreetingHandler)
class WelcomePlugin(Plugin):
    name = "welcome"
    description = "Welcomes new users"
    version = "1.0"

    greeter: Greeter  # injected by its type when the plugin is created
    config: ConfigService  # every handler's registry holds one

    def welcome(self, who: str) -> str:
        return self.greeter.greet(self.config.get_string("WELCOME_NAME", default=who))


manager = PluginManager(handlers=[GreetingHandler()])  # also loads the nearest .env file
manager.register_plugin(WelcomePlugin)
plugin = manager.get_plugin("welcome")
assert isinstance(plugin, WelcomePlugin)
print(plugin.welcome("Ada"))  # Hello, Ada!

record = {"userId": 7, "profile": {"firstName": "Ada", "lastName": "Lovelace"}}
print(filter_json(convert_keys_to_snake_case(record), ["profile.first_name"]))  # {'profile': {'first_name': 'Ada'}}
