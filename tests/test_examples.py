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
PROGRAM_VARIABLES = ("EXAMPLE_", "WELCOME_", "REMINDER_", "USER_PROGRAM_", "DATABASE_AUTHENTICATION_URL", "AUTH_")

UUID = "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}"
KEY_TEXT = "[A-Za-z0-9_-]"

# Exact texts, or compiled patterns for output that holds values made by the run.
EXPECTED_OUTPUT = {
    "examples/main_job.py": re.compile(
        re.escape(
            "200 {'user': 'grace', 'page_size': 50}\n"
            "404 NotFoundException User bob not found\n"
            "config error: Environment variable EXAMPLE_KNOWN_USERS cannot be converted to int"
            " | caused by: ValueError(\"invalid literal for int() with base 10: 'ada, grace ,linus'\")\n"
        )
        + rf"client example-client-[0-9a-f]{{8}} registered; its API key \(shown once\): "
        rf"sk-client-{KEY_TEXT}{{48}}\.{KEY_TEXT}+\.{KEY_TEXT}{{43}}\n"
        rf"user ada-[0-9a-f]{{8}} created; the user key \(shown once\): "
        rf"sk-user-{KEY_TEXT}{{48}}\.{KEY_TEXT}+\.{KEY_TEXT}{{43}}\n"
        rf"logged in: Bearer token {UUID}, expires \d{{4}}-\d\d-\d\d \d\d:\d\d\n"
        rf"token verified: it belongs to user {UUID}\n"
        r"token revoked: True\n"
        r"verified again: refused with JWTError: Token has been revoked\.\n"
        + re.escape(
            "log: INFO example.refunds: refund sent to bu******om, phone +62 ******7890, NIK 32******01\n"
            "span handle_request {'input.args[0]': 'ada', 'output': \"{'user': 'ada', 'page_size': 50}\"}"
            " from zunt-example\n"
        )
    ),
    "examples/quickstart.py": "initialized welcome\nHello, Ada!\n{'profile': {'first_name': 'Ada'}}\n",
    "tests/typecheck/user_program.py": "ok\n",
    "tests/typecheck/auth_program.py": "ok\n",
}


# Programs that start the authentication component get a database of their own.
NEEDS_DATABASE = {"examples/main_job.py", "tests/typecheck/auth_program.py"}


@pytest.mark.parametrize("program", PROGRAMS, ids=lambda p: str(p.relative_to(ROOT)))
def test_program_runs(program, tmp_path, request):
    name = str(program.relative_to(ROOT))
    env = {k: v for k, v in os.environ.items() if not k.startswith(PROGRAM_VARIABLES)}
    database = None
    if name in NEEDS_DATABASE:
        server = request.getfixturevalue("pg_server")
        database = server.create_database(prefix="zunt_example")
        env["DATABASE_AUTHENTICATION_URL"] = server.url_for(database)
        env.pop("AUTH_SECRET_KEY", None)
    try:
        out = subprocess.run([sys.executable, str(program)], cwd=tmp_path, env=env, capture_output=True, text=True)
    finally:
        if database is not None:
            server.drop_database(database)
    assert out.returncode == 0, out.stderr
    assert name in EXPECTED_OUTPUT, f"add the output of {name} to EXPECTED_OUTPUT"
    expected = EXPECTED_OUTPUT[name]
    if isinstance(expected, re.Pattern):
        assert expected.fullmatch(out.stdout), out.stdout
    else:
        assert out.stdout == expected


def test_readme_python_is_an_example():
    """Every python block of the README is the whole text of an example, so CI runs and type-checks it."""
    blocks = re.findall(r"^```python\n(.*?)^```$", (ROOT / "README.md").read_text(), re.S | re.M)
    examples = {p.read_text() for p in ROOT.glob("examples/*.py")}
    assert blocks
    for block in blocks:
        assert block in examples, block.splitlines()[0]
