import gzip
import inspect
import json
import logging
import shutil
import socket
import ssl
import subprocess
import sys
import threading
import time
import tracemalloc
import zlib

import pytest
import requests

from ner_services import CLOSE, MASKED, head
from zunt_core.logger import ner_pii_logger_handler as M
from zunt_core.logger.ner_pii_logger_handler import NerLoggerHandler, init_ner_pii_logging_handler

ENTITIES = ["EMAIL_ADDRESS", "ID_KTP", "ID_NPWP", "PHONE_NUMBER"]


@pytest.fixture
def closed_port_url():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    return f"http://127.0.0.1:{port}/mask"


@pytest.fixture
def masked_logger(make_logger, make_capture, service):
    """A logger with an enabled handler on the service, then a capture."""

    def make(api_field="masked", enabled=True, url=None):
        logger = make_logger()
        init_ner_pii_logging_handler(logger.name, service.url if url is None else url, api_field, enabled)
        capture = make_capture()
        logger.addHandler(capture)
        return logger, logger.handlers[0], capture

    return make


# --- module and class -------------------------------------------------------

def test_module_names_and_signatures():
    assert {k for k in vars(M) if not k.startswith("__")} == {
        "logging", "requests", "NerLoggerHandler", "init_ner_pii_logging_handler"}
    assert not hasattr(M, "__all__")
    assert M.logging is logging and M.requests is requests
    assert str(inspect.signature(init_ner_pii_logging_handler)) == (
        "(logger_name: str, api_url: str, api_field: str, pii_ner_process_enabled: bool = False) -> None")
    assert str(inspect.signature(NerLoggerHandler)) == (
        "(api_url: str, api_field: str, pii_ner_process_enabled: bool = False) -> None")
    assert str(inspect.signature(NerLoggerHandler.emit)) == "(self, record: logging.LogRecord) -> None"
    assert str(inspect.signature(NerLoggerHandler.process_message_using_ner)) == "(self, message: str) -> str"


def test_handler_is_a_plain_logging_handler():
    assert type(NerLoggerHandler) is type
    assert NerLoggerHandler.__mro__[1:] == logging.Handler.__mro__
    h = NerLoggerHandler("http://x", "masked")
    assert (h.api_url, h.api_field, h.pii_ner_process_enabled) == ("http://x", "masked", False)
    assert list(vars(h))[-3:] == ["api_url", "api_field", "pii_ner_process_enabled"]
    assert (h.level, h.formatter, h.filters) == (logging.NOTSET, None, [])


IMPORTS = r"""
import sys
class Recorder:
    seen = []
    @classmethod
    def find_spec(cls, name, path=None, target=None):
        if name not in cls.seen:
            cls.seen.append(name)
        return None
sys.meta_path.insert(0, Recorder)
import zunt_core.logger.ner_pii_logger_handler
assert Recorder.seen.index("logging") < Recorder.seen.index("requests")
assert "zunt_core.logger.regex_pii_logger_handler" not in sys.modules
del sys.modules["zunt_core.logger.ner_pii_logger_handler"]
before = set(sys.modules)
import zunt_core.logger.ner_pii_logger_handler
assert set(sys.modules) - before == {"zunt_core.logger.ner_pii_logger_handler"}
del sys.modules["zunt_core.logger.ner_pii_logger_handler"]
sys.modules["requests"] = None
try:
    import zunt_core.logger.ner_pii_logger_handler
except ImportError as e:
    assert e.name == "requests"
else:
    raise AssertionError("imported without requests")
"""


def test_import_behaviour():
    subprocess.run([sys.executable, "-c", IMPORTS], check=True)


# --- requests -------------------------------------------------------------------

def test_masked_message_replaces_the_record_message(service, masked_logger):
    logger, _, capture = masked_logger()
    logger.info("user %s logged in", "john")
    assert (capture.seen[0]["msg"], capture.seen[0]["args"]) == ("user [PERSON] logged in", ())

    (request,) = service.received
    assert request["path"] == "/v1/mask?lang=id"
    assert request["headers"]["Content-Type"] == "application/json"
    assert "Authorization" not in request["headers"]
    body = json.loads(request["raw"])
    assert list(body) == ["text", "entities"]
    assert body == {"text": "user john logged in", "entities": ENTITIES}


