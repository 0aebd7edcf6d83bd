"""A throwaway PostgreSQL cluster on 127.0.0.1, for the tests and the example.

    python scripts/pgcluster.py start DIR   # prints the server's URL (database "postgres")
    python scripts/pgcluster.py stop DIR

The cluster lives in DIR (made if missing) and listens on a free port of
127.0.0.1 only, with trust authentication for the local superuser "postgres".
Run as root, the server runs as the "postgres" user (initdb refuses root).
"""

from __future__ import annotations

import glob
import os
import pwd
import shutil
import socket
import subprocess
import sys

SUPERUSER = "postgres"


class ClusterError(RuntimeError):
    pass


def _bin_dir() -> str:
    candidates = sorted(
        glob.glob("/usr/lib/postgresql/*/bin/initdb"),
        key=lambda p: [int(x) for x in p.split("/")[4].split(".") if x.isdigit()],
    )
    if candidates:
        return os.path.dirname(candidates[-1])
    initdb = shutil.which("initdb")
    if initdb:
        return os.path.dirname(os.path.realpath(initdb))
    raise ClusterError(
        "PostgreSQL server binaries not found (no /usr/lib/postgresql/*/bin/initdb, no initdb on PATH): "
        "run scripts/setup.sh as root, or install Debian's postgresql package"
    )


def _free_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _as_server_user(cmd: list[str]) -> list[str]:
    if os.geteuid() != 0:
        return cmd
    return ["runuser", "-u", "postgres", "--", *cmd]


def _give_to_server_user(path: str) -> None:
    if os.geteuid() != 0:
        return
    try:
        user = pwd.getpwnam("postgres")
    except KeyError as e:
        raise ClusterError("running as root, but there is no 'postgres' user to run the server as") from e
    for root, dirs, files in os.walk(path):
        os.chown(root, user.pw_uid, user.pw_gid)
        for name in files:
            os.chown(os.path.join(root, name), user.pw_uid, user.pw_gid)


def _server_env() -> dict[str, str]:
    """The environment of the PostgreSQL commands: the caller's, without the
    libraries it preloads (a sanitizer's runtime preloaded for the Python
    process under test must not reach initdb and the server)."""
    return {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


def _run(cmd: list[str], what: str) -> None:
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=_server_env())
    if done.returncode != 0:
        raise ClusterError(f"{what} failed ({' '.join(cmd)}):\n{done.stdout}")


def url_of(directory: str) -> str:
    with open(os.path.join(directory, "url")) as f:
        return f.read().strip()


def start(directory: str) -> str:
    """Starts a cluster in `directory` (reusing one already made there) and answers its URL."""
    directory = os.path.abspath(directory)
    os.makedirs(directory, exist_ok=True)
    data = os.path.join(directory, "data")
    bin_dir = _bin_dir()
    if os.path.exists(os.path.join(directory, "url")) and _running(bin_dir, data):
        return url_of(directory)
    if os.geteuid() == 0:
        # The server user must be able to reach the folder.
        os.chmod(directory, 0o755)
    _give_to_server_user(directory)
    if not os.path.exists(os.path.join(data, "PG_VERSION")):
        _run(
            _as_server_user(
                [os.path.join(bin_dir, "initdb"), "-D", data, "-A", "trust", "-U", SUPERUSER, "-E", "UTF8",
                 "--locale=C", "--no-sync"]
            ),
            "initdb",
        )
    port = _free_port()
    options = (
        f"-p {port} -k {directory} -c listen_addresses=127.0.0.1 -c max_connections=400 "
        "-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
    )
    log = os.path.join(directory, "server.log")
    _run(
        _as_server_user([os.path.join(bin_dir, "pg_ctl"), "-D", data, "-l", log, "-o", options, "-w", "-t", "60",
                         "start"]),
        "starting PostgreSQL",
    )
    url = f"postgresql+psycopg://{SUPERUSER}@127.0.0.1:{port}/postgres"
    with open(os.path.join(directory, "url"), "w") as f:
        f.write(url + "\n")
    return url


def _running(bin_dir: str, data: str) -> bool:
    if not os.path.isdir(data):
        return False
    done = subprocess.run(_as_server_user([os.path.join(bin_dir, "pg_ctl"), "-D", data, "status"]),
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=_server_env())
    return done.returncode == 0


def stop(directory: str) -> None:
    """Stops the cluster of `directory` (fast shutdown); nothing when none runs."""
    directory = os.path.abspath(directory)
    data = os.path.join(directory, "data")
    bin_dir = _bin_dir()
    if _running(bin_dir, data):
        _run(_as_server_user([os.path.join(bin_dir, "pg_ctl"), "-D", data, "-m", "fast", "-w", "stop"]),
             "stopping PostgreSQL")


def restart(directory: str) -> None:
    """Restarts the server of `directory` on the same port, dropping every connection."""
    directory = os.path.abspath(directory)
    data = os.path.join(directory, "data")
    # The server's output goes to its log, as at the start: left on pg_ctl's
    # output, the server would hold the pipe that _run reads to its end.
    log = os.path.join(directory, "server.log")
    _run(_as_server_user([os.path.join(_bin_dir(), "pg_ctl"), "-D", data, "-l", log, "-m", "fast", "-w", "-t", "60",
                          "restart"]),
         "restarting PostgreSQL")


def main(argv: list[str]) -> int:
    if len(argv) != 3 or argv[1] not in ("start", "stop"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        if argv[1] == "start":
            print(start(argv[2]))
        else:
            stop(argv[2])
    except ClusterError as e:
        print(f"pgcluster: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
