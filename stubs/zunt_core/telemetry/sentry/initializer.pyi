"""Sentry start-up, optionally with OpenTelemetry feeding Sentry its spans."""

from typing import Any
from typing import Optional as Optional

import sentry_sdk as sentry_sdk

from zunt_core.telemetry.opentelemetry.initializer import OpenTelemetryConfig as OpenTelemetryConfig
from zunt_core.telemetry.opentelemetry.initializer import init_otel_sentry as init_otel_sentry

class SentryConfig:
    """The Sentry settings: the standard options, an optional OpenTelemetry configuration that feeds Sentry its spans, and any further option by keyword."""

    dsn: Optional[str]
    environment: Optional[str]
    release: Optional[str]
    profiles_sample_rate: Optional[float]
    send_default_pii: Optional[bool]
    traces_sampler: Any
    open_telemetry_config: Optional[OpenTelemetryConfig]
    additional_options: dict[str, Any]
    def __init__(
        self,
        dsn: Optional[str] = None,
        environment: Optional[str] = None,
        release: Optional[str] = None,
        profiles_sample_rate: Optional[float] = None,
        send_default_pii: Optional[bool] = None,
        traces_sampler: Any = None,
        open_telemetry_config: Optional[OpenTelemetryConfig] = None,
        **kwargs: Any,
    ) -> None: ...

def init_sentry(config: Optional[SentryConfig] = None) -> None:
    """Start the Sentry SDK with the configured options; with an OpenTelemetry configuration, first start OpenTelemetry's Sentry path and set the option instrumenter to "otel"."""
