"""Code for a fresh interpreter that records which zunt_core modules are
imported, and in which order, for the tests of what an import loads."""

import textwrap

# Puts Recorder first on sys.meta_path: it notes the first import request of
# every module of the package (Recorder.seen, in order) and declines to find
# any, so it takes no part in the import itself.
_RECORDER = """
import sys

class Recorder:
    seen = []

    @classmethod
    def find_spec(cls, name, path=None, target=None):
        if name.startswith("zunt_core") and name not in cls.seen:
            cls.seen.append(name)
        return None

sys.meta_path.insert(0, Recorder)
"""


def import_probe(code, *, before=""):
    """`code` preceded by the recorder. `before` runs first, unrecorded: the
    imports the test takes as given."""
    return textwrap.dedent(before) + _RECORDER + textwrap.dedent(code)
