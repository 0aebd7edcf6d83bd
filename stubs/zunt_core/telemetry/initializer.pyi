"""The telemetry start-up call: Sentry, or OpenTelemetry with an OTLP exporter, as configured."""

from typing import Optional as Optional

from zunt_core.telemetry.opentelemetry.initializer import OpenTelemetryConfig as OpenTelemetryConfig
from zunt_core.telemetry.opentelemetry.initializer import (
    init_otel_with_external_exporter as init_otel_with_external_exporter,
)
from zunt_core.telemetry.sentry.initializer import SentryConfig as SentryConfig
from zunt_core.telemetry.sentry.initializer import init_sentry as init_sentry

class TelemetryConfig:
    """What init_telemetry starts: Sentry, OpenTelemetry, or neither."""

    sentry_config: Optional[SentryConfig]
    otel_config: Optional[OpenTelemetryConfig]
    def __init__(
        self, sentry_config: Optional[SentryConfig] = None, otel_config: Optional[OpenTelemetryConfig] = None
    ) -> None: ...

def init_telemetry(config: TelemetryConfig) -> None:
    """Start telemetry: Sentry when sentry_config is set (OpenTelemetry then only through it), otherwise OpenTelemetry with an OTLP exporter when otel_config is set, otherwise nothing."""
