// Time to render one cell with the common format codes; the string is reused as a CSV
// writer reuses its line buffer.
#include <benchmark/benchmark.h>

#include "numfmt_cases.h"
#include "spreadsheet/numfmt/number_format.h"

namespace cellverter {
namespace {

void Render(benchmark::State& state, std::string_view code, const std::vector<double>& values) {
  NumberFormatCache cache(FormatLocale::EnUs());
  const NumberFormat& format = cache.Get({0, std::string(code)});
  std::string out;
  size_t i = 0;
  for (auto _ : state) {
    out.clear();
    format.Render(CellValue::Number(values[i++ & 4095]), false, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

[[maybe_unused]] const bool registered = [] {
  for (bench::NumberFormatCase& c : bench::NumberFormatCases()) {
    benchmark::RegisterBenchmark(
        c.name, [c = std::move(c)](benchmark::State& state) { Render(state, c.code, c.values); });
  }
  return true;
}();

}  // namespace
}  // namespace cellverter
