"""The NER handler among threads, hooks, mocks and processes.

The cases that could hang or end the process run each in a fresh interpreter
with a time limit, against a service of this process (ner_services.Hostile);
the script prints one JSON line of what it saw.
"""

import json
import logging
import socket
import subprocess
import sys
import textwrap
import threading
import time
import unittest.mock

import pytest
import requests
import requests_mock
import responses

from zunt_core.logger.ner_pii_logger_handler import NerLoggerHandler, init_ner_pii_logging_handler

PRELUDE = r"""
import json, logging, os, sys, threading, time
from zunt_core.logger.ner_pii_logger_handler import init_ner_pii_logging_handler

URL, MARK = sys.argv[1], sys.argv[2]


class Capture(logging.Handler):
    # what reached it of the application's own records
    def __init__(self):
        super().__init__()
        self.seen = []

    def emit(self, record):
        if record.name == "app":
            self.seen.append(record.getMessage())


def app_logger():
    # the logger "app" with an enabled NER handler on the service, then a capture
    log = logging.getLogger("app")
    log.setLevel(logging.INFO)
    log.propagate = False
    init_ner_pii_logging_handler("app", URL, "masked", True)
    capture = Capture()
    log.addHandler(capture)
    return log, capture


def timed(call, *args):
    started = time.monotonic()
    call(*args)
    return time.monotonic() - started


def report(**seen):
    print(json.dumps(seen), flush=True)


def mark(_path=MARK, _open=open, _dump=json.dump, **seen):
    # what code saw that runs while the host finalises (when the module's
    # names and stdout may be gone)
    with _open(_path, "w") as file:
        _dump(seen, file)
"""


def run_case(script, url, folder, limit):
    """Runs the script in a fresh interpreter (what comes before a line
    "# prelude" in it, before the prelude); answers what it reported (with
    what it marked as "marked") and the time from its report to the end of
    the process."""
    marked = folder / "marked.json"
    first, _, body = textwrap.dedent(script).rpartition("# prelude\n")
    process = subprocess.run([sys.executable, "-c", first + PRELUDE + body, url, str(marked)],
                             capture_output=True, text=True, timeout=limit)
    ended = time.time()
    assert process.returncode == 0, process.stderr
    assert process.stderr == ""
    seen = json.loads(process.stdout.splitlines()[-1])
    seen["marked"] = json.loads(marked.read_text()) if marked.exists() else None
    return seen, ended - seen.get("at", ended)


def trickled_head(s, c, pause):
    """A status line and a header that never end, a byte at a time."""
    s.trickle(c, b"HTTP/1.1 200 OK\r\nX-Slow: " + b"y" * 100_000, pause)


def kept_then_trickled(s, c):
    s.masked_answer(c, keep_alive=True)
    s.read_request(c)
    trickled_head(s, c, 0.5)


def masked_then_trickled(s, c):
    if s.current.number == 1:
        s.masked_answer(c)
    else:
        trickled_head(s, c, 0.5)


MASKED_JOHNS = [f"user [MASKED] {i}" for i in range(40)]

FOUR_THREADS = """
log, capture = app_logger()
took = []
threads = [threading.Thread(target=lambda i=i: took.append(timed(log.info, "user %s %d", "john", i)))
           for i in range(4)]
for t in threads:
    t.start()
for t in threads:
    t.join()
report(seen=sorted(capture.seen), took=max(took))
"""

