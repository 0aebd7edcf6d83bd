#!/usr/bin/env bash
# Prints the path of a Python interpreter of the version given (for example
# 3.12): pythonX.Y on PATH, else the newest X.Y under pyenv. Exits 1 when
# there is none.
set -euo pipefail
version="${1:?usage: scripts/find-python.sh X.Y}"
exe="python$version"

if command -v "$exe" >/dev/null 2>&1 && "$exe" -c 'import sys' >/dev/null 2>&1; then
    command -v "$exe"
    exit 0
fi
roots=()
if command -v pyenv >/dev/null 2>&1; then roots+=("$(pyenv root)"); fi
roots+=("${PYENV_ROOT:-$HOME/.pyenv}")
for root in "${roots[@]}"; do
    for candidate in $(ls -d "$root"/versions/"$version"* 2>/dev/null | sort -V -r); do
        if [ -x "$candidate/bin/$exe" ]; then
            echo "$candidate/bin/$exe"
            exit 0
        fi
    done
done
exit 1
