#include "spreadsheet/xlsb/xlsb_reader.h"

#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

#include "spreadsheet/container/prefetch_stream.h"
#include "spreadsheet/sheet_layout_builder.h"
#include "spreadsheet/used_range_bounds.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xls/xls_records.h"
#include "spreadsheet/xlsb/xlsb_records.h"
#include "spreadsheet/xlsx/package_globals.h"
#include "spreadsheet/xlsx/package_relationships.h"
#include "spreadsheet/xlsx/row_spool.h"

namespace cellverter {
namespace {

using namespace xlsb;

[[noreturn]] void Damaged(const std::string& detail) { throw WorkbookDamaged(detail); }

// A text of a cell or of the shared strings, bounded as in .xlsx.
void CheckCellText(const std::string& text) {
  if (text.size() > kMaxCellText) ThrowDamaged("a text is longer than a cell can hold");
}

// One pass over a worksheet part's records: every used cell goes to the spool, row by row,
// while the used range, the hidden rows and columns and the merged areas are gathered.
class SheetReader : PackageSheetScan {
 public:
  SheetReader(RecordReader& records, RowSpool& rows, UsedRangeBounds& usedRange,
              std::vector<std::string>& tableIds, RepairLog& repairs, SheetLayout& layout,
              const char* notAWorksheet)
      : PackageSheetScan(rows, usedRange, tableIds, repairs, layout, notAWorksheet),
        records_(records) {}

  void Read();

 private:
  void Record(uint32_t type, std::string_view data);
  void RowHdr(RecordFields& fields);
  void Cell(uint32_t type, RecordFields& fields);
  void ColInfo(RecordFields& fields);
  void MergeCell(RecordFields& fields);
  void ListPart(RecordFields& fields);

  RecordReader& records_;

