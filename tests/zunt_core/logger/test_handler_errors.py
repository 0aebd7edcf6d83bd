"""A masking handler's error never reaches the code that logged.

Every way a handler can fail, errors raised natively (with no Python frame
of their own) included, is reported through the handler's handleError as the
host's own handlers report theirs: with raiseExceptions set, the standard
report on stderr with the exception's traceback and the call stack of the
log call; without it, nothing. The log call returns and the later handlers
receive the record unchanged.
"""

import logging
import re
import sys
import traceback

import pytest

from zunt_core.logger.ner_pii_logger_handler import NerLoggerHandler
from zunt_core.logger.regex_pii_logger_handler import RegexLoggerHandler


def regex_handler(**constants):
    handler = RegexLoggerHandler(True)
    for name, value in constants.items():
        setattr(handler, name, value)
    return handler


def ner_handler_without(field):
    handler = NerLoggerHandler("http://127.0.0.1:9/mask", "masked", True)
    delattr(handler, field)
    return handler


# (handler, msg, args, error type): each fails in emit.
FAILURES = {
    "regex: placeholders that do not fit": (lambda: regex_handler(), "value %d", ("x",), TypeError),
    # a single pattern where the class keeps a list: not iterable, raised natively
    "regex: one pattern for the phone list": (
        lambda: regex_handler(REGEX_PHONE_NUMBER=re.compile(r"\d{12}")), "call %s", ("081234567890",), TypeError),
    "regex: no pattern at all": (lambda: regex_handler(REGEX_PHONE_NUMBER=None), "call %s", ("0812",), TypeError),
    "regex: a pattern constant the host's re refuses": (
        lambda: regex_handler(REGEX_KTP=5), "id %s", ("3201",), TypeError),
    "ner: placeholders that do not fit": (
        lambda: NerLoggerHandler("http://127.0.0.1:9/mask", "masked", True), "value %d", ("x",), TypeError),
    # the field read natively on every record
    "ner: its address removed": (lambda: ner_handler_without("api_url"), "user %s", ("john",), AttributeError),
    "ner: its flag removed": (lambda: ner_handler_without("pii_ner_process_enabled"), "user %s", ("john",),
                              AttributeError),
}


@pytest.fixture(params=[True, False], ids=["raiseExceptions", "quiet"])
def raise_exceptions(request, monkeypatch):
    monkeypatch.setattr(logging, "raiseExceptions", request.param)
    return request.param


def log_it(logger, msg, args):
    logger.warning(msg, *args)  # the log call: the report's call stack must end here


@pytest.mark.parametrize("case", FAILURES)
def test_a_failing_handler_reports_through_handle_error(case, raise_exceptions, make_logger, make_capture, capsys):
    make_handler, msg, args, error_type = FAILURES[case]
    logger = make_logger()
    failing = make_handler()
    later = make_capture()
    logger.addHandler(failing)
    logger.addHandler(later)

    log_it(logger, msg, args)  # returns normally

    (seen,) = later.seen
    assert (seen["msg"], seen["args"]) == (msg, args)
    err = capsys.readouterr().err
    if not raise_exceptions:
        assert err == ""
        return
    assert err.startswith("--- Logging error ---\nTraceback (most recent call last):\n")
    assert f"\n{error_type.__name__}: " in err
    stack = err.split("Call stack:\n", 1)[1]
    assert "in log_it\n" in stack and "logger.warning(msg, *args)" in stack
    assert f"Message: {msg!r}\nArguments: {args!r}\n" in err


@pytest.mark.parametrize("case", FAILURES)
def test_the_error_being_handled_carries_a_traceback(case, make_logger):
    make_handler, msg, args, error_type = FAILURES[case]
    handler = make_handler()
    seen = {}

    def handle_error(record):
        seen["exc_info"] = sys.exc_info()
        seen["printed"] = traceback.format_exc()

    handler.handleError = handle_error
    logger = make_logger()
    logger.addHandler(handler)

    log_it(logger, msg, args)

    error_class, error, tb = seen["exc_info"]
    assert error_class is error_type and isinstance(error, error_type) and tb is not None
    # what the host's handleError walks: from the innermost frame out to the log call
    frame, callers = tb.tb_frame, []
    while frame is not None:
        callers.append(frame.f_code.co_name)
        frame = frame.f_back
    assert "log_it" in callers
    assert seen["printed"].startswith("Traceback (most recent call last):\n")


class Recursing:
    def __str__(self):
        return str(self)


@pytest.mark.parametrize("make_handler", [
    lambda: RegexLoggerHandler(True), lambda: NerLoggerHandler("http://127.0.0.1:9/mask", "masked", True),
], ids=["regex", "ner"])
def test_a_recursion_error_of_the_applications_arguments_passes(make_handler, make_logger):
    # as the host's own handlers let it pass
    logger = make_logger()
    logger.addHandler(make_handler())
    with pytest.raises(RecursionError):
        logger.warning("value %s", Recursing())
