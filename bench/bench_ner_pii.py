"""Times zunt_core.logger.ner_pii_logger_handler against a masking service on 127.0.0.1.

Run by hand: .venv/bin/python bench/bench_ner_pii.py [--records N]
Prints what the rest of the process pays before and after the first exchange
(the audit hook it adds stays for the life of the process: every audited
event, such as id() or the frame look-up of each log call, goes through it),
then the time of one masked record, the exchange included.
"""

import argparse
import json
import logging
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


def outside_costs():
    x = object()
    quiet = logging.getLogger("bench.ner.quiet")
    quiet.addHandler(logging.NullHandler())
    quiet.propagate = False
    id_ns = min(timeit.repeat("id(x)", globals={"x": x}, number=1_000_000, repeat=5)) * 1e3
    log_us = min(timeit.repeat("quiet.warning('x %s', 1)", globals={"quiet": quiet}, number=100_000, repeat=5)) * 10
    return f"id() {id_ns:.0f} ns, a log call to a NullHandler {log_us:.2f} us"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--records", type=int, default=300)
    args = parser.parse_args()

    server = ThreadingHTTPServer(("127.0.0.1", 0), Service)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/mask"

    print("before the first exchange:", outside_costs())
    logger = logging.getLogger("bench.ner")
    logger.propagate = False
    logger.addHandler(NerLoggerHandler(url, "masked", True))
    logger.warning("user %s", "john@example.com")
    print("after it:                 ", outside_costs())

    started = time.perf_counter()
    for i in range(args.records):
        logger.warning("user %s logged in from %d", "john@example.com", i)
    took = time.perf_counter() - started
    print(f"one masked record, exchange included: {took / args.records * 1e3:.2f} ms ({args.records} records)")
    server.shutdown()


if __name__ == "__main__":
    main()