def test_disabled_or_addressless_handler_sends_nothing(service, masked_logger):
    for options in ({"enabled": False}, {"enabled": True, "url": ""}, {"enabled": 0, "url": "not even a url"}):
        logger, handler, capture = masked_logger(**options)
        logger.info("user %s", "john")
        assert (capture.seen[0]["msg"], capture.seen[0]["args"]) == ("user %s", ("john",))
    assert service.received == []
    # both fields are read on every record
    handler.pii_ner_process_enabled = True
    handler.api_url = service.url
    logger.info("user %s", "john")
    assert capture.seen[1]["msg"] == "user [PERSON]"


@pytest.mark.parametrize("status, body", [
    (400, b'{"masked": "x"}'),
    (404, b""),
    (500, b'{"masked": "x"}'),
    (599, b"oops"),
    (200, b"not json"),
    (200, b'{"other": "x"}'),  # no member named api_field
])
def test_failures_leave_the_message_unmasked(service, masked_logger, status, body):
    service.answer(status, body)
    logger, _, capture = masked_logger()
    logger.info("user %s", "john")
    assert (capture.seen[0]["msg"], capture.seen[0]["args"]) == ("user john", ())
    assert len(service.received) == 1


def test_unreachable_or_unusable_service_leaves_the_message_unmasked(masked_logger, closed_port_url):
    for url in (closed_port_url, "not a url", "ftp://127.0.0.1/mask"):
        logger, handler, capture = masked_logger(url=url)
        logger.info("user %s", "john")
        assert (capture.seen[0]["msg"], capture.seen[0]["args"]) == ("user john", ())
        assert handler.process_message_using_ner("john") == "john"


def test_three_second_time_out(service, masked_logger):
    logger, _, capture = masked_logger()
    service.answer(delay=2.0)
    logger.info("user %s", "john")
    assert capture.seen[0]["msg"] == "user [PERSON]"
    service.answer(delay=4.0)  # answers after the client has given up
    logger.info("user %s", "john")
    assert capture.seen[1]["msg"] == "user john"


@pytest.mark.parametrize("member, text", [(5, "5"), (None, "None"), ([1, "a"], "[1, 'a']"), ({"k": 1}, "{'k': 1}")])
def test_member_that_is_no_text_becomes_the_message(service, masked_logger, member, text):
    service.answer(body=json.dumps({"masked": member}).encode())
    logger, handler, capture = masked_logger()
    logger.info("user %s", "john")
    assert (capture.seen[0]["msg"], capture.seen[0]["args"], capture.seen[0]["text"]) == (member, (), text)
    assert handler.process_message_using_ner("john") == member


class Reporting(NerLoggerHandler):
    def handleError(self, record):
        self.reported = (record.msg, record.args, sys.exc_info()[0])


# Answers that cannot be used, each as the service sends it: the message goes
# on unmasked, as when the service cannot be reached, and nothing is reported.
UNUSABLE_ANSWERS = {
    "array": b"[1, 2]",
    "string": b'"masked"',
    "number": b"5",
    "true": b"true",
    "null": b"null",
    "nested deeper than the parser goes": b"[" * 100_000,
    "nested objects": b'{"masked": ' * 100_000,
    "an integer the host will not convert": b'{"masked": ' + b"7" * 5000 + b"}",
    "a member of an integer the host will not convert": b'{"masked": "x", "n": ' + b"7" * 5000 + b"}",
}


