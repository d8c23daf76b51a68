#!/usr/bin/env bash
# The end-to-end comparison: a generated full extract of N features imported by kelpora-import-bench and by
# GDAL's ogr2ogr (NAS driver, default options; once on the new file, once more with the schema file its first
# read left) into fresh databases of one throwaway PostgreSQL + PostGIS server, each prepared from
# db/install.sql. Prints seconds, features/s, MB/s, peak RSS and objects stored of each, and the ratios.
#
#   bench/compare-ogr2ogr.sh [--small | --both] [N]          (default 200000)
#
# The file is kelpora-nasgen's extract (about 4.2 KB a feature); --small takes its extract of small features
# (--small, about 2.7 KB a feature, half of them with an arc), --both measures the two files one after the
# other on the same server.
#
# Environment: KELPORA_COMPARE_DIR (folder for the files and the server, default a new one under /tmp, removed
# at the end), KELPORA_COMPARE_KEEP=1 keeps it, KELPORA_COMPARE_FSYNC=off runs the server without fsync (as
# the test server does; the default keeps PostgreSQL's durable defaults, so commit cost counts),
# KELPORA_COMPARE_RUNS=R imports each file R times with each importer (fresh databases, the importers taking
# turns) and keeps the best time of each, KELPORA_COMPARE_BEFORE=DIR also measures the kelpora-import-bench
# of another build folder (an earlier commit) in the same turns.
set -euo pipefail
cd "$(dirname "$0")/.."
KINDS=(regular)
case "${1:-}" in
--small) KINDS=(small); shift ;;
--both) KINDS=(regular small); shift ;;
esac
N=${1:-200000}
RUNS=${KELPORA_COMPARE_RUNS:-1}
BEFORE=${KELPORA_COMPARE_BEFORE:-}
command -v ogr2ogr >/dev/null || { echo "compare-ogr2ogr: ogr2ogr not found (Debian package gdal-bin)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "compare-ogr2ogr: /usr/bin/time not found (Debian package time)" >&2; exit 2; }
if [ -n "$BEFORE" ] && [ ! -x "$BEFORE/bench/kelpora-import-bench" ]; then
  echo "compare-ogr2ogr: no $BEFORE/bench/kelpora-import-bench" >&2
  exit 2
fi
scripts/bootstrap.sh >/dev/null
BUILD_DIR=${KELPORA_BUILD_DIR:-build}

# shellcheck source=../scripts/pgserver.sh
source scripts/pgserver.sh
pg_bench_work "${KELPORA_COMPARE_DIR:-$(mktemp -d /tmp/kelpora-compare.XXXXXX)}" "${KELPORA_COMPARE_KEEP:-0}"

for kind in "${KINDS[@]}"; do
  echo "generating $N features ($kind) ..."
  if [ "$kind" = small ]; then
    "$BUILD_DIR/bench/kelpora-nasgen" --features "$N" --small --out "$WORK/extract-$kind-$N.xml"
  else
    "$BUILD_DIR/bench/kelpora-nasgen" --features "$N" --out "$WORK/extract-$kind-$N.xml"
  fi
done

pg_throwaway "$PGDIR" "${KELPORA_COMPARE_FSYNC:-on}"

# run NAME CMD...: wall seconds and peak RSS (KiB) of the command; the best time so far of NAME stays in
# NAME_seconds / NAME_rss.
run() {
  local name=$1 seconds rss best
  shift
  /usr/bin/time -f "%e %M" -o "$WORK/$name.time" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" || {
    echo "compare-ogr2ogr: $name failed:" >&2
    tail -5 "$WORK/$name.err" >&2
    exit 1
  }
  read -r seconds rss <"$WORK/$name.time"
  best=$(eval "echo \${${name}_seconds:-}")
  echo "  $name: $seconds s"
  if [ -z "$best" ] || python3 -c "import sys; sys.exit(0 if $seconds < $best else 1)"; then
    eval "${name}_seconds=$seconds ${name}_rss=$rss"
  fi
}

# A fresh database prepared from db/.
fresh() {
  dropdb --if-exists "$1" 2>/dev/null
  createdb "$1"
  pg_load_schema "$1"
}

