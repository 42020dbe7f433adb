#include "spreadsheet/xlsx/xlsx_reader.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/unique_fd.h"
#include "platform/utf8.h"
#include "spreadsheet/container/prefetch_stream.h"
#include "spreadsheet/container/workbook_file.h"
#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/first_worksheet.h"
#include "spreadsheet/sheet_layout_builder.h"
#include "spreadsheet/used_range_bounds.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xlsx/package_globals.h"
#include "spreadsheet/xlsx/package_relationships.h"
#include "spreadsheet/xlsx/plain_rows.h"
#include "spreadsheet/xlsx/row_spool.h"
#include "spreadsheet/xlsx/sheet_spool.h"
#include "spreadsheet/xlsx/xml_scanner.h"
#include "spreadsheet/xlsx/xml_values.h"

namespace cellverter {
namespace {

// Elements are matched by namespace and local name: Excel's extensions reuse local names
// (<x15:workbookPr> inside <extLst> beside the <workbookPr> of the workbook).
constexpr XmlNamespace kMain = XmlNamespace::Spreadsheet;

[[noreturn]] void Damaged(const std::string& detail) { throw WorkbookDamaged(detail); }

// The t attribute of a cell.
enum class CellType : uint8_t { Number, Shared, FormulaString, Inline, Boolean, Error, Date };

CellType ParseCellType(std::string_view t) {
  if (t.empty() || t == "n") return CellType::Number;
  if (t == "s") return CellType::Shared;
  if (t == "str") return CellType::FormulaString;
  if (t == "inlineStr") return CellType::Inline;
  if (t == "b") return CellType::Boolean;
  if (t == "e") return CellType::Error;
  if (t == "d") return CellType::Date;
  Damaged("a cell has an unknown type");
}

// `text` with the _xHHHH_ escapes with which OOXML stores characters XML cannot carry
// resolved: `text` itself when it has none (most texts), else their resolution in `out`,
// which must not hold `text`.
std::string_view UnescapeOoxml(std::string_view text, std::string& out) {
  if (text.find("_x") == std::string_view::npos) return text;
  auto hexAt = [&](size_t i, char32_t& value) {
    if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_') {
      return false;
    }
    value = 0;
    for (size_t k = i + 2; k < i + 6; ++k) {
      const char c = text[k];
      int d;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
      } else {
        return false;
      }
      value = value * 16 + static_cast<char32_t>(d);
    }
    return true;
  };
  out.clear();
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t code;
    if (!hexAt(i, code)) {
      out += text[i++];
      continue;
    }
    i += 7;
    if (IsHighSurrogate(code)) {
      char32_t low;
      if (hexAt(i, low) && IsLowSurrogate(low)) {
        code = CombineSurrogates(code, low);
        i += 7;
      } else {
        code = kReplacementCharacter;
      }
    } else if (IsLowSurrogate(code)) {
      code = kReplacementCharacter;
    }
    AppendUtf8(code, out);
  }
  return out;
}

void AppendText(std::string& to, std::string_view piece, size_t limit) {
  if (to.size() + piece.size() > limit) Damaged("a text is longer than a cell can hold");
  to.append(piece);
}

// Reads the column letters at `p` on, up to the first byte that is no letter. False when they
// pass the last column.
[[gnu::always_inline]] inline bool ReadColumnLetters(const char*& p, const char* end,
                                                     uint32_t& letters) {
  for (; p != end; ++p) {
    // Setting bit 5 makes capitals small and leaves no other byte among the small letters.
    const auto letter = static_cast<uint32_t>(static_cast<unsigned char>(*p | 0x20) - 'a');
    if (letter >= 26) break;
    letters = letters * 26 + letter + 1;
    if (letters > kMaxSheetColumns) return false;
  }
  return true;
}

