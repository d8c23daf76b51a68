#!/usr/bin/env bash
# Runs kelpora-dbwriter-bench against a throwaway PostgreSQL + PostGIS server.
# Usage: bench/kelpora-dbwriter-bench.sh [features]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh >/dev/null
# shellcheck source=../scripts/pgserver.sh
source scripts/pgserver.sh
PGDIR=$(mktemp -d /tmp/kelpora-bench-pg.XXXXXX)
trap 'pg_stop "$PGDIR"; rm -rf "$PGDIR"' EXIT INT TERM
pg_throwaway "$PGDIR"
"${KELPORA_BUILD_DIR:-build}/bench/kelpora-dbwriter-bench" "$@"
