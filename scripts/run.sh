#!/usr/bin/env bash
# Installs what is missing and builds Cellverter (optimised).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCELLVERTER_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
echo "Built: build/release/bin/"
