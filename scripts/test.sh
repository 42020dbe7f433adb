#!/usr/bin/env bash
# Installs what is missing, builds Cellverter with AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings are errors) and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCELLVERTER_SANITIZE=ON -DCELLVERTER_WERROR=ON -DCELLVERTER_TESTS=ON >/dev/null
cmake --build build/test -j "$(nproc)"
ctest --test-dir build/test --output-on-failure -j "$(nproc)" "$@"
