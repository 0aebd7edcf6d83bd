"""The plugin framework written in plain Python, as the reference the
benchmark compares the native package with. Same behaviour: registry with
exact look-up and subclass fallback, plugin base class injecting in
__new__, handler interface, manager with locked creation and initialisation,
.env search and the declared-service check."""

import asyncio
import logging
from abc import ABC, abstractmethod
from pathlib import Path
from threading import Lock
from typing import Any, Callable, Dict, List, Optional, Tuple, Type, TypeVar, Union, get_origin, get_type_hints

from dotenv import load_dotenv

from zunt_core.services.config import ConfigService

T = TypeVar("T")


class ServiceRegistry:
    def __init__(self):
        self._services = {}

    def register(self, service_type: Type[T], instance: T) -> None:
        self._services[service_type] = instance

    def get(self, service_type: Type[T]) -> T:
        if isinstance(service_type, type) and service_type.__module__ == "builtins":
            raise TypeError(
                f"Built-in type {service_type.__name__} cannot be injected. Pass this value directly instead."
            )
        if service_type not in self._services:
            raise KeyError(f"Service {getattr(service_type, '__name__', str(service_type))} not registered")
        return self._services[service_type]

    def inject_services(self, target: Any) -> None:
        hints = get_type_hints(target.__class__)
        for name, declared in hints.items():
            service = self._services.get(declared)
            if service is None:
                target_type = get_origin(declared) or declared
                for key, value in self._services.items():
                    base = get_origin(key) or key
                    if not isinstance(base, type):
                        continue
                    try:
                        if issubclass(base, target_type):
                            service = value
                            break
                    except TypeError:
                        continue
            if service is None:
                continue
            if callable(service) and not isinstance(service, type):
                service = service()
            setattr(target, name, service)


class PluginHandler(ABC):
    @classmethod
    @abstractmethod
    def create_injections(cls, instance: Any) -> Dict[Type, Any]:
        pass

    @classmethod
    @abstractmethod
    def initialize_plugin(cls, instance: Any, plugin: Any) -> None:
        pass

    @classmethod
    async def ainitialize_plugin(cls, instance: Any, plugin: Any) -> None:
        cls.initialize_plugin(instance, plugin)


class Plugin:
    name: str = None
    description: str = None
    version: str = None
    _handler_type: Optional[Type["PluginHandler"]] = None
    _registry: Optional[ServiceRegistry] = None

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        if not all([self.name, self.description, self.version]):
            raise ValueError(
                f"Plugin class {self.__class__.__name__} must set name, description, and version as class attributes"
            )

    @classmethod
    def get_handler_type(cls) -> Optional[Type["PluginHandler"]]:
        for klass in cls.__mro__:
            if "_handler_type" in klass.__dict__:
                return klass._handler_type
        return None

    @classmethod
    def for_handler(cls, handler_type):
        def decorator(plugin_cls):
            plugin_cls._handler_type = handler_type
            return plugin_cls

        return decorator

    @classmethod
    def set_registry(cls, registry: ServiceRegistry) -> None:
        cls._registry = registry

    @property
    def handler_type(self):
        return self.__class__.get_handler_type()

    def __new__(cls, *args, **kwargs):
        instance = super().__new__(cls)
        if cls._registry is not None:
            cls._registry.inject_services(instance)
        return instance


class HandlerNotFoundError(RuntimeError):
    pass


