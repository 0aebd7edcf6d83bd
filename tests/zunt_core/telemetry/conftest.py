"""Fixtures of the telemetry tests: real servers on 127.0.0.1 (telemetry_servers)."""

import pathlib
import sys

# The servers and the modules the tests trace live beside the tests.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import socket

import pytest

from telemetry_servers import start_otlp_grpc, start_otlp_http, start_sentry


@pytest.fixture
def otlp_http():
    collector, stop = start_otlp_http()
    yield collector
    stop()


@pytest.fixture
def otlp_http_2():
    collector, stop = start_otlp_http()
    yield collector
    stop()


@pytest.fixture
def otlp_grpc():
    collector, stop = start_otlp_grpc()
    yield collector
    stop()


@pytest.fixture
def sentry_endpoint():
    sentry, stop = start_sentry()
    yield sentry
    stop()


@pytest.fixture
def closed_port():
    """A port on 127.0.0.1 where nothing listens."""
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    port = sock.getsockname()[1]
    sock.close()
    return port
