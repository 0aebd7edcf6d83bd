"""Real local servers for the telemetry tests, all on 127.0.0.1: an OTLP/HTTP
trace collector, an OTLP/gRPC trace collector, a Sentry envelope endpoint. The
code under test runs in fresh interpreters (the tracer provider and Sentry are
process-wide; see run_script) and sends to them."""

import gzip
import json
import textwrap
import threading
import time
import zlib
from concurrent import futures
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import grpc
from opentelemetry.proto.collector.trace.v1 import trace_service_pb2, trace_service_pb2_grpc

from fresh import run_fresh


def any_value(value):
    kind = value.WhichOneof("value")
    return None if kind is None else getattr(value, kind)


def decode_spans(request):
    """The spans of an ExportTraceServiceRequest as plain dicts."""
    spans = []
    for resource_spans in request.resource_spans:
        resource = {a.key: any_value(a.value) for a in resource_spans.resource.attributes}
        for scope_spans in resource_spans.scope_spans:
            for span in scope_spans.spans:
                spans.append(
                    {
                        "name": span.name,
                        "scope": scope_spans.scope.name,
                        "attributes": {a.key: any_value(a.value) for a in span.attributes},
                        "resource": resource,
                        "span_id": span.span_id.hex(),
                        "parent_span_id": span.parent_span_id.hex(),
                    }
                )
    return spans


class Collector:
    """What a trace collector received: decoded spans and the headers of each request."""

    def __init__(self):
        self.lock = threading.Lock()
        self.spans = []
        self.headers = []

    def record(self, request, headers):
        with self.lock:
            self.spans.extend(decode_spans(request))
            self.headers.append(headers)

    def wait_for(self, count, timeout=10.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                if len(self.spans) >= count:
                    return list(self.spans)
            time.sleep(0.02)
        with self.lock:
            return list(self.spans)

    def names(self):
        with self.lock:
            return sorted(s["name"] for s in self.spans)


class _OTLPHandler(BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.headers.get("Content-Encoding") == "gzip":
            body = gzip.decompress(body)
        request = trace_service_pb2.ExportTraceServiceRequest.FromString(body)
        self.server.state.record(request, {k.lower(): v for k, v in self.headers.items()})
        reply = trace_service_pb2.ExportTraceServiceResponse().SerializeToString()
        self.send_response(200)
        self.send_header("Content-Type", "application/x-protobuf")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


class _TraceServicer(trace_service_pb2_grpc.TraceServiceServicer):
    def __init__(self, collector):
        self.collector = collector

    def Export(self, request, context):
        self.collector.record(request, dict(context.invocation_metadata()))
        return trace_service_pb2.ExportTraceServiceResponse()


class _HTTPServer:
    """A threaded HTTP server on 127.0.0.1, on a free port, serving `handler`
    with `state` as the handler's server.state."""

    def __init__(self, handler, state):
        self.server = ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.server.daemon_threads = True
        self.server.state = state
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def start_otlp_http():
    """An OTLP/HTTP collector; returns (collector, stop). The collector's
    endpoint is the full URL of its traces path."""
    collector = Collector()
    server = _HTTPServer(_OTLPHandler, collector)
    collector.endpoint = f"http://127.0.0.1:{server.port}/v1/traces"
    return collector, server.stop


def start_otlp_grpc():
    """An OTLP/gRPC collector (TraceService, no TLS); returns (collector, stop)."""
    collector = Collector()
    server = grpc.server(futures.ThreadPoolExecutor(max_workers=2))
    trace_service_pb2_grpc.add_TraceServiceServicer_to_server(_TraceServicer(collector), server)
    port = server.add_insecure_port("127.0.0.1:0")
    server.start()
    collector.endpoint = f"http://127.0.0.1:{port}"
    return collector, lambda: server.stop(grace=None)


def parse_envelope(body):
    """The items of a Sentry envelope: (item header, payload) pairs."""
    lines = body.split(b"\n", 1)
    rest = lines[1] if len(lines) > 1 else b""
    items = []
    while rest.strip():
        header_line, rest = rest.split(b"\n", 1)
        header = json.loads(header_line)
        length = header.get("length")
        if length is None:
            payload, _, rest = rest.partition(b"\n")
        else:
            payload, rest = rest[:length], rest[length + 1 :]
        try:
            payload = json.loads(payload)
        except ValueError:
            pass
        items.append((header, payload))
    return items


class _SentryHandler(BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        encoding = self.headers.get("Content-Encoding")
        if encoding == "gzip":
            body = gzip.decompress(body)
        elif encoding == "deflate":
            body = zlib.decompress(body)
        with self.server.state.lock:
            self.server.state.requests.append((self.path, parse_envelope(body)))
        self.send_response(200)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"{}")

    def log_message(self, *args):
        pass


class SentryEndpoint:
    """The envelopes a Sentry project received."""

    def __init__(self):
        self.lock = threading.Lock()
        self.requests = []

    def items(self, kind, count=1, timeout=10.0):
        """The payloads of the received items of a kind, once there are
        `count` of them (or the time is up)."""
        deadline = time.monotonic() + timeout
        while True:
            with self.lock:
                found = [p for _, items in self.requests for header, p in items if header.get("type") == kind]
            if len(found) >= count or time.monotonic() >= deadline:
                return found
            time.sleep(0.02)


def start_sentry():
    """A Sentry envelope endpoint; returns (endpoint, stop). Its dsn names
    project 42 on it."""
    sentry = SentryEndpoint()
    server = _HTTPServer(_SentryHandler, sentry)
    sentry.dsn = f"http://public@127.0.0.1:{server.port}/42"
    return sentry, server.stop


_PRELUDE = """
import json

def emit(value):
    print("RESULT " + json.dumps(value))
"""


class Script:
    """What a script printed: its results (emit) and its other lines."""

    def __init__(self, out):
        self.results = [json.loads(line[7:]) for line in out.splitlines() if line.startswith("RESULT ")]
        self.lines = [line for line in out.splitlines() if not line.startswith("RESULT ")]

    @property
    def result(self):
        assert len(self.results) == 1, self.results
        return self.results[0]


def run_script(body, **values):
    """Runs a script in a fresh interpreter with `values` bound as globals and
    emit(value) to report a JSON value."""
    prelude = _PRELUDE + "".join(f"{name} = {value!r}\n" for name, value in values.items())
    return Script(run_fresh(prelude + textwrap.dedent(body) + "\nprint('ok')\n"))
