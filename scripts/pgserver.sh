# Sourced by test.sh and run.sh: start and stop a PostgreSQL + PostGIS server in a folder of our own.
# As root the server runs as the postgres user (initdb refuses root).

PG_BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}

pg_as_owner() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

pg_free_port() {
  python3 - <<'PY' 2>/dev/null || echo $((20000 + RANDOM % 20000))
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()
PY
}

# pg_init DIR: a new cluster in DIR/data with its socket in DIR. Local socket connections are trusted;
# TCP on 127.0.0.1 asks for a password (so a wrong password can be tested).
pg_init() {
  local dir=$1
  mkdir -p "$dir/data"
  [ "$(id -u)" = 0 ] && chown -R postgres:postgres "$dir"
  pg_as_owner "$PG_BIN/initdb" -D "$dir/data" -U postgres --auth-local=trust --auth-host=scram-sha-256 \
    -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; return 1; }
}

# pg_start DIR PORT [FSYNC]: FSYNC "off" (the default, for tests) or "on" (benchmarks that measure what a
# commit costs).
pg_start() {
  local dir=$1 port=$2 fsync=${3:-off}
  pg_as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=$fsync -c full_page_writes=$fsync -c max_connections=200" \
    start >/dev/null || { cat "$dir/server.log" >&2; return 1; }
}

# pg_throwaway DIR [FSYNC]: a new cluster in DIR, started on a free port, with PGHOST, PGPORT, PGUSER and
# PGDATABASE exported for it. The caller stops it with pg_stop DIR.
pg_throwaway() {
  local dir=$1 fsync=${2:-off} port attempt
  mkdir -p "$dir"
  chmod 755 "$dir"
  pg_init "$dir" || return 1
  for attempt in 1 2 3 4 5; do
    port=$(pg_free_port)
    pg_start "$dir" "$port" "$fsync" && break
    [ "$attempt" = 5 ] && { echo "pgserver: could not start PostgreSQL" >&2; return 1; }
  done
  export PGHOST=$dir PGPORT=$port PGUSER=postgres PGDATABASE=postgres
}

# pg_bench_work DIR [KEEP]: DIR (made, open to the server's user) holds a benchmark's files and its server
# in DIR/pg (PGDIR); on every way out the server stops and DIR is removed, unless KEEP is 1.
pg_bench_work() {
  WORK=$1
  PG_BENCH_KEEP=${2:-0}
  mkdir -p "$WORK"
  chmod 755 "$WORK"
  PGDIR=$WORK/pg
  trap 'pg_stop "$PGDIR"; [ "$PG_BENCH_KEEP" = 1 ] || rm -rf "$WORK"' EXIT INT TERM
}

pg_stop() {
  local dir=$1
  [ -f "$dir/data/postmaster.pid" ] && pg_as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1
  return 0
}

# pg_load_schema DB: PostGIS and the prepared target schema of db/ (when there is one).
pg_load_schema() {
  local db=$1 root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  if [ -f "$root/db/install.sql" ]; then
    (cd "$root/db" && psql -X -q -v ON_ERROR_STOP=1 -d "$db" -f install.sql >/dev/null)
  else
    psql -X -q -v ON_ERROR_STOP=1 -d "$db" -c "CREATE EXTENSION IF NOT EXISTS postgis; CREATE SCHEMA IF NOT EXISTS alkistemp;"
  fi
}
