#!/usr/bin/env bash
# Installs the Debian packages Kelpora needs (when missing), then configures and builds into build/.
# Quick when nothing changed: the package check reads dpkg's database, ninja rebuilds only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev qt6-translations-l10n
  libxml2-dev libxslt1-dev libpq-dev
  unixodbc-dev odbc-postgresql
  libgtest-dev libgmock-dev libbenchmark-dev
  postgresql-15 postgresql-15-postgis-3 postgresql-client-15 proj-data
  xvfb xauth
)
# Optional: clang for the fuzz targets, GDAL's ogr2ogr, time, perf and valgrind for the benchmarks and profiling.
OPTIONAL_PACKAGES=(clang libclang-rt-14-dev gdal-bin time linux-perf valgrind)

missing_of() {
  local out=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || out+=("$p")
  done
  echo "${out[@]:-}"
}

missing=$(missing_of "${PACKAGES[@]}")
optional_missing=$(missing_of "${OPTIONAL_PACKAGES[@]}")
if [ -n "$missing" ] || { [ -n "$optional_missing" ] && [ "${KELPORA_SKIP_OPTIONAL:-0}" != 1 ]; }; then
  if [ "$(id -u)" = 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    [ -z "$missing" ] || apt-get install -y -qq --no-install-recommends $missing
    # shellcheck disable=SC2086
    [ -z "$optional_missing" ] || apt-get install -y -qq --no-install-recommends $optional_missing \
      || echo "bootstrap: optional packages not installed: $optional_missing" >&2
  elif [ -n "$missing" ]; then
    echo "bootstrap: missing Debian packages: $missing" >&2
    echo "bootstrap: install them with: sudo apt-get install $missing" >&2
    exit 1
  fi
fi

BUILD_DIR=${KELPORA_BUILD_DIR:-build}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
# KELPORA_WERROR=ON (the test command sets it) makes warnings errors; unset leaves the build as it is.
if [ -n "${KELPORA_WERROR:-}" ]; then
  cmake -S . -B "$BUILD_DIR" -DKELPORA_WERROR="$KELPORA_WERROR" >/dev/null
fi
cmake --build "$BUILD_DIR" -j "$(nproc)"
