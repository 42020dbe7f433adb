#pragma once

#include <algorithm>
#include <cstdint>

namespace cellverter {

// The last cell of a worksheet's used range, by the rule with which Excel stamps DIMENSIONS
// (MS-XLS 2.4.90) and BrtWsDim (MS-XLSB 2.4.858): a cell with a value, a formula or a format
// of its own counts in both bounds; a row with a format of its own counts in the row bounds
// only, a column with one in the column bounds only, and either brings the first column or
// row along when nothing else is used. Readers feed it what Excel counts besides: notes,
// rows of a custom height, tables. Rows and columns are 1-based; {0, 0} is an empty sheet.
// The stored DIMENSIONS or <dimension> is never used: other writers store wrong ones.
class UsedRangeBounds {
 public:
  void AddCell(uint32_t row, uint32_t column) {
    lastRow_ = std::max(lastRow_, row);
    lastColumn_ = std::max(lastColumn_, column);
  }
  void AddRow(uint32_t row) { lastRow_ = std::max(lastRow_, row); }
  void AddColumn(uint32_t column) { lastColumn_ = std::max(lastColumn_, column); }

  uint32_t LastRow() const { return lastRow_ == 0 && lastColumn_ != 0 ? 1 : lastRow_; }
  uint32_t LastColumn() const { return lastColumn_ == 0 && lastRow_ != 0 ? 1 : lastColumn_; }

 private:
  uint32_t lastRow_ = 0;
  uint32_t lastColumn_ = 0;
};

}  // namespace cellverter
