"""Times zunt_core.logger.ner_pii_logger_handler against a masking service on 127.0.0.1.

Run by hand: .venv/bin/python bench/bench_ner_pii.py [--records N] [--repeat R]
Prints, in one process, what code that never logs through the handler pays
before and after the first exchange (nothing of the handler may stay behind
to slow it down), what a log call pays for a disabled handler against a
plain logging.Handler, then the time of one masked record, the exchange
included (best of R rounds of N records).
"""

import argparse
import copy
import json
import logging
import os
import sys
import tempfile
import threading
import time
import timeit
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from zunt_core.logger.ner_pii_logger_handler import NerLoggerHandler


class Service(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_POST(self):
        text = json.loads(self.rfile.read(int(self.headers["Content-Length"])))["text"]
        body = json.dumps({"masked": text.replace("john@example.com", "jo******om")}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def best(statement, number, scope, repeat=7):
    """Best time of one run of the statement, in ns."""
    return min(timeit.repeat(statement, globals=scope, number=number, repeat=repeat)) / number * 1e9


def outside_costs(path):
    quiet = logging.getLogger("bench.ner.quiet")
    quiet.addHandler(logging.NullHandler())
    quiet.propagate = False
    tree = {"user": {"id": 7, "roles": ["a", "b"], "profile": {"name": "Ada", "tags": list(range(10))}}}
    scope = {"x": object(), "sys": sys, "copy": copy, "tree": tree, "open": open, "path": path, "quiet": quiet}
    return {
        "id()": best("id(x)", 1_000_000, scope),
        "sys._getframe()": best("sys._getframe()", 1_000_000, scope),
        "copy.deepcopy(tree)": best("copy.deepcopy(tree)", 20_000, scope),
        "open() and close": best("open(path).close()", 20_000, scope),
        "log call to a NullHandler": best("quiet.warning('x %s', 1)", 100_000, scope),
    }


class Plain(logging.Handler):
    def emit(self, record):
        pass


def disabled_costs():
    plain = logging.getLogger("bench.ner.plain")
    plain.propagate = False
    plain.addHandler(Plain())
    disabled = logging.getLogger("bench.ner.disabled")
    disabled.propagate = False
    disabled.addHandler(NerLoggerHandler("http://127.0.0.1:9/mask", "masked", False))
    scope = {"plain": plain, "disabled": disabled}
    return {
        "log call, a handler that does nothing": best("plain.warning('x %s', 1)", 100_000, scope),
        "log call, disabled NER handler": best("disabled.warning('x %s', 1)", 100_000, scope),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--records", type=int, default=300)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()

    server = ThreadingHTTPServer(("127.0.0.1", 0), Service)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/mask"

    with tempfile.NamedTemporaryFile() as file:
        before = outside_costs(file.name)
        logger = logging.getLogger("bench.ner")
        logger.propagate = False
        logger.addHandler(NerLoggerHandler(url, "masked", True))
        logger.warning("user %s", "john@example.com")
        after = outside_costs(file.name)
    print(f"{'':28} {'before':>10} {'after':>10}  (the first exchange)")
    for name in before:
        print(f"{name:28} {before[name]:8.0f}ns {after[name]:8.0f}ns  {after[name] / before[name]:.2f}x")
    for name, ns in disabled_costs().items():
        print(f"{name:38} {ns:8.0f}ns")

    rounds = []
    for _ in range(args.repeat):
        started = time.perf_counter()
        for i in range(args.records):
            logger.warning("user %s logged in from %d", "john@example.com", i)
        rounds.append((time.perf_counter() - started) / args.records)
    print(f"one masked record, exchange included: {min(rounds) * 1e3:.2f} ms "
          f"(best of {args.repeat} x {args.records} records; median {sorted(rounds)[len(rounds) // 2] * 1e3:.2f} ms; "
          f"{os.cpu_count()} CPUs)")
    server.shutdown()


if __name__ == "__main__":
    main()
