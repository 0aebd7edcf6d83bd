"""Plugin base class for the Plugin Architecture."""

from typing import Any
from typing import Callable as Callable
from typing import Optional as Optional
from typing import Type as Type

from zunt_core.plugin.handler import PluginHandler as PluginHandler
from zunt_core.plugin.registry import ServiceRegistry as ServiceRegistry

class Plugin:
    """Base class for ZUNT Plugins."""

    name: Optional[str]
    description: Optional[str]
    version: Optional[str]
    _handler_type: Optional[Type[PluginHandler]]
    _registry: Optional[ServiceRegistry]
    def __init__(self, *args: Any, **kwargs: Any) -> None: ...
    @classmethod
    def get_handler_type(cls) -> Optional[Type[PluginHandler]]: ...
    @classmethod
    def for_handler(cls, handler_type: Type[PluginHandler]) -> Callable[[Type[Plugin]], Type[Plugin]]: ...
    @classmethod
    def set_registry(cls, registry: ServiceRegistry) -> None: ...
    @property
    def handler_type(self) -> Optional[Type[PluginHandler]]: ...
    def __new__(cls, *args: Any, **kwargs: Any) -> Plugin: ...
