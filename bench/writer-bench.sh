#!/usr/bin/env bash
# Runs kelpora-writer-bench against a throwaway PostgreSQL + PostGIS with db/ loaded (as test.sh does).
#   bench/writer-bench.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh >/dev/null
# shellcheck source=../scripts/pgserver.sh
source scripts/pgserver.sh
PGDIR=$(mktemp -d /tmp/kelpora-bench-pg.XXXXXX)
chmod 755 "$PGDIR"
cleanup() { pg_stop "$PGDIR"; rm -rf "$PGDIR"; }
trap cleanup EXIT INT TERM
pg_init "$PGDIR"
PORT=$(pg_free_port)
# Unlike the test server, this one keeps fsync on: commit cost is part of what is measured.
pg_as_owner "$PG_BIN/pg_ctl" -D "$PGDIR/data" -l "$PGDIR/server.log" -w -t 60 \
  -o "-p $PORT -k $PGDIR -c listen_addresses=''" start >/dev/null
export PGHOST=$PGDIR PGPORT=$PORT PGUSER=postgres PGDATABASE=postgres
createdb kelpora_template
pg_load_schema kelpora_template
${KELPORA_BENCH_WRAPPER:-} "${KELPORA_BUILD_DIR:-build}/bench/kelpora-writer-bench" "${1:-20000}"
