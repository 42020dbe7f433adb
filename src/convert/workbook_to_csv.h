#pragma once

#include <string>

#include "convert/csv_encoding.h"

namespace cellverter {

struct CsvOptions {
  std::string separator = ",";
  CsvEncoding encoding = CsvEncoding::Ansi;
  int ansiCodePage = 1252;
  // Tried on encrypted workbooks after Excel's default password; empty: none.
  std::string password = {};
};

// Converts the first worksheet of `excelFile` into `csvFile` (already made unique by the
// caller): every cell from A1 to the last used cell, as the spreadsheet displays it, one CSV
// line per row. Returns the path actually written (the writer takes the next free numbered
// name if `csvFile` was taken meanwhile). Throws cellverter::Error with a message naming the
// file and the cause; a workbook that fails leaves no output file.
std::string ConvertExcelToCSV(const std::string& excelFile, const std::string& csvFile,
                              const CsvOptions& options);

}  // namespace cellverter
