# What the benchmark scripts share; sourced, from the repository's root folder.

# bench_build FOLDER TARGET...: the Release build of the benchmarks (no tests, no windows)
# in FOLDER, with TARGET... built.
bench_build() {
  local build=$1
  shift
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCELLVERTER_BENCH=ON \
    -DCELLVERTER_TESTS=OFF -DCELLVERTER_GUI=OFF >/dev/null
  cmake --build "$build" --target "$@" >/dev/null
}

# LibreOffice's CSV export as cellverter-cli writes by default (UTF-8, comma, quotes as
# needed, the texts as shown), with a profile of its own under a work folder:
# "soffice --headless $(lo_profile WORK) --convert-to "$lo_csv_filter" ...".
lo_csv_filter="csv:Text - txt - csv (StarCalc):44,34,76,1,,1033,false,false,true,false,false"
lo_profile() { echo "-env:UserInstallation=file://$1/lo-profile"; }
