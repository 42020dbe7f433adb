// libFuzzer target for the .xlsb reader (record layer, workbook, styles, shared strings and
// worksheet parts, the shared row spool): any bytes must end in a sheet list and rows or in
// cellverter::Error, never in a crash, a hang or unbounded memory. The zip mutator keeps the
// package's checksums right, so that changed records reach the reader; in the test build the
// target replays its seeds.
#include <memory>
#include <string>

#include "fuzz_support.h"
#ifdef CELLVERTER_LIBFUZZER
#include "fuzz_zip_mutator.h"
#endif
#include "spreadsheet/container/workbook_file.h"
#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/xlsb/xlsb_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cellverter::fuzzing::MemoryFile file(data, size);
  const std::string path = file.path();
  try {
    auto zip = cellverter::WithWorkbookErrors(path, [&] {
      return std::make_unique<cellverter::ZipArchive>(cellverter::OpenWorkbookFile(path));
    });
    cellverter::fuzzing::ExerciseWorkbook(*cellverter::OpenXlsbWorkbook(path, std::move(zip)));
  } catch (const cellverter::Error&) {
  }
  return 0;
}
