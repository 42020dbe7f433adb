#!/bin/sh
# The Python package against its neighbours, in one run:
#   1,000 small workbooks: cellverter.dask.convert on a two-worker LocalCluster against
#   cellverter-cli -j 2 (and cellverter.convert with jobs=2 in one process);
#   the 100,000-row workbook of make_large_xlsx: cellverter.read against pandas.read_excel
#   (openpyxl).
#   bench/python-bench.sh [ROWS]        default: 100000
# Builds build/h-python-rel (Release) and works in $TMPDIR/cellverter-python-bench. Needs
# python3-distributed, python3-pandas and python3-openpyxl (scripts/install-deps.sh).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build/h-python-rel}
work=${TMPDIR:-/tmp}/cellverter-python-bench
cd "$root"
. bench/common.sh
bench_build "$build" make_large_xlsx cellverter-cli cellverter_python_core
mkdir -p "$work"
rows=${1:-100000}
book=$work/book-$rows.xlsx
[ -f "$book" ] || "$build/bin/make_large_xlsx" "$rows" "$book"
echo "load average $(cut -d' ' -f1 /proc/loadavg), $(nproc) cores"
PYTHONPATH=$build/python /usr/bin/python3 "$root/bench/python_bench.py" \
  "$build/bin/cellverter-cli" "$root/samples" "$book" "$work"
