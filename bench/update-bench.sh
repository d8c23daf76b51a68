#!/usr/bin/env bash
# Updates against the size of the database: for each N, a generated full extract of N features and its update
# (kelpora-nasgen --nba: a replace, a delete or an insert per feature) imported one after the other by
# kelpora-import-bench into a fresh database prepared from db/install.sql, relations on. Prints each file's
# seconds and cost per feature, the ratio of the update's cost to the extract's, the time the update's
# integration (temp2alkis) took on the server, and checks what the update left: the open and the closed
# versions must be what its transactions say.
#
#   bench/update-bench.sh [N...]               (default 10000 100000 1000000): an update of N features each
#   bench/update-bench.sh --fixed U [N...]     (default 10000 50000 200000): an update of U features into
#                                              databases of N features each
#
# Environment: KELPORA_UPDATE_DIR (folder for the files and the server, default a new one under /tmp, removed
# at the end), KELPORA_UPDATE_FSYNC=off runs the server without fsync (the default keeps PostgreSQL's
# durable defaults, as bench/compare-ogr2ogr.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
fixed=
if [ "${1:-}" = --fixed ]; then
  fixed=${2:?--fixed needs the update size}
  shift 2
  [ $# -gt 0 ] || set -- 10000 50000 200000
fi
[ $# -gt 0 ] || set -- 10000 100000 1000000
scripts/bootstrap.sh >/dev/null
BUILD_DIR=${KELPORA_BUILD_DIR:-build}

# shellcheck source=../scripts/pgserver.sh
source scripts/pgserver.sh
pg_bench_work "${KELPORA_UPDATE_DIR:-$(mktemp -d /tmp/kelpora-update.XXXXXX)}"
pg_throwaway "$PGDIR" "${KELPORA_UPDATE_FSYNC:-on}"

# import DB FILE: the seconds kelpora-import-bench gives for the file.
import() {
  local db=$1 file=$2 out
  out=$("$BUILD_DIR/bench/kelpora-import-bench" --db "host=$PGDIR port=$PGPORT user=postgres dbname=$db" \
    "$file" 2>"$WORK/import.err") || {
    echo "update-bench: the import of $file failed:" >&2
    tail -5 "$WORK/import.err" >&2
    exit 1
  }
  echo "$out" >&2
  sed -n "s|^$file: .*seconds: \([0-9.]*\)$|\1|p" <<<"$out"
}

results=()
for N in "$@"; do
  U=${fixed:-$N}
  extract=$WORK/extract-$N.xml
  update=$WORK/update-$N.xml
  echo "generating $N features and an update of $U ..."
  "$BUILD_DIR/bench/kelpora-nasgen" --features "$N" --out "$extract"
  "$BUILD_DIR/bench/kelpora-nasgen" --features "$U" --out "$update" --nba --new-from "$N"
  db=update_$N
  createdb "$db"
  pg_load_schema "$db"
  echo "importing ..."
  extract_seconds=$(import "$db" "$extract")
  # The time of the update's integration, as the server counts its functions.
  psql -X -q -d "$db" -c "ALTER DATABASE $db SET track_functions = 'pl'" -c "SELECT pg_stat_reset()" >/dev/null
  update_seconds=$(import "$db" "$update")
  read -r open closed relations integration < <(psql -X -At -F ' ' -d "$db" -c "SELECT
      (SELECT count(*) FROM public.ax_objects WHERE ende IS NULL OR ende = '1899-12-30'),
      (SELECT count(*) FROM public.ax_objects WHERE ende IS NOT NULL AND ende <> '1899-12-30'),
      (SELECT count(*) FROM public.id_refs),
      (SELECT coalesce(round(sum(total_time)), -1) FROM pg_stat_user_functions WHERE funcname = 'temp2alkis')")
  results+=("$N $U $extract_seconds $update_seconds $open $closed $relations $integration")
  rm -f "$extract" "$update"
  dropdb "$db"
done

python3 - "${results[@]}" <<'PY'
import sys
print(f"\n{'database':>9} {'update':>7} {'extract s':>10} {'µs/feature':>11} {'update s':>9} {'µs/feature':>11} "
      f"{'ratio':>6} {'temp2alkis ms':>14} {'open':>8} {'closed':>8} {'id_refs':>9}")
bad = False
for line in sys.argv[1:]:
    n, u, es, us, open_, closed, refs, integration = line.split()
    n, u, es, us, open_, closed = int(n), int(u), float(es), float(us), int(open_), int(closed)
    # Feature i of the update replaces (i mod 3 = 0), deletes (1) or adds a new object (2).
    replaces, deletes, inserts = (u + 2) // 3, (u + 1) // 3, u // 3
    want_open, want_closed = n - deletes + inserts, replaces + deletes
    print(f"{n:9} {u:7} {es:10.2f} {es / n * 1e6:11.1f} {us:9.2f} {us / u * 1e6:11.1f} "
          f"{(us / u) / max(es / n, 1e-9):6.2f} {integration:>14} {open_:8} {closed:8} {refs:>9}")
    if (open_, closed) != (want_open, want_closed):
        print(f"  wrong state: {want_open} open and {want_closed} closed versions expected")
        bad = True
sys.exit(1 if bad else 0)
PY
