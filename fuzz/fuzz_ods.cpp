// libFuzzer target for the OpenDocument spreadsheet reader (.ods packages through the zip
// container, flat .fods documents, data styles, repeats and spans): any bytes must end in a
// sheet list and rows or in cellverter::Error, never in a crash, a hang or unbounded memory.
// Built with -DCELLVERTER_FUZZ=ON (clang) it fuzzes, with the mutator that keeps a package's
// checksums right; in the test build it replays its seeds.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#ifdef CELLVERTER_LIBFUZZER
#include "fuzz_zip_mutator.h"
#endif
#include "spreadsheet/container/workbook_file.h"
#include "spreadsheet/ods/ods_reader.h"
#include "spreadsheet/workbook_error.h"

namespace {

// A few hundred bytes of repeats can give a whole sheet of cells (16 billion), which reading
// through would take hours: such sheets are checked for their first rows only.
constexpr uint64_t kMaxCellsRead = uint64_t{1} << 20;

void ReadSheet(cellverter::SheetSource& sheet) {
  if (sheet.CellsHeld() <= kMaxCellsRead) {
    cellverter::fuzzing::ExerciseSheetSource(sheet);
    return;
  }
  cellverter::fuzzing::CheckLayout(sheet.Layout());
  cellverter::SheetRow row;
  for (int i = 0; i < 16 && sheet.NextRow(row); ++i) {
    if (row.row > sheet.LastRow() || row.cells.size() > 16384) std::abort();
  }
}

void ReadWorkbook(const std::string& path, bool flat) {
  // The zip directory is read before the reader is called, as the dispatcher reads it.
  auto workbook =
      flat ? cellverter::OpenFlatOdsWorkbook(path, cellverter::OpenWorkbookFile(path))
           : cellverter::OpenOdsWorkbook(path, cellverter::WithWorkbookErrors(path, [&] {
                                           return std::make_unique<cellverter::ZipArchive>(
                                               cellverter::OpenWorkbookFile(path));
                                         }));
  cellverter::fuzzing::ExerciseWorkbook(*workbook, ReadSheet);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool zip = size >= 2 && std::memcmp(data, "PK", 2) == 0;
  cellverter::fuzzing::MemoryFile file(data, size);
  try {
    ReadWorkbook(file.path(), !zip);
  } catch (const cellverter::Error&) {
  }
  return 0;
}
