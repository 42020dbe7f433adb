#!/usr/bin/env bash
# Two builds of cellverter-cli side by side on many small workbooks with -j 2, where the
# opening, flushing and naming of each CSV file weigh most:
#
#   bench/small-workbooks.sh BEFORE_CLI AFTER_CLI [FOLDER]
#
# FOLDER (default $WORK/small) holds the workbooks; when missing, COUNT (default 1000) copies
# of a 200-row workbook of make_large_xlsx are written there, each its own name. hyperfine
# runs both commands ROUNDS times (default 8), 3 runs each, the order swapped every round, so
# that the load of a shared machine falls on both alike; the figures are over all rounds.
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

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
names=(before after)
commands=("$before -j 2 -d $work/o $folder" "$after -j 2 -d $work/o $folder")
for ((round = 0; round < rounds; ++round)); do
  first=$((round % 2))
  hyperfine -N -w1 -r3 --prepare "rm -rf $work/o" --export-json "$work/round$round.json" \
    -n "${names[first]}" "${commands[first]}" \
    -n "${names[1 - first]}" "${commands[1 - first]}" >/dev/null
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$work" "$rounds" <<'EOF'
import json, statistics, sys
work, rounds = sys.argv[1], int(sys.argv[2])
times = {"before": [], "after": []}
ratios = []  # before / after within each round, where both met the same load
for r in range(rounds):
    means = {}
    for result in json.load(open(f"{work}/round{r}.json"))["results"]:
        times[result["command"]] += result["times"]
        means[result["command"]] = result["mean"]
    ratios.append(means["before"] / means["after"])
for name, t in times.items():
    print(f"{name}: mean {statistics.mean(t):.3f} s ± {statistics.stdev(t):.3f}, "
          f"median {statistics.median(t):.3f} s, min {min(t):.3f} s ({len(t)} runs)")
print(f"before / after: mean {statistics.mean(times['before']) / statistics.mean(times['after']):.2f}, "
      f"median {statistics.median(times['before']) / statistics.median(times['after']):.2f}, "
      f"median of the rounds' ratios {statistics.median(ratios):.2f} "
      f"({min(ratios):.2f} to {max(ratios):.2f})")
EOF
