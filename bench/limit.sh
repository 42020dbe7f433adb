#!/usr/bin/env bash
# The goals of the work toward the physical limit, each with its paired figures:
#   - 100,000 x 20 .xlsx: cellverter-cli beside LibreOffice's CSV export, `unzip -p` of the
#     sheet and inflate_part (the sheet inflated and checked, ISA-L: the floor);
#   - 65,535 x 20 .xls: cellverter-cli beside LibreOffice;
#   - 1,000,000 rows: wall time and peak memory (/usr/bin/time -v);
#   - where the CPU of the 100,000-row conversion goes (bench/cpu-shares.sh, when perf is there);
#   - the .xlsx against `unzip -p` and the .xls against LibreOffice once more, each pair run in
#     turns (bench/rounds.sh; ROUNDS, LO_ROUNDS).
# With BEFORE set to another cellverter-cli, that one runs beside this build's in every
# comparison (hyperfine runs each command in turn within one invocation).
#
#   bench/limit.sh
#
# BUILD (default build/bench) is the Release build folder, WORK (default /tmp/cellverter-limit)
# holds the workbooks and outputs, RUNS (default 5) the runs of cellverter-cli, LO_RUNS
# (default 3) those of LibreOffice.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh

build=${BUILD:-build/bench}
work=${WORK:-/tmp/cellverter-limit}
runs=${RUNS:-5}
lo_runs=${LO_RUNS:-3}
before=${BEFORE:-}

bench_build "$build" cellverter-cli make_large_xlsx make_xls_bench_file inflate_part
bin=$(pwd)/$build/bin
cli=$bin/cellverter-cli

mkdir -p "$work"
[[ -f $work/w100k.xlsx ]] || "$bin/make_large_xlsx" 100000 "$work/w100k.xlsx" >/dev/null
[[ -f $work/w1m.xlsx ]] || "$bin/make_large_xlsx" 1000000 "$work/w1m.xlsx" >/dev/null
[[ -f $work/x65k.xls ]] || "$bin/make_xls_bench_file" "$work/x65k.xls" 65535 >/dev/null
lo() { echo "soffice --headless $(lo_profile "$work") --convert-to '$lo_csv_filter' --outdir $work/lo $1"; }

# The same bytes from both builds.
if [[ -n $before ]]; then
  for book in w100k.xlsx x65k.xls; do
    if cmp -s <("$cli" -d - "$work/$book" 2>/dev/null) <("$before" -d - "$work/$book" 2>/dev/null); then
      echo "$book: the same CSV from both builds"
    else
      echo "$book: the builds give different CSV files" >&2
      exit 1
    fi
  done
fi

pair() {  # the commands for this build and, when given, the one before
  echo "$cli -j 1 -d - $1"
  [[ -z $before ]] || echo "$before -j 1 -d - $1"
}

# LibreOffice leaves its CSV files to be written back to the disk, and the comparison above
# leaves files of its own: each group starts once the disk has taken them (sync), not while
# the kernel writes them beside it.
mapfile -t xlsx < <(pair "$work/w100k.xlsx")
sync
hyperfine -N --warmup 1 --runs "$runs" --output=null --export-markdown "$work/xlsx.md" \
  "${xlsx[@]}" "unzip -p $work/w100k.xlsx xl/worksheets/sheet1.xml" \
  "$bin/inflate_part $work/w100k.xlsx"
sync
hyperfine -N --warmup 1 --runs "$lo_runs" --export-markdown "$work/xlsx-lo.md" \
  "$(lo "$work/w100k.xlsx")"

mapfile -t xls < <(pair "$work/x65k.xls")
sync
hyperfine -N --warmup 1 --runs "$runs" --output=null --export-markdown "$work/xls.md" "${xls[@]}"
sync
hyperfine -N --warmup 1 --runs "$lo_runs" --export-markdown "$work/xls-lo.md" \
  "$(lo "$work/x65k.xls")"
sync

for c in "$cli" ${before:+"$before"}; do
  /usr/bin/time -f "$c: 1,000,000 rows in %e s, peak %M KiB" "$c" -j 1 -d - "$work/w1m.xlsx" \
    >/dev/null 2>"$work/time.txt" || true
  tail -n 1 "$work/time.txt"
done

if command -v perf >/dev/null; then bench/cpu-shares.sh "$work/w100k.xlsx" "$cli"; fi
cat "$work/xlsx.md" "$work/xlsx-lo.md" "$work/xls.md" "$work/xls-lo.md"

# The ratio that the load of a shared machine moves most, cellverter-cli against `unzip -p`,
# once more with the two run in turns, so that both meet the same load ("before" is unzip -p:
# cellverter-cli takes 1 / ratio of its time).
echo "w100k.xlsx in turns, before: unzip -p, after: cellverter-cli"
sync
bench/rounds.sh "unzip -p $work/w100k.xlsx xl/worksheets/sheet1.xml" "$cli -j 1 -d - $work/w100k.xlsx"
# And the .xls against LibreOffice, whose goal leaves the least room, in turns as well (fewer
# rounds: LibreOffice takes seconds).
echo "x65k.xls in turns, before: LibreOffice, after: cellverter-cli"
sync
ROUNDS=${LO_ROUNDS:-4} bench/rounds.sh "$(lo "$work/x65k.xls")" "$cli -j 1 -d - $work/x65k.xls"
