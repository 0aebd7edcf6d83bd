import itertools
import logging
import pathlib
import sys

import pytest

# regex_pii_reference.py (the plain-Python masking the tests and bench/ compare with) and ner_services.py (the
# masking services of the NER handler's tests) live beside the tests.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from ner_services import Hostile, NerService  # noqa: E402  (beside the tests)


class Capture(logging.Handler):
    """Keeps what each record held when it reached this handler: the record
    object is shared by all handlers and changed in place."""

    def __init__(self):
        super().__init__()
        self.seen = []

    def emit(self, record):
        try:
            text = record.getMessage()
        except Exception:
            text = None
        self.seen.append({"record": record, "msg": record.msg, "args": record.args, "text": text})


_names = itertools.count()


@pytest.fixture
def make_logger():
    """Fresh named loggers that do not propagate to the root; their handlers
    are removed afterwards."""
    made = []

    def make(name=None, propagate=False):
        logger = logging.getLogger(name or f"zunt_test.logger.{next(_names)}")
        logger.setLevel(logging.DEBUG)
        logger.propagate = propagate
        made.append(logger)
        return logger

    yield make
    for logger in made:
        for handler in list(logger.handlers):
            logger.removeHandler(handler)


@pytest.fixture
def make_capture():
    """Capture handlers (see Capture)."""
    return Capture


@pytest.fixture
def service():
    s = NerService()
    yield s
    s.close()


@pytest.fixture
def hostile():
    services = []

    def make(tls=None):
        services.append(Hostile(tls))
        return services[-1]

    yield make
    for s in services:
        s.close()
