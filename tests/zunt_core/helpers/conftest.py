import pathlib
import sys

# json_reference.py (the comparison with the pure-Python helpers) lives beside the tests.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
