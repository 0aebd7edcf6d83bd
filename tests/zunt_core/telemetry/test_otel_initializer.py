"""OpenTelemetry start-up: the shared provider and its resource, the OTLP
exporters against real collectors on 127.0.0.1, Sentry's hand-over, and the
library instrumentations. Every set-up runs in a fresh interpreter: the
provider and the global registrations are process-wide."""

import pytest

from telemetry_servers import run_script
from zunt_core.telemetry import FastAPIConfig, OpenTelemetryConfig
from zunt_core.telemetry.opentelemetry import initializer as otel_module
from zunt_core.telemetry.opentelemetry.initializer import init_otel_with_external_exporter

# Imports of every script; `otel` is the module under test.
SETUP = """
from opentelemetry import trace
from zunt_core.telemetry import FastAPIConfig, OpenTelemetryConfig
from zunt_core.telemetry.opentelemetry import initializer as otel

def config(**kwargs):
    kwargs.setdefault("use_httpx", False)
    kwargs.setdefault("use_requests", False)
    return OpenTelemetryConfig(**kwargs)

def span(name, tracer_name="test"):
    with trace.get_tracer(tracer_name).start_as_current_span(name):
        pass
"""


def test_defaults():
    config = OpenTelemetryConfig()
    assert vars(config) == {
        "endpoint": "",
        "trace_sampler": None,
        "headers": None,
        "attributes": {},
        "use_grpc": True,
        "fastapi_config": None,
        "use_langchain": False,
        "use_httpx": True,
        "use_requests": True,
    }
    assert OpenTelemetryConfig().attributes is not config.attributes
    assert "provider" not in vars(config) and config.provider is OpenTelemetryConfig.provider


def test_arguments_are_stored_unchanged_in_order():
    attributes, headers, app = {}, {"k": "v"}, object()
    fastapi_config = FastAPIConfig(app)
    values = ["host:4317", "sampler", headers, attributes, 0, fastapi_config, 1, "", None]
    config = OpenTelemetryConfig(*values)
    assert list(vars(config).values()) == values
    assert config.attributes is attributes and config.headers is headers
    assert fastapi_config.app is app and FastAPIConfig(app=app).app is app
    # The caller's map is kept, not copied: later changes are seen.
    attributes["late"] = "yes"
    assert config.attributes == {"late": "yes"}


@pytest.mark.parametrize("endpoint", ["", None])
def test_external_exporter_needs_an_endpoint(endpoint):
    before = OpenTelemetryConfig.provider
    with pytest.raises(ValueError) as info:
        init_otel_with_external_exporter(OpenTelemetryConfig(endpoint=endpoint))
    assert str(info.value) == "Endpoint must be set before initializing OpenTelemetry."
    assert OpenTelemetryConfig.provider is before


def test_module_binds_both_exporters():
    from opentelemetry.exporter.otlp.proto.grpc.trace_exporter import OTLPSpanExporter as Grpc
    from opentelemetry.exporter.otlp.proto.http.trace_exporter import OTLPSpanExporter as Http

    assert otel_module.OTLPSpanExporter is Grpc
    assert otel_module.OTLPHTTPSpanExporter is Http


