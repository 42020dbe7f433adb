#!/usr/bin/env bash
# Converts the same workbooks with cellverter-cli and with the converters a Linux user would
# pick instead (those installed of: LibreOffice, Gnumeric's ssconvert, xlsx2csv, csvkit's
# in2csv), and prints the wall time and peak memory of each, with ratios to cellverter-cli.
#
#   bench/peers.sh [XLSX_ROWS] [XLS_ROWS] [SMALL_FILES]
#
# Defaults: 100000 rows of 20 mixed columns in one .xlsx, 65535 rows in one .xls, and a folder
# of 100 small .xlsx workbooks (200 rows each). BUILD (default build/bench) is the Release
# build folder, WORK (default /tmp/cellverter-peers) holds the workbooks and outputs, REPEAT
# (default 1) runs each command that many times and keeps the median.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh

xlsx_rows=${1:-100000}
xls_rows=${2:-65535}
small_files=${3:-100}
build=${BUILD:-build/bench}
work=${WORK:-/tmp/cellverter-peers}
repeat=${REPEAT:-1}

bench_build "$build" cellverter-cli make_large_xlsx make_xls_bench_file
cli=$(pwd)/$build/bin/cellverter-cli

mkdir -p "$work/in/small"
large_xlsx=$work/in/large-$xlsx_rows.xlsx
large_xls=$work/in/large-$xls_rows.xls
if [[ ! -f $large_xlsx ]]; then
  "$build/bin/make_large_xlsx" "$xlsx_rows" "$large_xlsx"
fi
[[ -f $large_xls ]] || "$build/bin/make_xls_bench_file" "$large_xls" "$xls_rows"
if [[ ! -f $work/in/small/book-$small_files.xlsx ]]; then
  rm -f "$work/in/small/"*.xlsx
  "$build/bin/make_large_xlsx" 200 "$work/in/small.xlsx"
  for i in $(seq 1 "$small_files"); do cp "$work/in/small.xlsx" "$work/in/small/book-$i.xlsx"; done
fi

have() { command -v "$1" >/dev/null 2>&1; }

# The first worksheet's name, which ssconvert and in2csv need.
first_sheet() {
  case $1 in
    *.xlsx) unzip -p "$1" xl/workbook.xml | grep -o '<sheet [^>]*name="[^"]*"' | head -1 |
              sed 's/.*name="\([^"]*\)"/\1/' ;;
    *) /usr/bin/python3 -c 'import sys, xlrd; print(xlrd.open_workbook(sys.argv[1], on_demand=True).sheet_names()[0])' "$1" ;;
  esac
}

# Converts FILE ... into the folder $out with one peer.
run_peer() {
  local peer=$1; shift
  local file sheet
  case $peer in
    cellverter-cli) "$cli" -d "$out" "$@" >/dev/null 2>&1 ;;
    cellverter-cli-j1) "$cli" -j 1 -d "$out" "$@" >/dev/null 2>&1 ;;
    libreoffice)
      soffice --headless "$(lo_profile "$work")" --convert-to "$lo_csv_filter" \
        --outdir "$out" "$@" >/dev/null 2>&1 ;;
    ssconvert)
      for file; do
        sheet=$(first_sheet "$file")
        ssconvert --export-type=Gnumeric_stf:stf_assistant \
          -O "sheet='$sheet' separator=, format=preserve quoting-mode=auto eol=windows charset=UTF-8" \
          "$file" "$out/$(basename "${file%.*}").csv" >/dev/null 2>&1
      done ;;
    xlsx2csv)
      for file; do
        xlsx2csv -s 1 -d , -l '\r\n' "$file" "$out/$(basename "${file%.*}").csv" 2>/dev/null
      done ;;
    in2csv)
      for file; do
        sheet=$(first_sheet "$file")
        in2csv --sheet "$sheet" "$file" >"$out/$(basename "${file%.*}").csv" 2>/dev/null
      done ;;
  esac
}

# Prints "seconds peak-MiB" of one peer on one case, the median of $repeat runs.
measure() {
  local peer=$1; shift
  local runs=()
  for _ in $(seq 1 "$repeat"); do
    out=$work/out/$peer
    rm -rf "$out" && mkdir -p "$out"
    export -f run_peer first_sheet
    export cli work out
    if ! /usr/bin/time -f '%e %M' -o "$work/time" bash -c 'run_peer "$@"' _ "$peer" "$@"; then
      echo "failed"
      return
    fi
    runs+=("$(cat "$work/time")")
  done
  # A peer that exits successfully but writes nothing has failed too.
  [[ -n $(ls -A "$out") ]] || { echo "failed"; return; }
  printf '%s\n' "${runs[@]}" | sort -n | sed -n "$(((repeat + 1) / 2))p" |
    awk '{ printf "%.2f %.0f\n", $1, $2 / 1024 }'
}

peers=(cellverter-cli)
have soffice && peers+=(libreoffice)
have ssconvert && peers+=(ssconvert)
have xlsx2csv && peers+=(xlsx2csv)
have in2csv && peers+=(in2csv)

report_case() {
  local title=$1; shift
  local base="" line seconds mib
  echo
  echo "$title"
  printf '  %-18s %10s %10s %12s %12s\n' peer "wall s" "peak MiB" "time ratio" "memory ratio"
  for peer in "${case_peers[@]}"; do
    line=$(measure "$peer" "$@")
    if [[ $line == failed ]]; then
      printf '  %-18s %s\n' "$peer" "failed"
      continue
    fi
    read -r seconds mib <<<"$line"
    [[ -n $base ]] || base="$seconds $mib"
    awk -v p="$peer" -v s="$seconds" -v m="$mib" -v b="$base" 'BEGIN {
      split(b, r, " ");
      printf "  %-18s %10.2f %10d %11.1fx %11.1fx\n", p, s, m, s / (r[1] > 0 ? r[1] : 0.01), m / (r[2] > 0 ? r[2] : 1) }'
  done
}

echo "cellverter-cli $("$cli" --version | cut -d' ' -f2), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
case_peers=("${peers[@]}")
report_case "One .xlsx of $xlsx_rows rows x 20 columns ($(du -h "$large_xlsx" | cut -f1))" "$large_xlsx"
case_peers=()
for peer in "${peers[@]}"; do [[ $peer == xlsx2csv ]] || case_peers+=("$peer"); done
report_case "One .xls of $xls_rows rows x 20 columns ($(du -h "$large_xls" | cut -f1))" "$large_xls"
case_peers=(cellverter-cli cellverter-cli-j1 "${peers[@]:1}")
report_case "A folder of $small_files .xlsx workbooks of 200 rows (peers: one call per file, LibreOffice one call for all)" "$work/in/small/"*.xlsx
