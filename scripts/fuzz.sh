#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for SECONDS (default 60) over the
# seed corpus of real NAS files; exits non-zero when a target crashes, leaks or hangs.
#
# A target is one file tests/fuzz/NAME_fuzz.cpp that defines LLVMFuzzerTestOneInput. Its header lines say
# what it is linked with:
#   // fuzz-sources: src/sax/*.cpp          (globs relative to the repository root)
#   // fuzz-packages: libxml-2.0 Qt6Core    (pkg-config packages for flags and libraries)
# Inputs that once found a fault are kept in tests/fuzz/NAME_regressions/ and are replayed first; the
# seed corpus is every .xml file below tests/data. Without clang the script does nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
CXX_FUZZ=${CXX_FUZZ:-clang++}
if ! command -v "$CXX_FUZZ" >/dev/null 2>&1; then
  echo "fuzz.sh: $CXX_FUZZ not found, fuzzing skipped"
  exit 0
fi

OUT=build-fuzz
SEEDS=tests/data
mkdir -p "$OUT"
status=0
for target_src in tests/fuzz/*_fuzz.cpp; do
  [ -e "$target_src" ] || continue
  name=$(basename "$target_src" .cpp)
  sources=$(sed -n 's|^// fuzz-sources:||p' "$target_src")
  packages=$(sed -n 's|^// fuzz-packages:||p' "$target_src")
  # shellcheck disable=SC2086
  files=$(ls $sources 2>/dev/null || true)
  flags=""
  libs=""
  if [ -n "${packages// /}" ]; then
    # shellcheck disable=SC2086
    flags=$(pkg-config --cflags $packages)
    # shellcheck disable=SC2086
    libs=$(pkg-config --libs $packages)
  fi
  binary="$OUT/$name"
  # Rebuild only when the target or one of its sources changed.
  # shellcheck disable=SC2086
  if [ ! -x "$binary" ] || [ -n "$(find "$target_src" $files src -newer "$binary" -name '*.[ch]*' 2>/dev/null | head -1)" ]; then
    echo "fuzz.sh: building $name"
    # shellcheck disable=SC2086
    "$CXX_FUZZ" -std=c++20 -g -O1 -fPIC -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined \
      -fno-sanitize-recover=undefined -Isrc $flags "$target_src" $files $libs -o "$binary"
  fi

  corpus="$OUT/corpus/$name"
  regressions="tests/fuzz/${name}_regressions"
  artifacts="$OUT/artifacts/$name/"
  mkdir -p "$corpus" "$artifacts"
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    "$binary" -runs=0 "$regressions" >"$OUT/$name.regressions.log" 2>&1 || {
      echo "fuzz.sh: $name fails on a kept regression input (see $OUT/$name.regressions.log)"; status=1; continue; }
  fi
  seeds=$(mktemp -d)
  find "$SEEDS" -name '*.xml' -exec cp {} "$seeds/" \; 2>/dev/null || true
  echo "fuzz.sh: running $name for ${SECONDS_PER_TARGET}s"
  # A fixed seed by default, so a run on a fresh clone repeats the inputs already explored; set
  # KELPORA_FUZZ_SEED to search elsewhere.
  if ! "$binary" -max_total_time="$SECONDS_PER_TARGET" -seed="${KELPORA_FUZZ_SEED:-1}" -timeout=20 \
      -rss_limit_mb=2048 -max_len=262144 -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus" "$seeds" >"$OUT/$name.log" 2>&1; then
    echo "fuzz.sh: $name found a fault; input kept in $artifacts (log: $OUT/$name.log)"
    tail -40 "$OUT/$name.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|Done" "$OUT/$name.log" | tail -2 || true
  fi
  rm -rf "$seeds"
done
exit $status
