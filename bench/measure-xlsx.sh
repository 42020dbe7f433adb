#!/bin/sh
# Whole-process time and peak memory of one .xlsx conversion, side by side with the floor
# (inflating the sheet XML) and LibreOffice when installed, in one run:
#   bench/measure-xlsx.sh [ROWS...]        default: 100000 500000
# Builds build/h-xlsx-rel (Release, benchmarks on) and works in $TMPDIR/cellverter-xlsx-bench.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build/h-xlsx-rel}
work=${TMPDIR:-/tmp}/cellverter-xlsx-bench
cd "$root"
. bench/common.sh
bench_build "$build" make_large_xlsx convert_xlsx
mkdir -p "$work"
measure() {  # label command...
  label=$1
  shift
  /usr/bin/time -f "$label: %e s wall, %U s user, %S s sys, %M KiB peak" "$@" >/dev/null 2>"$work/time.txt" ||
    true
  tail -1 "$work/time.txt"
}
for rows in ${*:-100000 500000}; do
  book=$work/book-$rows.xlsx
  [ -f "$book" ] || "$build/bin/make_large_xlsx" "$rows" "$book"
  echo "== $rows rows: $(du -m "$book" | cut -f1) MiB, load average $(cut -d' ' -f1 /proc/loadavg)"
  measure "floor (unzip -p sheet1.xml)" sh -c "unzip -p '$book' xl/worksheets/sheet1.xml > /dev/null"
  rm -f "$work/out.csv"
  measure "cellverter" "$build/bin/convert_xlsx" "$book" "$work/out.csv"
  if command -v soffice >/dev/null && [ "${SKIP_LIBREOFFICE:-}" = "" ]; then
    rm -rf "$work/lo"
    measure "LibreOffice" soffice --headless "$(lo_profile "$work")" --convert-to "$lo_csv_filter" \
      --outdir "$work/lo" "$book"
  fi
done