  bool inSheetData_ = false;
  bool inRow_ = false;
  uint32_t rowNumber_ = 0;   // 1-based
  uint32_t nextColumn_ = 0;  // 0-based: the column after the row's last cell
  std::string text_;
};

void SheetReader::Read() {
  // A worksheet part starts with BrtBeginSheet; a chart sheet's with a record of its own.
  if (!records_.Next() || records_.Type() != kBeginSheet) Damaged(notAWorksheet_);
  bool ended = false;
  while (records_.Next()) {
    if (records_.Type() == kEndSheetData && inSheetData_) {
      if (inRow_) rows_.FinishRow(rowNumber_, usedRange_);
      inRow_ = inSheetData_ = false;
      ended = true;
      continue;
    }
    Record(records_.Type(), records_.Data());
  }
  // A part cut off after its last complete record keeps the rows it gave.
  if (!ended && inRow_) rows_.FinishRow(rowNumber_, usedRange_);
  rows_.FinishWriting();
  FinishLayout();
}

void SheetReader::Record(uint32_t type, std::string_view data) {
  RecordFields fields(data);
  if (inSheetData_) {
    if (type <= kShortIsst || type == kCellRString) {
      if (type == kRowHdr) {
        RowHdr(fields);
      } else {
        Cell(type, fields);
      }
    }
    return;
  }
  switch (type) {
    case kBeginSheetData:
      inSheetData_ = true;
      break;
    case kColInfo:
      ColInfo(fields);
      break;
    case kMergeCell:
      MergeCell(fields);
      break;
    case kListPart:
      ListPart(fields);
      break;
    case kWsFmtInfo:
      // BrtWsFmtInfo (2.4.851): fDyZero, rows hidden by default; only those given as shown
      // show.
      fields.Skip(8);
      rowVisibility_.SetDefaultHidden((fields.U16() & 0x0002) != 0);
      break;
    default:
      break;  // BrtWsDim among them: the used range is what the cells give
  }
}

// BrtRowHdr (2.4.726): the row whose cells follow.
void SheetReader::RowHdr(RecordFields& fields) {
  const uint32_t rw = fields.U32();
  fields.Skip(4 + 2 + 1);  // ixfe, miyRw, the first flags
  const uint8_t flags = fields.U8();
  if (rw >= kMaxSheetRows) Damaged("a row lies beyond the last row");
  if (inRow_) rows_.FinishRow(rowNumber_, usedRange_);
  inRow_ = true;
  rowNumber_ = rw + 1;
  nextColumn_ = 0;
  // fDyZero hides the row; a row format (fGhostDirty) or a height set by hand (fUnsynced)
  // counts it.
  BeginRow(rowNumber_, (flags & 0x10) != 0, (flags & 0x60) != 0);
}

// The cell records (BrtCellBlank to BrtFmlaError, BrtCellRString): a Cell structure (column, cell
// format) and the value; a formula's cached value comes first, its bytes are skipped. The short
// cell records that Excel 2010 and later write (BrtShortBlank to BrtShortIsst) leave the column
// out: theirs is the one after the row's cell before.
void SheetReader::Cell(uint32_t type, RecordFields& fields) {
  if (!inRow_) Damaged("a cell lies outside a row");
  const bool isShort = type >= kShortBlank && type <= kShortIsst;
  const uint32_t column = isShort ? nextColumn_ : fields.U32();
  const uint32_t style = fields.U32() & 0x00FFFFFF;
  if (column >= kMaxSheetColumns) Damaged("a cell lies beyond the last column");
  nextColumn_ = column + 1;
  // A blank of the default format is not a used cell.
  if ((type == kCellBlank || type == kShortBlank) && style == 0) return;
  SpoolBytes& bytes = rows_.AddCell(column + 1, style);
  switch (type) {
    case kCellBlank:
    case kShortBlank:
      AppendSpooledEmpty(bytes);
      break;
    case kCellRk:
    case kShortRk:
      AppendSpooledNumber(biff::RkValue(fields.U32()), bytes);
      break;
    case kCellReal:
    case kShortReal:
    case kFmlaNum: {
      const double number = fields.F64();
      if (!std::isfinite(number)) Damaged("a number cell holds no number");
      AppendSpooledNumber(number, bytes);
      break;
    }
    case kCellError:
    case kShortError:
    case kFmlaError:
      rows_.PutText(bytes, kErrorCode, biff::ErrorText(fields.U8()));
      break;
    case kCellBool:
    case kShortBool:
    case kFmlaBool:
      AppendSpooledBoolean(fields.U8() != 0, bytes);
      break;
    case kCellSt:
    case kShortSt:
    case kFmlaString:
      fields.WideString(text_);
      CheckCellText(text_);
      rows_.PutText(bytes, kInline, text_);
      break;
    case kCellRString:  // a RichStr: its flags, its text, then runs and phonetic text
      fields.Skip(1);
      fields.WideString(text_);
      CheckCellText(text_);
      rows_.PutText(bytes, kInline, text_);
      break;
    case kCellIsst:
    case kShortIsst:
      rows_.PutShared(bytes, fields.U32(), repairs_);
      break;
    default:
      break;
  }
}

// BrtColInfo (2.4.323): a column range with its width, format and flags; a column format
// counts in the column bounds.
void SheetReader::ColInfo(RecordFields& fields) {
  const uint32_t first = fields.U32();
  const uint32_t last = fields.U32();
  fields.Skip(4);  // coldx
  const uint32_t style = fields.U32();
  const uint16_t flags = fields.U16();
  if (first > last) return;  // no column
  if ((flags & 0x0001) != 0) HideColumns(uint64_t{first} + 1, uint64_t{last} + 1);
  if (style == 0) return;
  if (last >= kMaxSheetColumns) Damaged("a column range is invalid");
  usedRange_.AddColumn(last + 1);
}

// BrtMergeCell (2.4.669): an RfX; one beyond the sheet merges nothing and is passed over.
void SheetReader::MergeCell(RecordFields& fields) {
  const uint32_t row1 = fields.U32();
  const uint32_t row2 = fields.U32();
  const uint32_t column1 = fields.U32();
  const uint32_t column2 = fields.U32();
  if (row1 >= kMaxSheetRows || row2 >= kMaxSheetRows || column1 >= kMaxSheetColumns ||
      column2 >= kMaxSheetColumns) {
    return;
  }
  AddMergedArea(layout_.mergedAreas, row1 + 1, column1 + 1, row2 + 1, column2 + 1,
                kMaxSheetColumns);
}

// BrtListPart (2.4.700): the relationship id of one of the sheet's tables, read after the
// sheet.
void SheetReader::ListPart(RecordFields& fields) {
  std::string id;
  fields.NullableWideString(id);
  if (id.size() > kMaxRelationshipId) Damaged("a table's relationship id is too long");
  PackageSheet::AddTableId(tableIds_, std::move(id));
}

// The last cell, 1-based, of an UncheckedRfX (2.5.154); false when it lies beyond the sheet.
bool RfxEnd(RecordFields& fields, uint32_t& row, uint32_t& column) {
  fields.Skip(4);  // rwFirst
  const uint32_t rwLast = fields.U32();
  fields.Skip(4);  // colFirst
  const uint32_t colLast = fields.U32();
  if (rwLast >= kMaxSheetRows || colLast >= kMaxSheetColumns) return false;
  row = rwLast + 1;
  column = colLast + 1;
  return true;
}

// One worksheet, read once when opened into a spool of its own.
class XlsbSheet final : public PackageSheet {
 public:
  using PackageSheet::PackageSheet;
  void Load(const std::string& part, const char* notAWorksheet);

