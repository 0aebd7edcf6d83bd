#!/usr/bin/env bash
# Sets up (GoogleTest, scripts/setup.sh), then runs every test: the C++ unit
# tests with ctest and the Python tests of the installed package with pytest;
# then the checks of the stubs and of the typed programs.
set -euo pipefail
cd "$(dirname "$0")/.."

# GoogleTest, for the C++ unit tests: Debian's package, root needed once.
if [ ! -f /usr/include/gtest/gtest.h ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "test: GoogleTest is missing; install it as root: apt-get install googletest libgtest-dev" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq googletest libgtest-dev >/dev/null
fi
scripts/setup.sh

# Application-side code that must pass mypy --strict and pyright (strict, see
# [tool.pyright] in pyproject.toml): the examples and the typed user programs.
TYPED_PROGRAMS=(examples tests/typecheck)
export PYRIGHT_PYTHON_IGNORE_WARNINGS=1  # no look-up of newer pyright releases

cmake -S . -B build/tests -G Ninja -DZUNT_BUILD_TESTS=ON -DZUNT_BUILD_NATIVE_TESTS=ON -DZUNT_BUILD_PACKAGE=OFF \
    -DPython_EXECUTABLE="$PWD/.venv/bin/python" >/dev/null
cmake --build build/tests
ctest --test-dir build/tests --output-on-failure
ZUNT_RUNTIME_TEST_DIR="$PWD/build/tests" .venv/bin/python -m pytest tests "$@"
# The type stubs must agree with the runtime.
(cd build && ../.venv/bin/python -m mypy.stubtest zunt_core --allowlist ../stubs/stubtest-allowlist.txt)

.venv/bin/python -m mypy --strict "${TYPED_PROGRAMS[@]}"
.venv/bin/pyright --pythonpath "$PWD/.venv/bin/python" "${TYPED_PROGRAMS[@]}"
# verifytypes finds the package through the python on PATH (it does not
# follow --pythonpath): the project's interpreter comes first.
report=build/verifytypes.txt
if ! PATH="$PWD/.venv/bin:$PATH" pyright --verifytypes zunt_core --ignoreexternal >"$report"; then
    cat "$report"
    echo "test: zunt_core's public names are not all of known type (report above)" >&2
    exit 1
fi
grep -E '^(Path of py.typed file|Symbols exported by|Other symbols|Type completeness score)|With (known|ambiguous|unknown) type' "$report"
