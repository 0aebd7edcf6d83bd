"""Plugin manager: creates and initialises the manager instances, loads the .env file, builds one service registry per handler, registers plugins and looks them up."""

import asyncio as asyncio
import logging as logging
from pathlib import Path as Path
from threading import Lock as Lock
from typing import Any as Any
from typing import Callable as Callable
from typing import Dict as Dict
from typing import List as List
from typing import Optional as Optional
from typing import Tuple as Tuple
from typing import Type as Type
from typing import TypeVar as TypeVar
from typing import Union as Union
from typing import get_origin as get_origin

from dotenv import load_dotenv as load_dotenv

from zunt_core.plugin.handler import PluginHandler as PluginHandler
from zunt_core.plugin.plugin import Plugin as Plugin
from zunt_core.plugin.registry import ServiceRegistry as ServiceRegistry
from zunt_core.services.config import ConfigService as ConfigService

T = TypeVar("T", bound=PluginHandler)
_P = TypeVar("_P", bound=Plugin)

class HandlerNotFoundError(RuntimeError): ...

class PluginManager:
    _instance: Optional[PluginManager]
    _multi_instance: Dict[Any, PluginManager]
    _lock: Lock
    _initialized: bool
    _multi_initialized: Dict[Any, bool]
    _key_instance: Optional[str]
    _handler_registries: Dict[Type[PluginHandler], ServiceRegistry]
    _handlers: Dict[Type[PluginHandler], PluginHandler]
    _plugins: Dict[str, Plugin]
    def __new__(
        cls,
        *,
        handlers: Optional[List[PluginHandler]] = None,
        env_file: Optional[str] = None,
        global_services: Union[List[Any], Tuple[()]] = (),
        key_instance: Optional[str] = None,
    ) -> PluginManager: ...
    def __init__(
        self,
        *,
        handlers: Optional[List[PluginHandler]] = None,
        env_file: Optional[str] = None,
        global_services: Union[List[Any], Tuple[()]] = (),
        key_instance: Optional[str] = None,
    ) -> None: ...
    def _load_environment(self, env_file: Optional[str] = None) -> None: ...
    def _prepare_plugin_registration(self, plugin_class: Type[Plugin]) -> Tuple[Any, ServiceRegistry, Type[Any], Plugin]: ...
    # The custom initializer receives the new instance of plugin_class.
    def register_plugin(
        self, plugin_class: Type[_P], custom_initializer: Optional[Callable[[_P], None]] = None
    ) -> None: ...
    async def aregister_plugin(
        self, plugin_class: Type[_P], custom_initializer: Optional[Callable[[_P], Any]] = None
    ) -> None: ...
    def get_plugin(self, name: str) -> Optional[Plugin]: ...
    def get_plugins(
        self, handler_type: Optional[Type[PluginHandler]] = None, plugin_names: Optional[List[str]] = None
    ) -> List[Plugin]: ...
    def get_handlers(self, handler_type: Optional[Type[PluginHandler]] = None) -> List[PluginHandler]: ...
    def get_handler(self, handler_type: Type[T]) -> T: ...
