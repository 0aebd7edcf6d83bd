#!/usr/bin/env bash
# Sets up what the package needs (scripts/setup.sh --package-only: no root,
# nothing that only the tests need), then runs the example of the library's
# main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --package-only
.venv/bin/python examples/main_job.py
