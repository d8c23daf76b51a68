#!/usr/bin/env bash
# Runs kelpora-dbwriter-bench against a throwaway PostgreSQL + PostGIS server.
# Usage: bench/kelpora-dbwriter-bench.sh [features]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh >/dev/null
# shellcheck source=../scripts/pgserver.sh
source scripts/pgserver.sh
PGDIR=$(mktemp -d /tmp/kelpora-bench-pg.XXXXXX)
chmod 755 "$PGDIR"
trap 'pg_stop "$PGDIR"; rm -rf "$PGDIR"' EXIT INT TERM
pg_init "$PGDIR"
PORT=$(pg_free_port)
pg_start "$PGDIR" "$PORT"
export PGHOST=$PGDIR PGPORT=$PORT PGUSER=postgres
"${KELPORA_BUILD_DIR:-build}/bench/kelpora-dbwriter-bench" "$@"