class PluginManager:
    _instance = None
    _multi_instance = {}
    _lock = Lock()
    _initialized = False
    _multi_initialized = {}

    def __new__(cls, *, handlers=None, env_file=None, global_services=(), key_instance=None):
        with cls._lock:
            if key_instance is not None:
                if key_instance not in cls._multi_instance:
                    if handlers is None:
                        raise ValueError(
                            f"handlers must be provided when creating instance '{key_instance}' for the first time"
                        )
                    instance = super().__new__(cls)
                    instance._key_instance = key_instance
                    instance._initialized = False
                    cls._multi_instance[key_instance] = instance
                    cls._multi_initialized[key_instance] = False
                return cls._multi_instance[key_instance]
            if cls._instance is None:
                if handlers is None:
                    raise ValueError("handlers must be provided when creating the first instance")
                instance = super().__new__(cls)
                instance._key_instance = None
                instance._initialized = False
                cls._instance = instance
            return cls._instance

    def __init__(self, *, handlers=None, env_file=None, global_services=(), key_instance=None):
        with self._lock:
            if key_instance is not None:
                if self._multi_initialized.get(key_instance, False):
                    return
                self._multi_initialized[key_instance] = True
            else:
                if self._initialized:
                    return
                self._initialized = True
            if not handlers:
                raise ValueError("At least one plugin handler must be provided")
            self._load_environment(env_file)
            self._handler_registries = {}
            self._plugins = {}
            self._handlers = {}
            for handler in handlers:
                handler_class = type(handler)
                registry = ServiceRegistry()
                registry.register(ConfigService, ConfigService())
                for service in global_services:
                    registry.register(type(service), service)
                for service_type, service in type(handler).create_injections(handler).items():
                    registry.register(service_type, service)
                self._handler_registries[handler_class] = registry
                self._handlers[handler_class] = handler

    def _load_environment(self, env_file=None):
        if env_file:
            load_dotenv(env_file)
            return
        current = Path.cwd()
        for _ in range(4):
            env_path = current / ".env"
            if env_path.exists():
                load_dotenv(env_path)
                return
            current = current.parent

    def _prepare_plugin_registration(self, plugin_class) -> Tuple[Any, ServiceRegistry, Type, Plugin]:
        handler_type = plugin_class.get_handler_type()
        if not handler_type:
            raise ValueError(
                f"Plugin {plugin_class.__name__} must specify a handler type using @Plugin.for_handler decorator"
            )
        compatible_handler = None
        compatible_registry = None
        for handler_class, handler in self._handlers.items():
            if issubclass(type(handler), handler_type):
                compatible_handler = handler
                compatible_registry = self._handler_registries[handler_class]
                break
        if not compatible_handler:
            raise RuntimeError(
                f"Plugin {plugin_class.__name__} requires handler {handler_type.__name__} or a subclass, "
                "but none was provided"
            )
        logging.info(f"Initializing plugin {plugin_class.__name__}")
        unsupported_unions = []
        missing_services = []
        for field, annotation in plugin_class.__annotations__.items():
            if isinstance(annotation, type) and annotation.__module__ == "builtins":
                continue
            if (hasattr(annotation, "__origin__") and annotation.__origin__ is Union) or (
                hasattr(annotation, "__or__")
                and not isinstance(annotation, type)
                and type(None) in getattr(annotation, "__args__", ())
            ):
                unsupported_unions.append(field)
                continue
            target = get_origin(annotation) or annotation
            found = False
            for key in compatible_registry._services:
                base = get_origin(key) or key
                try:
                    if isinstance(base, type) and issubclass(base, target):
                        found = True
                        break
                except TypeError:
                    continue
            if not found:
                missing_services.append(getattr(annotation, "__name__", str(annotation)))
        if unsupported_unions:
            logging.warning(
                f"Plugin {plugin_class.__name__} using handler {handler_type.__name__} has Union types which are "
                f"not supported for injection: {', '.join(unsupported_unions)}"
            )
        if missing_services:
            logging.warning(
                f"Plugin {plugin_class.__name__} using handler {handler_type.__name__} could not inject the "
                f"following services: {', '.join(missing_services)}"
            )
        plugin_class.set_registry(compatible_registry)
        plugin = plugin_class()
        self._plugins[plugin.name] = plugin
        return compatible_handler, compatible_registry, handler_type, plugin

    def register_plugin(self, plugin_class, custom_initializer: Optional[Callable[[Plugin], None]] = None) -> None:
        handler, _, _, plugin = self._prepare_plugin_registration(plugin_class)
        type(handler).initialize_plugin(handler, plugin)
        if custom_initializer is not None:
            custom_initializer(plugin)

    async def aregister_plugin(self, plugin_class, custom_initializer=None) -> None:
        handler, _, _, plugin = self._prepare_plugin_registration(plugin_class)
        if asyncio.iscoroutinefunction(type(handler).ainitialize_plugin):
            await type(handler).ainitialize_plugin(handler, plugin)
        else:
            type(handler).initialize_plugin(handler, plugin)
        if custom_initializer is not None:
            if asyncio.iscoroutinefunction(custom_initializer):
                await custom_initializer(plugin)
            else:
                custom_initializer(plugin)

    def get_plugin(self, name: str) -> Optional[Plugin]:
        return self._plugins.get(name)

    def get_plugins(self, handler_type=None, plugin_names: Optional[List[str]] = None) -> List[Plugin]:
        plugins = list(self._plugins.values())
        if handler_type is not None:
            plugins = [p for p in plugins if p.handler_type and issubclass(p.handler_type, handler_type)]
        if plugin_names is not None:
            plugins = [p for p in plugins if p.name in plugin_names]
        return plugins

    def get_handlers(self, handler_type=None) -> List[PluginHandler]:
        if handler_type is None:
            return list(self._handlers.values())
        return [h for h in self._handlers.values() if isinstance(h, handler_type)]

    def get_handler(self, handler_type):
        for handler in self._handlers.values():
            if isinstance(handler, handler_type):
                return handler
        raise HandlerNotFoundError(f"No handler of type {handler_type.__name__} found")