# case: (what the service does, the script, a check of what it reported, the
# service and how long the process took from its report to its end, the time
# limit in seconds)
CASES = {
    "two root handlers at DEBUG, four threads logging at once": (
        lambda s, c: s.masked_answer(c),
        """
        logging.basicConfig(level=logging.DEBUG, stream=open(os.devnull, "w"))
        for _ in range(2):
            init_ner_pii_logging_handler("", URL, "masked", True)
        capture = Capture()
        logging.getLogger().addHandler(capture)

        def work(i):
            for j in range(10):
                logging.getLogger("app").info("user %s %d", "john", 10 * i + j)

        threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        report(seen=sorted(capture.seen, key=lambda m: int(m.split()[-1])))
        """,
        lambda seen, service, after: seen["seen"] == MASKED_JOHNS and len(service.bodies) == 80,
        60,
    ),
    "four threads against a 2.5 s service: one request at a time, all masked": (
        lambda s, c: s.masked_answer(c, delay=2.5),
        FOUR_THREADS,
        lambda seen, service, after: (seen["seen"] == MASKED_JOHNS[:4] and service.most_in_play == 1
                                      and seen["took"] < 4 * 3 + 1),
        60,
    ),
    "four threads against a service that never answers: within 4 x 3 s": (
        lambda s, c: s.until_closed(c),
        FOUR_THREADS,
        lambda seen, service, after: (seen["seen"] == [f"user john {i}" for i in range(4)]
                                      and service.most_in_play == 1 and seen["took"] < 4 * 3 + 1),
        60,
    ),
    "30 calls against an answer that never ends: each within the deadline, one thread": (
        lambda s, c: trickled_head(s, c, 0.5),
        """
        log, capture = app_logger()
        took, threads = [], 0
        for i in range(30):
            took.append(timed(log.info, "user %s %d", "john", i))
            threads = max(threads, threading.active_count())
        report(seen=capture.seen, took=max(took), threads=threads, at=time.time())
        """,
        lambda seen, service, after: (seen["seen"] == [f"user john {i}" for i in range(30)]
                                      and seen["took"] < 3.5 and seen["threads"] <= 2
                                      and service.connections == 1 and after < 1.0),
        150,
    ),
    "requests.post bound to a Session's post, a kept connection that trickles": (
        kept_then_trickled,
        """
        import requests
        requests.post = requests.Session().post
        log, capture = app_logger()
        took = [timed(log.info, "user %s", "john") for _ in range(2)]
        report(seen=capture.seen, took=took)
        """,
        lambda seen, service, after: (seen["seen"] == ["user [MASKED]", "user john"] and seen["took"][1] < 3.5
                                      and service.connections == 1),
        30,
    ),
    "sockets of a socket.socket subclass": (
        lambda s, c: trickled_head(s, c, 0.5),
        """
        import socket
        class Own(socket.socket):
            pass
        socket.socket = Own
        log, capture = app_logger()
        report(seen=capture.seen, took=timed(log.info, "user %s", "john"))
        """,
        lambda seen, service, after: seen["seen"] == ["user john"] and seen["took"] < 3.5,
        30,
    ),
    "an audit hook that refuses new hooks and class changes": (
        masked_then_trickled,
        """
        def harden(event, args):
            if event == "sys.addaudithook":
                raise RuntimeError("no more audit hooks")
            if event == "object.__setattr__" and args[1] == "__class__":
                raise RuntimeError("no class changes")
        sys.addaudithook(harden)
        log, capture = app_logger()
        took = [timed(log.info, "user %s", "john") for _ in range(2)]
        report(seen=capture.seen, took=took[1])
        """,
        lambda seen, service, after: seen["seen"] == ["user [MASKED]", "user john"] and seen["took"] < 3.5,
        30,
    ),
    "audit events and a non-blocking socket of other code during an exchange": (
        lambda s, c: s.masked_answer(c),
        """
        import socket
        made = []

        class Other(logging.Handler):
            def emit(self, record):
                sys.audit("socket.__new__")
                ours, theirs = socket.socketpair()
                with ours, theirs:
                    ours.setblocking(False)
                    try:
                        ours.recv(1)
                    except OSError as e:
                        made.append(type(e).__name__)

        client = logging.getLogger("urllib3")
        client.setLevel(logging.DEBUG)
        client.addHandler(Other())
        log, capture = app_logger()
        log.info("user %s", "john")
        report(seen=capture.seen, errors=sorted(set(made)))
        """,
        lambda seen, service, after: seen["seen"] == ["user [MASKED]"] and seen["errors"] == ["BlockingIOError"],
        30,
    ),
    "the process ends while an exchange is held, also when the host ends its thread": (
        lambda s, c: trickled_head(s, c, 0.02),
        """
        log, capture = app_logger()
        took = timed(log.info, "user %s", "john")

        class SlowToGo:  # keeps the host's finalisation going while the exchange gets bytes
            def __del__(self, sleep=time.sleep, mark=mark, timed=timed, log=log, capture=capture):
                # a record now goes on at once: no thread starts any more
                mark(took=timed(log.info, "user %s", "john"), seen=capture.seen)
                sleep(0.3)

        # in a module of its own, which the host clears once it finalises
        holder = type(sys)("holder")
        sys.modules["holder"] = holder
        holder.keep = SlowToGo()
        del holder
        report(seen=capture.seen, took=took, at=time.time())
        """,
        lambda seen, service, after: (seen["seen"] == ["user john"] and seen["took"] < 3.5 and after < 1.3
                                      and seen["marked"]["seen"] == ["user john"] * 2
                                      and seen["marked"]["took"] < 0.1),
        30,
    ),
    "an interrupt of the wait reaches the caller; the exchange keeps the turn until it ends": (
        lambda s, c: s.masked_answer(c, delay=1.0 if s.current.number == 1 else 0.0),
        """
        import signal
        log, capture = app_logger()
        threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
        started = time.monotonic()
        try:
            log.info("user %s %d", "john", 0)
        except KeyboardInterrupt:
            interrupted = time.monotonic() - started
        took = timed(log.info, "user %s %d", "john", 1)
        report(seen=capture.seen, interrupted=interrupted, took=took)
        """,
        lambda seen, service, after: (seen["seen"] == ["user [MASKED] 1"] and seen["interrupted"] < 0.6
                                      and 0.3 < seen["took"] < 1.5 and len(service.bodies) == 2
                                      and service.most_in_play == 1),
        30,
    ),
    "greenlets: another greenlet's record is masked while one waits for its exchange": (
        lambda s, c: s.masked_answer(c, delay=1.0 if s.current.number == 1 else 0.0),
        """
        from gevent import monkey
        monkey.patch_all()
        # prelude
        import gevent
        seen = []

        class Both(logging.Handler):
            def emit(self, record):
                seen.append(record.getMessage())

        for name in ("app.slow", "app.quick"):
            init_ner_pii_logging_handler(name, URL, "masked", True)
            logging.getLogger(name).addHandler(Both())
            logging.getLogger(name).setLevel(logging.INFO)
        slow = gevent.spawn(logging.getLogger("app.slow").info, "user %s %d", "john", 0)
        gevent.sleep(0.3)
        quick = gevent.spawn(logging.getLogger("app.quick").info, "user %s %d", "john", 1)
        gevent.joinall([slow, quick])
        report(seen=seen)
        """,
        lambda seen, service, after: seen["seen"] == ["user [MASKED] 1", "user [MASKED] 0"],
        30,
    ),
    "a child made by os.fork() while another thread's exchange runs": (
        lambda s, c: s.masked_answer(c, delay=1.0 if s.current.number == 1 else 0.0),
        """
        import warnings
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads running
        log, capture = app_logger()
        held = threading.Thread(target=log.info, args=("user %s %d", "john", 0))
        held.start()
        time.sleep(0.3)  # its exchange holds the handler's lock and turn
        read, write = os.pipe()
        child = os.fork()
        if child == 0:
            log.info("user %s %d", "john", 1)
            os.write(write, json.dumps(capture.seen[-1]).encode())
            os._exit(0)
        os.close(write)
        in_child = json.loads(os.read(read, 1000))
        os.waitpid(child, 0)
        held.join()
        log.info("user %s %d", "john", 2)
        report(child=in_child, parent=capture.seen)
        """,
        lambda seen, service, after: (seen["child"] == "user [MASKED] 1"
                                      and seen["parent"] == ["user [MASKED] 0", "user [MASKED] 2"]),
        30,
    ),
    "an instrumented HTTP client records the request under the caller's span": (
        lambda s, c: s.masked_answer(c),
        """
        from opentelemetry import trace
        from opentelemetry.instrumentation.requests import RequestsInstrumentor
        from opentelemetry.sdk.trace import TracerProvider
        from opentelemetry.sdk.trace.export import SimpleSpanProcessor
        from opentelemetry.sdk.trace.export.in_memory_span_exporter import InMemorySpanExporter

        exported = InMemorySpanExporter()
        provider = TracerProvider()
        provider.add_span_processor(SimpleSpanProcessor(exported))
        trace.set_tracer_provider(provider)
        RequestsInstrumentor().instrument()
        log, capture = app_logger()
        with trace.get_tracer("app").start_as_current_span("handling") as span:
            log.info("user %s", "john")
            caller = span.get_span_context().span_id
        spans = {s.name: s for s in exported.get_finished_spans()}
        report(seen=capture.seen, names=sorted(spans),
               under_caller=spans["POST"].parent is not None and spans["POST"].parent.span_id == caller)
        """,
        lambda seen, service, after: (seen["seen"] == ["user [MASKED]"] and seen["names"] == ["POST", "handling"]
                                      and seen["under_caller"]),
        30,
    ),
}


