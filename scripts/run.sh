#!/usr/bin/env bash
# Builds Kelpora, starts (or reuses) a local PostgreSQL + PostGIS in .kelpora/ with the target schema of
# db/, writes Kelpora.ini next to the executable when there is none, and starts the program (under
# xvfb-run when there is no display).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

scripts/bootstrap.sh
# shellcheck source=pgserver.sh
source scripts/pgserver.sh

PGDIR=$ROOT/.kelpora
PORT=${KELPORA_PORT:-54329}
DB=${KELPORA_DB:-kelpora}
PASSWORD=${KELPORA_PASSWORD:-kelpora}
BUILD_DIR=${KELPORA_BUILD_DIR:-build}

if [ ! -d "$PGDIR/data" ]; then
  pg_init "$PGDIR"
fi
[ "$(id -u)" = 0 ] && chown postgres:postgres "$PGDIR" && chmod 755 "$PGDIR"
if ! pg_as_owner "$PG_BIN/pg_ctl" -D "$PGDIR/data" status >/dev/null 2>&1; then
  pg_start "$PGDIR" "$PORT"
fi
export PGHOST=$PGDIR PGPORT=$PORT PGUSER=postgres
psql -X -q -d postgres -c "ALTER USER postgres PASSWORD '$PASSWORD'" >/dev/null
if ! psql -X -q -d postgres -tAc "SELECT 1 FROM pg_database WHERE datname='$DB'" | grep -q 1; then
  createdb "$DB"
  pg_load_schema "$DB"
  echo "run.sh: created database $DB on port $PORT"
fi

INI=$BUILD_DIR/Kelpora.ini
if [ ! -f "$INI" ]; then
  cat >"$INI" <<INI
[Verbindung]
Driver=PostgreSQL Unicode
Server=127.0.0.1
Datenbank=$DB
User=postgres
Passwort=$PASSWORD
Port=$PORT

[Allgemein]
Schema=ALKIS

[Transformation]
Path31468=
INI
  echo "run.sh: wrote $INI"
fi

echo "run.sh: database $DB at 127.0.0.1:$PORT (stop it with: $PG_BIN/pg_ctl -D $PGDIR/data stop)"
echo "run.sh: a sample NAS file to import: $ROOT/samples/bestand_bonn.xml"
cd "$BUILD_DIR"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec ./kelpora
else
  exec xvfb-run -a ./kelpora
fi
