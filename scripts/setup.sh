#!/usr/bin/env bash
# Makes the development environment: a Python 3.12 virtual environment in
# .venv/ with the build tools and the package built from this tree.
#
#   scripts/setup.sh                 also the test and type-check tools (what scripts/test.sh needs)
#   scripts/setup.sh --package-only  only what building and running the package needs
#                                    (what scripts/example.sh needs; root only to install PostgreSQL once)
#
# Runs again cheaply: the build under build/ is incremental.
set -euo pipefail
cd "$(dirname "$0")/.."

dev_tools=1
case "${1:-}" in
    "") ;;
    --package-only) dev_tools=0 ;;
    *) echo "usage: scripts/setup.sh [--package-only]" >&2; exit 2 ;;
esac

# PostgreSQL's server, for the authentication component's example and tests:
# Debian's package, installed when its binaries are missing (root needed once).
if ! compgen -G '/usr/lib/postgresql/*/bin/postgres' >/dev/null; then
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq postgresql >/dev/null
    else
        echo "setup: PostgreSQL's server is not installed; the authentication example and tests need it:" \
            "apt-get install postgresql (as root)" >&2
    fi
fi

if [ ! -x .venv/bin/python ]; then
    if ! PY=$(scripts/find-python.sh 3.12); then
        echo "setup: no Python 3.12 interpreter found: put python3.12 on PATH or install 3.12 under pyenv" >&2
        exit 1
    fi
    "$PY" -m venv .venv
fi

.venv/bin/python -m pip install -q --upgrade pip
if [ "$dev_tools" = 1 ]; then
    .venv/bin/python -m pip install -q -r requirements-dev.txt
    .venv/bin/python -m pip install -q --no-build-isolation ".[test]"
else
    .venv/bin/python -m pip install -q -r requirements-build.txt
    .venv/bin/python -m pip install -q --no-build-isolation .
fi
