// The floor of reading a workbook: one part of a zip package inflated and checked, through
// the reader's own zip stream (ISA-L or zlib, as the build found), and nothing else.
//   inflate_part BOOK.xlsx [PART]     (PART: xl/worksheets/sheet1.xml by default)
#include <cstdio>
#include <vector>

#include "spreadsheet/container/workbook_file.h"
#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/workbook_error.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s BOOK [PART]\n", argv[0]);
    return 2;
  }
  try {
    const cellverter::ZipArchive zip(cellverter::OpenWorkbookFile(argv[1]));
    const auto* entry = zip.Find(argc == 3 ? argv[2] : "xl/worksheets/sheet1.xml");
    if (entry == nullptr) {
      std::fprintf(stderr, "no such part\n");
      return 1;
    }
    auto stream = zip.Open(*entry);
    std::vector<char> buffer(256 * 1024);
    unsigned long long total = 0;
    while (const size_t n = stream->Read(buffer.data(), buffer.size())) total += n;
    std::printf("%llu bytes\n", total);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
