#pragma once

#include <string>

#include "spreadsheet/automation.h"

namespace cellverter::testing_support {

// The displayed texts from A1 to the last used cell, read through the automation members as
// a conversion reads them: fields joined by "|", rows by "\n".
inline std::string ReadGrid(const std::string& path) {
  auto excel = CreateAutomationObject("Excel.Application");
  ExcelWorksheet& sheet = excel->Workbooks().Open(path, false, true).Worksheets(1);
  const int rows = sheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Row();
  const int columns = sheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Column();
  std::string grid;
  for (int r = 1; r <= rows; ++r) {
    if (r > 1) grid += '\n';
    for (int c = 1; c <= columns; ++c) {
      if (c > 1) grid += '|';
      grid += sheet.Cells(r, c).Text();
    }
  }
  excel->Quit();
  return grid;
}

}  // namespace cellverter::testing_support