// A cell reference such as "AB12" (letters in either case, digits with leading zeros or none):
// its column, and its row when digits follow. One pass over the bytes: every cell has one.
bool ParseCellReference(std::string_view ref, uint32_t& column, uint32_t& row) {
  const char* p = ref.data();
  const char* const end = p + ref.size();
  uint32_t letters = 0;
  if (!ReadColumnLetters(p, end, letters) || letters == 0) return false;
  uint32_t digits = 0;
  const bool hasRow = p != end;
  for (; p != end; ++p) {
    const auto digit = static_cast<uint32_t>(static_cast<unsigned char>(*p) - '0');
    if (digit > 9) return false;
    digits = digits * 10 + digit;
    if (digits > kMaxSheetRows) return false;  // it only grows from here
  }
  if (hasRow && digits == 0) return false;
  column = letters;
  row = digits;
  return true;
}

// The column of a reference that ends with `rowDigits`, the digits of a valid row number, as
// a plain row's cells give it ("AB17" in row "17"): its letters are read, and its digits,
// known valid, are only compared. False for any other reference, which ParseCellReference
// then reads whole.
[[gnu::always_inline]] inline bool ColumnBeforeRowDigits(std::string_view ref,
                                                         std::string_view rowDigits,
                                                         uint32_t& column) {
  if (rowDigits.empty() || rowDigits.size() >= ref.size()) return false;
  const size_t split = ref.size() - rowDigits.size();
  // A loop, not ends_with: its memcmp call costs more than the few digits (measured).
  for (size_t i = 0; i < rowDigits.size(); ++i) {
    if (ref[split + i] != rowDigits[i]) return false;
  }
  const char* p = ref.data();
  const char* const end = p + split;
  uint32_t letters = 0;
  if (!ReadColumnLetters(p, end, letters) || p != end || letters == 0) return false;
  column = letters;
  return true;
}

// The last cell of a reference to a cell or a range ("B5", "A1:C10").
bool ParseRangeEnd(std::string_view ref, uint32_t& row, uint32_t& column) {
  const size_t colon = ref.find(':');
  if (colon != std::string_view::npos) ref.remove_prefix(colon + 1);
  return ParseCellReference(ref, column, row) && row != 0;
}

// ST_Boolean.
bool IsTrue(std::string_view value) { return value == "1" || value == "true"; }

// The bounds of a row read in place: cells (those a row may give, twins included) and bytes.
constexpr size_t kMaxPlainCells = size_t{kMaxSheetColumns} * 2;
constexpr size_t kMaxPlainRowBytes = size_t{4} << 20;

// One pass over the sheet XML, a handler per element: every used cell goes to the row spool,
// row by row, while the used range is tracked; the ids of the sheet's tables are collected on
// the way.
class SheetReader : PackageSheetScan {
 public:
  SheetReader(XmlScanner& xml, bool date1904, RowSpool& rows, UsedRangeBounds& usedRange,
              std::vector<std::string>& tableIds, RepairLog& repairs, SheetLayout& layout,
              const char* notAWorksheet, PlainRowsAhead* rowsAhead)
      : PackageSheetScan(rows, usedRange, tableIds, repairs, layout, notAWorksheet),
        xml_(xml),
        date1904_(date1904),
        rowsInPlace_(rowsAhead != nullptr),
        rowsAhead_(rowsAhead) {}

  void Read();

 private:
  void Start();
  void End();
  void StartInCell(std::string_view name);  // f, v, the t of an inline string, rPh
  void StartCell();                         // c
  void StartRow();                          // row
  // What a cell's and a row's attributes say, for the general scan and the rows in place.
  // `rowDigits`, when given, are the valid digits of the row's number, as it gave them.
  void CellAttributes(std::string_view ref, std::string_view style, std::string_view type,
                      std::string_view rowDigits = {});
  void RowAttributes(std::string_view number, std::string_view hidden,
                     std::string_view customFormat, std::string_view customHeight);
  void ReadPlainRows();
  void TakePlainRow();
  void StartColumn();     // col
  void StartTablePart();  // tablePart
  void StartMergeCell();  // mergeCell
  void FinishCell(std::string_view value, bool hasValue, bool hasFormula);
  void EncodeValue(std::string_view value, SpoolBytes& bytes);
  void FinishRow() { rows_.FinishRow(rowNumber_, usedRange_); }
  void FinishSpool() { rows_.FinishWriting(); }
  // Out of line, so that the handlers of the scanning loop stay small enough to be inlined.
  [[noreturn, gnu::cold, gnu::noinline]] void NotAWorksheet() const { Damaged(notAWorksheet_); }