 private:
  void ReadComments(const std::string& part) override;
  void ReadTable(const std::string& part) override;
};

void XlsbSheet::Load(const std::string& part, const char* notAWorksheet) {
  if (part.empty()) Damaged("a sheet has no part");
  std::vector<std::string> tableIds;
  {
    auto stream = OpenPart(*globals_.zip, part);
    PrefetchStream prefetch(*stream);
    RecordReader records(prefetch);
    SheetReader reader(records, rows_, usedRange_, tableIds, Repairs(), layout_, notAWorksheet);
    reader.Read();
  }
  ReadSheetRelated(part, tableIds);
}

// The comments part (2.1.7.8): a cell that holds only a note counts as used; BrtBeginComment
// (2.4.28) names its cell after the author's index.
void XlsbSheet::ReadComments(const std::string& part) {
  auto stream = OpenPart(*globals_.zip, part);
  RecordReader records(*stream);
  while (records.Next()) {
    if (records.Type() != kBeginComment) continue;
    RecordFields fields(records.Data());
    fields.Skip(4);  // iauthor
    uint32_t row = 0;
    uint32_t column = 0;
    if (!RfxEnd(fields, row, column)) Damaged("a comment's cell reference is invalid");
    usedRange_.AddCell(row, column);
  }
}

// The table part (2.1.7.51) starts with BrtBeginList (2.4.100), whose rfxList is the whole
// range of the table: it counts as used, empty rows included.
void XlsbSheet::ReadTable(const std::string& part) {
  auto stream = OpenPart(*globals_.zip, part);
  RecordReader records(*stream);
  if (!records.Next() || records.Type() != kBeginList) Damaged("a table part holds no table");
  RecordFields fields(records.Data());
  uint32_t row = 0;
  uint32_t column = 0;
  if (!RfxEnd(fields, row, column)) Damaged("a table's range is invalid");
  usedRange_.AddCell(row, column);
}

// The shared strings part (2.1.7.45): a BrtSSTItem per string, a RichStr (2.5.121) whose
// runs and phonetic text, after the text, are left out. The declared counts are not used.
// It may run beside the sheet's scan (LoadSharedStrings).
void ParseSharedStrings(ByteStream& stream, SharedStrings& shared, const SharedStringsLoad& load) {
  RecordReader records(stream);
  std::string text;
  while (records.Next()) {
    if (records.Type() != kSstItem) continue;
    RecordFields fields(records.Data());
    fields.Skip(1);  // fRichStr, fExtStr
    fields.WideString(text);
    CheckCellText(text);
    shared.Add(text);
    if (load.Stopping()) return;
  }
}

class XlsbWorkbook final : public PackageWorkbook {
 public:
  XlsbWorkbook(const std::string& path, std::unique_ptr<ZipArchive> zip,
               const XlsxReaderOptions& limits)
      : PackageWorkbook(path, limits, std::move(zip)) {}

