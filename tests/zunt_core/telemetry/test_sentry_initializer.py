"""Sentry start-up and the telemetry entry point, against a Sentry envelope
endpoint and OTLP collectors on 127.0.0.1. Sentry and the tracer provider are
process-wide, so every start-up runs in a fresh interpreter."""

import pytest

from telemetry_servers import run_script
from zunt_core.telemetry import OpenTelemetryConfig, SentryConfig, TelemetryConfig, init_telemetry

SETUP = """
import sentry_sdk
from opentelemetry import trace
from zunt_core.telemetry import OpenTelemetryConfig, SentryConfig, TelemetryConfig, init_telemetry
from zunt_core.telemetry.opentelemetry import initializer as otel
from zunt_core.telemetry.sentry import initializer as sentry

def otel_config(**kwargs):
    kwargs.setdefault("use_httpx", False)
    kwargs.setdefault("use_requests", False)
    return OpenTelemetryConfig(**kwargs)

def client_options(*names):
    options = sentry_sdk.get_client().options
    return {name: options[name] for name in names}
"""


def test_sentry_config_fields():
    otel = OpenTelemetryConfig()
    config = SentryConfig("dsn", "env", "rel", 0.5, True, "sampler", otel)
    assert vars(config) == {
        "dsn": "dsn",
        "environment": "env",
        "release": "rel",
        "profiles_sample_rate": 0.5,
        "send_default_pii": True,
        "traces_sampler": "sampler",
        "open_telemetry_config": otel,
        "additional_options": {},
    }
    standard = ["dsn", "environment", "release", "profiles_sample_rate", "send_default_pii", "traces_sampler"]
    assert vars(SentryConfig()) == dict.fromkeys(standard + ["open_telemetry_config"]) | {"additional_options": {}}


def test_further_keywords_are_additional_options_in_order():
    config = SentryConfig(dsn="d", max_breadcrumbs=7, instrumenter="sentry", debug=False)
    assert config.dsn == "d"
    assert list(config.additional_options.items()) == [("max_breadcrumbs", 7), ("instrumenter", "sentry"), ("debug", False)]
    assert SentryConfig().additional_options == {}
    assert SentryConfig().additional_options is not SentryConfig().additional_options


def test_telemetry_config_fields():
    sentry, otel = SentryConfig(), OpenTelemetryConfig()
    assert vars(TelemetryConfig()) == {"sentry_config": None, "otel_config": None}
    assert vars(TelemetryConfig(sentry, otel)) == {"sentry_config": sentry, "otel_config": otel}


def test_init_telemetry_without_a_config_object_fails_at_once():
    with pytest.raises(AttributeError):
        init_telemetry(None)


def test_init_telemetry_with_nothing_configured_does_nothing():
    before = OpenTelemetryConfig.provider
    assert init_telemetry(TelemetryConfig()) is None
    assert OpenTelemetryConfig.provider is before


def test_init_telemetry_with_an_otel_config_without_endpoint_raises_the_endpoint_error():
    with pytest.raises(ValueError, match="^Endpoint must be set before initializing OpenTelemetry.$"):
        init_telemetry(TelemetryConfig(otel_config=OpenTelemetryConfig()))


@pytest.mark.parametrize("argument", ["", "None"], ids=["no-argument", "none"])
def test_init_sentry_without_a_config_starts_sentry_with_empty_standard_options(argument):
    script = run_script(
        SETUP
        + f"""
sentry.init_sentry({argument})
emit({{
    "options": client_options("dsn", "traces_sampler", "send_default_pii", "profiles_sample_rate", "instrumenter"),
    "started": sentry_sdk.get_client().is_active(),
    "sends": sentry_sdk.get_client().transport is not None,
    "provider": OpenTelemetryConfig.provider is not None,
}})
"""
    )
    assert script.result == {
        "options": {
            "dsn": None,
            "traces_sampler": None,
            "send_default_pii": None,
            "profiles_sample_rate": None,
            "instrumenter": "sentry",
        },
        "started": True,
        "sends": False,
        "provider": False,
    }


