#!/usr/bin/env bash
# Sets up a machine from nothing, builds the distribution wheel and runs every
# test and check against it. CI runs this (.ci/run). Arguments go to every
# pytest run (for example -x or -k NAME).
#
# The steps, in the order main runs them; each is one function below:
#   setup          GoogleTest (Debian's package, root needed once) and the dev venv .venv/ (scripts/setup.sh)
#   build_wheel    the wheel, from the same incremental build as the dev install
#   repair_wheel   auditwheel gives it its manylinux platform tag; the tag is checked
#   test_venvs     a fresh venv per Python version in build/test-venvs/, with the repaired wheel and its test extra
#   native_tests   ctest (GoogleTest), and the runtime test extension that tests/runtime drives
#   pytest_on X.Y  the whole pytest suite in the fresh venv of that version
#   stubtest       the stubs agree with the runtime
#   type_checks    mypy --strict and pyright over the typed programs, pyright --verifytypes
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"

# Python versions the suite runs on, all against the one cp312-abi3 wheel. The
# first is required; a later one that this machine lacks is reported and skipped.
PYTHONS=(3.12 3.13)
# Application-side code that must pass mypy --strict and pyright (strict, see
# [tool.pyright] in pyproject.toml): the examples and the typed user programs.
TYPED_PROGRAMS=(examples tests/typecheck)

WHEELHOUSE=build/wheelhouse
RUNTIME_TEST_DIR="$ROOT/build/tests"
export PYRIGHT_PYTHON_IGNORE_WARNINGS=1  # no look-up of newer pyright releases
# Compiler warnings fail the build: of the package (scikit-build-core passes
# this to CMake, for the dev install of set-up and for the wheel) and of the tests.
export SKBUILD_CMAKE_DEFINE="ZUNT_WERROR=ON${SKBUILD_CMAKE_DEFINE:+;$SKBUILD_CMAKE_DEFINE}"

step() { printf '\n=== %s\n' "$*"; }

setup() {
    step "set-up"
    if [ ! -f /usr/include/gtest/gtest.h ]; then
        if [ "$(id -u)" -ne 0 ]; then
            echo "test: GoogleTest is missing; install it as root: apt-get install googletest libgtest-dev" >&2
            exit 1
        fi
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq googletest libgtest-dev >/dev/null
    fi
    scripts/setup.sh
}

build_wheel() {
    step "wheel"
    rm -rf build/dist "$WHEELHOUSE"
    .venv/bin/python -m pip wheel -q --no-build-isolation --no-deps -w build/dist .
}

