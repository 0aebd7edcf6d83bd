#!/usr/bin/env bash
# Sets up (scripts/setup.sh), then runs every test: the C++ unit tests with
# ctest and the Python tests of the installed package with pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake -S . -B build/tests -G Ninja -DZUNT_BUILD_TESTS=ON -DZUNT_BUILD_PACKAGE=OFF \
    -DPython_EXECUTABLE="$PWD/.venv/bin/python" >/dev/null
cmake --build build/tests
ctest --test-dir build/tests --output-on-failure
ZUNT_RUNTIME_TEST_DIR="$PWD/build/tests" .venv/bin/python -m pytest tests "$@"
# The type stubs must agree with the runtime.
(cd build && ../.venv/bin/python -m mypy.stubtest zunt_core --allowlist ../stubs/stubtest-allowlist.txt)