  void Load();
  std::unique_ptr<SheetSource> OpenSheet(size_t position) override;

 private:
  void ReadWorkbook(const std::string& part);
  void ReadStyles(const std::string& part);
};

void XlsbWorkbook::Load() {
  const std::string workbookPart = OfficeDocumentPart(*globals_.zip);
  if (workbookPart.empty() || globals_.zip->Find(workbookPart) == nullptr) {
    Damaged("the workbook part is missing");
  }
  ReadWorkbook(workbookPart);
  NoteZipRepair(Repairs());
}

// The workbook part (2.1.7.61): BrtWbProp for the date system, a BrtBundleSh per sheet.
void XlsbWorkbook::ReadWorkbook(const std::string& part) {
  auto stream = OpenPart(*globals_.zip, part);
  RecordReader records(*stream);
  if (!records.Next() || records.Type() != kBeginBook) {
    ThrowWorkbookError(globals_.path, kNotAWorkbookCause, ErrorKind::kNotAWorkbook);
  }
  std::vector<std::string> sheetIds;
  while (records.Next()) {
    RecordFields fields(records.Data());
    if (records.Type() == kWbProp) {
      globals_.date1904 = (fields.U32() & 0x1) != 0;  // f1904
    } else if (records.Type() == kBundleSh) {
      const uint32_t state = fields.U32();
      fields.Skip(4);  // iTabID
      std::string id;
      fields.NullableWideString(id);
      SheetEntry entry;
      fields.WideString(entry.name);
      // hsState; an unknown state shows the sheet, as in .xlsx.
      entry.visibility = state == 1   ? SheetVisibility::kHidden
                         : state == 2 ? SheetVisibility::kVeryHidden
                                      : SheetVisibility::kVisible;
      AddSheet(std::move(entry), std::move(id), sheetIds);
    }
  }
  const RelatedParts related = ResolveSheets(part, sheetIds);
  if (!related.styles.empty()) ReadStyles(related.styles);
  if (!related.sharedStrings.empty()) LoadSharedStrings(related.sharedStrings, ParseSharedStrings);
}

// The styles part (2.1.7.50): the number formats (BrtFmt in BrtBeginFmts) and the cell
// formats (BrtXF in BrtBeginCellXFs; those of the cell styles are other records' BrtXF).
void XlsbWorkbook::ReadStyles(const std::string& part) {
  if (globals_.zip->Find(part) == nullptr) return;
  auto stream = OpenPart(*globals_.zip, part);
  RecordReader records(*stream);
  bool inFmts = false;
  bool inCellXfs = false;
  std::string code;
  while (records.Next()) {
    RecordFields fields(records.Data());
    switch (records.Type()) {
      case kBeginFmts:
        inFmts = true;
        break;
      case kEndFmts:
        inFmts = false;
        break;
      case kBeginCellXfs:
        inCellXfs = true;
        break;
      case kEndCellXfs:
        inCellXfs = false;
        break;
      case kFmt:
        if (inFmts) {
          const uint16_t id = fields.U16();
          fields.WideString(code);
          globals_.AddNumberFormat(id, code);
        }
        break;
      case kXf:
        if (inCellXfs) {
          fields.Skip(2);  // ixfeParent
          globals_.AddCellFormat(fields.U16());
        }
        break;
      default:
        break;
    }
  }
}

std::unique_ptr<SheetSource> XlsbWorkbook::OpenSheet(size_t position) {
  return OpenPackageSheet<XlsbSheet>(position);
}

}  // namespace

std::unique_ptr<WorkbookSource> OpenXlsbWorkbook(const std::string& path,
                                                 std::unique_ptr<ZipArchive> zip,
                                                 const XlsxReaderOptions& limits) {
  auto workbook = std::make_unique<XlsbWorkbook>(path, std::move(zip), limits);
  WithWorkbookErrors(path, [&] { workbook->Load(); });
  return workbook;
}

}  // namespace cellverter
