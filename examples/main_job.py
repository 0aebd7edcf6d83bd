"""The road of one request through zunt_core, as far as the library is built.

Reads typed settings from the environment with the configuration service and
turns a failed look-up into the library's own errors, the way an application's
request handler would. Then traces the request handler and prints the span that
reaches a local OTLP/HTTP collector.
"""

import os

from zunt_core.exception import UnauthorizedException, ZuntException
from zunt_core.exception.base import NotFoundException
from zunt_core.services import ConfigService


def handle_request(user_id: str) -> dict:
    """A tiny request handler: settings from the environment, errors with status codes."""
    known_users = ConfigService.get_list("EXAMPLE_KNOWN_USERS", default=[])
    if not ConfigService.get_bool("EXAMPLE_AUTH_ENABLED", default=True):
        raise UnauthorizedException()
    if user_id not in known_users:
        raise NotFoundException(f"User {user_id} not found")
    return {"user": user_id, "page_size": ConfigService.get_int("EXAMPLE_PAGE_SIZE", default=20)}


def main() -> None:
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


# --- Tracing: the handler's span, exported over OTLP/HTTP to a collector the example starts itself ---


def start_trace_collector():
    """A minimal OTLP/HTTP trace collector on 127.0.0.1: returns its endpoint,
    the list its received spans go to, and the server (to shut it down)."""
    import threading
    from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

    from opentelemetry.proto.collector.trace.v1.trace_service_pb2 import (
        ExportTraceServiceRequest,
        ExportTraceServiceResponse,
    )

    received = []

    class Collector(BaseHTTPRequestHandler):
        def do_POST(self):
            body = self.rfile.read(int(self.headers["Content-Length"]))
            for resource_spans in ExportTraceServiceRequest.FromString(body).resource_spans:
                resource = {a.key: a.value.string_value for a in resource_spans.resource.attributes}
                for scope_spans in resource_spans.scope_spans:
                    received.extend((resource, span) for span in scope_spans.spans)
            reply = ExportTraceServiceResponse().SerializeToString()
            self.send_response(200)
            self.send_header("Content-Type", "application/x-protobuf")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = ThreadingHTTPServer(("127.0.0.1", 0), Collector)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"http://127.0.0.1:{server.server_address[1]}/v1/traces", received, server


def tracing_step() -> None:
    """Starts tracing with an OTLP/HTTP exporter, traces handle_request and
    prints the span the collector receives."""
    from zunt_core.telemetry import OpenTelemetryConfig, TelemetryConfig, init_telemetry
    from zunt_core.telemetry.opentelemetry.instrument.functions import ZUNTFunctionsInstrumentor

    endpoint, received, server = start_trace_collector()
    otel = OpenTelemetryConfig(
        endpoint=endpoint,
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
    for resource, span in received:
        attributes = {a.key: a.value.string_value for a in span.attributes}
        print("span", span.name, attributes, "from", resource["service.name"])
    instrumentor.uninstrument()
    server.shutdown()


if __name__ == "__main__":
    main()
    tracing_step()
