// libFuzzer target for the .xlsx reader (zip container, XML scanner, sheet spool): any bytes must
// end in rows or in cellverter::Error, never in a crash, a hang or unbounded memory. Built with
// -DCELLVERTER_FUZZ=ON (clang) it fuzzes, with a mutator that keeps the package's checksums
// right; in the ordinary build it replays the files and folders named on its command line, so
// that the seed corpus runs as a test.
#include <cstring>

#include "fuzz_support.h"
#ifdef CELLVERTER_LIBFUZZER
#include "fuzz_zip_mutator.h"
#endif
#include "platform/error.h"
#include "spreadsheet/encrypted_package.h"
#include "spreadsheet/xlsx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cellverter::fuzzing::MemoryFile file(data, size);
  // Encrypted packages (compound files) go through their decryption first.
  const bool encrypted = size >= 8 && std::memcmp(data, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0;
  try {
    auto source = encrypted ? cellverter::OpenEncryptedPackage(file.path(), "")
                            : cellverter::OpenXlsxSource(file.path());
    cellverter::fuzzing::ExerciseSheetSource(*source);
  } catch (const cellverter::Error&) {
  }
  return 0;
}

#ifndef CELLVERTER_LIBFUZZER
int main(int argc, char** argv) { return cellverter::fuzzing::ReplayMain(argc, argv); }
#endif
