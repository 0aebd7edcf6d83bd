"""The function-tracing instrumentor: traces the calls of functions that the application names."""

import inspect as inspect
from abc import ABCMeta
from typing import Any, ClassVar
from typing import Callable as Callable
from typing import Collection as Collection
from typing import Dict as Dict
from typing import Set as Set
from typing import Tuple as Tuple

import wrapt as wrapt
from opentelemetry import trace as trace
# The base class's module opts out of type checking as a whole (mypy sees none of its names).
from opentelemetry.instrumentation.instrumentor import (  # type: ignore[attr-defined]
    BaseInstrumentor as BaseInstrumentor,
)
from opentelemetry.instrumentation.utils import unwrap as unwrap

class ZUNTFunctionsInstrumentor(BaseInstrumentor, metaclass=ABCMeta):  # type: ignore[misc]
    """Traces the functions given to instrument(methods=[...]): every call through the module or class runs in a span named after the function, with its arguments and result (or exception) recorded as text."""

    # Inherited from BaseInstrumentor, typed here for checkers that cannot see the base.
    def instrument(self, **kwargs: Any) -> Any: ...
    def uninstrument(self, **kwargs: Any) -> Any: ...

    _instrumented_methods: ClassVar[Set[Any]]
    def instrumentation_dependencies(self) -> Collection[str]:
        """No instrumented package is required."""
    def _instrument(self, **kwargs: Any) -> None:
        """Wrap each function listed under the keyword methods."""
    def _uninstrument(self, **kwargs: Any) -> None:
        """Put back the functions that were wrapped."""
    def _get_methods(self, kwargs: Dict[str, Any]) -> Any:
        """The functions listed under the keyword methods, or an empty list."""
    def _create_trace_wrapper_method(self) -> Tuple[Callable[..., Any], Callable[..., Any]]:
        """A new pair of tracing wrappers: (synchronous, asynchronous)."""
