#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/sheet_source.h"
#include "spreadsheet/xls/xls_globals.h"
#include "spreadsheet/xls/xls_records.h"
#include "spreadsheet/xls/xls_sheet_scan.h"

namespace cellverter::biff {

// The worksheet's cell records decoded into rows, in row order: read straight through when
// the records came in row order, else one by one where the scan found them.
class CellDecoder {
 public:
  CellDecoder(RecordReader& reader, WorkbookGlobals& globals, const SheetScan& sheet,
              RepairLog& repairs)
      : reader_(reader),
        globals_(globals),
        sheet_(sheet),
        repairs_(repairs),
        biff2_(globals.Version() == 2),
        oldCells_(globals.Version() <= 3 ? globals.Version() : 0) {}

  void Rewind();
  bool ReadRow(SheetRow& row);

 private:
  bool NextCellRecord();
  void DecodeCells(std::vector<SheetCell>& out);
  [[gnu::noinline]] void DecodeOldBiffCell(std::vector<SheetCell>& out);
  void ReadCellString(std::string_view data, std::string& text);
  void FormulaResult(const char* value, CellValue& out);
  void FollowingString(std::string& text);

  RecordReader& reader_;
  WorkbookGlobals& globals_;
  const SheetScan& sheet_;
  RepairLog& repairs_;
  const bool biff2_;
  const int oldCells_;  // as SheetScan's
  bool finished_ = false;
  int depth_ = 0;
  size_t nextIndex_ = 0;
  uint32_t pendingRow_ = 0;
  std::vector<SheetCell> pending_;  // the first cells of the next row
  ContinuedData string_;            // a text's records, its buffers kept from cell to cell
};

}  // namespace cellverter::biff
