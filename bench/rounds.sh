#!/usr/bin/env bash
# Two commands side by side in rounds, so that the load of a shared machine falls on both alike:
#
#   bench/rounds.sh BEFORE_COMMAND AFTER_COMMAND
#
# hyperfine runs both ROUNDS times (default 8), 3 runs each after a warm-up, the order swapped
# every round; PREPARE, when set, runs before each run. Prints each command's mean, median and
# fastest over all runs, and the ratios before / after.
set -euo pipefail
before=$1
after=$2
rounds=${ROUNDS:-8}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prepare=()
if [[ -n ${PREPARE:-} ]]; then prepare=(--prepare "$PREPARE"); fi

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
names=(before after)
commands=("$before" "$after")
for ((round = 0; round < rounds; ++round)); do
  first=$((round % 2))
  hyperfine -N -w1 -r3 "${prepare[@]}" --export-json "$work/round$round.json" \
    -n "${names[first]}" "${commands[first]}" \
    -n "${names[1 - first]}" "${commands[1 - first]}" >/dev/null
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$work" "$rounds" <<'PY'
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
def shown(seconds):
    return f"{seconds:.3f} s" if seconds >= 1 else f"{seconds * 1000:.1f} ms"
for name, t in times.items():
    print(f"{name}: mean {shown(statistics.mean(t))} ± {shown(statistics.stdev(t))}, "
          f"median {shown(statistics.median(t))}, fastest {shown(min(t))} ({len(t)} runs)")
print(f"before / after: mean {statistics.mean(times['before']) / statistics.mean(times['after']):.2f}, "
      f"median {statistics.median(times['before']) / statistics.median(times['after']):.2f}, "
      f"median of the rounds' ratios {statistics.median(ratios):.2f} "
      f"({min(ratios):.2f} to {max(ratios):.2f})")
PY
