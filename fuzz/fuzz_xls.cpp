// libFuzzer target for the .xls reader: any bytes must end in rows or in
// cellverter::Error, never in a crash, a hang or unbounded memory. Built with
// -DCELLVERTER_FUZZ=ON (clang) it fuzzes; in the test build it replays its seeds.
#include "fuzz_support.h"
#include "spreadsheet/xls_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return cellverter::fuzzing::ReadWholeSheet(
      data, size, [](const std::string& path) { return cellverter::OpenXlsSource(path); });
}
