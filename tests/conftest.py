import os
import sys

# The runtime toolkit's test extension is built by scripts/test.sh into
# build/tests; make it importable.
_runtime_dir = os.environ.get(
    "ZUNT_RUNTIME_TEST_DIR",
    os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build", "tests"),
)
if _runtime_dir not in sys.path:
    sys.path.insert(0, _runtime_dir)
