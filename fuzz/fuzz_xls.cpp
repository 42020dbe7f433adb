// libFuzzer target for the .xls reader: any bytes must end in a sheet list and rows or in
// cellverter::Error, never in a crash, a hang or unbounded memory. Every worksheet is read
// (up to a few), one after the other from the one workbook. Built with -DCELLVERTER_FUZZ=ON
// (clang) it fuzzes; in the test build it replays its seeds.
#include "fuzz_support.h"
#include "spreadsheet/xls/xls_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cellverter::fuzzing::MemoryFile file(data, size);
  try {
    auto workbook = cellverter::OpenXlsWorkbook(file.path());
    const std::vector<cellverter::SheetEntry>& sheets = workbook->Sheets();
    int read = 0;
    for (size_t position = 0; position < sheets.size() && read < 8; ++position) {
      if (sheets[position].name.size() > cellverter::kMaxSheetNameBytes) std::abort();
      if (sheets[position].kind != cellverter::SheetKind::kWorksheet) continue;
      ++read;
      try {
        auto sheet = workbook->OpenSheet(position);
        cellverter::fuzzing::ExerciseSheetSource(*sheet);
      } catch (const cellverter::Error&) {
        // A damaged sheet leaves the others readable.
      }
    }
  } catch (const cellverter::Error&) {
  }
  return 0;
}
