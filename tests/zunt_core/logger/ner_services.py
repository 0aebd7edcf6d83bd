"""Masking services on 127.0.0.1 for the NER handler's tests: a well-behaved
one on the host's HTTP server, and one on raw sockets that plays whatever a
test gives it."""

import json
import socket
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class NerService:
    """A masking service on 127.0.0.1. Each POST gets the current answer
    (status, body, delay, and the pause between the body's bytes when it
    trickles them); by default the JSON object {"masked": text} with "john"
    replaced by "[PERSON]". Keeps every request it received."""

    def __init__(self):
        self.received = []
        self.status, self.body, self.delay, self.trickle = 200, None, 0.0, None
        service = self

        class Handler(BaseHTTPRequestHandler):
            def do_POST(self):
                raw = self.rfile.read(int(self.headers["Content-Length"]))
                service.received.append({"path": self.path, "headers": dict(self.headers), "raw": raw})
                time.sleep(service.delay)
                body = service.body
                if body is None:
                    text = json.loads(raw)["text"]
                    body = json.dumps({"masked": text.replace("john", "[PERSON]")}).encode()
                try:
                    self.send_response(service.status)
                    self.send_header("Content-Type", "application/json")
                    self.send_header("Content-Length", str(len(body)))
                    self.end_headers()
                    if service.trickle is None:
                        self.wfile.write(body)
                        return
                    for i in range(len(body)):
                        self.wfile.write(body[i:i + 1])
                        self.wfile.flush()
                        time.sleep(service.trickle)
                except OSError:
                    pass  # the client gave up (time-out)

            def log_message(self, *args):
                pass

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/v1/mask?lang=id"
        self.thread = threading.Thread(target=self.server.serve_forever, args=(0.05,), daemon=True)
        self.thread.start()

    def answer(self, status=200, body=None, delay=0.0, trickle=None):
        self.status, self.body, self.delay, self.trickle = status, body, delay, trickle

    def texts(self):
        return [json.loads(r["raw"])["text"] for r in self.received]

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Hostile:
    """A masking service on 127.0.0.1 written on raw sockets. Each connection
    is read up to the end of its request, then handed to `play(self, conn)`
    on a thread of its own, which finds its request as `self.current` (the
    body, and its number among the requests received, from 1). It keeps the
    bodies received, counts the connections accepted, and the most requests
    that were in play at once."""

    def __init__(self, tls=None):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.listener.settimeout(0.05)
        self.tls = tls
        self.url = f"{'https' if tls else 'http'}://127.0.0.1:{self.listener.getsockname()[1]}/mask"
        self.play = lambda service, conn: None
        self.connections, self.bodies = 0, []
        self.current = threading.local()
        self.lock = threading.Lock()
        self.in_play = self.most_in_play = 0
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def _accept(self):
        while not self.stopping.is_set():
            try:
                conn, _ = self.listener.accept()
            except TimeoutError:
                continue
            self.connections += 1
            threading.Thread(target=self._answer, args=(conn,), daemon=True).start()

    def read_request(self, conn):
        """Reads one request from the connection and keeps its body."""
        data = b""
        while b"\r\n\r\n" not in data:
            piece = conn.recv(65536)
            if not piece:
                raise OSError("the client closed the connection")
            data += piece
        head, body = data.split(b"\r\n\r\n", 1)
        length = int(next(line.split(b":")[1] for line in head.split(b"\r\n")
                          if line.lower().startswith(b"content-length:")))
        while len(body) < length:
            piece = conn.recv(65536)
            if not piece:
                raise OSError("the client closed the connection")
            body += piece
        with self.lock:
            self.bodies.append(json.loads(body))
            self.current.body, self.current.number = self.bodies[-1], len(self.bodies)

    def _answer(self, conn):
        with conn:
            try:
                if self.tls:
                    conn.settimeout(5)
                    conn = self.tls.wrap_socket(conn, server_side=True)
                self.read_request(conn)
                with self.lock:
                    self.in_play += 1
                    self.most_in_play = max(self.most_in_play, self.in_play)
                try:
                    self.play(self, conn)
                finally:
                    with self.lock:
                        self.in_play -= 1
            except OSError:
                pass  # the client gave up

    def until_closed(self, conn):
        """Says nothing until the client closes the connection."""
        conn.settimeout(0.05)
        while not self.stopping.is_set():
            try:
                if not conn.recv(65536):
                    return
            except TimeoutError:
                continue

    def masked_answer(self, conn, delay=0.0, keep_alive=False):
        """After `delay` seconds, the request's text with "john" masked."""
        self.pause(delay)
        text = self.current.body["text"].replace("john", "[MASKED]")
        answer = json.dumps({"masked": text}).encode()
        lines = [b"Content-Length: %d" % len(answer)] + ([] if keep_alive else [CLOSE[:-2]])
        conn.sendall(head(b"200 OK", *lines) + answer)

    def pause(self, seconds):
        if self.stopping.wait(seconds):
            raise OSError("stopping")

    def trickle(self, conn, data, pause):
        for i in range(len(data)):
            conn.sendall(data[i:i + 1])
            self.pause(pause)

    def endless(self, conn, piece):
        while True:
            conn.sendall(piece)

    def close(self):
        self.stopping.set()
        self.thread.join()
        self.listener.close()


MASKED = b'{"masked": "user [MASKED]"}'
CLOSE = b"Connection: close\r\n"


def head(status=b"200 OK", *lines):
    return b"HTTP/1.1 " + status + b"\r\n" + b"".join(line + b"\r\n" for line in lines) + b"\r\n"
