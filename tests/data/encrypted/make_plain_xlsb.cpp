// Writes the sheet of encrypted.fods as a plain .xlsb with the test suite's own writer
// (tests/spreadsheet/logical_workbook.h), for agile_encrypt.js to encrypt; see README.md.
#include <cstdio>
#include <fstream>
#include <string>

#include "logical_workbook.h"

int main(int argc, char** argv) {
  using namespace cellverter::logical;
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_plain_xlsb OUT.xlsb\n");
    return 2;
  }
  std::string longText;
  for (int i = 0; i < 1000; ++i) {
    char number[8];
    std::snprintf(number, sizeof number, "%04d", i);
    longText += (i ? " " : "") + std::string(number);
  }
  const LogicalWorkbook book = {{Worksheet(
      {Text(1, 1, "Kontostand über alles"), Num(1, 2, 1234.5, "#,##0.00"),
       Num(2, 1, 45352, "yyyy-mm-dd"), Text(2, 2, "a, \"quoted\" text"), Text(3, 1, longText)})}};
  std::ofstream(argv[1], std::ios::binary) << WriteXlsb(book);
  return 0;
}
