// Time to render one cell with the common format codes; the string is reused as a CSV
// writer reuses its line buffer.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "spreadsheet/number_format.h"

namespace cellverter {
namespace {

std::vector<double> Values(double low, double high) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> distribution(low, high);
  std::vector<double> values(4096);
  for (double& value : values) value = distribution(random);
  return values;
}

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

void GeneralIntegers(benchmark::State& state) {
  std::vector<double> values = Values(0, 1e6);
  for (double& value : values) value = static_cast<double>(static_cast<long>(value));
  Render(state, "General", values);
}
void GeneralDecimals(benchmark::State& state) { Render(state, "General", Values(-1e4, 1e4)); }
void FixedDecimals(benchmark::State& state) { Render(state, "#,##0.00", Values(-1e7, 1e7)); }
// Amounts as people type them: whole cents, whose shortest digits are short.
void FixedDecimalsTypedAmounts(benchmark::State& state) {
  std::vector<double> values = Values(-1e7, 1e7);
  for (double& value : values) value = static_cast<double>(static_cast<long>(value * 100)) / 100;
  Render(state, "#,##0.00", values);
}
void DateTime(benchmark::State& state) {
  Render(state, "yyyy-mm-dd hh:mm:ss", Values(30000, 50000));
}
void FourSections(benchmark::State& state) {
  Render(state, "[Blue]#,##0.00_);[Red](#,##0.00);\"zero\";\"text: \"@", Values(-1e5, 1e5));
}

BENCHMARK(GeneralIntegers);
BENCHMARK(GeneralDecimals);
BENCHMARK(FixedDecimals);
BENCHMARK(FixedDecimalsTypedAmounts);
BENCHMARK(DateTime);
BENCHMARK(FourSections);

}  // namespace
}  // namespace cellverter
