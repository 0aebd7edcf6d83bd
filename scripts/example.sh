#!/usr/bin/env bash
# Sets up (scripts/setup.sh), then runs the example of the library's main job.
# The authentication part needs PostgreSQL: the server DATABASE_AUTHENTICATION_URL
# names, or else a throwaway local cluster started here and stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

if [ -z "${DATABASE_AUTHENTICATION_URL:-}" ]; then
    pgdir=$(mktemp -d /tmp/zunt-example-pg.XXXXXX)
    trap '.venv/bin/python scripts/pgcluster.py stop "$pgdir"; rm -rf "$pgdir"' EXIT
    DATABASE_AUTHENTICATION_URL=$(.venv/bin/python scripts/pgcluster.py start "$pgdir")
    export DATABASE_AUTHENTICATION_URL
fi
.venv/bin/python examples/main_job.py
