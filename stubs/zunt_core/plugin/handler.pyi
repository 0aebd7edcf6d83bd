"""PluginHandler interface for plugin system."""

from abc import ABC as ABC
from abc import abstractmethod as abstractmethod
from typing import Any as Any
from typing import Dict as Dict
from typing import Type as Type

class PluginHandler(ABC):
    """Base interface for classes that can provide injections to the plugin system."""

    @classmethod
    @abstractmethod
    def create_injections(cls, instance: Any) -> Dict[Type[Any], Any]: ...
    @classmethod
    @abstractmethod
    def initialize_plugin(cls, instance: Any, plugin: Any) -> None: ...
    @classmethod
    async def ainitialize_plugin(cls, instance: Any, plugin: Any) -> None: ...
