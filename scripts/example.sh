#!/usr/bin/env bash
# Sets up (scripts/setup.sh), then runs the example of the library's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
.venv/bin/python examples/main_job.py
