import pathlib
import sys

# json_reference.py (the comparison with the pure-Python helpers) and the
# helpers themselves (json_baseline.py) live beside the tests.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
