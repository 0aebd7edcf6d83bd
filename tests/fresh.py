"""Runs code in a fresh interpreter, for tests of process-wide state (import
order, class-level fields, global providers) that must not leak between tests."""

import subprocess
import sys


def run_fresh(code, timeout=120):
    """Runs code in a fresh interpreter; it must exit normally with ok as the
    last line it prints. Returns what it printed before that line."""
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    assert lines and lines[-1] == "ok", out.stdout + out.stderr
    return "\n".join(lines[:-1])
