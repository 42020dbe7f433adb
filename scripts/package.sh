#!/usr/bin/env bash
# Builds the Debian package cellverter_<version>_<arch>.deb (Release, no tests) with CPack.
# Usage: scripts/package.sh [OUT_DIR]   (default: the current folder)
# The compiler flags are Debian's (dpkg-buildflags: hardening, fortify, relro); dependencies
# are computed from the programs' shared libraries by dpkg-shlibdeps.
set -euo pipefail
out=$(realpath -m "${1:-.}")
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
build=build/package
# Debian's flags, given to CMake itself (it would read CFLAGS and friends only once, and
# never CPPFLAGS, where _FORTIFY_SOURCE is).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flag() { dpkg-buildflags --get "$1"; }
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCELLVERTER_TESTS=OFF -DCELLVERTER_GUI=ON -DCELLVERTER_DEBIAN=ON \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_C_FLAGS="$(flag CPPFLAGS) $(flag CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(flag CPPFLAGS) $(flag CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flag LDFLAGS)" -DCMAKE_MODULE_LINKER_FLAGS="$(flag LDFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)" --target cellverter cellverter-cli cellverter_python_core \
  cellverter_compressed_docs
rm -f "$build"/cellverter_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
mkdir -p "$out"
for deb in "$build"/cellverter_*.deb; do
  cp "$deb" "$out/"
  echo "Built $out/$(basename "$deb")"
done
