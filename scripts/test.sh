#!/usr/bin/env bash
# Installs what is missing, checks the formatting of the C++ files, builds Cellverter with
# AddressSanitizer and UndefinedBehaviorSanitizer (warnings are errors) and runs every test
# through CTest. The full
# run (no arguments; CI) then builds the Debian package, installs it, checks the installed
# programs and removes it again (scripts/test-package.sh); CELLVERTER_PACKAGE_TEST=0 skips
# that part. Arguments go to ctest (scripts/test.sh -R Csv) and skip the package test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Every C++ file git tracks is formatted as .clang-format says.
mapfile -t unformatted < <(git ls-files -z '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run 2>&1 |
  sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: .*-Wclang-format-violations.*/\1/p' | sort -u)
if [[ ${#unformatted[@]} -gt 0 ]]; then
  echo "Not formatted (clang-format -i <file>):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCELLVERTER_SANITIZE=ON -DCELLVERTER_WERROR=ON -DCELLVERTER_TESTS=ON >/dev/null
cmake --build build/test -j "$(nproc)"
# A test that hangs fails after five minutes instead of holding the run.
ctest --test-dir build/test --output-on-failure --timeout 300 -j "$(nproc)" "$@"
if [[ $# -eq 0 && ${CELLVERTER_PACKAGE_TEST:-1} != 0 ]]; then
  scripts/test-package.sh
fi
