// libFuzzer target for the .xlsx reader (zip container, XML scanner, sheet spool): any bytes must
// end in rows or in cellverter::Error, never in a crash, a hang or unbounded memory. Built with
// -DCELLVERTER_FUZZ=ON (clang) it fuzzes, with a mutator that keeps the package's checksums
// right; in the test build it replays its seeds.
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#ifdef CELLVERTER_LIBFUZZER
#include "fuzz_zip_mutator.h"
#endif
#include "spreadsheet/encrypted_package.h"
#include "spreadsheet/xlsx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Encrypted packages (compound files) go through their decryption first.
  const bool encrypted = size >= 8 && std::memcmp(data, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0;
  return cellverter::fuzzing::ReadWholeSheet(
      data, size, [encrypted](const std::string& path) -> std::unique_ptr<cellverter::SheetSource> {
        return encrypted ? cellverter::OpenEncryptedPackage(path, "")
                         : cellverter::OpenXlsxSource(path);
      });
}