def test_first_and_later_set_up_share_one_provider_and_merge_the_resource(otlp_http):
    script = run_script(
        SETUP
        + """
import contextlib, io
from opentelemetry.sdk.trace.sampling import ALWAYS_ON, TraceIdRatioBased

sampler = TraceIdRatioBased(1.0)
printed = io.StringIO()
with contextlib.redirect_stdout(printed):
    otel.init_otel_with_external_exporter(
        config(endpoint=ENDPOINT, use_grpc=False, trace_sampler=sampler, attributes={"a": "1", "b": "2"}))
provider = OpenTelemetryConfig.provider
emit({
    "printed": printed.getvalue(),
    "resource": dict(provider.resource.attributes),
    "own_sampler": provider.sampler is sampler,
    "global": trace.get_tracer_provider() is provider,
})
early = trace.get_tracer("early")
span("first")

with contextlib.redirect_stdout(printed):
    otel.init_otel_with_external_exporter(
        config(endpoint=ENDPOINT, use_grpc=False, trace_sampler=ALWAYS_ON, attributes={"b": "3", "c": "4"}))
emit({
    "printed": printed.getvalue(),
    "resource": dict(OpenTelemetryConfig.provider.resource.attributes),
    "same_provider": OpenTelemetryConfig.provider is provider,
    "own_sampler": provider.sampler is sampler,
})
span("second")
with early.start_as_current_span("second, early tracer"):
    pass
provider.force_flush()
""",
        ENDPOINT=otlp_http.endpoint,
    )
    first, second = script.results
    assert first == {"printed": "", "resource": {"a": "1", "b": "2"}, "own_sampler": True, "global": True}
    assert second == {
        "printed": "Current resource attributes: {'a': '1', 'b': '2'}\n",
        "resource": {"a": "1", "b": "3", "c": "4"},
        "same_provider": True,
        "own_sampler": True,
    }
    spans = otlp_http.wait_for(5)
    by_name = {}
    for span in spans:
        by_name.setdefault(span["name"], []).append(span["resource"])
    # One processor per set-up: after the second, every span is exported twice.
    assert by_name["first"] == [{"a": "1", "b": "2"}]
    assert by_name["second"] == [{"a": "1", "b": "3", "c": "4"}] * 2
    # A tracer obtained before the second set-up keeps the resource it was made with.
    assert by_name["second, early tracer"] == [{"a": "1", "b": "2"}] * 2


@pytest.mark.parametrize("headers", [{"x-zunt-token": "secret-1"}, None], ids=["headers", "no-headers"])
@pytest.mark.parametrize("transport", ["grpc", "http"])
def test_exporter_sends_to_the_endpoint_with_the_headers(transport, headers, otlp_grpc, otlp_http):
    collector = otlp_grpc if transport == "grpc" else otlp_http
    other = otlp_http if transport == "grpc" else otlp_grpc
    run_script(
        SETUP
        + """
otel.init_otel_with_external_exporter(config(endpoint=ENDPOINT, use_grpc=USE_GRPC, headers=HEADERS))
span("exported")
OpenTelemetryConfig.provider.force_flush()
""",
        ENDPOINT=collector.endpoint,
        USE_GRPC=transport == "grpc",
        HEADERS=headers,
    )
    spans = collector.wait_for(1)
    assert [s["name"] for s in spans] == ["exported"]
    assert spans[0]["resource"] == {}
    sent = collector.headers[0]
    if headers:
        assert sent["x-zunt-token"] == "secret-1"
    else:
        assert "x-zunt-token" not in sent
    assert other.spans == []


def test_every_set_up_adds_an_exporter_and_each_receives_every_span(otlp_grpc, otlp_http):
    run_script(
        SETUP
        + """
otel.init_otel_with_external_exporter(config(endpoint=GRPC))
span("one")
otel.init_otel_with_external_exporter(config(endpoint=HTTP, use_grpc=False))
span("two")
OpenTelemetryConfig.provider.force_flush()
""",
        GRPC=otlp_grpc.endpoint,
        HTTP=otlp_http.endpoint,
    )
    assert sorted(s["name"] for s in otlp_grpc.wait_for(2)) == ["one", "two"]
    assert sorted(s["name"] for s in otlp_http.wait_for(1)) == ["two"]


@pytest.mark.parametrize("use_grpc", [True, False])
def test_unreachable_collector_does_not_disturb_the_application(use_grpc, closed_port):
    script = run_script(
        SETUP
        + """
import os
os.environ["OTEL_EXPORTER_OTLP_TIMEOUT"] = "1"  # the exporter's own retries end within a second
otel.init_otel_with_external_exporter(config(endpoint=f"http://127.0.0.1:{PORT}/v1/traces", use_grpc=USE_GRPC))
with trace.get_tracer("test").start_as_current_span("lost") as current:
    emit(current.is_recording())
""",
        PORT=closed_port,
        USE_GRPC=use_grpc,
    )
    assert script.result is True


def test_errors_pass_through_and_steps_done_stay_done():
    script = run_script(
        SETUP
        + """
def no_exporter(**kwargs):
    raise LookupError("no exporter")

otel.OTLPHTTPSpanExporter = no_exporter
from opentelemetry.instrumentation.requests import RequestsInstrumentor
try:
    otel.init_otel_with_external_exporter(config(endpoint="http://127.0.0.1:1/v1/traces", use_grpc=False,
                                                 use_requests=True))
except LookupError as error:
    emit(str(error))
emit({
    "provider_made": OpenTelemetryConfig.provider is not None,
    "registered": trace.get_tracer_provider() is OpenTelemetryConfig.provider,
    "requests_instrumented": RequestsInstrumentor().is_instrumented_by_opentelemetry,
})
""",
    )
    assert script.results == [
        "no exporter",
        {"provider_made": True, "registered": False, "requests_instrumented": False},
    ]