  XmlScanner& xml_;
  const bool date1904_;
  // Plain rows are read in place (plain_rows.h) until too many rows turn out not to be;
  // those found ahead by the prefetching thread are taken as they are.
  bool rowsInPlace_;
  PlainRowsAhead* const rowsAhead_;
  PlainRow plain_;
  size_t plainRows_ = 0;
  size_t notPlainRows_ = 0;

  bool inSheetData_ = false;
  bool afterSheetData_ = false;
  bool inRow_ = false;
  bool inCell_ = false;

  // The row being read.
  uint32_t rowNumber_ = 0;

  // The cell being read.
  uint32_t column_ = 0;
  uint32_t style_ = 0;
  bool styled_ = false;
  CellType type_ = CellType::Number;
  std::string value_;
  std::string unescaped_;  // the value with its escapes resolved, when it has any
  bool hasValue_ = false;
  bool hasFormula_ = false;
  size_t valueDepth_ = 0;     // depth of <v> or of a <t> of an inline string being read
  size_t phoneticDepth_ = 0;  // depth of an <rPh> left out
};

void SheetReader::Read() {
  for (auto e = xml_.Next(); e != XmlScanner::Event::EndOfDocument; e = xml_.Next()) {
    switch (e) {
      case XmlScanner::Event::Start:
        Start();
        break;
      case XmlScanner::Event::Text:
        if (valueDepth_ != 0) AppendText(value_, xml_.Text(), kMaxCellText);
        break;
      case XmlScanner::Event::End:
        End();
        break;
      case XmlScanner::Event::EndOfDocument:
        break;
    }
  }
  if (!afterSheetData_) FinishSpool();
  FinishLayout();
}

void SheetReader::Start() {
  if (xml_.Namespace() != kMain) {
    if (xml_.Depth() == 1) NotAWorksheet();
    return;
  }
  const std::string_view name = xml_.Name();
  if (inCell_) {
    StartInCell(name);
  } else if (inRow_) {
    if (xml_.Depth() == 4 && SameName(name, "c")) StartCell();
  } else if (inSheetData_) {
    if (xml_.Depth() == 3 && SameName(name, "row")) StartRow();
  } else if (afterSheetData_) {
    if (xml_.Depth() != 3) return;
    if (SameName(name, "tablePart")) {
      StartTablePart();
    } else if (SameName(name, "mergeCell")) {
      StartMergeCell();
    }
  } else if (xml_.Depth() == 2 && SameName(name, "sheetData")) {
    inSheetData_ = true;
    ReadPlainRows();
  } else if (xml_.Depth() == 3 && SameName(name, "col")) {
    StartColumn();
  } else if (xml_.Depth() == 2 && SameName(name, "sheetFormatPr")) {
    // Rows hidden by default: only those given as shown show.
    rowVisibility_.SetDefaultHidden(IsTrue(xml_.RawAttribute("zeroHeight")));
  } else if (xml_.Depth() == 1 && !SameName(name, "worksheet")) {
    NotAWorksheet();
  }
}

void SheetReader::End() {
  if (inCell_) {
    if (xml_.Depth() == valueDepth_) valueDepth_ = 0;
    if (xml_.Depth() == phoneticDepth_) phoneticDepth_ = 0;
    if (xml_.Depth() == 4) {
      inCell_ = false;
      FinishCell(value_, hasValue_, hasFormula_);
    }
  } else if (inRow_ && xml_.Depth() == 3) {
    inRow_ = false;
    FinishRow();
    ReadPlainRows();
  } else if (inSheetData_ && xml_.Depth() == 2) {
    inSheetData_ = false;
    afterSheetData_ = true;
    FinishSpool();
  }
}

