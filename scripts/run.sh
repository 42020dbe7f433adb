#!/usr/bin/env bash
# Installs what is missing, builds Cellverter (optimised) and converts the sample workbooks
# with the freshly built command-line tool.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCELLVERTER_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
echo "Built: build/release/bin/"
[[ -d build/release/python/cellverter ]] &&
  echo "The Python package: PYTHONPATH=$(pwd)/build/release/python python3 -c 'import cellverter'"

# A fresh folder each time: the tool never overwrites, so a second run into the same folder
# would add "sales (3).csv" and so on.
out=build/samples-csv
rm -rf "$out"
build/release/bin/cellverter-cli --destination "$out" samples
echo "The CSV files of samples/ are in $(pwd)/$out/"
