#!/usr/bin/env bash
# Updates against the size of the database: for each N, a generated full extract of N features and its update
# (kelpora-nasgen --nba: a replace, a delete or an insert per feature of the extract) imported one after the
# other by kelpora-import-bench into a fresh database prepared from db/install.sql, relations on. Prints each
# file's seconds and cost per feature, the ratio of the update's cost to the extract's, and checks what the
# update left: the open and the closed versions must be what its transactions say.
#
#   bench/update-bench.sh [N...]          (default 10000 100000 1000000)
#
# Environment: KELPORA_UPDATE_DIR (folder for the files and the server, default a new one under /tmp, removed
# at the end), KELPORA_UPDATE_FSYNC=off runs the server without fsync (the default keeps PostgreSQL's
# durable defaults, as bench/compare-ogr2ogr.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || set -- 10000 100000 1000000
scripts/bootstrap.sh >/dev/null
BUILD_DIR=${KELPORA_BUILD_DIR:-build}

# shellcheck source=../scripts/pgserver.sh
source scripts/pgserver.sh
pg_bench_work "${KELPORA_UPDATE_DIR:-$(mktemp -d /tmp/kelpora-update.XXXXXX)}"
pg_throwaway "$PGDIR" "${KELPORA_UPDATE_FSYNC:-on}"

results=()
for N in "$@"; do
  extract=$WORK/extract-$N.xml
  update=$WORK/update-$N.xml
  echo "generating $N features and their update ..."
  "$BUILD_DIR/bench/kelpora-nasgen" --features "$N" --out "$extract"
  "$BUILD_DIR/bench/kelpora-nasgen" --features "$N" --out "$update" --nba
  db=update_$N
  createdb "$db"
  pg_load_schema "$db"
  echo "importing ..."
  out=$("$BUILD_DIR/bench/kelpora-import-bench" --db "host=$PGDIR port=$PGPORT user=postgres dbname=$db" \
    "$extract" "$update" 2>"$WORK/import-$N.err") || {
    echo "update-bench: the import failed:" >&2
    tail -5 "$WORK/import-$N.err" >&2
    exit 1
  }
  echo "$out"
  extract_seconds=$(sed -n "s|^$extract: .*seconds: \([0-9.]*\)$|\1|p" <<<"$out")
  update_seconds=$(sed -n "s|^$update: .*seconds: \([0-9.]*\)$|\1|p" <<<"$out")
  read -r open closed relations < <(psql -X -At -F ' ' -d "$db" -c "SELECT
      (SELECT count(*) FROM public.ax_objects WHERE ende IS NULL OR ende = '1899-12-30'),
      (SELECT count(*) FROM public.ax_objects WHERE ende IS NOT NULL AND ende <> '1899-12-30'),
      (SELECT count(*) FROM public.id_refs)")
  results+=("$N $extract_seconds $update_seconds $open $closed $relations")
  rm -f "$extract" "$update"
  dropdb "$db"
done

python3 - "${results[@]}" <<'PY'
import sys
print(f"\n{'features':>9} {'extract s':>10} {'µs/feature':>11} {'update s':>9} {'µs/feature':>11} "
      f"{'ratio':>6} {'open':>8} {'closed':>8} {'id_refs':>9}")
bad = False
for line in sys.argv[1:]:
    n, es, us, open_, closed, refs = line.split()
    n, es, us, open_, closed = int(n), float(es), float(us), int(open_), int(closed)
    # Feature i of the update replaces (i mod 3 = 0), deletes (1) or adds a new object (2).
    replaces, deletes, inserts = (n + 2) // 3, (n + 1) // 3, n // 3
    want_open, want_closed = n - deletes + inserts, replaces + deletes
    print(f"{n:9} {es:10.2f} {es / n * 1e6:11.1f} {us:9.2f} {us / n * 1e6:11.1f} {us / max(es, 0.01):6.2f} "
          f"{open_:8} {closed:8} {refs:>9}")
    if (open_, closed) != (want_open, want_closed):
        print(f"  wrong state: {want_open} open and {want_closed} closed versions expected")
        bad = True
sys.exit(1 if bad else 0)
PY
