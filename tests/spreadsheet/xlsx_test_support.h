#pragma once

#include <string>
#include <vector>

#include "spreadsheet/automation.h"

namespace cellverter::testing_support {

struct ReadWorkbook {
  std::string grid;
  std::vector<std::string> repairs;  // ExcelWorkbook::Repairs after the last row
};

// The displayed texts from A1 to the last used cell, read through the automation members as
// a conversion reads them: fields joined by "|", rows by "\n".
inline ReadWorkbook ReadGridAndRepairs(const std::string& path) {
  auto excel = CreateAutomationObject("Excel.Application");
  ExcelWorkbook& book = excel->Workbooks().Open(path, false, true);
  ExcelWorksheet& sheet = book.Worksheets(1);
  const int rows = sheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Row();
  const int columns = sheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Column();
  ReadWorkbook read;
  for (int r = 1; r <= rows; ++r) {
    if (r > 1) read.grid += '\n';
    for (int c = 1; c <= columns; ++c) {
      if (c > 1) read.grid += '|';
      read.grid += sheet.Cells(r, c).Text();
    }
  }
  read.repairs = book.Repairs();
  excel->Quit();
  return read;
}
inline std::string ReadGrid(const std::string& path) { return ReadGridAndRepairs(path).grid; }

}  // namespace cellverter::testing_support
