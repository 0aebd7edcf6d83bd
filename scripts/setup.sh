#!/usr/bin/env bash
# Sets up a fresh machine: system packages, a Python 3.12 virtual environment
# in .venv/, the build and test tools, and the package itself.
set -euo pipefail
cd "$(dirname "$0")/.."

find_python() {
    local candidate
    if command -v python3.12 >/dev/null 2>&1 && python3.12 -c 'import sys' >/dev/null 2>&1; then
        command -v python3.12
        return 0
    fi
    local roots=()
    if command -v pyenv >/dev/null 2>&1; then roots+=("$(pyenv root)"); fi
    roots+=("${PYENV_ROOT:-$HOME/.pyenv}")
    for root in "${roots[@]}"; do
        for candidate in $(ls -d "$root"/versions/3.12* 2>/dev/null | sort -V -r); do
            if [ -x "$candidate/bin/python3.12" ]; then
                echo "$candidate/bin/python3.12"
                return 0
            fi
        done
    done
    return 1
}

# System packages: GoogleTest for the C++ unit tests; PostgreSQL's server for
# the authentication component's tests and example.
need_apt=()
[ -f /usr/include/gtest/gtest.h ] || need_apt+=(googletest libgtest-dev)
compgen -G '/usr/lib/postgresql/*/bin/postgres' >/dev/null || need_apt+=(postgresql)
if [ ${#need_apt[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing system packages ${need_apt[*]}; install them as root (apt-get install ${need_apt[*]})" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_apt[@]}" >/dev/null
fi

if [ ! -x .venv/bin/python ]; then
    if ! PY=$(find_python); then
        echo "setup: no Python 3.12 interpreter found: put python3.12 on PATH or install 3.12 under pyenv" >&2
        exit 1
    fi
    "$PY" -m venv .venv
fi

.venv/bin/python -m pip install -q --upgrade pip >/dev/null
.venv/bin/python -m pip install -q -r requirements-dev.txt
.venv/bin/python -m pip install -q --no-build-isolation .
