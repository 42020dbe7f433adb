// Google Benchmark of one workbook to one CSV: a generated 20-column workbook of mixed types
// (see make_large_xlsx.cpp) converted by ConvertExcelToCSV. Whole-process figures for the
// 100,000- and 500,000-row workbooks come from bench/measure-xlsx.sh (bench/README.md).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "convert/workbook_to_csv.h"

namespace {

std::string Folder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "xlsx-bench-XXXXXX").string();
    return std::string(::mkdtemp(pattern.data()));
  }();
  return folder;
}

std::string Workbook(long rows) {
  const std::string path = Folder() + "/book" + std::to_string(rows) + ".xlsx";
  if (!std::filesystem::exists(path)) {
    const std::string command =
        std::string(CELLVERTER_MAKE_LARGE_XLSX) + " " + std::to_string(rows) + " " + path;
    if (std::system(command.c_str()) != 0) std::abort();
  }
  return path;
}

void BM_ConvertXlsx(benchmark::State& state) {
  const std::string book = Workbook(state.range(0));
  const std::string csv = Folder() + "/out.csv";
  cellverter::CsvOptions options;
  options.encoding = cellverter::CsvEncoding::Utf8;
  for (auto _ : state) {
    std::filesystem::remove(csv);
    benchmark::DoNotOptimize(cellverter::ConvertExcelToCSV(book, csv, options));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 20);
  std::filesystem::remove(csv);
}
BENCHMARK(BM_ConvertXlsx)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::filesystem::remove_all(Folder());
  return 0;
}