void SheetReader::StartInCell(std::string_view name) {
  if (phoneticDepth_ != 0) return;
  if (SameName(name, "f")) hasFormula_ = true;
  if (SameName(name, "v") || SameName(name, "t")) {
    valueDepth_ = xml_.Depth();
    if (!hasValue_ || SameName(name, "v")) value_.clear();
    hasValue_ = true;
  } else if (SameName(name, "rPh")) {
    phoneticDepth_ = xml_.Depth();
  }
}

void SheetReader::StartCell() {
  inCell_ = true;
  hasValue_ = false;
  hasFormula_ = false;
  value_.clear();
  CellAttributes(xml_.RawAttribute("r"), xml_.RawAttribute("s"), xml_.RawAttribute("t"));
}

void SheetReader::CellAttributes(std::string_view ref, std::string_view s, std::string_view type,
                                 std::string_view rowDigits) {
  if (ref.empty()) {
    if (column_ >= kMaxSheetColumns) Damaged("a cell lies beyond the last column");
    ++column_;
  } else if (!ColumnBeforeRowDigits(ref, rowDigits, column_)) {
    uint32_t refRow = 0;
    if (!ParseCellReference(ref, column_, refRow)) Damaged("a cell reference is invalid");
  }
  uint64_t styleValue = 0;
  styled_ = !s.empty();
  if (styled_ && (!ParseUnsigned(s, styleValue) || styleValue > UINT32_MAX)) {
    Damaged("a cell style is invalid");
  }
  style_ = static_cast<uint32_t>(styleValue);
  type_ = ParseCellType(type);
}

void SheetReader::StartRow() {
  inRow_ = true;
  RowAttributes(xml_.RawAttribute("r"), xml_.RawAttribute("hidden"),
                xml_.RawAttribute("customFormat"), xml_.RawAttribute("customHeight"));
}

void SheetReader::RowAttributes(std::string_view r, std::string_view hidden,
                                std::string_view customFormat, std::string_view customHeight) {
  column_ = 0;
  uint64_t number = previousRow_ + 1;
  if (!r.empty() && (!ParseUnsigned(r, number) || number == 0)) {
    Damaged("a row number is invalid");
  }
  if (number > kMaxSheetRows) Damaged("a row lies beyond the last row");
  // A row without r follows the one before it. A row format counts (ECMA-376-1 18.3.1.73: s
  // applies when customFormat is set).
  rowNumber_ = static_cast<uint32_t>(number);
  BeginRow(rowNumber_, IsTrue(hidden), IsTrue(customFormat) || IsTrue(customHeight));
}

// Rows straight from the scanner's buffer while they are plain, with the handlers of the
// general scan: the same rows, repairs and errors, for half the instructions. A row that is not
// plain goes to the general scan, which calls here again after it.
void SheetReader::ReadPlainRows() {
  while (rowsInPlace_) {
    const std::string_view bytes = xml_.Unscanned();
    if (xml_.DefaultNamespace() != kMain) return;
    size_t length = 0;
    const PlainRowScan scan =
        rowsAhead_->Take(xml_.UnscannedOffset(), bytes, plain_, length)
            ? PlainRowScan::kRow
            : ScanPlainRow(bytes, plain_, length, kMaxCellText, kMaxPlainCells);
    switch (scan) {
      case PlainRowScan::kRow:
        TakePlainRow();
        xml_.Consume(length);
        ++plainRows_;
        break;
      case PlainRowScan::kMore:
        if (!xml_.ReadMore(kMaxPlainRowBytes)) return;
        break;
      case PlainRowScan::kNotPlain:
        // A sheet of rows that are seldom plain is left to the general scan.
        ++notPlainRows_;
        if (notPlainRows_ > 16 && notPlainRows_ * 8 > plainRows_) {
          rowsInPlace_ = false;
          rowsAhead_->Stop();
        }
        return;
    }
  }
}

