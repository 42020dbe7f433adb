#!/usr/bin/env bash
# Two builds of cellverter-cli side by side on many small workbooks with -j 2, where the
# opening, flushing and naming of each CSV file weigh most:
#
#   bench/small-workbooks.sh BEFORE_CLI AFTER_CLI [FOLDER]
#
# FOLDER (default $WORK/small) holds the workbooks; when missing, COUNT (default 1000) copies
# of a 200-row workbook of make_large_xlsx are written there, each its own name. Both commands
# run in ROUNDS rounds (default 8) of bench/rounds.sh, so that the load of a shared machine
# falls on both alike; the figures are over all rounds.
# BUILD (default build/bench) is the Release build that makes the workbooks.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh

before=$(realpath "$1")
after=$(realpath "$2")
work=${WORK:-/tmp/cellverter-small}
folder=${3:-$work/small}
rounds=${ROUNDS:-8}
build=${BUILD:-build/bench}
mkdir -p "$work"

if [[ ! -d $folder ]]; then
  bench_build "$build" make_large_xlsx
  mkdir -p "$folder"
  "$build/bin/make_large_xlsx" 200 "$work/one.xlsx" >/dev/null
  for ((i = 0; i < ${COUNT:-1000}; ++i)); do cp "$work/one.xlsx" "$folder/s$i.xlsx"; done
fi

# The same files, byte for byte.
rm -rf "$work/ob" "$work/oa"
"$before" -j 2 -d "$work/ob" "$folder" >/dev/null 2>&1
"$after" -j 2 -d "$work/oa" "$folder" >/dev/null 2>&1
diff -r "$work/ob" "$work/oa" >/dev/null && echo "the same CSV files"

PREPARE="rm -rf $work/o" ROUNDS=$rounds bench/rounds.sh "$before -j 2 -d $work/o $folder" \
  "$after -j 2 -d $work/o $folder"