def test_sentry_hand_over_needs_no_endpoint_and_makes_no_exporter():
    script = run_script(
        SETUP
        + """
from opentelemetry.propagate import get_global_textmap
from sentry_sdk.integrations.opentelemetry import SentryPropagator

otel.init_otel_sentry(config(attributes={"service.name": "svc"}))
provider = OpenTelemetryConfig.provider
emit({
    "processors": [type(p).__name__ for p in provider._active_span_processor._span_processors],
    "global": trace.get_tracer_provider() is provider,
    "propagator": isinstance(get_global_textmap(), SentryPropagator),
    "resource": dict(provider.resource.attributes),
})
""",
    )
    assert script.result == {
        "processors": ["SentrySpanProcessor"],
        "global": True,
        "propagator": True,
        "resource": {"service.name": "svc"},
    }


def test_instrumentations_run_in_order_each_when_switched_on():
    script = run_script(
        SETUP
        + """
calls = []
otel._init_fastapi = lambda app: calls.append(("fastapi", app))
otel._init_langchain = lambda: calls.append("langchain")
otel._init_httpx = lambda: calls.append("httpx")
otel._init_requests = lambda: calls.append("requests")

otel.init_otel_sentry(OpenTelemetryConfig(fastapi_config=FastAPIConfig("the app"), use_langchain=True))
emit(calls)
calls.clear()
otel.init_otel_sentry(OpenTelemetryConfig())
emit(calls)
calls.clear()
otel.init_otel_sentry(OpenTelemetryConfig(use_httpx=False, use_requests=0))
emit(calls)
""",
    )
    assert script.results == [
        [["fastapi", "the app"], "langchain", "httpx", "requests"],
        ["httpx", "requests"],
        [],
    ]


def test_switched_on_instrumentations_trace_real_calls(otlp_http):
    script = run_script(
        SETUP
        + """
import httpx, requests
from fastapi import FastAPI
from fastapi.testclient import TestClient
from opentelemetry.instrumentation.langchain import LangchainInstrumentor

app = FastAPI()

@app.get("/hello")
def hello():
    return {"hello": "world"}

otel.init_otel_with_external_exporter(OpenTelemetryConfig(
    endpoint=ENDPOINT, use_grpc=False, fastapi_config=FastAPIConfig(app), use_langchain=True))
requests.post(ENDPOINT, data=b"")
httpx.post(ENDPOINT, content=b"")
emit(TestClient(app).get("/hello").json())
emit(LangchainInstrumentor().is_instrumented_by_opentelemetry)
OpenTelemetryConfig.provider.force_flush()
""",
        ENDPOINT=otlp_http.endpoint,
    )
    assert script.results == [{"hello": "world"}, True]
    scopes = {span["scope"] for span in otlp_http.wait_for(4)}
    assert {
        "opentelemetry.instrumentation.requests",
        "opentelemetry.instrumentation.httpx",
        "opentelemetry.instrumentation.fastapi",
    } <= scopes
    assert any(span["attributes"].get("http.route") == "/hello" for span in otlp_http.spans)


def test_all_switches_off_registers_the_provider_and_instruments_nothing():
    script = run_script(
        SETUP
        + """
from fastapi import FastAPI
from opentelemetry.instrumentation.httpx import HTTPXClientInstrumentor
from opentelemetry.instrumentation.langchain import LangchainInstrumentor
from opentelemetry.instrumentation.requests import RequestsInstrumentor

otel.init_otel_with_external_exporter(config(endpoint="http://127.0.0.1:1/v1/traces", use_grpc=False))
emit({
    "global": trace.get_tracer_provider() is OpenTelemetryConfig.provider,
    "instrumented": [i().is_instrumented_by_opentelemetry
                     for i in (LangchainInstrumentor, HTTPXClientInstrumentor, RequestsInstrumentor)],
})
""",
    )
    assert script.result == {"global": True, "instrumented": [False, False, False]}
