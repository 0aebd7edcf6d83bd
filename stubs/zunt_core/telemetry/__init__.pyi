"""Telemetry: start-up of OpenTelemetry tracing and of Sentry."""

from zunt_core.telemetry.initializer import TelemetryConfig as TelemetryConfig
from zunt_core.telemetry.initializer import init_telemetry as init_telemetry
from zunt_core.telemetry.opentelemetry.initializer import FastAPIConfig as FastAPIConfig
from zunt_core.telemetry.opentelemetry.initializer import OpenTelemetryConfig as OpenTelemetryConfig
from zunt_core.telemetry.sentry.initializer import SentryConfig as SentryConfig

__all__ = ["OpenTelemetryConfig", "SentryConfig", "TelemetryConfig", "init_telemetry", "FastAPIConfig"]
