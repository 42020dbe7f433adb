// Converts one workbook as the batch run does, for whole-process timing and peak memory
// (/usr/bin/time -v):  convert_xlsx BOOK.xlsx OUT.csv
#include <cstdio>

#include "convert/workbook_to_csv.h"
#include "platform/error.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s BOOK OUT.csv\n", argv[0]);
    return 2;
  }
  try {
    cellverter::CsvOptions options;
    options.encoding = cellverter::CsvEncoding::Utf8;
    std::puts(cellverter::ConvertExcelToCSV(argv[1], argv[2], options).c_str());
  } catch (const cellverter::Error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