# The objects ogr2ogr stored: the rows of the object types the generator writes.
stored_ogr() {
  local total=0 table
  for table in ax_flurstueck ax_gebaeude ax_besondereflurstuecksgrenze ax_punktortau \
    ax_lagebezeichnungohnehausnummer; do
    if [ "$(psql -X -At -d "$1" -c "SELECT to_regclass('public.$table') IS NOT NULL")" = t ]; then
      total=$((total + $(psql -X -At -d "$1" -c "SELECT count(*) FROM public.$table")))
    fi
  done
  echo "$total"
}

# A new cluster first has to create and zero-fill its WAL segments, later it recycles them: whoever
# imports first would pay for that. About a gigabyte of WAL written and dropped beforehand evens it out.
psql -X -q -c "CREATE TABLE wal_warm_up AS SELECT repeat('x', 1000) AS t FROM generate_series(1, 800000)" \
  -c "DROP TABLE wal_warm_up" -c "CHECKPOINT"

for kind in "${KINDS[@]}"; do
  FILE=$WORK/extract-$kind-$N.xml
  BYTES=$(stat -c %s "$FILE")
  unset kelpora_seconds before_seconds ogr_seconds ogrgfs_seconds
  for ((turn = 1; turn <= RUNS; turn++)); do
    echo "$kind file, turn $turn of $RUNS:"
    fresh kelpora_import
    run kelpora "$BUILD_DIR/bench/kelpora-import-bench" \
      --db "host=$PGDIR port=$PGPORT user=postgres dbname=kelpora_import" "$FILE"
    kelpora_rows=$(psql -X -At -d kelpora_import -c "SELECT count(*) FROM public.ax_objects")
    if [ -n "$BEFORE" ]; then
      fresh before_import
      run before "$BEFORE/bench/kelpora-import-bench" \
        --db "host=$PGDIR port=$PGPORT user=postgres dbname=before_import" "$FILE"
      before_rows=$(psql -X -At -d before_import -c "SELECT count(*) FROM public.ax_objects")
    fi
    # On its first read of a file GDAL's NAS driver scans it for the feature schema and leaves that next
    # to the file (extract-...gfs); a second read takes the schema from there. Both count: a new delivery
    # is read the first way.
    rm -f "${FILE%.xml}.gfs"
    fresh ogr_import
    run ogr ogr2ogr -f PostgreSQL "PG:host=$PGDIR port=$PGPORT user=postgres dbname=ogr_import" "$FILE"
    ogr_rows=$(stored_ogr ogr_import)
    fresh ogr_import_gfs
    run ogrgfs ogr2ogr -f PostgreSQL "PG:host=$PGDIR port=$PGPORT user=postgres dbname=ogr_import_gfs" "$FILE"
    ogrgfs_rows=$(stored_ogr ogr_import_gfs)
  done

  python3 - "$kind" "$N" "$BYTES" "$RUNS" "$kelpora_seconds" "$kelpora_rss" "$kelpora_rows" \
    "${before_seconds:-}" "${before_rss:-}" "${before_rows:-}" "$ogr_seconds" "$ogr_rss" "$ogr_rows" \
    "$ogrgfs_seconds" "$ogrgfs_rss" "$ogrgfs_rows" <<'PY'
import sys
kind, n, size, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
names = ["kelpora-import-bench", "kelpora (before)", "ogr2ogr (new file)", "ogr2ogr (with .gfs)"]
rows = [(names[i],) + tuple(sys.argv[5 + 3 * i:8 + 3 * i]) for i in range(4)]
rows = [r for r in rows if r[1]]
best = f", best of {runs}" if runs > 1 else ""
print(f"\n{kind} file: {n} features, {size / 1e6:.1f} MB{best}")
print(f"{'':22} {'seconds':>8} {'features/s':>11} {'MB/s':>7} {'peak RSS MiB':>13} {'objects stored':>15}")
rate = {}
for name, seconds, rss, stored in rows:
    s = max(float(seconds), 0.01)
    rate[name] = n / s
    print(f"{name:22} {s:8.2f} {n / s:11.0f} {size / 1e6 / s:7.1f} {int(rss) / 1024:13.1f} {stored:>15}")
for importer in [r[0] for r in rows if r[0].startswith("kelpora")]:
    for other in names[2:]:
        print(f"ratio of {importer} to {other}: {rate[importer] / rate[other]:.2f}")
PY
done