void SheetReader::TakePlainRow() {
  RowAttributes(plain_.number, plain_.hidden, plain_.customFormat, plain_.customHeight);
  for (size_t i = 0; i < plain_.used; ++i) {
    const PlainCell& cell = plain_.cells[i];
    // RowAttributes has checked the row's number: its digits, when given, are valid.
    CellAttributes(cell.ref, cell.style, cell.type, plain_.number);
    FinishCell(cell.value, cell.hasValue, cell.hasFormula);
  }
  FinishRow();
}

// A column format (18.3.1.13, style) counts in the column bounds.
void SheetReader::StartColumn() {
  uint64_t hiddenFirst = 0;
  uint64_t hiddenLast = 0;
  if (IsTrue(xml_.RawAttribute("hidden")) && ParseUnsigned(xml_.RawAttribute("min"), hiddenFirst) &&
      ParseUnsigned(xml_.RawAttribute("max"), hiddenLast)) {
    HideColumns(hiddenFirst, hiddenLast);
  }
  uint64_t columnStyle = 0;
  if (!ParseUnsigned(xml_.RawAttribute("style"), columnStyle) || columnStyle == 0) return;
  uint64_t last = 0;
  if (!ParseUnsigned(xml_.RawAttribute("max"), last) || last == 0 || last > kMaxSheetColumns) {
    Damaged("a column range is invalid");
  }
  usedRange_.AddColumn(static_cast<uint32_t>(last));
}

void SheetReader::StartTablePart() {
  PackageSheet::AddTableId(tableIds_, xml_.Attribute(XmlNamespace::Relationships, "id"));
}

// A merged area (18.3.1.55); a reference that names no block of cells is passed over, as
// it merges nothing.
void SheetReader::StartMergeCell() {
  const std::string_view ref = xml_.RawAttribute("ref");
  const size_t colon = ref.find(':');
  uint32_t row1 = 0, column1 = 0, row2 = 0, column2 = 0;
  if (colon == std::string_view::npos || !ParseCellReference(ref.substr(0, colon), column1, row1) ||
      !ParseCellReference(ref.substr(colon + 1), column2, row2) || row1 == 0 || row2 == 0) {
    return;
  }
  AddMergedArea(layout_.mergedAreas, row1, column1, row2, column2, kMaxSheetColumns);
}

void SheetReader::FinishCell(std::string_view value, bool hasValue, bool hasFormula) {
  const bool textType = type_ == CellType::FormulaString || type_ == CellType::Inline;
  const bool empty = !hasValue || (value.empty() && !textType);
  // Neither value, style nor formula: not a used cell. A formula without a saved result
  // shows nothing here (nothing is recalculated) but takes its place, as in Excel.
  if (empty && (!styled_ || style_ == 0) && !hasFormula) return;
  layout_.formulasWithoutValue += hasFormula && !hasValue;
  SpoolBytes& bytes = rows_.AddCell(column_, style_);
  if (empty) {
    AppendSpooledEmpty(bytes);
  } else {
    EncodeValue(value, bytes);
  }
}

