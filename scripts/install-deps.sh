#!/usr/bin/env bash
# Installs the Debian packages that building and testing Cellverter need. Quiet and quick
# when everything is already there.
#   scripts/install-deps.sh           the build, the tests and the package
#   scripts/install-deps.sh --fuzz    and the fuzz build's compiler (fuzz/fuzz.sh)
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins libgl-dev
  libicu-dev zlib1g-dev libisal-dev clang-format
  libcurl4-openssl-dev libssl-dev openssl ca-certificates libpcre2-dev
  libcli11-dev libcpp-httplib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # the Python package, its tests (pandas, Dask's distributed) and its benchmark (openpyxl)
  python3-dev pybind11-dev python3-pandas python3-distributed python3-openpyxl
  # the Debian package (scripts/package.sh) and its test (scripts/test-package.sh)
  dpkg-dev file lintian desktop-file-utils appstream bash-completion man-db
)
if [[ "${1:-}" == "--fuzz" ]]; then
  # libFuzzer and the sanitizers' runtime of the clang that fuzz/fuzz.sh names
  packages+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
