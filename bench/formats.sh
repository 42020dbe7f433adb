#!/usr/bin/env bash
# The benchmark workbook (make_large_xlsx: ROWS rows of 20 mixed columns) in each format read
# from a package, .xlsx, .xlsb (written by make_large_xlsx too) and .ods (LibreOffice's save
# of the .xlsx), converted by cellverter-cli and by LibreOffice side by side (hyperfine, one
# run, commands interleaved), beside the floors of reading the .xlsx: `unzip -p` of its sheet
# and inflate_part (the sheet inflated and checked by the reader's zip stream, ISA-L).
#
#   bench/formats.sh [ROWS]
#
# BUILD (default build/bench) is the Release build folder, WORK (default
# /tmp/cellverter-formats) holds the workbooks and outputs, RUNS (default 5) the runs of each
# command.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh

rows=${1:-100000}
build=${BUILD:-build/bench}
work=${WORK:-/tmp/cellverter-formats}
runs=${RUNS:-5}

bench_build "$build" cellverter-cli make_large_xlsx inflate_part
bin=$(pwd)/$build/bin

mkdir -p "$work"
book=$work/book-$rows
[[ -f $book.xlsx ]] || "$bin/make_large_xlsx" "$rows" "$book.xlsx" >/dev/null
[[ -f $book.xlsb ]] || "$bin/make_large_xlsx" "$rows" "$book.xlsb" >/dev/null
profile=$(lo_profile "$work")
[[ -f $book.ods ]] || soffice --headless "$profile" --convert-to ods --outdir "$work" \
  "$book.xlsx" >/dev/null 2>&1
ls -l "$book".*

# The displayed texts do not depend on the format the workbook was saved in.
for format in xlsb ods; do
  if cmp -s <("$bin/cellverter-cli" -d - "$book.$format" 2>/dev/null) \
      <("$bin/cellverter-cli" -d - "$book.xlsx" 2>/dev/null); then
    echo ".$format gives the CSV of the .xlsx, byte for byte"
  else
    echo ".$format gives another CSV than the .xlsx"
  fi
done

filter=$lo_csv_filter
commands=()
for format in xlsx xlsb ods; do
  commands+=("$bin/cellverter-cli -j 1 -d $work/out $book.$format")
  commands+=("soffice --headless $profile --convert-to '$filter' --outdir $work/out $book.$format")
done
commands+=("unzip -p $book.xlsx xl/worksheets/sheet1.xml" "$bin/inflate_part $book.xlsx")
hyperfine -N --warmup 1 --runs "$runs" --prepare "rm -rf $work/out" \
  --export-markdown "$work/formats.md" "${commands[@]}"
cat "$work/formats.md"
