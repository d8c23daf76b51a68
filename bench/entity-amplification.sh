#!/usr/bin/env bash
# Memory under entity amplification: a generated extract whose document type declares one entity of
# 100 000 bytes that one address text references R times (default 20 000, 2 GB of text if it were expanded)
# goes through kelpora-import-bench into a fresh database of a throwaway PostgreSQL + PostGIS server. The
# import must end with the parse error and stay within the memory of a normal import: the script fails
# when the peak RSS passes KELPORA_AMPLIFICATION_MAX_MIB (default 100) or when the file is read without
# error.
#
#   bench/entity-amplification.sh [R]
set -euo pipefail
cd "$(dirname "$0")/.."
REFS=${1:-20000}
MAX_MIB=${KELPORA_AMPLIFICATION_MAX_MIB:-100}
[ -x /usr/bin/time ] || { echo "entity-amplification: /usr/bin/time not found (Debian package time)" >&2; exit 2; }
scripts/bootstrap.sh >/dev/null
BUILD_DIR=${KELPORA_BUILD_DIR:-build}

# shellcheck source=../scripts/pgserver.sh
source scripts/pgserver.sh
pg_bench_work "$(mktemp -d /tmp/kelpora-amplification.XXXXXX)"

FILE=$WORK/amplification-$REFS.xml
"$BUILD_DIR/bench/kelpora-nasgen" --features 8 --entity-refs "$REFS" --out "$FILE"
pg_throwaway "$PGDIR" off >/dev/null
createdb kelpora_import
pg_load_schema kelpora_import

status=0
/usr/bin/time -f "%e %M" -o "$WORK/time" "$BUILD_DIR/bench/kelpora-import-bench" \
  --db "host=$PGDIR port=$PGPORT user=postgres dbname=kelpora_import" "$FILE" >"$WORK/out" 2>"$WORK/err" ||
  status=$?
read -r seconds rss < <(tail -1 "$WORK/time")
mib=$((rss / 1024))
echo "file: $(stat -c %s "$FILE") bytes, references: $REFS, exit status: $status, seconds: $seconds, peak RSS MiB: $mib"
grep -m1 "Entitätsverweise" "$WORK/err" || true
if [ "$status" -ne 1 ]; then
  echo "entity-amplification: the import did not end with a parse failure (exit status $status)" >&2
  tail -5 "$WORK/err" >&2
  exit 1
fi
if [ "$mib" -gt "$MAX_MIB" ]; then
  echo "entity-amplification: peak RSS $mib MiB over the ceiling of $MAX_MIB MiB" >&2
  exit 1
fi