// The cell's value, as spooled: its kind and payload.
void SheetReader::EncodeValue(std::string_view value, SpoolBytes& bytes) {
  switch (type_) {
    case CellType::Number: {
      PlainDecimal decimal;
      bool isDecimal = false;
      double number = 0;
      if (!ReadNumber(value, decimal, isDecimal, number)) Damaged("a number cell holds no number");
      if (isDecimal) {
        AppendSpooledDecimal(decimal, bytes);
      } else {
        AppendSpooledNumber(number, bytes);
      }
      break;
    }
    case CellType::Shared: {
      uint64_t index;
      if (!ParseUnsigned(value, index)) Damaged("a cell refers to no shared string");
      rows_.PutShared(bytes, index, repairs_);
      break;
    }
    case CellType::FormulaString:
    case CellType::Inline:
    case CellType::Error:
      if (type_ == CellType::Error) {
        rows_.PutText(bytes, kErrorCode, value);
        break;
      }
      rows_.PutText(bytes, kInline, UnescapeOoxml(value, unescaped_));
      break;
    case CellType::Boolean:
      if (!AppendSpooledXmlBoolean(value, bytes)) Damaged("a logical cell holds no logical value");
      break;
    case CellType::Date: {
      const std::optional<double> serial = IsoDateSerial(value, date1904_);
      if (!serial) Damaged("a date cell holds no ISO 8601 date");
      AppendSpooledNumber(*serial, bytes);
      break;
    }
  }
}

// ST_SheetState; an unknown state shows the sheet, as the default does.
SheetVisibility SheetVisibilityOf(std::string_view state) {
  if (state == "hidden") return SheetVisibility::kHidden;
  if (state == "veryHidden") return SheetVisibility::kVeryHidden;
  return SheetVisibility::kVisible;
}

// One worksheet, parsed once when opened into a spool of its own.
class XlsxSheet final : public PackageSheet {
 public:
  using PackageSheet::PackageSheet;

  // Reads the worksheet part `part` ("" when the sheet has no relationship) and the parts
  // that widen its used range; `notAWorksheet` is the damage when the part is something else.
  void Load(const std::string& part, const char* notAWorksheet);

 private:
  void ReadSheet(const std::string& part, std::vector<std::string>& tableIds,
                 const char* notAWorksheet);
  void ReadComments(const std::string& part) override;
  void ReadTable(const std::string& part) override;
};

// The shared strings part into `shared`; it may run beside the sheet's scan (LoadSharedStrings).
void ParseSharedStrings(ByteStream& stream, SharedStrings& shared, const SharedStringsLoad& load) {
  XmlScanner xml(stream, "the shared strings");
  std::string text;
  std::string unescaped;
  bool inItem = false;
  size_t itemDepth = 0;
  size_t textDepth = 0;      // depth of the <t> being read, 0 outside
  size_t phoneticDepth = 0;  // depth of an <rPh> whose text is left out
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    switch (e) {
      case XmlScanner::Event::Start:
        if (xml.Namespace() != kMain) break;
        if (xml.Depth() == 2 && xml.Name() == "si") {
          inItem = true;
          itemDepth = xml.Depth();
          text.clear();
        } else if (inItem && xml.Name() == "rPh" && phoneticDepth == 0) {
          phoneticDepth = xml.Depth();
        } else if (inItem && phoneticDepth == 0 && xml.Name() == "t") {
          textDepth = xml.Depth();
        }
        break;
      case XmlScanner::Event::Text:
        if (textDepth != 0) AppendText(text, xml.Text(), kMaxCellText);
        break;
      case XmlScanner::Event::End:
        if (xml.Depth() == textDepth) textDepth = 0;
        if (xml.Depth() == phoneticDepth) phoneticDepth = 0;
        if (inItem && xml.Depth() == itemDepth && xml.Name() == "si") {
          inItem = false;
          shared.Add(UnescapeOoxml(text, unescaped));
          if (load.Stopping()) return;
        }
        break;
      case XmlScanner::Event::EndOfDocument:
        break;
    }
  }
}

class XlsxWorkbook final : public PackageWorkbook {
 public:
  // `fd`, when not -1, is the package already open (and owned from here on).
  XlsxWorkbook(const std::string& path, int fd, const XlsxReaderOptions& limits)
      : PackageWorkbook(path, limits), fd_(fd) {}
  XlsxWorkbook(const std::string& path, std::unique_ptr<ZipArchive> zip,
               const XlsxReaderOptions& limits)
      : PackageWorkbook(path, limits, std::move(zip)), fd_(-1) {}

