// libFuzzer target for the .xlsx reader (zip container, XML scanner, sheet list, sheet spool):
// any bytes must end in a sheet list and rows or in cellverter::Error, never in a crash, a hang or
// unbounded memory. Built with -DCELLVERTER_FUZZ=ON (clang) it fuzzes, with a mutator that keeps
// the package's checksums right; in the test build it replays its seeds.
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
  return 0;
}
