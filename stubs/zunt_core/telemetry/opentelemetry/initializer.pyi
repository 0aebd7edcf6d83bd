"""OpenTelemetry start-up: the shared tracer provider, an OTLP exporter or Sentry's span processor, and the library instrumentations."""

from typing import ClassVar
from typing import Dict as Dict
from typing import Optional as Optional

from fastapi import FastAPI as FastAPI
from opentelemetry import trace as trace
from opentelemetry.exporter.otlp.proto.grpc.trace_exporter import OTLPSpanExporter as OTLPSpanExporter
from opentelemetry.exporter.otlp.proto.http.trace_exporter import OTLPSpanExporter as OTLPHTTPSpanExporter
from opentelemetry.instrumentation.fastapi import FastAPIInstrumentor as FastAPIInstrumentor
from opentelemetry.instrumentation.httpx import HTTPXClientInstrumentor as HTTPXClientInstrumentor
from opentelemetry.instrumentation.langchain import LangchainInstrumentor as LangchainInstrumentor
from opentelemetry.instrumentation.requests import RequestsInstrumentor as RequestsInstrumentor
from opentelemetry.propagate import set_global_textmap as set_global_textmap
from opentelemetry.sdk.resources import Resource as Resource
from opentelemetry.sdk.trace import TracerProvider as TracerProvider
from opentelemetry.sdk.trace.export import BatchSpanProcessor as BatchSpanProcessor
from opentelemetry.sdk.trace.sampling import Sampler as Sampler
from sentry_sdk.integrations.opentelemetry import SentryPropagator as SentryPropagator
from sentry_sdk.integrations.opentelemetry import SentrySpanProcessor as SentrySpanProcessor

class FastAPIConfig:
    """The web application whose requests are traced."""

    app: FastAPI
    def __init__(self, app: FastAPI) -> None: ...

class OpenTelemetryConfig:
    """One tracing configuration: the OTLP collector endpoint and headers, resource attributes, sampler, and the instrumentations to switch on. The class field `provider` holds the process-wide tracer provider."""

    provider: ClassVar[Optional[TracerProvider]]
    endpoint: str
    trace_sampler: Optional[Sampler]
    headers: Optional[Dict[str, str]]
    attributes: Dict[str, str]
    use_grpc: bool
    fastapi_config: Optional[FastAPIConfig]
    use_langchain: bool
    use_httpx: bool
    use_requests: bool
    def __init__(
        self,
        endpoint: str = "",
        trace_sampler: Optional[Sampler] = None,
        headers: Optional[Dict[str, str]] = None,
        attributes: Optional[Dict[str, str]] = None,
        use_grpc: bool = True,
        fastapi_config: Optional[FastAPIConfig] = None,
        use_langchain: bool = False,
        use_httpx: bool = True,
        use_requests: bool = True,
    ) -> None: ...

def init_otel_with_external_exporter(initializer: OpenTelemetryConfig) -> None:
    """Start tracing with a batch span processor on an OTLP span exporter (gRPC, or HTTP when use_grpc is false) to the configured endpoint, register the provider globally and switch on the configured instrumentations."""

def init_otel_sentry(initializer: OpenTelemetryConfig) -> None:
    """Start tracing for Sentry: Sentry's span processor on the shared provider, Sentry's propagator as the global text-map propagator, and the configured instrumentations."""

def _setup_tracer_provider(initializer: OpenTelemetryConfig) -> None: ...
def _auto_initialize_services(initializer: OpenTelemetryConfig) -> None: ...
def _init_fastapi(app: FastAPI) -> None: ...
def _init_langchain() -> None: ...
def _init_httpx() -> None: ...
def _init_requests() -> None: ...
