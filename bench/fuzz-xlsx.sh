#!/bin/sh
# Fuzzes the .xlsx reader with libFuzzer for a while (not part of CI).
#   bench/fuzz-xlsx.sh [SECONDS]      default 600
# Builds build/fuzz-xlsx with clang, starts from the committed seeds in
# bench/fuzz/xlsx-corpus and keeps what it learns in build/fuzz-xlsx/corpus. Crashing inputs
# land in build/fuzz-xlsx/artifacts; fix the fault, then add the input to the seed corpus so
# that the ordinary test run replays it.
set -eu
seconds=${1:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/fuzz-xlsx}
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCELLVERTER_FUZZ=ON -DCELLVERTER_SANITIZE=ON -DCELLVERTER_TESTS=OFF -DCELLVERTER_GUI=OFF >/dev/null
cmake --build "$build" --target fuzz_xlsx
mkdir -p "$build/corpus" "$build/artifacts"
cp -n "$root"/bench/fuzz/xlsx-corpus/* "$build/corpus/" 2>/dev/null || true
exec "$build/bin/fuzz_xlsx" "$build/corpus" -max_total_time="$seconds" -timeout=20 \
  -rss_limit_mb=1024 -max_len=65536 -artifact_prefix="$build/artifacts/" -print_final_stats=1