  void Load();
  std::unique_ptr<SheetSource> OpenSheet(size_t position) override;

 private:
  void ReadWorkbook(const std::string& part);
  void ReadStyles(const std::string& part);

  UniqueFd fd_;  // the package when it came already open, until Load takes it
};

void XlsxWorkbook::ReadWorkbook(const std::string& part) {
  auto stream = OpenPart(*globals_.zip, part);
  XmlScanner xml(*stream, "the workbook");
  std::vector<std::string> sheetIds;
  bool root = true;
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e != XmlScanner::Event::Start) continue;
    if (root) {
      if (!xml.Is(kMain, "workbook"))
        ThrowWorkbookError(globals_.path, kNotAWorkbookCause, ErrorKind::kNotAWorkbook);
      root = false;
    } else if (xml.Depth() == 2 && xml.Is(kMain, "workbookPr")) {
      globals_.date1904 = IsTrue(xml.Attribute("date1904"));
    } else if (xml.Depth() == 3 && xml.Is(kMain, "sheet")) {
      AddSheet({xml.Attribute("name"), SheetKind::kWorksheet,
                SheetVisibilityOf(xml.RawAttribute("state"))},
               xml.Attribute(XmlNamespace::Relationships, "id"), sheetIds);
    }
  }
  const RelatedParts related = ResolveSheets(part, sheetIds);
  if (!related.styles.empty()) ReadStyles(related.styles);
  if (!related.sharedStrings.empty()) LoadSharedStrings(related.sharedStrings, ParseSharedStrings);
}

void XlsxWorkbook::ReadStyles(const std::string& part) {
  if (globals_.zip->Find(part) == nullptr) return;
  auto stream = OpenPart(*globals_.zip, part);
  XmlScanner xml(*stream, "the styles");
  // Only the lists directly under <styleSheet>: the differential formats of conditional
  // formatting (<dxfs>, also inside extensions) hold <numFmt> elements of their own.
  bool inNumFmts = false;
  bool inCellXfs = false;
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e == XmlScanner::Event::Start) {
      if (xml.Namespace() != kMain) continue;
      if (xml.Depth() == 2) {
        inNumFmts = xml.Name() == "numFmts";
        inCellXfs = xml.Name() == "cellXfs";
      } else if (inNumFmts && xml.Depth() == 3 && xml.Name() == "numFmt") {
        uint64_t id;
        if (!ParseUnsigned(xml.RawAttribute("numFmtId"), id) || id > PackageGlobals::kMaxFormatId)
          continue;
        globals_.AddNumberFormat(static_cast<int>(id), xml.Attribute("formatCode"));
      } else if (inCellXfs && xml.Depth() == 3 && xml.Name() == "xf") {
        uint64_t id = 0;
        if (!ParseUnsigned(xml.RawAttribute("numFmtId"), id) || id > PackageGlobals::kMaxFormatId)
          id = 0;
        globals_.AddCellFormat(static_cast<int>(id));
      }
    } else if (e == XmlScanner::Event::End && xml.Depth() == 2) {
      inNumFmts = inCellXfs = false;
    }
  }
}

void XlsxWorkbook::Load() {
  if (!globals_.zip) {
    globals_.zip = std::make_unique<ZipArchive>(fd_.get() >= 0 ? fd_.release()
                                                               : OpenWorkbookFile(globals_.path));
  }
  const ZipArchive& zip = *globals_.zip;

  // The package relationships name the main part; packages without them are not workbooks.
  std::string workbookPart = OfficeDocumentPart(zip);
  const bool hasPackageRels = zip.Find("_rels/.rels") != nullptr;
  if (workbookPart.empty()) {
    if (!hasPackageRels && zip.Find("xl/workbook.xml") == nullptr) {
      ThrowWorkbookError(globals_.path, kNotAWorkbookCause, ErrorKind::kNotAWorkbook);
    }
    if (!hasPackageRels) workbookPart = "xl/workbook.xml";
  }
  if (workbookPart.empty() || zip.Find(workbookPart) == nullptr) {
    Damaged("the workbook part is missing");
  }
  ReadWorkbook(workbookPart);
  NoteZipRepair(Repairs());
}

