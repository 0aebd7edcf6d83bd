import inspect
import json
import logging
import socket
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import pytest
import requests

from zunt_core.logger import ner_pii_logger_handler as M
from zunt_core.logger.ner_pii_logger_handler import NerLoggerHandler, init_ner_pii_logging_handler

ENTITIES = ["EMAIL_ADDRESS", "ID_KTP", "ID_NPWP", "PHONE_NUMBER"]


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


@pytest.fixture
def service():
    s = NerService()
    yield s
    s.close()


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
