#!/usr/bin/env bash
# Runs kelpora-writer-bench against a throwaway PostgreSQL + PostGIS with db/ loaded (as test.sh does).
#   bench/writer-bench.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh >/dev/null
# shellcheck source=../scripts/pgserver.sh
source scripts/pgserver.sh
PGDIR=$(mktemp -d /tmp/kelpora-bench-pg.XXXXXX)
cleanup() { pg_stop "$PGDIR"; rm -rf "$PGDIR"; }
trap cleanup EXIT INT TERM
# Unlike the test server, this one keeps fsync on: commit cost is part of what is measured.
pg_throwaway "$PGDIR" on
createdb kelpora_template
pg_load_schema kelpora_template
${KELPORA_BENCH_WRAPPER:-} "${KELPORA_BUILD_DIR:-build}/bench/kelpora-writer-bench" "${1:-20000}"
