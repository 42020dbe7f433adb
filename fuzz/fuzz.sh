#!/bin/sh
# Runs one libFuzzer target for a while (not part of CI; needs clang-14 and libclang-rt-14-dev:
# scripts/install-deps.sh --fuzz).
#   fuzz/fuzz.sh TARGET [SECONDS]      TARGET: xlsx, xlsb, xls, ods, numfmt or convert; default 600 s
# Builds build/fuzz with clang, starts from the committed seeds in fuzz/TARGET-corpus
# and keeps what it learns in build/fuzz/TARGET/corpus. Crashing inputs land in
# build/fuzz/TARGET/artifacts; fix the fault, then add the input to the seed corpus so that
# the ordinary test run replays it.
set -eu
target=${1:?usage: fuzz/fuzz.sh xlsx|xlsb|xls|ods|numfmt|convert [SECONDS]}
seconds=${2:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
seeds=$root/fuzz/$target-corpus
dict= ; max_len=65536
case $target in
  xlsx|convert) dict=-dict=$root/fuzz/xlsx.dict ;;
  numfmt) dict=-dict=$root/fuzz/numfmt.dict; max_len=4096 ;;
  xls) seeds="$seeds $root/tests/data/xls" ;;
  xlsb) seeds="$seeds $root/tests/data/xlsb" ;;
  ods) dict=-dict=$root/fuzz/ods.dict; seeds="$seeds $root/tests/data/ods" ;;
  *) echo "unknown target $target" >&2; exit 2 ;;
esac
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCELLVERTER_FUZZ=ON -DCELLVERTER_SANITIZE=ON -DCELLVERTER_TESTS=OFF -DCELLVERTER_GUI=OFF >/dev/null
cmake --build "$build" --target "fuzz_$target" -j2
mkdir -p "$build/$target/corpus" "$build/$target/artifacts"
cd "$build/$target"
# The log goes through a pipe: the conversion target limits the size of the files it writes.
# shellcheck disable=SC2086
ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=64} "$build/bin/fuzz_$target" corpus $seeds $dict \
  -max_len=$max_len -max_total_time="$seconds" -timeout=20 -rss_limit_mb=1024 \
  -artifact_prefix=artifacts/ -print_final_stats=1 2>&1 | cat
