"""Plugin base class for the Plugin Architecture."""

from typing import Any, Self, TypeVar
from typing import Callable as Callable
from typing import Optional as Optional
from typing import Type as Type

from zunt_core.plugin.handler import PluginHandler as PluginHandler
from zunt_core.plugin.registry import ServiceRegistry as ServiceRegistry

# The decorator hands back the class it was given, so a decorated plugin class
# keeps its own type.
_P = TypeVar("_P", bound=Plugin)

class Plugin:
    """Base class for ZUNT Plugins."""

    # Declared as text: every plugin class sets all three, and creation refuses
    # an instance that sees an empty one.
    name: str
    description: str
    version: str
    _handler_type: Optional[Type[PluginHandler]]
    _registry: Optional[ServiceRegistry]
    def __init__(self, *args: Any, **kwargs: Any) -> None: ...
    @classmethod
    def get_handler_type(cls) -> Optional[Type[PluginHandler]]: ...
    @classmethod
    def for_handler(cls, handler_type: Type[PluginHandler]) -> Callable[[Type[_P]], Type[_P]]: ...
    # None undoes the class's binding.
    @classmethod
    def set_registry(cls, registry: Optional[ServiceRegistry]) -> None: ...
    @property
    def handler_type(self) -> Optional[Type[PluginHandler]]: ...
    def __new__(cls, *args: Any, **kwargs: Any) -> Self: ...