@pytest.mark.parametrize("raise_exceptions", [True, False], ids=["raiseExceptions", "quiet"])
@pytest.mark.parametrize("answer", UNUSABLE_ANSWERS)
def test_an_unusable_answer_leaves_the_message_unmasked(service, make_logger, make_capture, monkeypatch, capsys,
                                                       answer, raise_exceptions):
    monkeypatch.setattr(logging, "raiseExceptions", raise_exceptions)
    service.answer(body=UNUSABLE_ANSWERS[answer])
    logger = make_logger()
    handler = Reporting(service.url, "masked", True)
    later = make_capture()
    logger.addHandler(handler)
    logger.addHandler(later)

    logger.info("user %s", "john")  # returns normally

    assert not hasattr(handler, "reported")
    assert (later.seen[0]["msg"], later.seen[0]["args"]) == ("user john", ())
    assert len(service.received) == 1
    assert handler.process_message_using_ner("john") == "john"
    assert capsys.readouterr().err == ""


def test_a_trickling_answer_is_given_up_at_the_deadline(service, masked_logger):
    logger, handler, capture = masked_logger()
    # 18 bytes, one every 0.6 s: each read is well within the time-out, the whole is not
    service.answer(body=b'{"masked": "xyz"}\n', trickle=0.6)
    started = time.monotonic()
    logger.info("user %s", "john")
    took = time.monotonic() - started
    assert (capture.seen[0]["msg"], capture.seen[0]["args"]) == ("user john", ())
    assert 2.9 < took < 4.5, took
    # a slow answer that is complete in time is used
    service.answer(body=b'{"masked": "ok"}', trickle=0.05)
    assert handler.process_message_using_ner("john") == "ok"


def test_unformattable_message_sends_nothing(service, make_logger, make_capture, capsys):
    logger = make_logger()
    logger.addHandler(NerLoggerHandler(service.url, "masked", True))
    later = make_capture()
    logger.addHandler(later)
    logger.info("value %d", "john")  # returns normally
    assert service.received == []
    assert (later.seen[0]["msg"], later.seen[0]["args"]) == ("value %d", ("john",))
    assert "--- Logging error ---" in capsys.readouterr().err


def test_per_cent_signs_are_not_formatted_again(service, masked_logger):
    logger, _, capture = masked_logger()
    logger.info("100%% of %s", "john")
    assert service.texts() == ["100% of john"]
    assert (capture.seen[0]["msg"], capture.seen[0]["text"]) == ("100% of [PERSON]", "100% of [PERSON]")


def test_exception_information_is_neither_sent_nor_changed(service, masked_logger):
    logger, _, capture = masked_logger()
    try:
        raise ValueError("john's secret")
    except ValueError:
        logger.exception("failed for %s", "john")
    assert service.texts() == ["failed for john"]
    assert str(capture.seen[0]["record"].exc_info[1]) == "john's secret"


def test_installed_twice_sends_twice(service, masked_logger):
    logger, _, capture = masked_logger()
    init_ner_pii_logging_handler(logger.name, service.url, "masked", True)
    logger.handlers.append(logger.handlers.pop(1))  # the capture last
    logger.info("user %s", "john")
    assert service.texts() == ["user john", "user [PERSON]"]
    assert capture.seen[0]["msg"] == "user [PERSON]"


@pytest.fixture
def root_logger():
    root = logging.getLogger()
    level, handlers = root.level, list(root.handlers)
    yield root
    root.setLevel(level)
    root.handlers[:] = handlers


def test_records_of_its_own_request_pass_through(service, root_logger, make_capture):
    root_logger.setLevel(logging.DEBUG)
    init_ner_pii_logging_handler("", service.url, "masked", True)
    capture = make_capture()
    root_logger.addHandler(capture)

    logging.getLogger("zunt_test.app").info("user %s", "john")

    assert service.texts() == ["user john"]
    client_lines = [s for s in capture.seen if s["record"].name.startswith("urllib3")]
    assert client_lines, "the HTTP client logged nothing at debug level"
    for seen in client_lines:
        assert seen["args"] != ()  # untouched: never formatted by the masking handler
    assert capture.seen[-1]["msg"] == "user [PERSON]"