repair_wheel() {
    step "manylinux tag"
    PATH="$ROOT/.venv/bin:$PATH" .venv/bin/auditwheel repair -w "$WHEELHOUSE" build/dist/zunt_core-*.whl 2>&1 \
        | grep -v '^INFO:' || true
    local wheels=("$WHEELHOUSE"/zunt_core-*.whl)
    if [ ${#wheels[@]} -ne 1 ] || [ ! -f "${wheels[0]}" ]; then
        echo "test: auditwheel made no wheel in $WHEELHOUSE" >&2
        exit 1
    fi
    WHEEL="${wheels[0]}"
    # The file name and the WHEEL metadata must both carry the stable-ABI
    # manylinux tag of this machine's architecture.
    .venv/bin/python - "$WHEEL" "$(uname -m)" <<'EOF'
import re, sys, zipfile
wheel, arch = sys.argv[1], sys.argv[2]
pattern = re.compile(rf"cp312-abi3-manylinux_\d+_\d+_{re.escape(arch)}")
with zipfile.ZipFile(wheel) as z:
    meta = next(n for n in z.namelist() if n.endswith(".dist-info/WHEEL"))
    tags = [l.split(":", 1)[1].strip() for l in z.read(meta).decode().splitlines() if l.startswith("Tag:")]
name_tag = wheel.rsplit("/", 1)[-1][: -len(".whl")].split("-", 2)[2]
if not pattern.fullmatch(name_tag) or not tags or not all(pattern.fullmatch(t) for t in tags):
    sys.exit(f"test: wheel tag {name_tag!r} / {tags} is not cp312-abi3-manylinux_*_{arch}")
print(f"{wheel}: {', '.join(tags)}")
EOF
}

test_venvs() {
    step "fresh venvs with the repaired wheel"
    VENVS=()
    local version py venv
    for version in "${PYTHONS[@]}"; do
        if ! py=$(scripts/find-python.sh "$version"); then
            if [ "$version" = "${PYTHONS[0]}" ]; then
                echo "test: no Python $version found" >&2
                exit 1
            fi
            echo "Python $version: not found on PATH or under pyenv; its test run is skipped"
            continue
        fi
        venv="build/test-venvs/$version"
        rm -rf "$venv"
        "$py" -m venv "$venv"
        "$venv/bin/python" -m pip install -q --upgrade pip
        "$venv/bin/python" -m pip install -q "$WHEEL[test]"
        # What the tests will import: the repaired wheel, installed in this venv.
        (cd build && "$ROOT/$venv/bin/python" - "$version" <<'EOF'
import importlib.metadata, sys, zunt_core
wheel = importlib.metadata.distribution("zunt_core").read_text("WHEEL") or ""
tags = [l.split(":", 1)[1].strip() for l in wheel.splitlines() if l.startswith("Tag:")]
if not zunt_core.__file__.startswith(sys.prefix) or not tags or not all("manylinux" in t for t in tags):
    sys.exit(f"test: the venv imports {zunt_core.__file__} with tags {tags}, not the repaired wheel")
print(f"Python {sys.argv[1]} ({sys.version.split()[0]}): {zunt_core.__file__} ({', '.join(tags)})")
EOF
        )
        VENVS+=("$version")
    done
}

native_tests() {
    step "ctest"
    cmake -S . -B "$RUNTIME_TEST_DIR" -G Ninja -DZUNT_BUILD_TESTS=ON -DZUNT_BUILD_NATIVE_TESTS=ON \
        -DZUNT_BUILD_PACKAGE=OFF -DZUNT_WERROR=ON -DPython_EXECUTABLE="$ROOT/.venv/bin/python" >/dev/null
    cmake --build "$RUNTIME_TEST_DIR"
    ctest --test-dir "$RUNTIME_TEST_DIR" --output-on-failure
}

pytest_on() {
    local version="$1"
    step "pytest on Python $version (repaired wheel)"
    # The full Hypothesis profile: every test's whole example count (tests/hypothesis_profiles.py).
    ZUNT_RUNTIME_TEST_DIR="$RUNTIME_TEST_DIR" "build/test-venvs/$version/bin/python" -m pytest tests \
        --hypothesis-profile=full "${PYTEST_ARGS[@]}"
}

stubtest() {
    step "stubtest"
    (cd build && "$ROOT/.venv/bin/python" -m mypy.stubtest zunt_core --allowlist "$ROOT/stubs/stubtest-allowlist.txt")
}

type_checks() {
    step "mypy --strict: ${TYPED_PROGRAMS[*]}"
    .venv/bin/python -m mypy --strict "${TYPED_PROGRAMS[@]}"
    step "pyright (strict): ${TYPED_PROGRAMS[*]}"
    .venv/bin/pyright --pythonpath "$ROOT/.venv/bin/python" "${TYPED_PROGRAMS[@]}"
    step "pyright --verifytypes zunt_core"
    # verifytypes finds the package through the python on PATH (it does not
    # follow --pythonpath): the project's interpreter comes first.
    local report=build/verifytypes.txt
    if ! PATH="$ROOT/.venv/bin:$PATH" pyright --verifytypes zunt_core --ignoreexternal >"$report"; then
        cat "$report"
        echo "test: zunt_core's public names are not all of known type (report above)" >&2
        exit 1
    fi
    grep -E '^(Path of py.typed file|Symbols exported by|Other symbols|Type completeness score)|With (known|ambiguous|unknown) type' "$report"
}

main() {
    PYTEST_ARGS=("$@")
    setup
    build_wheel
    repair_wheel
    test_venvs
    native_tests
    local version
    for version in "${VENVS[@]}"; do
        pytest_on "$version"
    done
    stubtest
    type_checks
}

main "$@"
