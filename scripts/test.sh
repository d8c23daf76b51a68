#!/usr/bin/env bash
# The one test command: build, start a throwaway PostgreSQL + PostGIS, load db/ into a template database
# that every database test clones, run every test, stop the server on every way out.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

scripts/bootstrap.sh

# shellcheck source=pgserver.sh
source scripts/pgserver.sh
PGDIR=$(mktemp -d /tmp/kelpora-test-pg.XXXXXX)
chmod 755 "$PGDIR"
cleanup() { pg_stop "$PGDIR"; rm -rf "$PGDIR"; }
trap cleanup EXIT INT TERM

pg_init "$PGDIR"
for attempt in 1 2 3 4 5; do
  PORT=$(pg_free_port)
  pg_start "$PGDIR" "$PORT" && break
  [ "$attempt" = 5 ] && { echo "test.sh: could not start PostgreSQL" >&2; exit 1; }
done

export PGHOST=$PGDIR PGPORT=$PORT PGUSER=postgres PGDATABASE=postgres
export KELPORA_TEST_PASSWORD=kelpora-test
psql -X -q -v ON_ERROR_STOP=1 -c "ALTER USER postgres PASSWORD '$KELPORA_TEST_PASSWORD'"
export KELPORA_TEST_TEMPLATE=kelpora_template
createdb "$KELPORA_TEST_TEMPLATE"
pg_load_schema "$KELPORA_TEST_TEMPLATE"
psql -X -q -c "ALTER DATABASE $KELPORA_TEST_TEMPLATE WITH IS_TEMPLATE true"

BUILD_DIR=${KELPORA_BUILD_DIR:-build}
status=0
(cd "$BUILD_DIR" && ctest --output-on-failure -j "$(nproc)") || status=$?

# Fuzz targets run for a bounded time when clang built them.
if [ -x scripts/fuzz.sh ] && [ "${KELPORA_FUZZ_SECONDS:-60}" != 0 ]; then
  scripts/fuzz.sh "${KELPORA_FUZZ_SECONDS:-60}" || status=1
fi
exit $status