std::unique_ptr<SheetSource> XlsxWorkbook::OpenSheet(size_t position) {
  return OpenPackageSheet<XlsxSheet>(position);
}

void XlsxSheet::Load(const std::string& part, const char* notAWorksheet) {
  if (part.empty()) Damaged("a sheet has no part");
  std::vector<std::string> tableIds;
  ReadSheet(part, tableIds, notAWorksheet);
  ReadSheetRelated(part, tableIds);
}

// Out of line: inlined into its callers, the sheet's scanning loop lost the inlining of its
// per-cell handlers (measured, bench_xlsx).
[[gnu::noinline]] void XlsxSheet::ReadSheet(const std::string& part,
                                            std::vector<std::string>& tableIds,
                                            const char* notAWorksheet) {
  auto stream = OpenPart(*globals_.zip, part);
  PlainRowsAhead rowsAhead(kMaxCellText, kMaxPlainCells);
  PlainRowsAhead* const ahead = globals_.limits.rowsInPlace ? &rowsAhead : nullptr;
  PrefetchStream prefetch(*stream, size_t{1} << 20, 2, ahead);
  XmlScanner xml(prefetch, "the sheet");
  SheetReader reader(xml, globals_.date1904, rows_, usedRange_, tableIds, Repairs(), layout_,
                     notAWorksheet, ahead);
  reader.Read();
}

// A cell that holds only a note counts as used (ECMA-376-1 18.7.3 comment, ref).
void XlsxSheet::ReadComments(const std::string& part) {
  auto stream = OpenPart(*globals_.zip, part);
  XmlScanner xml(*stream, "the comments");
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e != XmlScanner::Event::Start || xml.Depth() != 3 || !xml.Is(kMain, "comment")) continue;
    uint32_t row = 0;
    uint32_t column = 0;
    if (!ParseRangeEnd(xml.RawAttribute("ref"), row, column)) {
      Damaged("a comment's cell reference is invalid");
    }
    usedRange_.AddCell(row, column);
  }
}

// The whole range of a table counts as used, empty rows included (18.5.1.2 table, ref).
void XlsxSheet::ReadTable(const std::string& part) {
  auto stream = OpenPart(*globals_.zip, part);
  XmlScanner xml(*stream, "the table");
  if (xml.Next() != XmlScanner::Event::Start || !xml.Is(kMain, "table")) {
    Damaged("a table part holds no table");
  }
  uint32_t row = 0;
  uint32_t column = 0;
  if (!ParseRangeEnd(xml.RawAttribute("ref"), row, column)) {
    Damaged("a table's range is invalid");
  }
  usedRange_.AddCell(row, column);
}

}  // namespace

std::unique_ptr<WorkbookSource> OpenXlsxWorkbook(const std::string& path, int fd,
                                                 const XlsxReaderOptions& limits) {
  auto workbook = std::make_unique<XlsxWorkbook>(path, fd, limits);
  WithWorkbookErrors(path, [&] { workbook->Load(); });
  return workbook;
}

std::unique_ptr<WorkbookSource> OpenXlsxWorkbook(const std::string& path,
                                                 std::unique_ptr<ZipArchive> zip,
                                                 const XlsxReaderOptions& limits) {
  auto workbook = std::make_unique<XlsxWorkbook>(path, std::move(zip), limits);
  WithWorkbookErrors(path, [&] { workbook->Load(); });
  return workbook;
}

std::unique_ptr<SheetSource> OpenXlsxSource(const std::string& path, int fd,
                                            const XlsxReaderOptions& limits) {
  return OpenFirstWorksheet(OpenXlsxWorkbook(path, fd, limits), path);
}

}  // namespace cellverter
