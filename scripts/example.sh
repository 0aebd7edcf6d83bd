#!/usr/bin/env bash
# Sets up what the package needs (scripts/setup.sh --package-only: nothing that
# only the tests need), then runs the example of the library's main job. Its
# authentication part needs PostgreSQL: the server DATABASE_AUTHENTICATION_URL
# names, or else a throwaway local cluster started here and stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --package-only

if [ -z "${DATABASE_AUTHENTICATION_URL:-}" ]; then
    pgdir=$(mktemp -d /tmp/zunt-example-pg.XXXXXX)
    trap '.venv/bin/python scripts/pgcluster.py stop "$pgdir"; rm -rf "$pgdir"' EXIT
    DATABASE_AUTHENTICATION_URL=$(.venv/bin/python scripts/pgcluster.py start "$pgdir")
    export DATABASE_AUTHENTICATION_URL
fi
.venv/bin/python examples/main_job.py
