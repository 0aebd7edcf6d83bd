"""Service registry for core services that can be injected into plugins."""

from typing import Any as Any
from typing import Dict as Dict
from typing import Type as Type
from typing import TypeVar as TypeVar
from typing import get_origin as get_origin
from typing import get_type_hints as get_type_hints

T = TypeVar("T")

class ServiceRegistry:
    """Registry for core services that can be injected into plugins."""

    _services: Dict[Any, Any]
    def __init__(self) -> None: ...
    def register(self, service_type: Type[T], instance: T) -> None: ...
    def get(self, service_type: Type[T]) -> T: ...
    def inject_services(self, target: Any) -> None: ...
