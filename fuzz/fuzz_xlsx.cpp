// libFuzzer target for the .xlsx reader (zip container, XML scanner, sheet list, sheet spool):
// any bytes must end in a sheet list and rows or in cellverter::Error, never in a crash, a hang or
// unbounded memory; and the rows read in place must be those of the general XML scanner. Built with
// -DCELLVERTER_FUZZ=ON (clang) it fuzzes, with a mutator that keeps the package's checksums right;
// in the test build it replays its seeds.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#ifdef CELLVERTER_LIBFUZZER
#include "fuzz_zip_mutator.h"
#endif
#include "spreadsheet/crypto/encrypted_package.h"
#include "spreadsheet/first_worksheet.h"
#include "spreadsheet/xlsx/xlsx_reader.h"

namespace {

// Everything a worksheet gives the engine, or the error that ends it, as text: cells with
// their kinds, styles and values to the bit, bounds, layout and repairs.
std::string DescribeWorkbook(const std::string& path, bool rowsInPlace) {
  std::string out;
  cellverter::XlsxReaderOptions options;
  options.rowsInPlace = rowsInPlace;
  try {
    auto workbook = cellverter::OpenXlsxWorkbook(path, -1, options);
    for (size_t i = 0; i < workbook->Sheets().size() && i < 8; ++i) {
      out += "|sheet ";
      try {
        auto sheet = workbook->OpenSheet(i);
        out += std::to_string(sheet->LastRow()) + ":" + std::to_string(sheet->LastColumn());
        const cellverter::SheetLayout& layout = sheet->Layout();
        out += " hidden " + std::to_string(layout.hiddenRows.size()) + "/" +
               std::to_string(layout.hiddenColumns.size()) + " merged " +
               std::to_string(layout.mergedAreas.size()) + " unvalued " +
               std::to_string(layout.formulasWithoutValue);
        cellverter::SheetRow row;
        while (sheet->NextRow(row)) {
          out += "\n" + std::to_string(row.row) + ":";
          for (const cellverter::SheetCell& cell : row.cells) {
            uint64_t bits = 0;
            std::memcpy(&bits, &cell.value.number, sizeof bits);
            out += " " + std::to_string(cell.column) + "/" + std::to_string(cell.styleIndex) + "/" +
                   std::to_string(static_cast<int>(cell.value.kind)) + "/" + std::to_string(bits) +
                   "/" + cell.value.text;
          }
        }
        for (const std::string& note : sheet->Repairs().Notes()) out += "\nrepair " + note;
      } catch (const cellverter::Error& e) {
        out += std::string("error ") + e.what();
      }
    }
  } catch (const cellverter::Error& e) {
    out += std::string("error ") + e.what();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Encrypted packages (compound files) go through their decryption first.
  const bool encrypted = size >= 8 && std::memcmp(data, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0;
  if (encrypted) {
    return cellverter::fuzzing::ReadWholeSheet(data, size, [](const std::string& path) {
      return cellverter::OpenFirstWorksheet(
          cellverter::OpenEncryptedPackage(cellverter::CompoundFile(path), ""), path);
    });
  }
  cellverter::fuzzing::MemoryFile file(data, size);
  try {
    cellverter::fuzzing::ExerciseWorkbook(*cellverter::OpenXlsxWorkbook(file.path()));
  } catch (const cellverter::Error&) {
  }
  // Rows read in place must be the rows the general XML scanner reads, errors included.
  if (DescribeWorkbook(file.path(), true) != DescribeWorkbook(file.path(), false)) std::abort();
  return 0;
}