def test_each_thread_waits_for_its_turn(service, make_logger, make_capture):
    logger = make_logger()
    init_ner_pii_logging_handler(logger.name, service.url, "masked", True)
    capture = make_capture()
    logger.addHandler(capture)
    service.answer(delay=0.05)
    threads = [threading.Thread(target=logger.info, args=("user %s %d", "john", i)) for i in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert sorted(s["msg"] for s in capture.seen) == [f"user [PERSON] {i}" for i in range(6)]


# --- a hostile service ------------------------------------------------------------

def redirect(status, location):
    return lambda s, c: s.trickle(c, head(status, b"Location: " + location, b"Content-Length: 20"), 0) or \
        s.trickle(c, MASKED[:20], 1.0)


def gzip_member_of_zeros():
    # 64 MiB of zeros, 64 KB on the wire: sent over and over, a bomb
    return gzip.compress(bytes(1 << 26), 9)


BOMB = gzip_member_of_zeros()


def empty_gzip_blocks(s, c):
    c.sendall(head(b"200 OK", b"Content-Encoding: gzip", CLOSE[:-2]))
    z = zlib.compressobj(wbits=31)
    c.sendall(z.compress(b""))
    for _ in range(24):
        c.sendall(z.flush(zlib.Z_SYNC_FLUSH))  # an empty block
        s.pause(0.5)
    c.sendall(z.compress(MASKED) + z.flush())


def chunked_then_trailers(s, c):
    c.sendall(head(b"200 OK", b"Transfer-Encoding: chunked", b"Trailer: X-Wait")
              + b"%x\r\n" % len(MASKED) + MASKED + b"\r\n0\r\n")
    for _ in range(40):
        c.sendall(b"X-Wait: 1\r\n")
        s.pause(0.5)
    c.sendall(b"\r\n")


def late_body(s, c):
    s.pause(2.0)
    c.sendall(head(b"200 OK", b"Content-Length: %d" % len(MASKED)) + MASKED[:-1])
    s.pause(1.3)
    c.sendall(MASKED[-1:])  # complete 3.3 s after the request started


# What each hostile service does after reading the request. With every one
# the record goes on unmasked, within the deadline, after exactly one
# request, and nothing is reported. `second` is the URL of another service
# that must receive nothing.
HOSTILE = {
    "307 to another port": lambda s, c: redirect(b"307 Temporary Redirect", s.second.encode())(s, c),
    "301 to another port": lambda s, c: redirect(b"301 Moved Permanently", s.second.encode())(s, c),
    "303 to another port": lambda s, c: redirect(b"303 See Other", s.second.encode())(s, c),
    "308 to another port": lambda s, c: redirect(b"308 Permanent Redirect", s.second.encode())(s, c),
    "307 whose body never ends": lambda s, c: c.sendall(
        head(b"307 Temporary Redirect", b"Location: " + s.second.encode(), CLOSE[:-2])) or s.endless(c, b"x" * 65536),
    "307 to itself after 2.5 s": lambda s, c: s.pause(2.5) or c.sendall(
        head(b"307 Temporary Redirect", b"Location: " + s.url.encode(), b"Content-Length: 0")),
    "307 to a malformed location": lambda s, c: c.sendall(
        head(b"307 Temporary Redirect", b"Location: http://[::1", b"Content-Length: 0")),
    "307 to a location that is not UTF-8": lambda s, c: c.sendall(
        head(b"307 Temporary Redirect", b"Location: http://\xff\xfe/mask", b"Content-Length: 0")),
    "307 to a 300-character host": lambda s, c: c.sendall(
        head(b"307 Temporary Redirect", b"Location: http://" + b"a" * 300 + b"/mask", b"Content-Length: 0")),
    "status line and headers a byte at a time": lambda s, c: s.trickle(
        c, head(b"200 OK", b"Content-Length: %d" % len(MASKED)) + MASKED, 0.2),
    "200 whose body never ends": lambda s, c: c.sendall(head(b"200 OK", CLOSE[:-2]) + b'{"masked": "') or s.endless(
        c, b"x" * 65536),
    "2 MiB answer at once": lambda s, c: c.sendall(
        head(b"200 OK", b"Content-Length: %d" % (2 * 2**20 + 14)) + b'{"masked": "' + b"x" * 2 * 2**20 + b'"}'),
    "gzip bomb": lambda s, c: c.sendall(head(b"200 OK", b"Content-Encoding: gzip", CLOSE[:-2])) or s.endless(c, BOMB),
    "gzip that decodes to nothing for 12 s": empty_gzip_blocks,
    "deflate body a byte every 0.5 s": lambda s, c: s.trickle(c, head(
        b"200 OK", b"Content-Encoding: deflate", b"Content-Length: %d" % len(zlib.compress(MASKED)))
        + zlib.compress(MASKED), 0.5),
    "chunked body, then a trailer line every 0.5 s": chunked_then_trailers,
    "chunk-size line a byte a second": lambda s, c: c.sendall(head(b"200 OK", b"Transfer-Encoding: chunked"))
        or s.trickle(c, b"00000000000014\r\n", 1.0),
    "body complete 3.3 s after the request": late_body,
    # errors of urllib3 itself, which are no request errors of requests
    "gzip that is not": lambda s, c: c.sendall(head(b"200 OK", b"Content-Encoding: gzip", CLOSE[:-2]) + MASKED),
    "body shorter than its length": lambda s, c: c.sendall(head(b"200 OK", b"Content-Length: 99") + MASKED),
}


@pytest.mark.parametrize("raise_exceptions", [True, False], ids=["raiseExceptions", "quiet"])
@pytest.mark.parametrize("row", HOSTILE)
def test_a_hostile_service_cannot_hold_or_redirect_the_record(hostile, make_logger, make_capture, monkeypatch,
                                                               capsys, row, raise_exceptions):
    monkeypatch.setattr(logging, "raiseExceptions", raise_exceptions)
    service, second = hostile(), hostile()
    service.second = second.url
    service.play = HOSTILE[row]
    logger = make_logger()
    handler = Reporting(service.url, "masked", True)
    later = make_capture()
    logger.addHandler(handler)
    logger.addHandler(later)

    tracemalloc.start()
    try:
        started = time.monotonic()
        logger.warning("user %s", "john@example.com")  # returns normally
        took = time.monotonic() - started
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()

    assert (later.seen[0]["msg"], later.seen[0]["args"]) == ("user john@example.com", ())
    assert took < 3.0 + 1.0, took
    assert peak < 16 * 2**20, peak
    assert not hasattr(handler, "reported")
    assert capsys.readouterr().err == ""
    assert service.bodies == [{"text": "user john@example.com", "entities": ENTITIES}]
    assert (second.connections, second.bodies) == (0, [])


def answer_of(body, *lines, pieces=1, pause=0.0):
    """A 200 answer with `body` as given (already encoded), sent in `pieces`
    parts `pause` seconds apart."""
    def play(s, c):
        c.sendall(head(b"200 OK", *lines))
        step = -(-len(body) // pieces)
        for i in range(0, len(body), step):
            c.sendall(body[i:i + step])
            s.pause(pause)
    return play


def chunked(*parts, trailer=b""):
    return b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in parts) + b"0\r\n" + trailer + b"\r\n"


def raw_deflate(data):
    z = zlib.compressobj(wbits=-15)
    return z.compress(data) + z.flush()


FLOOR = 2**20
FILLED = b'{"masked": "' + b"x" * (FLOOR - 14) + b'"}'  # exactly 1 MiB


# (answer, the message the next handler gets): slow answers complete in time
# are used however they are encoded; the size is counted after decoding.
ANSWERS = {
    "gzip in pieces": (answer_of(gzip.compress(MASKED), b"Content-Encoding: gzip", CLOSE[:-2], pieces=4, pause=0.3),
                       "user [MASKED]"),
    "gzip of two members": (answer_of(gzip.compress(MASKED[:9]) + gzip.compress(MASKED[9:]),
                                      b"Content-Encoding: gzip", CLOSE[:-2]), "user [MASKED]"),
    "zlib deflate": (answer_of(zlib.compress(MASKED), b"Content-Encoding: deflate", CLOSE[:-2], pieces=3, pause=0.3),
                     "user [MASKED]"),
    "raw deflate": (answer_of(raw_deflate(MASKED), b"Content-Encoding: deflate", CLOSE[:-2]), "user [MASKED]"),
    "chunked with a trailer in time": (
        answer_of(chunked(MASKED[:5], MASKED[5:], trailer=b"X-Done: 1\r\n"), b"Transfer-Encoding: chunked",
                  pieces=5, pause=0.3), "user [MASKED]"),
    "exactly 1 MiB": (answer_of(FILLED, b"Content-Length: %d" % FLOOR), "x" * (FLOOR - 14)),
    "1 MiB and a byte": (answer_of(FILLED + b" ", b"Content-Length: %d" % (FLOOR + 1)), "user john@example.com"),
    "1 MiB and a byte once inflated": (answer_of(gzip.compress(FILLED + b" "), b"Content-Encoding: gzip",
                                                 CLOSE[:-2]), "user john@example.com"),
}


@pytest.mark.parametrize("row", ANSWERS)
def test_answers_in_time_and_size_are_used(hostile, masked_logger, row):
    service = hostile()
    service.play, expected = ANSWERS[row]
    logger, _, capture = masked_logger(url=service.url)
    logger.warning("user %s", "john@example.com")
    assert (capture.seen[0]["msg"], capture.seen[0]["args"]) == (expected, ())
    assert len(service.bodies) == 1


def test_the_size_limit_grows_with_the_message(hostile, masked_logger):
    service = hostile()
    message = "é" * FLOOR  # sent as 6 MiB of JSON escapes

    def echo(s, c):
        answer = json.dumps({"masked": s.bodies[-1]["text"].upper()}).encode()
        c.sendall(head(b"200 OK", b"Content-Length: %d" % len(answer)) + answer)

    service.play = echo
    logger, _, capture = masked_logger(url=service.url)
    logger.warning(message)
    assert capture.seen[0]["msg"] == "É" * FLOOR


@pytest.fixture
def root_with(root_logger, make_capture, service):
    def make(handlers):
        root_logger.setLevel(logging.DEBUG)
        for _ in range(handlers):
            init_ner_pii_logging_handler("", service.url, "masked", True)
        capture = make_capture()
        root_logger.addHandler(capture)
        return capture

    return make


@pytest.mark.parametrize("handlers", [1, 2, 3, 4])
def test_one_request_per_handler_for_one_log_call(service, root_with, handlers):
    capture = root_with(handlers)
    logging.getLogger("zunt_test.app").info("user %s", "john")
    # each handler masks what the one before it left
    assert service.texts() == ["user john"] + ["user [PERSON]"] * (handlers - 1)
    assert capture.seen[-1]["msg"] == "user [PERSON]"
    assert [s for s in capture.seen if s["record"].name.startswith("urllib3")]  # they passed through


@pytest.fixture(scope="module")
def certificate(tmp_path_factory):
    """A certificate for 127.0.0.1, made by the openssl command."""
    if shutil.which("openssl") is None:
        pytest.skip("no openssl command")
    folder = tmp_path_factory.mktemp("tls")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", folder / "key.pem",
                    "-out", folder / "cert.pem"], check=True, capture_output=True)
    return folder / "cert.pem", folder / "key.pem"


@pytest.mark.parametrize("play, expected", [
    (answer_of(MASKED, b"Content-Length: %d" % len(MASKED), pieces=3, pause=0.2), "user [MASKED]"),
    (HOSTILE["status line and headers a byte at a time"], "user john@example.com"),
], ids=["an answer in time", "headers a byte at a time"])
def test_the_deadline_holds_over_tls(hostile, masked_logger, monkeypatch, certificate, play, expected):
    cert, key = certificate
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    monkeypatch.setenv("REQUESTS_CA_BUNDLE", str(cert))
    service = hostile(tls=context)
    service.play = play
    logger, _, capture = masked_logger(url=service.url)
    started = time.monotonic()
    logger.warning("user %s", "john@example.com")
    assert time.monotonic() - started < 3.0 + 1.0
    assert (capture.seen[0]["msg"], capture.seen[0]["args"]) == (expected, ())
    assert len(service.bodies) == 1
