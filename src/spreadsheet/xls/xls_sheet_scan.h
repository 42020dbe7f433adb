#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/sheet_layout_builder.h"
#include "spreadsheet/sheet_source.h"
#include "spreadsheet/used_range_bounds.h"
#include "spreadsheet/xls/xls_globals.h"
#include "spreadsheet/xls/xls_records.h"

namespace cellverter::biff {

struct CellRecordPosition {
  uint16_t row;
  uint64_t offset;
};

// What the substream at a sheet list entry's offset is, read from its first records: the
// sheet list gives one type to worksheets and dialog sheets, and some writers list charts or
// modules as worksheets too.
enum class SubstreamStart {
  kWorksheet,
  kWorksheetWithoutBof,  // cell records without a BOF: read as a worksheet from there
  kDialog,
  kChart,
  kMacro,
  kModule,  // a VBA module: not a sheet Excel shows
  kOther,   // a substream of no sheet kind; it holds no cells to serve
};

// Reads the few records that tell the substream at `offset` apart. Throws WorkbookDamaged
// when the offset lies outside the stream or no valid BOF is there.
SubstreamStart ProbeSubstream(RecordReader& reader, uint64_t offset, uint64_t streamSize);

// Passes over a worksheet's records once: the used range, the cells it holds, the sheet's
// layout (hidden rows and columns, merged areas) into `layout`, and whether
// the cells come in row order (as every Excel writes them). If not, the positions of the cell
// records are sorted so that rows can still be served in order.
class SheetScan {
 public:
  // `sheetOffset`: the stream offset of the worksheet's BOF, or of its first record when
  // the BOF is left out (`bofMissing`).
  SheetScan(RecordReader& reader, WorkbookGlobals& globals, bool truncated, RepairLog& repairs,
            SheetLayout& layout, uint64_t sheetOffset, bool bofMissing)
      : reader_(reader),
        globals_(globals),
        truncated_(truncated),
        repairs_(repairs),
        layout_(layout),
        sheetOffset_(sheetOffset),
        sheetDepth_(bofMissing ? 1 : 0),
        biff2_(globals.Version() == 2),
        oldCells_(globals.Version() <= 3 ? globals.Version() : 0),
        checkFormats_(!globals.OldBiff() && globals.CellFormatCount() > 0),
        formats_(globals.Version()) {
    if (biff2_) formats_.SetStyleIsFormat();
  }

  void Scan();

  uint64_t SheetOffset() const { return sheetOffset_; }  // of the sheet's BOF
  int SheetDepth() const { return sheetDepth_; }         // 1 for a sheet whose BOF is left out
  const UsedRangeBounds& UsedRange() const { return usedRange_; }
  uint64_t CellsHeld() const { return cellsHeld_; }
  // Empty for a sheet whose cells are in row order.
  const std::vector<CellRecordPosition>& Order() const { return order_; }
  // The cell formats of the sheet's cells: an Excel 2.x-4.x sheet holds its own (a BIFF4W
  // sheet that holds none uses its workbook's), later versions the workbook's.
  const CellFormatTable& Formats() const {
    return globals_.OldBiff() && (biff2_ || formats_.CellFormatCount() > 0) ? formats_
                                                                            : globals_.Formats();
  }

 private:
  bool IsCell(uint16_t type) const {
    return IsCellRecord(type) || (oldCells_ != 0 && IsOldBiffCellRecord(type, oldCells_));
  }
  [[gnu::noinline]] uint32_t ScanOldBiffCell(uint16_t type, std::string_view data);
  void NoteMissingCellFormats(uint16_t type, std::string_view data);
  [[gnu::noinline]] void NoteFormula(std::string_view data);
  // A record of `size` bytes between a text formula and its STRING: the STRING lies after it.
  void PassBeforeTextResult(size_t size) {
    if (reader_.offset() == textResultAt_) textResultAt_ += 4 + size;
  }
  // A STRING: where it belongs, the formula before it has its value.
  void NoteTextResult() {
    if (reader_.offset() == textResultAt_) {
      --layout_.formulasWithoutValue;
      textResultAt_ = kNoTextResult;
    }
  }
  void ReadOtherRecord(uint16_t type, std::string_view data);
  [[gnu::noinline]] void ReadOldBiffRecord(uint16_t type, std::string_view data);
  void ReadMergedCells(std::string_view data);
  template <typename F>
  void ForEachSheetRecord(F&& f);

  RecordReader& reader_;
  WorkbookGlobals& globals_;
  const bool truncated_;
  RepairLog& repairs_;
  SheetLayout& layout_;
  RowVisibility rowVisibility_;
  static constexpr uint64_t kNoTextResult = UINT64_MAX;
  uint64_t textResultAt_ = kNoTextResult;  // where the last text formula's STRING belongs
  const uint64_t sheetOffset_;
  const int sheetDepth_;
  UsedRangeBounds usedRange_;
  uint64_t cellsHeld_ = 0;
  std::vector<CellRecordPosition> order_;
  const bool biff2_;
  const int oldCells_;       // 2 or 3 where IsOldBiffCellRecord finds cells, else 0
  const bool checkFormats_;  // whether cells' format indexes are checked against the table
  CellFormatTable formats_;
};

}  // namespace cellverter::biff