@pytest.mark.parametrize("case", CASES)
def test_in_a_fresh_interpreter(hostile, tmp_path, case):
    play, script, check, limit = CASES[case]
    service = hostile()
    service.play = play
    seen, after = run_case(script, service.url, tmp_path, limit)
    assert check(seen, service, after), (seen, service.bodies[:3], service.connections, service.most_in_play, after)


# --- in this process -----------------------------------------------------------

def test_the_handlers_lock_is_the_frameworks_for_other_threads(service):
    handler = NerLoggerHandler(service.url, "masked", True)
    lock = handler.lock
    assert lock.acquire() and lock.acquire(timeout=1)  # re-entrant, as the framework's
    elsewhere = []
    t = threading.Thread(target=lambda: elsewhere.append(lock.acquire(timeout=0.1)))
    t.start()
    t.join()
    lock.release()
    lock.release()
    assert elsewhere == [False]
    with lock:
        assert lock._is_owned()
    assert not lock._is_owned()
    handler.createLock()  # a lock made anew is wrapped anew at the next exchange
    assert type(handler.lock) is not type(lock)
    assert handler.process_message_using_ner("john") == "[PERSON]"
    assert type(handler.lock) is type(lock)


class Stop(BaseException):
    """What a mock of the client may raise that is no Exception."""


