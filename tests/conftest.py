"""The runtime toolkit's tests (tests/runtime) drive a small extension of their own, _zunt_runtime_test.

scripts/test.sh builds it into build/tests and names that folder in
ZUNT_RUNTIME_TEST_DIR. Run by hand without that variable, pytest brings it up
to date in build/tests itself (with the cmake, ninja and nanobind of the
interpreter's environment), or stops before collecting, with one line that
names the command to run.
"""

import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import uuid

import psycopg
import pytest
from sqlalchemy.engine import make_url

ROOT = pathlib.Path(__file__).resolve().parent.parent
# Helper modules of the tests themselves (fresh.py: fresh-interpreter runs;
# import_probe.py: what an import loads; hypothesis_profiles.py: how many
# examples the Hypothesis tests run).
sys.path.insert(0, str(ROOT / "tests"))
import hypothesis_profiles  # noqa: E402, F401  (registers and loads the profiles before any test module)
RUNTIME_TESTS = ROOT / "tests" / "runtime"
MODULE = "_zunt_runtime_test"
SET_UP = "run scripts/setup.sh, then pytest again (or run scripts/test.sh)"


def _stop(reason):
    pytest.exit(f"tests/runtime: {reason}", returncode=pytest.ExitCode.USAGE_ERROR)


def _selects_runtime_tests(config):
    """Whether the paths given to pytest take in tests/runtime."""
    for arg in config.args:
        path = pathlib.Path(config.invocation_params.dir, arg.split("::", 1)[0]).resolve()
        if path == RUNTIME_TESTS or path in RUNTIME_TESTS.parents or RUNTIME_TESTS in path.parents:
            return True
    return False


def _tool(name):
    """A tool from the interpreter's environment (the dev venv), else from PATH."""
    beside = pathlib.Path(sys.executable).parent / name
    return str(beside) if os.access(beside, os.X_OK) else shutil.which(name)


def _say(config, line):
    capture = config.pluginmanager.getplugin("capturemanager")
    if capture is None:
        print(line, flush=True)
        return
    with capture.global_and_fixture_disabled():
        print(line, flush=True)


def _build(config, build_dir):
    """Brings the extension up to date; False when this environment cannot build it."""
    cmake, ninja = _tool("cmake"), _tool("ninja")
    if cmake is None or ninja is None or importlib.util.find_spec("nanobind") is None:
        return False
    configure = [
        cmake, "-S", str(ROOT), "-B", str(build_dir), "-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}",
        "-DZUNT_BUILD_TESTS=ON", "-DZUNT_BUILD_PACKAGE=OFF", "-DZUNT_BUILD_NATIVE_TESTS=OFF",
        f"-DPython_EXECUTABLE={sys.executable}",
    ]
    build = [cmake, "--build", str(build_dir), "--target", MODULE]
    commands = [build] if (build_dir / "CMakeCache.txt").exists() else [configure, build]
    log_path = ROOT / "build" / "runtime-test-extension.log"
    log_path.parent.mkdir(exist_ok=True)
    _say(config, f"tests/runtime: bringing {MODULE} up to date in {build_dir} (log: {log_path})")
    with open(log_path, "w") as log:
        for command in commands:
            if subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, cwd=ROOT).returncode != 0:
                _stop(f"building {MODULE} failed (see {log_path}): {SET_UP}")
    return True


def pytest_configure(config):
    if not _selects_runtime_tests(config):
        return
    given = os.environ.get("ZUNT_RUNTIME_TEST_DIR")
    build_dir = pathlib.Path(given) if given else ROOT / "build" / "tests"
    built = False if given else _build(config, build_dir)
    if str(build_dir) not in sys.path:
        sys.path.insert(0, str(build_dir))
    if importlib.util.find_spec(MODULE) is None:
        if given:
            _stop(f"{MODULE} is not in ZUNT_RUNTIME_TEST_DIR={given}: run scripts/test.sh")
        if not built:
            _stop(f"building {MODULE} needs cmake, ninja and nanobind beside {sys.executable}: {SET_UP}")
        _stop(f"{MODULE} was built but is not in {build_dir}: run scripts/test.sh")


# ---------------------------------------------------------------------------
# One PostgreSQL server for the whole run: a throwaway cluster started here
# (stopped at the end), or the server that ZUNT_TEST_DATABASE_URL names (a URL
# to a database of it, for a role that may create databases). No test that
# needs it is ever skipped: without a server the run fails and says why.

sys.path.insert(0, str(ROOT / "scripts"))
import pgcluster  # noqa: E402


class PgServer:
    def __init__(self, url, directory=None):
        self.url = make_url(url)
        self.directory = directory  # set when the server is our own

    def url_for(self, database):
        return self.url.set(database=database).render_as_string(hide_password=False)

    def admin(self):
        u = self.url
        return psycopg.connect(
            host=u.host, port=u.port, user=u.username, password=u.password, dbname=u.database or "postgres",
            autocommit=True,
        )

    def create_database(self, prefix="zunt"):
        name = f"{prefix}_{uuid.uuid4().hex[:12]}"
        with self.admin() as conn:
            conn.execute(f'CREATE DATABASE "{name}"')
        return name

    def drop_database(self, name):
        with self.admin() as conn:
            conn.execute(f'DROP DATABASE IF EXISTS "{name}" WITH (FORCE)')

    def restart(self):
        if self.directory is None:
            pytest.fail("restarting the server needs the tests' own cluster (ZUNT_TEST_DATABASE_URL is set)")
        pgcluster.restart(self.directory)


@pytest.fixture(scope="session")
def pg_server():
    named = os.environ.get("ZUNT_TEST_DATABASE_URL")
    if named:
        server = PgServer(named)
        try:
            server.admin().close()
        except Exception as e:  # the run must fail, not skip, without a server
            pytest.fail(f"ZUNT_TEST_DATABASE_URL names a server that cannot be reached: {e}")
        yield server
        return
    directory = tempfile.mkdtemp(prefix="zunt-pg-")
    try:
        url = pgcluster.start(directory)
    except pgcluster.ClusterError as e:
        pytest.fail(f"cannot start a PostgreSQL cluster for the tests: {e}")
    try:
        yield PgServer(url, directory)
    finally:
        pgcluster.stop(directory)
        shutil.rmtree(directory, ignore_errors=True)


