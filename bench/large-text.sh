#!/usr/bin/env bash
# Peak memory of an import when a file holds very large texts or features: each file below goes through
# kelpora-import-bench into a fresh database of a throwaway PostgreSQL + PostGIS server, and the script
# prints its exit status, seconds, peak RSS, the objects stored and the first error it reports. It fails
# when any peak RSS passes KELPORA_LARGE_TEXT_MAX_MIB (default 512), and when the files that must load do
# not store both of their features.
#
#   bench/large-text.sh
#
# KELPORA_BUILD_DIR names another build (say, of an earlier commit) to measure the same files with.
set -euo pipefail
cd "$(dirname "$0")/.."
MAX_MIB=${KELPORA_LARGE_TEXT_MAX_MIB:-512}
BUILD_DIR=${KELPORA_BUILD_DIR:-build}
BENCH=$BUILD_DIR/bench/kelpora-import-bench
[ -x /usr/bin/time ] || { echo "large-text: /usr/bin/time not found (Debian package time)" >&2; exit 2; }
[ -x "$BENCH" ] || { echo "large-text: $BENCH not built" >&2; exit 2; }

# shellcheck source=../scripts/pgserver.sh
source scripts/pgserver.sh
pg_bench_work "$(mktemp -d /tmp/kelpora-large-text.XXXXXX)"
pg_throwaway "$PGDIR" off >/dev/null
createdb kelpora_prepared
pg_load_schema kelpora_prepared

xs() { head -c "$1" /dev/zero | tr '\0' x; }
# N pieces of B bytes of text, a comment between each two.
pieces() {
  local i
  for ((i = 0; i < $1; i++)); do
    [ "$i" -gt 0 ] && printf '<!-- -->'
    xs "$2"
  done
}
# A polygon member whose ring has about B bytes of coordinates, around x = CX.
ring() {
  awk -v bytes="$1" -v cx="$2" 'BEGIN {
    n = int(bytes / 24); printf "<gml:polygonMember><gml:Polygon><gml:exterior><gml:LinearRing><gml:posList>"
    for (i = 0; i <= n; i++) { a = 6.283185307179586 * (i % n) / n
      printf "%s%.3f %.3f", (i ? " " : ""), cx + 1000 * cos(a), 5800000 + 1000 * sin(a) }
    printf "</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></gml:polygonMember>" }'
}
# A geometry of M rings of B bytes each.
geometry() {
  local i
  printf '<position><gml:MultiPolygon srsName="urn:adv:crs:ETRS89_UTM32">'
  for ((i = 0; i < $1; i++)); do ring "$2" $((385000 + 3000 * i)); done
  printf '</gml:MultiPolygon></position>'
}
feature() { # identifier, then the command that writes the rest of its content
  printf '<gml:featureMember><AX_Gebaeude gml:id="%s"><lebenszeitintervall><AA_Lebenszeitintervall>' "$1"
  printf '<beginnt>2024-01-10T08:00:00Z</beginnt></AA_Lebenszeitintervall></lebenszeitintervall>'
  printf '<gebaeudefunktion>2000</gebaeudefunktion>'
  shift
  "$@"
  printf '</AX_Gebaeude></gml:featureMember>'
}
nothing() { :; }
name() { printf '<name>'; "$@"; printf '</name>'; }
# A full extract: an optional explanation (command), the large feature (command), then a sound one.
extract() {
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<AX_Bestandsdatenauszug '
  printf 'xmlns="http://www.adv-online.de/namespaces/adv/gid/6.0" xmlns:gml="http://www.opengis.net/gml/3.2">'
  if [ "$1" != - ]; then printf '<erlaeuterung>'; $1; printf '</erlaeuterung>'; fi
  printf '<enthaelt><FeatureCollection>'
  feature DEBENCH000000001 "${@:2}"
  feature DEBENCH000000002 nothing
  printf '</FeatureCollection></enthaelt></AX_Bestandsdatenauszug>\n'
}

text30() { xs 30000000; }
text120() { xs 120000000; }
pieces120() { pieces 24 5000000; }
cases=(
  "text of 30 MB|-|name text30|"
  "text of 120 MB|-|name text120|"
  "text of 120 MB in pieces of 5 MB between comments|-|name pieces120|"
  "text of 120 MB in pieces outside the features|pieces120|nothing|"
  "geometry of two rings of 9.9 MB|-|geometry 2 9900000|must load"
  "geometry of three rings of 9.9 MB|-|geometry 3 9900000|"
)
status=0
n=0
for c in "${cases[@]}"; do
  IFS='|' read -r what explanation content must <<<"$c"
  n=$((n + 1))
  file=$WORK/case$n.xml
  # shellcheck disable=SC2086
  extract "$explanation" $content >"$file"
  createdb -T kelpora_prepared "kelpora_case$n"
  exit_status=0
  /usr/bin/time -f "%e %M" -o "$WORK/time" "$BENCH" \
    --db "host=$PGDIR port=$PGPORT user=postgres dbname=kelpora_case$n" "$file" >"$WORK/out" 2>"$WORK/err" ||
    exit_status=$?
  read -r seconds rss < <(tail -1 "$WORK/time")
  mib=$((rss / 1024))
  stored=$(psql -X -At -d "kelpora_case$n" -c "SELECT count(*) FROM public.ax_objects")
  said=$(psql -X -At -d "kelpora_case$n" -c "SELECT beschreibung FROM logs WHERE meldetyp = 1 ORDER BY ctid LIMIT 1")
  [ -n "$said" ] || said=$(grep -m1 "^kelpora-import-bench: " "$WORK/err" | cut -d: -f3- || true)
  echo "$what: $(stat -c %s "$file") bytes, exit status $exit_status, $seconds s, peak RSS $mib MiB, stored $stored"
  [ -z "$said" ] || echo "  ${said:0:200}"
  if [ "$mib" -gt "$MAX_MIB" ]; then
    echo "large-text: peak RSS $mib MiB over the ceiling of $MAX_MIB MiB" >&2
    status=1
  fi
  if [ -n "$must" ] && [ "$stored" != 2 ]; then
    echo "large-text: $what did not load" >&2
    status=1
  fi
  rm -f "$file"
done
exit $status
