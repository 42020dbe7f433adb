// Reading speed of the .xls reader: open a workbook and serve every row of its first
// worksheet, as the conversion does. The workbooks come from make_xls_bench_file, in the
// temporary folder:
//   make_xls_bench_file /tmp/cellverter-bench-65535x20.xls
//   make_xls_bench_file /tmp/cellverter-bench-65535x20-reversed.xls 65535 reversed
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "convert/workbook_to_csv.h"
#include "spreadsheet/xls/xls_reader.h"
#include "xls_test_files.h"

namespace {

std::string BenchFile(const char* name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

void ReadAllRows(benchmark::State& state, const std::string& path) {
  if (!std::filesystem::exists(path)) {
    state.SkipWithError(("make " + path + " with make_xls_bench_file first").c_str());
    return;
  }
  uint64_t cells = 0;
  for (auto _ : state) {
    auto source = cellverter::OpenXlsSource(path);
    cellverter::SheetRow row;
    while (source->NextRow(row)) cells += row.cells.size();
    benchmark::DoNotOptimize(cells);
  }
  state.counters["cells/s"] =
      benchmark::Counter(static_cast<double>(cells), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(path)));
}
void BM_XlsReadAllRows(benchmark::State& state) {
  ReadAllRows(state, BenchFile("cellverter-bench-65535x20.xls"));
}
BENCHMARK(BM_XlsReadAllRows)->Unit(benchmark::kMillisecond);

// Rows written last to first: served in order through the sorted record index.
void BM_XlsReadAllRowsWrittenBackwards(benchmark::State& state) {
  ReadAllRows(state, BenchFile("cellverter-bench-65535x20-reversed.xls"));
}
BENCHMARK(BM_XlsReadAllRowsWrittenBackwards)->Unit(benchmark::kMillisecond);

// The whole conversion of the same workbook: dispatch, reading, displayed texts, CSV file.
void BM_XlsConvertExcelToCSV(benchmark::State& state) {
  const std::string path = BenchFile("cellverter-bench-65535x20.xls");
  if (!std::filesystem::exists(path)) {
    state.SkipWithError(("make " + path + " with make_xls_bench_file first").c_str());
    return;
  }
  const std::filesystem::path out =
      std::filesystem::temp_directory_path() / "cellverter-bench-xls-out";
  std::filesystem::create_directories(out);
  for (auto _ : state) {
    const std::string written = cellverter::ConvertExcelToCSV(
        path, (out / "book.csv").string(), {",", cellverter::CsvEncoding::Utf8, 1252});
    state.PauseTiming();
    std::filesystem::remove(written);
    state.ResumeTiming();
  }
  std::filesystem::remove_all(out);
}
BENCHMARK(BM_XlsConvertExcelToCSV)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