@pytest.mark.parametrize("failure, raised", [
    (unittest.mock.patch("threading.Thread.start", side_effect=RuntimeError("can't start new thread")), None),
    (unittest.mock.patch("requests.post", side_effect=Stop), Stop),
], ids=["the exchange's thread cannot start", "the client raises what is no Exception"])
def test_the_turn_is_given_back_whatever_ends_the_exchange(service, make_logger, make_capture, failure, raised):
    logger = make_logger()
    init_ner_pii_logging_handler(logger.name, service.url, "masked", True)
    logger.addHandler(capture := make_capture())
    with failure:
        if raised is None:
            logger.info("user %s", "john")
            assert capture.seen[-1]["msg"] == "user john"
        else:  # it reaches the code that logged, as from a request on its own thread
            with pytest.raises(raised):
                logger.info("user %s", "john")
    started = time.monotonic()
    logger.info("user %s", "john")
    assert capture.seen[-1]["msg"] == "user [PERSON]"
    assert time.monotonic() - started < 2.5  # no turn left held, which would cost the whole 3 s


def test_sockets_of_other_code_are_left_alone(service, make_logger, make_capture):
    """Sockets that other code makes while an exchange runs, on the exchange's
    thread or any other, keep their class, time-out and blocking mode."""
    made = {}

    class MakesSockets(logging.Handler):
        def emit(self, record):
            if "here" in made:
                return
            made["here"] = socket.socket()
            made["here"].settimeout(7.0)
            made["non-blocking"], made["peer"] = socket.socketpair()
            made["non-blocking"].setblocking(False)
            try:
                made["non-blocking"].recv(1)
            except OSError as e:
                made["error"] = type(e)
            t = threading.Thread(target=lambda: made.setdefault("there", socket.socket()))
            t.start()
            t.join()

    client = logging.getLogger("urllib3")
    level = client.level
    client.setLevel(logging.DEBUG)
    client.addHandler(spy := MakesSockets())
    try:
        logger = make_logger()
        init_ner_pii_logging_handler(logger.name, service.url, "masked", True)
        logger.addHandler(capture := make_capture())
        logger.info("user %s", "john")
    finally:
        client.removeHandler(spy)
        client.setLevel(level)
    assert capture.seen[0]["msg"] == "user [PERSON]"
    assert made["error"] is BlockingIOError
    assert (made["non-blocking"].gettimeout(), made["here"].gettimeout()) == (0.0, 7.0)
    for name in ("here", "non-blocking", "peer", "there"):
        assert type(made[name]) is socket.socket
        made[name].close()


def mocked_response(url):
    response = unittest.mock.MagicMock()
    response.json.return_value = {"masked": "user [MOCKED]"}
    return unittest.mock.patch("requests.post", return_value=response)


def responses_library(url):
    mock = responses.RequestsMock()
    mock.add(responses.POST, url, json={"masked": "user [MOCKED]"})
    return mock


def requests_mock_library(url):
    mock = requests_mock.Mocker()
    mock.post(url, json={"masked": "user [MOCKED]"})
    return mock


@pytest.mark.parametrize("mocking", [mocked_response, responses_library, requests_mock_library],
                         ids=["unittest.mock", "responses", "requests-mock"])
def test_an_applications_mocks_of_the_service_are_used(make_logger, make_capture, mocking):
    url = "http://masking.invalid/mask"
    logger = make_logger()
    init_ner_pii_logging_handler(logger.name, url, "masked", True)
    logger.addHandler(capture := make_capture())
    with mocking(url):
        logger.info("user %s", "john")
    assert (capture.seen[0]["msg"], capture.seen[0]["args"]) == ("user [MOCKED]", ())


def test_a_mocked_post_is_called_as_the_module_binds_it(make_logger):
    with unittest.mock.patch("requests.post") as post:
        post.return_value.json.return_value = {"masked": "x"}
        NerLoggerHandler("http://masking.invalid/mask", "masked", True).process_message_using_ner("user john")
    (args, kwargs), = post.call_args_list
    assert args == ("http://masking.invalid/mask",)
    assert {k: v for k, v in kwargs.items() if k != "hooks"} == {
        "json": {"text": "user john", "entities": ["EMAIL_ADDRESS", "ID_KTP", "ID_NPWP", "PHONE_NUMBER"]},
        "timeout": 3, "allow_redirects": False, "stream": True}
    assert requests.post is not post
