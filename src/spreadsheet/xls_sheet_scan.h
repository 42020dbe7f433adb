#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/sheet_source.h"
#include "spreadsheet/used_range_bounds.h"
#include "spreadsheet/xls_globals.h"
#include "spreadsheet/xls_records.h"

namespace cellverter::biff {

struct CellRecordPosition {
  uint16_t row;
  uint64_t offset;
};

// Finds the first worksheet and passes over its records once: the used range, the cells it
// holds, and whether the cells come in row order (as every Excel writes them). If not, the
// positions of the cell records are sorted so that rows can still be served in order.
class SheetScan {
 public:
  SheetScan(RecordReader& reader, const WorkbookGlobals& globals, bool truncated,
            RepairLog& repairs)
      : reader_(reader), globals_(globals), truncated_(truncated), repairs_(repairs) {}

  // The first worksheet in workbook order; a workbook without one is refused with a
  // WorkbookError naming `path`.
  void FindFirstWorksheet(uint64_t streamSize, const std::string& path);
  void Scan();

  uint64_t SheetOffset() const { return sheetOffset_; }  // of the sheet's BOF
  int SheetDepth() const { return sheetDepth_; }         // 1 for a sheet whose BOF is left out
  const UsedRangeBounds& UsedRange() const { return usedRange_; }
  uint64_t CellsHeld() const { return cellsHeld_; }
  // Empty for a sheet whose cells are in row order.
  const std::vector<CellRecordPosition>& Order() const { return order_; }

 private:
  void NoteMissingCellFormats(uint16_t type, std::string_view data);
  void CountInUsedRange(uint16_t type, std::string_view data);
  template <typename F>
  void ForEachSheetRecord(F&& f);

  RecordReader& reader_;
  const WorkbookGlobals& globals_;
  const bool truncated_;
  RepairLog& repairs_;
  uint64_t sheetOffset_ = 0;
  int sheetDepth_ = 0;
  UsedRangeBounds usedRange_;
  uint64_t cellsHeld_ = 0;
  std::vector<CellRecordPosition> order_;
};

}  // namespace cellverter::biff
