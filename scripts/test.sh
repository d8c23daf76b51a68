#!/usr/bin/env bash
# The one test command: build, start a throwaway PostgreSQL + PostGIS, load db/ into a template database
# that every database test clones, run every test, stop the server on every way out.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

KELPORA_WERROR=ON scripts/bootstrap.sh

# shellcheck source=pgserver.sh
source scripts/pgserver.sh
PGDIR=$(mktemp -d /tmp/kelpora-test-pg.XXXXXX)
cleanup() { pg_stop "$PGDIR"; rm -rf "$PGDIR"; }
trap cleanup EXIT INT TERM
pg_throwaway "$PGDIR"
export KELPORA_TEST_PASSWORD=kelpora-test
psql -X -q -v ON_ERROR_STOP=1 -c "ALTER USER postgres PASSWORD '$KELPORA_TEST_PASSWORD'"
export KELPORA_TEST_TEMPLATE=kelpora_template
createdb "$KELPORA_TEST_TEMPLATE"
pg_load_schema "$KELPORA_TEST_TEMPLATE"
psql -X -q -c "ALTER DATABASE $KELPORA_TEST_TEMPLATE WITH IS_TEMPLATE true"

BUILD_DIR=${KELPORA_BUILD_DIR:-build}
status=0
CTEST_LOG=$PGDIR/ctest.log
(cd "$BUILD_DIR" && ctest --output-on-failure -j "$(nproc)") 2>&1 | tee "$CTEST_LOG" || true
total=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$CTEST_LOG" | tail -n 1)
failed=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$CTEST_LOG" | tail -n 1)
if [ -z "$total" ] || [ -z "$failed" ] || [ "$failed" != 0 ] || [ "$total" = 0 ]; then
  status=1
fi
passed=$(( ${total:-0} - ${failed:-0} ))

# Fuzz targets run for a bounded time when clang built them; each counts as one test.
if [ -x scripts/fuzz.sh ] && [ "${KELPORA_FUZZ_SECONDS:-60}" != 0 ]; then
  if scripts/fuzz.sh "${KELPORA_FUZZ_SECONDS:-60}"; then
    passed=$((passed + 1))
  else
    failed=$(( ${failed:-0} + 1 ))
    status=1
  fi
fi
echo "tests: $passed passed, ${failed:-0} failed"
exit $status
