"""The straightforward pure-Python JSON helpers (bench/json_baseline.py), the
reference of the host's own behaviour for the tests, and small tools to run
a helper and the reference on twin inputs."""

import importlib.util
from pathlib import Path

from zunt_core.helpers import json as native


def _load():
    path = Path(__file__).resolve().parents[3] / "bench" / "json_baseline.py"
    spec = importlib.util.spec_from_file_location("json_reference", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


reference = _load()


def outcome(fn, *args):
    """("ok", result) or ("raised", exception type)."""
    try:
        return "ok", fn(*args)
    except Exception as exc:  # noqa: BLE001 - the type is what is compared
        return "raised", type(exc)


def both(name, make):
    """Runs the native helper `name` and the reference on two fresh inputs
    from `make()` (which returns the argument tuple), and returns both
    outcomes with the arguments each one was given."""
    args_native, args_reference = make(), make()
    return (outcome(getattr(native, name), *args_native), args_native,
            outcome(getattr(reference, name), *args_reference), args_reference)
