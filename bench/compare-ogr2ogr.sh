#!/usr/bin/env bash
# The end-to-end comparison: a generated full extract of N features imported by kelpora-import-bench and by
# GDAL's ogr2ogr (NAS driver, default options; once on the new file, once more with the schema file its first
# read left) into fresh databases of one throwaway PostgreSQL + PostGIS server, each prepared from
# db/install.sql. Prints seconds, features/s, MB/s, peak RSS and objects stored of each, and the ratios.
#
#   bench/compare-ogr2ogr.sh [N]          (default 200000)
#
# Environment: KELPORA_COMPARE_DIR (folder for the file and the server, default a new one under /tmp, removed
# at the end), KELPORA_COMPARE_KEEP=1 keeps it, KELPORA_COMPARE_FSYNC=off runs the server without fsync (as
# the test server does; the default keeps PostgreSQL's durable defaults, so commit cost counts).
set -euo pipefail
cd "$(dirname "$0")/.."
N=${1:-200000}
command -v ogr2ogr >/dev/null || { echo "compare-ogr2ogr: ogr2ogr not found (Debian package gdal-bin)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "compare-ogr2ogr: /usr/bin/time not found (Debian package time)" >&2; exit 2; }
scripts/bootstrap.sh >/dev/null
BUILD_DIR=${KELPORA_BUILD_DIR:-build}

# shellcheck source=../scripts/pgserver.sh
source scripts/pgserver.sh
pg_bench_work "${KELPORA_COMPARE_DIR:-$(mktemp -d /tmp/kelpora-compare.XXXXXX)}" "${KELPORA_COMPARE_KEEP:-0}"

FILE=$WORK/extract-$N.xml
echo "generating $N features ..."
"$BUILD_DIR/bench/kelpora-nasgen" --features "$N" --out "$FILE"
BYTES=$(stat -c %s "$FILE")

pg_throwaway "$PGDIR" "${KELPORA_COMPARE_FSYNC:-on}"

# run NAME CMD...: wall seconds and peak RSS (KiB) of the command into NAME_seconds / NAME_rss.
run() {
  local name=$1
  shift
  /usr/bin/time -f "%e %M" -o "$WORK/$name.time" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" || {
    echo "compare-ogr2ogr: $name failed:" >&2
    tail -5 "$WORK/$name.err" >&2
    exit 1
  }
  read -r seconds rss <"$WORK/$name.time"
  eval "${name}_seconds=$seconds ${name}_rss=$rss"
}

# A new cluster first has to create and zero-fill its WAL segments, later it recycles them: whoever
# imports first would pay for that. About a gigabyte of WAL written and dropped beforehand evens it out.
psql -X -q -c "CREATE TABLE wal_warm_up AS SELECT repeat('x', 1000) AS t FROM generate_series(1, 800000)" \
  -c "DROP TABLE wal_warm_up" -c "CHECKPOINT"
for db in kelpora_import ogr_import ogr_import_gfs; do
  createdb "$db"
  pg_load_schema "$db"
done
echo "kelpora-import-bench ..."
run kelpora "$BUILD_DIR/bench/kelpora-import-bench" --db "host=$PGDIR port=$PGPORT user=postgres dbname=kelpora_import" \
  "$FILE"
# On its first read of a file GDAL's NAS driver scans it for the feature schema and leaves that next to
# the file (extract-N.gfs); a second read takes the schema from there. Both count: a new delivery is read
# the first way.
echo "ogr2ogr (new file) ..."
run ogr ogr2ogr -f PostgreSQL "PG:host=$PGDIR port=$PGPORT user=postgres dbname=ogr_import" "$FILE"
echo "ogr2ogr (with the .gfs of the first read) ..."
run ogrgfs ogr2ogr -f PostgreSQL "PG:host=$PGDIR port=$PGPORT user=postgres dbname=ogr_import_gfs" "$FILE"

# The objects each one stored.
stored_ogr() {
  psql -X -At -d "$1" -c "SELECT (SELECT count(*) FROM ax_flurstueck) + (SELECT count(*) FROM ax_gebaeude) +
    (SELECT count(*) FROM ax_punktortau) + (SELECT count(*) FROM ax_lagebezeichnungohnehausnummer)"
}
kelpora_rows=$(psql -X -At -d kelpora_import -c "SELECT count(*) FROM public.ax_objects")
ogr_rows=$(stored_ogr ogr_import)
ogrgfs_rows=$(stored_ogr ogr_import_gfs)

python3 - "$N" "$BYTES" "$kelpora_seconds" "$kelpora_rss" "$kelpora_rows" "$ogr_seconds" "$ogr_rss" "$ogr_rows" \
  "$ogrgfs_seconds" "$ogrgfs_rss" "$ogrgfs_rows" <<'PY'
import sys
n, size = int(sys.argv[1]), int(sys.argv[2])
names = ["kelpora-import-bench", "ogr2ogr (new file)", "ogr2ogr (with .gfs)"]
rows = [(names[i],) + tuple(sys.argv[3 + 3 * i:6 + 3 * i]) for i in range(3)]
print(f"\n{n} features, {size / 1e6:.1f} MB")
print(f"{'':22} {'seconds':>8} {'features/s':>11} {'MB/s':>7} {'peak RSS MiB':>13} {'objects stored':>15}")
rate = {}
for name, seconds, rss, stored in rows:
    s = max(float(seconds), 0.01)
    rate[name] = n / s
    print(f"{name:22} {s:8.2f} {n / s:11.0f} {size / 1e6 / s:7.1f} {int(rss) / 1024:13.1f} {stored:>15}")
for other in names[1:]:
    print(f"ratio to {other}: {rate[names[0]] / rate[other]:.2f}")
PY
