"""The examples, the typed user programs and the README's code run as shown.

Each program runs in a fresh interpreter from an empty working directory (the
plugin manager loads the nearest .env file), without the variables it reads.
"""

import os
import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
PROGRAMS = sorted(ROOT.glob("examples/*.py")) + sorted(ROOT.glob("tests/typecheck/*.py"))
# Variables the programs read; a value left in the caller's environment would change their output.
PROGRAM_VARIABLES = ("EXAMPLE_", "WELCOME_", "REMINDER_", "USER_PROGRAM_")

EXPECTED_OUTPUT = {
    "examples/main_job.py": (
        "200 {'user': 'grace', 'page_size': 50}\n"
        "404 NotFoundException User bob not found\n"
        "config error: Environment variable EXAMPLE_KNOWN_USERS cannot be converted to int"
        " | caused by: ValueError(\"invalid literal for int() with base 10: 'ada, grace ,linus'\")\n"
    ),
    "examples/quickstart.py": "initialized welcome\nHello, Ada!\n{'profile': {'first_name': 'Ada'}}\n",
    "tests/typecheck/user_program.py": "ok\n",
}


@pytest.mark.parametrize("program", PROGRAMS, ids=lambda p: str(p.relative_to(ROOT)))
def test_program_runs(program, tmp_path):
    env = {k: v for k, v in os.environ.items() if not k.startswith(PROGRAM_VARIABLES)}
    out = subprocess.run([sys.executable, str(program)], cwd=tmp_path, env=env, capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    name = str(program.relative_to(ROOT))
    assert name in EXPECTED_OUTPUT, f"add the output of {name} to EXPECTED_OUTPUT"
    assert out.stdout == EXPECTED_OUTPUT[name]


def test_readme_python_is_an_example():
    """Every python block of the README is the whole text of an example, so CI runs and type-checks it."""
    blocks = re.findall(r"^```python\n(.*?)^```$", (ROOT / "README.md").read_text(), re.S | re.M)
    examples = {p.read_text() for p in ROOT.glob("examples/*.py")}
    assert blocks
    for block in blocks:
        assert block in examples, block.splitlines()[0]
