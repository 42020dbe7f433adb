#pragma once

// The cells a reader serves, written out with their kinds, so that a test sees a number
// from a text that shows the same.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "spreadsheet/sheet_source.h"

namespace cellverter::testing_support {

// "_" for an empty (styled) cell, "N1.5", "S'text'", "TRUE", "FALSE", "E#N/A".
inline std::string Show(const CellValue& value) {
  switch (value.kind) {
    case CellValue::Kind::Empty:
      return "_";
    case CellValue::Kind::Number: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "N%.15g", value.number);
      return buffer;
    }
    case CellValue::Kind::String:
      return "S'" + value.text + "'";
    case CellValue::Kind::Boolean:
      return value.number ? "TRUE" : "FALSE";
    case CellValue::Kind::Error:
      return "E" + value.text;
  }
  return "?";
}

// Every cell the source serves, as "R1C1=N1.5 R1C2=S'x' ..." ("R1C1s3=N1.5" with
// `withStyles`: the cell's style index), checking the order promised by SheetSource on the way.
inline std::string Dump(SheetSource& source, bool withStyles = false) {
  std::string out;
  SheetRow row;
  uint32_t previousRow = 0;
  while (source.NextRow(row)) {
    EXPECT_GT(row.row, previousRow);
    previousRow = row.row;
    uint32_t previousColumn = 0;
    for (const SheetCell& cell : row.cells) {
      EXPECT_GT(cell.column, previousColumn);
      previousColumn = cell.column;
      if (!out.empty()) out += ' ';
      out += "R" + std::to_string(row.row) + "C" + std::to_string(cell.column);
      if (withStyles) out += "s" + std::to_string(cell.styleIndex);
      out += "=" + Show(cell.value);
    }
  }
  return out;
}

// The sheet list as "name/kind/visibility " per sheet.
inline std::string ListOf(const WorkbookSource& workbook) {
  std::string out;
  for (const SheetEntry& sheet : workbook.Sheets()) {
    const char* kinds[] = {"worksheet", "chart", "dialog", "macro"};
    const char* visibilities[] = {"visible", "hidden", "veryhidden"};
    out += sheet.name + "/" + kinds[static_cast<int>(sheet.kind)] + "/" +
           visibilities[static_cast<int>(sheet.visibility)] + " ";
  }
  return out;
}

}  // namespace cellverter::testing_support
