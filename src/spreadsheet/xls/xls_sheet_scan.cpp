#include "spreadsheet/xls/xls_sheet_scan.h"

#include <algorithm>

#include "platform/little_endian.h"
#include "spreadsheet/workbook_error.h"

namespace cellverter::biff {

SubstreamStart ProbeSubstream(RecordReader& reader, uint64_t offset, uint64_t streamSize) {
  if (offset >= streamSize) ThrowDamaged("a sheet lies outside the workbook stream");
  // Few records: a sheet list of many sheets is probed sheet by sheet.
  reader.Seek(offset, false);
  if (!reader.Next()) ThrowDamaged("a sheet does not start with a BOF record");
  if (!IsBof(reader.type())) return SubstreamStart::kWorksheetWithoutBof;
  if (reader.data().size() < 4) {
    ThrowDamaged("a sheet does not start with a BOF record");
  }
  // BOF dt (MS-XLS 2.4.21).
  switch (LoadLe16(reader.data().data() + 2)) {
    case kWorksheetSubstream:
      break;
    case kChartSubstream:
      return SubstreamStart::kChart;
    case kMacroSubstream:
      return SubstreamStart::kMacro;
    case 0x0006:
      return SubstreamStart::kModule;
    default:
      return SubstreamStart::kOther;
  }
  // Dialog sheets share the worksheet type; WSBOOL tells them apart (MS-XLS 2.4.351). It
  // comes among the sheet's first records; a sheet that has none by then is a worksheet.
  for (int records = 0; records < 64 && reader.Next(); ++records) {
    const uint16_t type = reader.type();
    if (type == kWsBool) {
      const bool dialog = !reader.data().empty() && (static_cast<uint8_t>(reader.data()[0]) & 0x10);
      return dialog ? SubstreamStart::kDialog : SubstreamStart::kWorksheet;
    }
    if (type == kEof || type == kBof || type == kDimension || IsCellRecord(type)) break;
  }
  return SubstreamStart::kWorksheet;
}

// Calls f(type, data) for the records of the worksheet substream, skipping the substreams
// of embedded charts.
template <typename F>
void SheetScan::ForEachSheetRecord(F&& f) {
  reader_.Seek(sheetOffset_, true);
  int depth = sheetDepth_;
  while (reader_.Next()) {
    const uint16_t type = reader_.type();
    if (IsBof(type)) {
      if (++depth > 64) ThrowDamaged("sheets are nested too deeply");
      continue;
    }
    if (type == kEof) {
      if (--depth == 0) return;
      continue;
    }
    if (depth == 1) f(type, reader_.data());
  }
  if (truncated_) return;
  ThrowDamaged("the worksheet has no end");
}

void SheetScan::Scan() {
  bool ordered = true;
  uint32_t previousRow = 0;
  ForEachSheetRecord([&](uint16_t type, std::string_view data) {
    if (!IsCellRecord(type)) {
      if (oldCells_ != 0 && IsOldBiffCellRecord(type, oldCells_)) {
        const uint32_t row = ScanOldBiffCell(type, data);
        if (row < previousRow) ordered = false;
        previousRow = row;
      } else {
        ReadOtherRecord(type, data);
      }
      return;
    }
    if (data.size() < 6) ThrowDamaged("a cell record is too short");
    const uint32_t row = LoadLe16(data.data());
    uint32_t first = LoadLe16(data.data() + 2), last = first;
    switch (type) {
      case kMulRk:
      case kMulBlank:
        last = MulLastColumn(type, data);
        break;
      case kFormula:
      case kFormulaBiff4:
        NoteFormula(data);
        break;
      default:
        break;
    }
    usedRange_.AddCell(row + 1, last + 1);
    cellsHeld_ += last - first + 1;
    NoteMissingCellFormats(type, data);
    if (row < previousRow) ordered = false;
    previousRow = row;
  });
  layout_.hiddenRows = rowVisibility_.Finish(kMaxBiffRows);
  NormaliseLineSpans(layout_.hiddenColumns);
  if (!ordered) {
    ForEachSheetRecord([&](uint16_t type, std::string_view data) {
      if (IsCell(type)) order_.push_back({LoadLe16(data.data()), reader_.offset()});
    });
    std::stable_sort(order_.begin(), order_.end(),
                     [](const auto& a, const auto& b) { return a.row < b.row; });
  }
}

// LibreOffice shows a cell whose format index lies past the end of the table as General,
// as CellFormat() does. A workbook without any cell format is not told of: some writers
// leave the table out altogether.
void SheetScan::NoteMissingCellFormats(uint16_t type, std::string_view data) {
  // Excel 2.x-4.x sheets hold their own formats, read on the way; a missing one is General.
  if (!checkFormats_) return;
  const size_t count = globals_.CellFormatCount();
  // Most records hold one cell, its format after the row and column (six bytes checked).
  if (type != kMulRk && type != kMulBlank) {
    if (LoadLe16(data.data() + 4) >= count) repairs_.Note(kMissingCellFormatRepair);
    return;
  }
  // MULRK and MULBLANK hold a format per cell and end with their last column.
  const size_t width = type == kMulRk ? 6 : 2;
  for (size_t at = 4; at + 2 <= data.size() - 2; at += width) {
    if (LoadLe16(data.data() + at) >= count) {
      repairs_.Note(kMissingCellFormatRepair);
      return;
    }
  }
}

// A formula's text result comes in the STRING record right after it, past any SHRFMLA,
// ARRAY or TABLE; a formula without one has no value, and its cell is served empty. Each
// formula with a text result counts as one without a value until its STRING record is met
// where it belongs: the cells' path only looks at the formulas.
void SheetScan::NoteFormula(std::string_view data) {
  // FormulaValue (MS-XLS 2.5.133): fExprO 0xFFFF with type 0 is a text result. BIFF2's
  // cell attributes take a byte more.
  const size_t at = biff2_ ? 7 : 6;
  if (data.size() >= at + 8 && data[at] == 0 && static_cast<uint8_t>(data[at + 6]) == 0xFF &&
      static_cast<uint8_t>(data[at + 7]) == 0xFF) {
    ++layout_.formulasWithoutValue;
    textResultAt_ = reader_.offset() + 4 + data.size();
  }
}

// What widens the used range besides cells, the sheet's layout, and the text results of
// formulas. The stored DIMENSIONS is not read.
void SheetScan::ReadOtherRecord(uint16_t type, std::string_view data) {
  switch (type) {
    case kShrFmla:
    case kArray:
    case kTable:
      PassBeforeTextResult(data.size());
      break;
    case kString:
      NoteTextResult();
      break;
    case kRow:
      // Row (MS-XLS 2.4.221): fGhostDirty (0x80) a row format, fUnsynced (0x40) a height set
      // by hand; either counts in the row bounds. fDyZero (0x20) hides the row.
      if (data.size() >= 16) {
        const uint8_t flags = static_cast<uint8_t>(data[12]);
        const uint32_t row = LoadLe16(data.data()) + 1u;
        if ((flags & 0xC0) != 0) usedRange_.AddRow(row);
        rowVisibility_.Note(row, (flags & 0x20) != 0);
      }
      break;
    case kDefaultRowHeight:
      // DefaultRowHeight (2.4.87): fDyZero (0x02) hides the rows that have no Row record.
      if (data.size() >= 2) rowVisibility_.SetDefaultHidden((data[0] & 0x02) != 0);
      break;
    case kColInfo: {
      // ColInfo (2.4.53): a column format other than the default cell format (XF 15)
      // counts in the column bounds. Some writers close the range at 256. fHidden (0x01).
      if (data.size() < 8) break;
      const uint32_t first = LoadLe16(data.data()) + 1u;
      const uint32_t last = std::min(LoadLe16(data.data() + 2) + 1u, kMaxBiffColumns);
      if (LoadLe16(data.data() + 6) != 15) usedRange_.AddColumn(last);
      if (data.size() >= 10 && (data[8] & 0x01) != 0 && first <= last) {
        AddLineSpan(layout_.hiddenColumns, first, last);
      }
      break;
    }
    case kMergedCells:
      ReadMergedCells(data);
      break;
    case kNote:
      // Note (2.4.179): a cell that holds only a note is used. BIFF5 carries a long note's
      // text on in further records whose row is 0xFFFF.
      if (data.size() >= 4 && (globals_.Biff8() || LoadLe16(data.data()) != 0xFFFF)) {
        usedRange_.AddCell(LoadLe16(data.data()) + 1u, LoadLe16(data.data() + 2) + 1u);
      }
      break;
    default:
      if (globals_.OldBiff()) ReadOldBiffRecord(type, data);
      break;
  }
}

// A BIFF2 cell or a BIFF3 formula: the cell's place, and a formula's text result. Gives the
// cell's row (0-based).
uint32_t SheetScan::ScanOldBiffCell(uint16_t type, std::string_view data) {
  if (data.size() < 6) ThrowDamaged("a cell record is too short");
  const uint32_t row = LoadLe16(data.data());
  usedRange_.AddCell(row + 1, LoadLe16(data.data() + 2) + 1u);
  ++cellsHeld_;
  if (type == kFormulaBiff3) NoteFormula(data);
  return row;
}

// The records of Excel 2.x-4.x sheets that later versions left or renumbered: the sheet's
// own formats, BIFF2's rows, column widths and the records after a text formula.
void SheetScan::ReadOldBiffRecord(uint16_t type, std::string_view data) {
  if (formats_.Read(type, data, globals_.CodePage())) return;
  if (!biff2_) return;
  switch (type) {
    case kArrayBiff2:
      PassBeforeTextResult(data.size());
      break;
    case kStringBiff2:
      NoteTextResult();
      break;
    case kRowBiff2:
      // ROW (BIFF2): row, columns, then the height; a row of height 0 is hidden. Bit 15 says
      // the default height, whatever the bits below.
      if (data.size() >= 8) {
        const uint16_t height = LoadLe16(data.data() + 6);
        rowVisibility_.Note(LoadLe16(data.data()) + 1u, height == 0);
      }
      break;
    case kColWidthBiff2: {
      // COLWIDTH: first and last column (a byte each), then the width; 0 hides them.
      if (data.size() < 4) break;
      const uint32_t first = static_cast<uint8_t>(data[0]) + 1u;
      const uint32_t last = static_cast<uint8_t>(data[1]) + 1u;
      if (LoadLe16(data.data() + 2) == 0 && first <= last) {
        AddLineSpan(layout_.hiddenColumns, first, last);
      }
      break;
    }
    case kDefaultRowHeightBiff2:
      // DEFAULTROWHEIGHT (BIFF2): the height alone; 0 hides the rows without a ROW record.
      if (data.size() >= 2) rowVisibility_.SetDefaultHidden(LoadLe16(data.data()) == 0);
      break;
    default:
      break;
  }
}

// MergeCells (2.4.168): a count, then that many Ref8U; the count is believed only as far
// as the record reaches. Excel writes more than 1026 areas as further records.
void SheetScan::ReadMergedCells(std::string_view data) {
  if (data.size() < 2) return;
  const size_t count = std::min<size_t>(LoadLe16(data.data()), (data.size() - 2) / 8);
  for (size_t i = 0; i < count; ++i) {
    const char* ref = data.data() + 2 + i * 8;
    AddMergedArea(layout_.mergedAreas, LoadLe16(ref) + 1u, LoadLe16(ref + 4) + 1u,
                  LoadLe16(ref + 2) + 1u, LoadLe16(ref + 6) + 1u, kMaxBiffColumns);
  }
}

}  // namespace cellverter::biff
