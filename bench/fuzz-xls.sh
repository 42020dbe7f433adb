#!/bin/sh
# Fuzzes the .xls reader with libFuzzer (needs clang and libclang-rt-dev).
#   bench/fuzz-xls.sh [SECONDS]     default 300
# New inputs go to build/h-xls-fuzz/corpus; crashes to build/h-xls-fuzz/crash-*. Copy an input
# that found a fault into bench/fuzz/xls-corpus/ once it is fixed, so the replay test keeps it.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/h-xls-fuzz
seconds=${1:-300}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCELLVERTER_FUZZ=ON -DCELLVERTER_SANITIZE=ON -DCELLVERTER_TESTS=OFF -DCELLVERTER_GUI=OFF >/dev/null
cmake --build "$build" --target fuzz_xls -j2
mkdir -p "$build/corpus"
cd "$build"
./bin/fuzz_xls -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=1024 -timeout=10 \
  corpus "$root/bench/fuzz/xls-corpus" "$root/tests/data/xls"