def test_events_reach_the_sentry_project(sentry_endpoint):
    run_script(
        SETUP
        + """
sentry.init_sentry(SentryConfig(dsn=DSN, environment="staging", release="zunt@1.2", send_default_pii=False))
sentry_sdk.capture_message("hello from the test")
sentry_sdk.flush()
""",
        DSN=sentry_endpoint.dsn,
    )
    [event] = sentry_endpoint.items("event")
    assert event["message"] == "hello from the test"
    assert event["environment"] == "staging"
    assert event["release"] == "zunt@1.2"
    assert sentry_endpoint.requests[0][0] == "/api/42/envelope/"


def test_opentelemetry_feeds_sentry_its_spans(sentry_endpoint):
    script = run_script(
        SETUP
        + """
from opentelemetry.propagate import get_global_textmap
from sentry_sdk.integrations.opentelemetry import SentryPropagator, SentrySpanProcessor

sentry.init_sentry(SentryConfig(dsn=DSN, open_telemetry_config=otel_config(), traces_sample_rate=1.0))
provider = OpenTelemetryConfig.provider
emit({
    "options": client_options("instrumenter", "traces_sample_rate"),
    "processors": [type(p).__name__ for p in provider._active_span_processor._span_processors],
    "global": trace.get_tracer_provider() is provider,
    "propagator": isinstance(get_global_textmap(), SentryPropagator),
})
with trace.get_tracer("app").start_as_current_span("checkout"):
    with trace.get_tracer("app").start_as_current_span("charge card"):
        pass
sentry_sdk.flush()
""",
        DSN=sentry_endpoint.dsn,
    )
    assert script.result == {
        "options": {"instrumenter": "otel", "traces_sample_rate": 1.0},
        "processors": ["SentrySpanProcessor"],
        "global": True,
        "propagator": True,
    }
    [transaction] = sentry_endpoint.items("transaction")
    assert transaction["transaction"] == "checkout"
    assert [span["description"] for span in transaction["spans"]] == ["charge card"]


def test_additional_options_come_last_and_may_replace_the_instrumenter():
    script = run_script(
        SETUP
        + """
sentry.init_sentry(SentryConfig(open_telemetry_config=otel_config(), instrumenter="sentry", max_breadcrumbs=7))
emit({
    "options": client_options("instrumenter", "max_breadcrumbs"),
    "otel_ran": OpenTelemetryConfig.provider is not None,
})
"""
    )
    assert script.result == {"options": {"instrumenter": "sentry", "max_breadcrumbs": 7}, "otel_ran": True}


def test_sentry_errors_pass_through():
    script = run_script(
        SETUP
        + """
try:
    sentry.init_sentry(SentryConfig(no_such_option=1))
except TypeError as error:
    emit(str(error))
"""
    )
    assert script.result == "Unknown option 'no_such_option'"


def test_sentry_is_not_started_when_the_opentelemetry_step_fails(sentry_endpoint):
    script = run_script(
        SETUP
        + """
def broken():
    raise LookupError("no processor")

otel.SentrySpanProcessor = broken
try:
    sentry.init_sentry(SentryConfig(dsn=DSN, open_telemetry_config=otel_config()))
except LookupError as error:
    emit([str(error), sentry_sdk.get_client().is_active(), OpenTelemetryConfig.provider is not None])
""",
        DSN=sentry_endpoint.dsn,
    )
    assert script.result == ["no processor", False, True]


def test_init_telemetry_with_both_configs_starts_only_sentry(sentry_endpoint, otlp_http):
    script = run_script(
        SETUP
        + """
init_telemetry(TelemetryConfig(sentry_config=SentryConfig(dsn=DSN), otel_config=otel_config(endpoint=ENDPOINT)))
emit([sentry_sdk.get_client().is_active(), OpenTelemetryConfig.provider is None])
""",
        DSN=sentry_endpoint.dsn,
        ENDPOINT=otlp_http.endpoint,
    )
    assert script.result == [True, True]


def test_init_telemetry_with_an_otel_config_exports_over_otlp(otlp_http):
    script = run_script(
        SETUP
        + """
init_telemetry(TelemetryConfig(otel_config=otel_config(endpoint=ENDPOINT, use_grpc=False)))
with trace.get_tracer("app").start_as_current_span("handled"):
    pass
OpenTelemetryConfig.provider.force_flush()
emit(sentry_sdk.get_client().is_active())
""",
        ENDPOINT=otlp_http.endpoint,
    )
    assert script.result is False
    assert [span["name"] for span in otlp_http.wait_for(1)] == ["handled"]
