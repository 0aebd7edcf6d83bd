"""The road of one request through zunt_core.

First a tiny request handler reads typed settings from the environment with
the configuration service and turns a failed look-up into the library's own
errors. Then the authentication component starts on the PostgreSQL database
that DATABASE_AUTHENTICATION_URL names, and one request goes its whole way: a
client is registered, a user created in it, the user logs in, the access token
is verified, revoked, and refused when presented again. A log line with
personal data goes through the regex masking handler, and last, the request
handler is traced and the span that reaches a local OTLP/HTTP collector printed.
"""

import logging
import os
import secrets
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import TypeVar

from jose import JWTError
from opentelemetry.proto.collector.trace.v1.trace_service_pb2 import (
    ExportTraceServiceRequest,
    ExportTraceServiceResponse,
)

from zunt_core.authentication import AuthenticationDbSettings, init_auth_services
from zunt_core.authentication import service as auth
from zunt_core.exception import UnauthorizedException, ZuntException
from zunt_core.exception.base import NotFoundException
from zunt_core.logger.regex_pii_logger_handler import init_regex_pii_logging_handler
from zunt_core.services import ConfigService
from zunt_core.telemetry import OpenTelemetryConfig, TelemetryConfig, init_telemetry
from zunt_core.telemetry.opentelemetry.instrument.functions import ZUNTFunctionsInstrumentor

S = TypeVar("S")


def handle_request(user_id: str) -> dict[str, object]:
    """A tiny request handler: settings from the environment, errors with status codes."""
    known_users = ConfigService.get_list("EXAMPLE_KNOWN_USERS", default=[])
    if not ConfigService.get_bool("EXAMPLE_AUTH_ENABLED", default=True):
        raise UnauthorizedException()
    if user_id not in known_users:
        raise NotFoundException(f"User {user_id} not found")
    return {"user": user_id, "page_size": ConfigService.get_int("EXAMPLE_PAGE_SIZE", default=20)}


def configuration_step() -> None:
    os.environ.setdefault("EXAMPLE_KNOWN_USERS", "ada, grace ,linus")
    os.environ.setdefault("EXAMPLE_PAGE_SIZE", "50")
    os.environ.setdefault("EXAMPLE_AUTH_ENABLED", "yes")

    for user in ("grace", "bob"):
        try:
            print("200", handle_request(user))
        except ZuntException as err:
            print(err.status_code, type(err).__name__, str(err))

    try:
        ConfigService.require_as("EXAMPLE_KNOWN_USERS", int)
    except ValueError as err:
        print("config error:", err, "| caused by:", repr(err.__cause__))


def published(slot: S | None) -> S:
    """A service slot of zunt_core.authentication.service, read when it is used."""
    if slot is None:
        raise RuntimeError("the authentication services are not initialised")
    return slot


def authentication_step() -> None:
    # Settings from the environment; a signing key of this run's own when none is configured.
    os.environ.setdefault("AUTH_SECRET_KEY", secrets.token_urlsafe(32))
    init_auth_services(AuthenticationDbSettings())

    run = secrets.token_hex(4)
    client = published(auth.create_client_service).create_client(f"example-client-{run}")
    print(f"client {client.name} registered; its API key (shown once): {client.api_key}")

    user = published(auth.create_user_service).create_user(client.api_key, f"ada-{run}")
    print(f"user {user.identifier} created; the user key (shown once): {user.secret}")

    token = published(auth.authenticate_user_service).authenticate_user(client.api_key, user.identifier, user.secret)
    print(f"logged in: {token.token_type} token {token.id}, expires {token.expires_at:%Y-%m-%d %H:%M}")

    user_id = published(auth.verify_token_service).verify_token_and_get_user_id(client.api_key, token.token)
    print(f"token verified: it belongs to user {user_id}")

    print("token revoked:", published(auth.revoke_token_service).revoke_token(client.api_key, token.token))
    try:
        published(auth.verify_token_service).verify_token_and_get_user_id(client.api_key, token.token)
    except JWTError as err:
        print(f"verified again: refused with {type(err).__name__}: {err}")


def log_with_personal_data_masked() -> None:
    """A log line whose e-mail address, phone number and identity-card number
    the regex handler masks before the console handler after it prints it."""
    logger = logging.getLogger("example.refunds")
    logger.setLevel(logging.INFO)
    logger.propagate = False
    init_regex_pii_logging_handler("example.refunds", pii_regex_process_enabled=True)
    console = logging.StreamHandler(sys.stdout)
    console.setFormatter(logging.Formatter("log: %(levelname)s %(name)s: %(message)s"))
    logger.addHandler(console)  # after the masking handler: it prints the masked text
    logger.info("refund sent to %s, phone %s, NIK %s", "budi.santoso@example.com", "+62 812-3456-7890",
                "3201019931900001")


class TraceCollector(ThreadingHTTPServer):
    """A minimal OTLP/HTTP trace collector on 127.0.0.1: each span it receives
    goes to `received`, as (service name, span name, attributes)."""

    def __init__(self) -> None:
        super().__init__(("127.0.0.1", 0), CollectorRequest)
        self.received: list[tuple[str, str, dict[str, str]]] = []
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @property
    def endpoint(self) -> str:
        return f"http://127.0.0.1:{self.server_address[1]}/v1/traces"


class CollectorRequest(BaseHTTPRequestHandler):
    def do_POST(self) -> None:
        assert isinstance(self.server, TraceCollector)
        body = self.rfile.read(int(self.headers["Content-Length"]))
        for resource_spans in ExportTraceServiceRequest.FromString(body).resource_spans:
            resource = {a.key: a.value.string_value for a in resource_spans.resource.attributes}
            for scope_spans in resource_spans.scope_spans:
                for span in scope_spans.spans:
                    attributes = {a.key: a.value.string_value for a in span.attributes}
                    self.server.received.append((resource["service.name"], span.name, attributes))
        reply = ExportTraceServiceResponse().SerializeToString()
        self.send_response(200)
        self.send_header("Content-Type", "application/x-protobuf")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, format: str, *args: object) -> None:
        pass


def tracing_step() -> None:
    """Starts tracing with an OTLP/HTTP exporter, traces handle_request and
    prints the span the collector receives."""
    collector = TraceCollector()
    otel = OpenTelemetryConfig(
        endpoint=collector.endpoint,
        use_grpc=False,
        attributes={"service.name": "zunt-example"},
        use_httpx=False,
        use_requests=False,
    )
    init_telemetry(TelemetryConfig(otel_config=otel))
    instrumentor = ZUNTFunctionsInstrumentor()
    instrumentor.instrument(methods=[handle_request])
    handle_request("ada")
    assert OpenTelemetryConfig.provider is not None
    OpenTelemetryConfig.provider.force_flush()
    for service_name, span_name, attributes in collector.received:
        print("span", span_name, attributes, "from", service_name)
    instrumentor.uninstrument()
    collector.shutdown()


if __name__ == "__main__":
    configuration_step()
    authentication_step()
    log_with_personal_data_masked()
    tracing_step()
