#include "spreadsheet/xlsx/xlsx_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <unordered_map>
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
#include "spreadsheet/xlsx/sheet_spool.h"
#include "spreadsheet/xlsx/xml_scanner.h"
#include "spreadsheet/xlsx/xml_values.h"

namespace cellverter {
namespace {

constexpr uint32_t kMaxRows = 1048576;
constexpr uint32_t kMaxColumns = 16384;
constexpr size_t kMaxCellText = 1 << 20;  // bytes; Excel holds 32,767 characters
constexpr size_t kMaxRowText = 64 << 20;  // bytes of text in one row
constexpr uint64_t kMaxSharedText = uint64_t{1} << 30;
constexpr size_t kMaxSharedStrings = 16 << 20;
constexpr size_t kMaxNameLength = 4096;  // relationship ids, types, targets, format codes
constexpr size_t kMaxNumberFormats = 65536;
constexpr size_t kMaxSheets = 65536;
// Row records of a sheet whose rows come out of order, each indexed in memory (16 bytes):
// every row once, and as many again given twice.
constexpr size_t kMaxRowRecords = size_t{kMaxRows} * 2;

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

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Relationship types end the same way in transitional and strict packages.
bool IsType(std::string_view type, std::string_view last) {
  return EndsWith(type, last) && type.size() > last.size() &&
         type[type.size() - last.size() - 1] == '/';
}

std::string FolderOf(std::string_view part) {
  const size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? "" : std::string(part.substr(0, slash + 1));
}

// A relationship target resolved against the folder of its source part (OPC part names).
std::string ResolveTarget(std::string_view sourceFolder, std::string_view target) {
  std::string joined = !target.empty() && target[0] == '/'
                           ? std::string(target.substr(1))
                           : std::string(sourceFolder) + std::string(target);
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t slash = joined.find('/', start);
    if (slash == std::string::npos) slash = joined.size();
    const std::string segment = joined.substr(start, slash - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = slash + 1;
  }
  std::string result;
  for (const std::string& s : segments) {
    if (!result.empty()) result += '/';
    result += s;
  }
  return result;
}

// Resolves the _xHHHH_ escapes with which OOXML stores characters XML cannot carry.
void UnescapeOoxml(std::string& text) {
  if (text.find("_x") == std::string::npos) return;
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
  std::string out;
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
  text.swap(out);
}

void AppendText(std::string& to, std::string_view piece, size_t limit) {
  if (to.size() + piece.size() > limit) Damaged("a text is longer than a cell can hold");
  to.append(piece);
}

struct Relationship {
  std::string id;
  std::string type;
  std::string target;  // resolved part name
};

const Relationship* FindRelationship(const std::vector<Relationship>& relationships,
                                     std::string_view id) {
  for (const Relationship& r : relationships) {
    if (r.id == id) return &r;
  }
  return nullptr;
}

std::string RelationshipsPartOf(std::string_view part) {
  const size_t slash = part.rfind('/');
  const std::string folder =
      slash == std::string_view::npos ? "" : std::string(part.substr(0, slash + 1));
  const std::string name(slash == std::string_view::npos ? part : part.substr(slash + 1));
  return folder + "_rels/" + name + ".rels";
}

// A cell reference such as "AB12": its column, and its row when digits follow.
bool ParseCellReference(std::string_view ref, uint32_t& column, uint32_t& row) {
  size_t i = 0;
  column = 0;
  while (i < ref.size() && ((ref[i] >= 'A' && ref[i] <= 'Z') || (ref[i] >= 'a' && ref[i] <= 'z'))) {
    column = column * 26 + static_cast<uint32_t>((ref[i] & ~0x20) - 'A' + 1);
    if (column > kMaxColumns) return false;
    ++i;
  }
  if (i == 0) return false;
  uint64_t r = 0;
  if (i < ref.size() && (!ParseUnsigned(ref.substr(i), r) || r == 0 || r > kMaxRows)) return false;
  row = static_cast<uint32_t>(r);
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

// The shared strings table, compact: the texts end to end in a spool (memory up to a bound,
// then an unlinked temporary file) and the end offset of each. A package may inflate to a
// gigabyte of strings; that costs disk, not memory.
class SharedStrings {
 public:
  explicit SharedStrings(size_t memoryLimit) : text_(memoryLimit) {}
  size_t size() const { return ends_.size(); }
  size_t Length(size_t i) const { return ends_[i] - Begin(i); }
  void Add(std::string_view s) {
    if (text_.written() + s.size() > kMaxSharedText || ends_.size() >= kMaxSharedStrings) {
      Damaged("the shared strings are too large");
    }
    text_.Append(s);
    ends_.push_back(static_cast<uint32_t>(text_.written()));
  }
  void FinishWriting() { text_.FinishWriting(); }
  void Get(size_t i, std::string& out) const { text_.ReadAt(Begin(i), Length(i), out); }

 private:
  uint32_t Begin(size_t i) const { return i == 0 ? 0 : ends_[i - 1]; }

  SheetSpool text_;
  std::vector<uint32_t> ends_;  // kMaxSharedText keeps them in 32 bits
};

// Sorts cells [0, used) by column; of two cells in one place the later one stands, as the
// last write would. Returns how many are kept, in front.
template <class Cell>
size_t KeepLastOfEachColumn(std::vector<Cell>& cells, size_t used) {
  std::stable_sort(cells.begin(), cells.begin() + static_cast<ptrdiff_t>(used),
                   [](const Cell& a, const Cell& b) { return a.column < b.column; });
  size_t kept = 0;
  for (size_t i = 0; i < used; ++i) {
    if (kept > 0 && cells[kept - 1].column == cells[i].column) {
      std::swap(cells[kept - 1], cells[i]);
    } else {
      if (kept != i) std::swap(cells[kept], cells[i]);
      ++kept;
    }
  }
  return kept;
}

// One spooled row record read back whole, for the rows served out of file order.
class RecordCursor {
 public:
  explicit RecordCursor(const std::string& bytes) : bytes_(bytes) {}
  uint8_t ReadByte() {
    if (pos_ == bytes_.size()) SpoolCorrupt("the sheet spool is corrupt");
    return static_cast<uint8_t>(bytes_[pos_++]);
  }
  uint64_t ReadVarint() { return ReadVarintFrom(*this); }
  void ReadBytes(size_t size, std::string& out) {
    if (size > bytes_.size() - pos_) SpoolCorrupt("the sheet spool is corrupt");
    out.assign(bytes_, pos_, size);
    pos_ += size;
  }

 private:
  const std::string& bytes_;
  size_t pos_ = 0;
};

// One row record as SheetReader spooled it, from the spool or from a RecordCursor.
template <class Reader>
void ReadRowRecord(Reader& in, const SharedStrings& shared, SheetRow& row) {
  row.row = static_cast<uint32_t>(in.ReadVarint());
  const size_t count = static_cast<size_t>(in.ReadVarint());
  row.cells.resize(count);
  for (SheetCell& cell : row.cells) {
    cell.column = static_cast<uint32_t>(in.ReadVarint());
    cell.styleIndex = static_cast<uint32_t>(in.ReadVarint());
    ReadSpooledValue(
        in, [&](size_t i, std::string& text) { shared.Get(i, text); }, cell.value);
  }
}

// Where a row record lies in the spool, for the rows served out of file order.
struct RowRecord {
  uint64_t offset;
  uint32_t row;
  uint32_t size;
};

// One pass over the sheet XML, a handler per element: every used cell goes to the spool, row
// by row, while the used range is tracked; the ids of the sheet's tables are collected on
// the way. When the rows come out of order, `indexed` receives every row record's place in
// row order; it stays empty when they came in order and the spool is read straight through.
class SheetReader {
 public:
  SheetReader(XmlScanner& xml, const SharedStrings& shared, bool date1904, SheetSpool& spool,
              UsedRangeBounds& usedRange, std::vector<RowRecord>& indexed,
              std::vector<std::string>& tableIds, RepairLog& repairs, SheetLayout& layout,
              const char* notAWorksheet)
      : xml_(xml),
        shared_(shared),
        date1904_(date1904),
        spool_(spool),
        usedRange_(usedRange),
        indexed_(indexed),
        tableIds_(tableIds),
        repairs_(repairs),
        layout_(layout),
        notAWorksheet_(notAWorksheet) {}

  void Read();
  uint64_t CellsHeld() const { return held_; }

 private:
  void Start();
  void End();
  void StartInCell(std::string_view name);  // f, v, the t of an inline string, rPh
  void StartCell();                         // c
  void StartRow();                          // row
  void StartColumn();                       // col
  void StartTablePart();                    // tablePart
  void StartMergeCell();                    // mergeCell
  void FinishCell();
  void EncodeValue(std::string& bytes);
  void FinishRow();
  void FinishSpool();
  void IndexRowsInOrder();
  // Out of line, so that the handlers of the scanning loop stay small enough to be inlined.
  [[noreturn, gnu::cold, gnu::noinline]] void NotAWorksheet() const { Damaged(notAWorksheet_); }

  XmlScanner& xml_;
  const SharedStrings& shared_;
  const bool date1904_;
  SheetSpool& spool_;
  UsedRangeBounds& usedRange_;
  std::vector<RowRecord>& indexed_;
  std::vector<std::string>& tableIds_;
  RepairLog& repairs_;
  SheetLayout& layout_;
  RowVisibility rowVisibility_;
  const char* const notAWorksheet_;  // the damage when the part's root is not a worksheet

  bool inSheetData_ = false;
  bool afterSheetData_ = false;
  bool inRow_ = false;
  bool inCell_ = false;

  // The row being read.
  struct PendingCell {
    uint32_t column;
    uint32_t style;
    std::string bytes;  // kind and payload, as spooled
  };
  std::vector<PendingCell> cells_;
  size_t used_ = 0;  // cells in use of `cells_` (their strings keep their capacity)
  size_t rowText_ = 0;
  bool rowSorted_ = true;
  uint32_t rowNumber_ = 0;
  uint32_t previousRow_ = 0;

  // The cell being read.
  uint32_t column_ = 0;
  uint32_t style_ = 0;
  bool styled_ = false;
  CellType type_ = CellType::Number;
  std::string value_;
  bool hasValue_ = false;
  bool hasFormula_ = false;
  size_t valueDepth_ = 0;     // depth of <v> or of a <t> of an inline string being read
  size_t phoneticDepth_ = 0;  // depth of an <rPh> left out

  // What went to the spool.
  std::string record_;
  uint32_t lastSpooledRow_ = 0;
  bool spooledInOrder_ = true;
  uint64_t orderedEnd_ = 0;  // where the spool's first record out of order starts
  uint64_t held_ = 0;
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
  layout_.hiddenRows = rowVisibility_.Finish(kMaxRows);
  NormaliseLineSpans(layout_.hiddenColumns);
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
      FinishCell();
    }
  } else if (inRow_ && xml_.Depth() == 3) {
    inRow_ = false;
    FinishRow();
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
  const std::string_view ref = xml_.RawAttribute("r");
  if (ref.empty()) {
    if (column_ >= kMaxColumns) Damaged("a cell lies beyond the last column");
    ++column_;
  } else {
    uint32_t refRow = 0;
    if (!ParseCellReference(ref, column_, refRow)) Damaged("a cell reference is invalid");
  }
  const std::string_view s = xml_.RawAttribute("s");
  uint64_t styleValue = 0;
  styled_ = !s.empty();
  if (styled_ && (!ParseUnsigned(s, styleValue) || styleValue > UINT32_MAX)) {
    Damaged("a cell style is invalid");
  }
  style_ = static_cast<uint32_t>(styleValue);
  type_ = ParseCellType(xml_.RawAttribute("t"));
}

void SheetReader::StartRow() {
  inRow_ = true;
  column_ = 0;
  const std::string_view r = xml_.RawAttribute("r");
  uint64_t number = previousRow_ + 1;
  if (!r.empty() && (!ParseUnsigned(r, number) || number == 0)) {
    Damaged("a row number is invalid");
  }
  if (number > kMaxRows) Damaged("a row lies beyond the last row");
  // LibreOffice and Excel sort such rows; a row without r follows the one before it.
  if (number <= previousRow_) repairs_.Note(kRowsOutOfOrderRepair);
  rowNumber_ = static_cast<uint32_t>(number);
  previousRow_ = rowNumber_;
  rowVisibility_.Note(rowNumber_, IsTrue(xml_.RawAttribute("hidden")));
  // A row format counts in the row bounds (ECMA-376-1 18.3.1.73: s applies when
  // customFormat is set), and so does a height set by hand, as Excel counts it.
  if (IsTrue(xml_.RawAttribute("customFormat")) || IsTrue(xml_.RawAttribute("customHeight"))) {
    usedRange_.AddRow(rowNumber_);
  }
}

// A column format (18.3.1.13, style) counts in the column bounds. Hidden columns beyond
// the sheet's are cut off.
void SheetReader::StartColumn() {
  uint64_t hiddenFirst = 0;
  uint64_t hiddenLast = 0;
  if (IsTrue(xml_.RawAttribute("hidden")) && ParseUnsigned(xml_.RawAttribute("min"), hiddenFirst) &&
      ParseUnsigned(xml_.RawAttribute("max"), hiddenLast)) {
    hiddenFirst = std::max<uint64_t>(hiddenFirst, 1);
    hiddenLast = std::min<uint64_t>(hiddenLast, kMaxColumns);
    if (hiddenFirst <= hiddenLast) {
      AddLineSpan(layout_.hiddenColumns, static_cast<uint32_t>(hiddenFirst),
                  static_cast<uint32_t>(hiddenLast));
    }
  }
  uint64_t columnStyle = 0;
  if (!ParseUnsigned(xml_.RawAttribute("style"), columnStyle) || columnStyle == 0) return;
  uint64_t last = 0;
  if (!ParseUnsigned(xml_.RawAttribute("max"), last) || last == 0 || last > kMaxColumns) {
    Damaged("a column range is invalid");
  }
  usedRange_.AddColumn(static_cast<uint32_t>(last));
}

void SheetReader::StartTablePart() {
  if (tableIds_.size() >= kMaxSheets) Damaged("there are too many tables");
  tableIds_.push_back(xml_.Attribute(XmlNamespace::Relationships, "id"));
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
  AddMergedArea(layout_.mergedAreas, row1, column1, row2, column2, kMaxColumns);
}

void SheetReader::FinishCell() {
  const bool textType = type_ == CellType::FormulaString || type_ == CellType::Inline;
  const bool empty = !hasValue_ || (value_.empty() && !textType);
  // Neither value, style nor formula: not a used cell. A formula without a saved result
  // shows nothing here (nothing is recalculated) but takes its place, as in Excel.
  if (empty && (!styled_ || style_ == 0) && !hasFormula_) return;
  layout_.formulasWithoutValue += hasFormula_ && !hasValue_;
  if (used_ == cells_.size()) cells_.emplace_back();
  if (used_ >= kMaxColumns * 2) Damaged("a row holds too many cells");
  std::string& bytes = cells_[used_].bytes;
  bytes.clear();
  if (empty) {
    bytes += static_cast<char>(kEmpty);
  } else {
    EncodeValue(bytes);
  }
  if (used_ > 0 && cells_[used_ - 1].column >= column_) rowSorted_ = false;
  cells_[used_].column = column_;
  cells_[used_].style = style_;
  ++used_;
}

// The cell's value, as spooled: its kind and payload.
void SheetReader::EncodeValue(std::string& bytes) {
  switch (type_) {
    case CellType::Number: {
      double number;
      if (!ParseNumber(value_, number)) Damaged("a number cell holds no number");
      AppendSpooledNumber(number, bytes);
      break;
    }
    case CellType::Shared: {
      uint64_t index;
      if (!ParseUnsigned(value_, index)) Damaged("a cell refers to no shared string");
      if (index >= shared_.size()) {
        // Excel and LibreOffice show such a cell empty.
        repairs_.Note(kMissingSharedStringRepair);
        bytes += static_cast<char>(kEmpty);
        break;
      }
      bytes += static_cast<char>(kShared);
      AppendVarint(index, bytes);
      // A row is read whole: the texts it repeats count as much as its own.
      rowText_ += shared_.Length(static_cast<size_t>(index));
      if (rowText_ > kMaxRowText) Damaged("a row holds too much text");
      break;
    }
    case CellType::FormulaString:
    case CellType::Inline:
    case CellType::Error:
      if (type_ != CellType::Error) UnescapeOoxml(value_);
      AppendSpooledText(type_ == CellType::Error ? kErrorCode : kInline, value_, bytes);
      rowText_ += value_.size();
      if (rowText_ > kMaxRowText) Damaged("a row holds too much text");
      break;
    case CellType::Boolean:
      if (!AppendSpooledBoolean(value_, bytes)) Damaged("a logical cell holds no logical value");
      break;
    case CellType::Date: {
      const std::optional<double> serial = IsoDateSerial(value_, date1904_);
      if (!serial) Damaged("a date cell holds no ISO 8601 date");
      const double number = *serial;
      bytes += static_cast<char>(kNumber);
      bytes.append(reinterpret_cast<const char*>(&number), sizeof number);
      break;
    }
  }
}

void SheetReader::FinishRow() {
  if (used_ == 0) return;
  if (!rowSorted_) used_ = KeepLastOfEachColumn(cells_, used_);
  record_.clear();
  AppendVarint(rowNumber_, record_);
  AppendVarint(used_, record_);
  for (size_t i = 0; i < used_; ++i) {
    AppendVarint(cells_[i].column, record_);
    AppendVarint(cells_[i].style, record_);
    record_ += cells_[i].bytes;
  }
  if (rowNumber_ <= lastSpooledRow_ || !spooledInOrder_) {
    // Out of order: from here on every record's place is kept, to be served sorted.
    if (spooledInOrder_) orderedEnd_ = spool_.written();
    spooledInOrder_ = false;
    if (indexed_.size() >= kMaxRowRecords) Damaged("the sheet gives too many rows");
    indexed_.push_back(
        RowRecord{spool_.written(), rowNumber_, static_cast<uint32_t>(record_.size())});
  }
  lastSpooledRow_ = rowNumber_;
  spool_.Append(record_);
  usedRange_.AddCell(rowNumber_, cells_[used_ - 1].column);
  held_ += used_;
  used_ = 0;
  rowText_ = 0;
  rowSorted_ = true;
}

void SheetReader::FinishSpool() {
  spool_.FinishWriting();
  if (!spooledInOrder_) IndexRowsInOrder();
}

// The records before the first one out of order were not indexed as they were spooled:
// their places are found by reading them once, then all are sorted by row, stably, so that
// of a row given twice the later record comes later.
void SheetReader::IndexRowsInOrder() {
  std::vector<RowRecord> front;
  SheetRow scratch;
  while (spool_.Tell() < orderedEnd_) {
    const uint64_t start = spool_.Tell();
    ReadRowRecord(spool_, shared_, scratch);
    front.push_back(RowRecord{start, scratch.row, static_cast<uint32_t>(spool_.Tell() - start)});
  }
  if (front.size() + indexed_.size() > kMaxRowRecords) Damaged("the sheet gives too many rows");
  indexed_.insert(indexed_.begin(), front.begin(), front.end());
  std::stable_sort(indexed_.begin(), indexed_.end(),
                   [](const RowRecord& a, const RowRecord& b) { return a.row < b.row; });
  spool_.Rewind();
}

std::unique_ptr<ByteStream> OpenPart(const ZipArchive& zip, const std::string& part) {
  const ZipArchive::Entry* entry = zip.Find(part);
  if (entry == nullptr) Damaged("the part " + part + " is missing");
  return zip.Open(*entry);
}

std::vector<Relationship> ReadRelationships(const ZipArchive& zip, const std::string& part) {
  std::vector<Relationship> relationships;
  const std::string relsPart = RelationshipsPartOf(part);
  const ZipArchive::Entry* entry = zip.Find(relsPart);
  if (entry == nullptr) return relationships;
  auto stream = zip.Open(*entry);
  XmlScanner xml(*stream, "the relationships");
  const std::string folder = FolderOf(part);
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e != XmlScanner::Event::Start || !xml.Is(XmlNamespace::Package, "Relationship")) {
      continue;
    }
    if (xml.Attribute("TargetMode") == "External") continue;
    if (relationships.size() > 100000) Damaged("there are too many relationships");
    Relationship r{xml.Attribute("Id"), xml.Attribute("Type"),
                   ResolveTarget(folder, xml.Attribute("Target"))};
    if (r.id.size() + r.type.size() + r.target.size() > kMaxNameLength) {
      Damaged("a relationship is too long");
    }
    relationships.push_back(std::move(r));
  }
  return relationships;
}

// The kind of a sheet by the type of its relationship. A type we do not know is taken for a
// worksheet: the workbook lists the sheet, and reading its part tells whether it is one.
SheetKind SheetKindOf(std::string_view type) {
  if (IsType(type, "chartsheet")) return SheetKind::kChart;
  if (IsType(type, "dialogsheet")) return SheetKind::kDialog;
  if (IsType(type, "xlMacrosheet") || IsType(type, "xlIntlMacrosheet")) return SheetKind::kMacro;
  return SheetKind::kWorksheet;
}

// ST_SheetState; an unknown state shows the sheet, as the default does.
SheetVisibility SheetVisibilityOf(std::string_view state) {
  if (state == "hidden") return SheetVisibility::kHidden;
  if (state == "veryHidden") return SheetVisibility::kVeryHidden;
  return SheetVisibility::kVisible;
}

// What every sheet of a workbook reads with: the package, the date system, the cell formats
// and the shared strings, read once when the workbook opens.
struct XlsxGlobals {
  XlsxGlobals(const std::string& workbookPath, const XlsxMemoryLimits& memoryLimits)
      : path(workbookPath), limits(memoryLimits), shared(memoryLimits.sharedStrings) {}

  NumberFormatRef CellFormat(uint32_t styleIndex) const {
    if (styleIndex >= cellFormats.size()) return {};
    const int id = cellFormats[styleIndex];
    const auto custom = customFormats.find(id);
    if (custom != customFormats.end()) return {id, custom->second};
    return {id, {}};
  }

  std::string path;
  XlsxMemoryLimits limits;
  std::unique_ptr<ZipArchive> zip;
  bool date1904 = false;
  std::vector<int> cellFormats;
  std::unordered_map<int, std::string> customFormats;
  SharedStrings shared;
};

// One worksheet, parsed once when opened into a spool of its own.
class XlsxSheet final : public SheetSource {
 public:
  explicit XlsxSheet(const XlsxGlobals& globals)
      : globals_(globals), spool_(globals.limits.sheetSpool) {}

  // Reads the worksheet part `part` ("" when the sheet has no relationship) and the parts
  // that widen its used range; `notAWorksheet` is the damage when the part is something else.
  void Load(const std::string& part, const char* notAWorksheet);

  bool Date1904() const override { return globals_.date1904; }
  NumberFormatRef CellFormat(uint32_t styleIndex) const override {
    return globals_.CellFormat(styleIndex);
  }
  uint32_t LastRow() override { return usedRange_.LastRow(); }
  uint32_t LastColumn() override { return usedRange_.LastColumn(); }
  uint64_t CellsHeld() override { return cellsHeld_; }
  bool NextRow(SheetRow& row) override;
  void Rewind() override {
    spool_.Rewind();
    nextIndexed_ = 0;
  }

 private:
  void ReadSheet(const std::string& part, std::vector<std::string>& tableIds,
                 const char* notAWorksheet);
  void ReadSheetRelated(const std::string& part, const std::vector<std::string>& tableIds);
  void ReadComments(const std::string& part);
  void ReadTable(const std::string& part);
  bool NextIndexedRow(SheetRow& row);
  void ReadIndexedRecord(size_t i, SheetRow& row);

  const XlsxGlobals& globals_;
  SheetSpool spool_;
  UsedRangeBounds usedRange_;
  uint64_t cellsHeld_ = 0;
  std::vector<RowRecord> indexed_;  // see SheetReader
  size_t nextIndexed_ = 0;
  std::string record_;  // an indexed record's bytes
  SheetRow repeated_;   // the cells of a row given again
};

class XlsxWorkbook final : public WorkbookSource {
 public:
  // `fd`, when not -1, is the package already open (and owned from here on).
  XlsxWorkbook(const std::string& path, int fd, const XlsxMemoryLimits& limits)
      : fd_(fd), globals_(path, limits) {}
  // The package whose directory the caller has read already.
  XlsxWorkbook(const std::string& path, std::unique_ptr<ZipArchive> zip,
               const XlsxMemoryLimits& limits)
      : fd_(-1), globals_(path, limits) {
    globals_.zip = std::move(zip);
  }

  void Load();
  std::unique_ptr<SheetSource> OpenSheet(size_t position) override;

 private:
  void ReadWorkbook(const std::string& part);
  void ReadStyles(const std::string& part);
  void ReadSharedStrings(const std::string& part);
  void NoteZipRepair(RepairLog& log) const {
    if (globals_.zip->LocalSizesDisagreed()) log.Note(kZipLocalSizesRepair);
  }

  UniqueFd fd_;  // the package when it came already open, until Load takes it
  XlsxGlobals globals_;
  std::vector<std::string> sheetParts_;  // by position; "" for a sheet without a relationship
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
      if (sheets_.size() >= kMaxSheets) Damaged("there are too many sheets");
      SheetEntry entry;
      entry.name = xml.Attribute("name");
      if (entry.name.size() > kMaxSheetNameBytes) Damaged("a sheet's name is too long");
      entry.visibility = SheetVisibilityOf(xml.RawAttribute("state"));
      sheets_.push_back(std::move(entry));
      sheetIds.push_back(xml.Attribute(XmlNamespace::Relationships, "id"));
      if (sheetIds.back().size() > kMaxNameLength) Damaged("a sheet's relationship id is too long");
    }
  }
  const std::vector<Relationship> relationships = ReadRelationships(*globals_.zip, part);
  // A sheet without its relationship is damage only when it is opened.
  sheetParts_.reserve(sheetIds.size());
  for (size_t i = 0; i < sheetIds.size(); ++i) {
    const Relationship* r = FindRelationship(relationships, sheetIds[i]);
    sheetParts_.push_back(r == nullptr ? std::string() : r->target);
    if (r != nullptr) sheets_[i].kind = SheetKindOf(r->type);
  }
  // The first of each kind, should a package name two.
  bool stylesRead = false;
  bool sharedStringsRead = false;
  for (const Relationship& r : relationships) {
    if (!stylesRead && IsType(r.type, "styles")) {
      ReadStyles(r.target);
      stylesRead = true;
    } else if (!sharedStringsRead && IsType(r.type, "sharedStrings")) {
      ReadSharedStrings(r.target);
      sharedStringsRead = true;
    }
  }
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
        if (!ParseUnsigned(xml.RawAttribute("numFmtId"), id) || id > 100000) continue;
        std::string code = xml.Attribute("formatCode");
        if (code.size() > kMaxNameLength) Damaged("a number format is too long");
        if (globals_.customFormats.size() >= kMaxNumberFormats)
          Damaged("there are too many number formats");
        globals_.customFormats[static_cast<int>(id)] = std::move(code);
      } else if (inCellXfs && xml.Depth() == 3 && xml.Name() == "xf") {
        uint64_t id = 0;
        if (!ParseUnsigned(xml.RawAttribute("numFmtId"), id) || id > 100000) id = 0;
        if (globals_.cellFormats.size() >= 1000000) Damaged("there are too many cell formats");
        globals_.cellFormats.push_back(static_cast<int>(id));
      }
    } else if (e == XmlScanner::Event::End && xml.Depth() == 2) {
      inNumFmts = inCellXfs = false;
    }
  }
}

void XlsxWorkbook::ReadSharedStrings(const std::string& part) {
  if (globals_.zip->Find(part) == nullptr) return;
  auto stream = OpenPart(*globals_.zip, part);
  XmlScanner xml(*stream, "the shared strings");
  std::string text;
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
          UnescapeOoxml(text);
          globals_.shared.Add(text);
        }
        break;
      case XmlScanner::Event::EndOfDocument:
        break;
    }
  }
  globals_.shared.FinishWriting();
}

void XlsxWorkbook::Load() {
  if (!globals_.zip) {
    globals_.zip = std::make_unique<ZipArchive>(fd_.get() >= 0 ? fd_.release()
                                                               : OpenWorkbookFile(globals_.path));
  }
  const ZipArchive& zip = *globals_.zip;

  // The package relationships name the main part; packages without them are not workbooks.
  std::string workbookPart;
  const bool hasPackageRels = zip.Find("_rels/.rels") != nullptr;
  for (const Relationship& r : ReadRelationships(zip, "")) {
    if (IsType(r.type, "officeDocument")) {
      workbookPart = r.target;
      break;
    }
  }
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
  if (position >= sheets_.size()) {
    ThrowWorkbookError(globals_.path,
                       "the workbook holds no sheet number " + std::to_string(position + 1),
                       ErrorKind::kNoSuchSheet);
  }
  if (sheets_[position].kind != SheetKind::kWorksheet) {
    ThrowWorkbookError(globals_.path,
                       "the sheet \"" + sheets_[position].name + "\" is not a worksheet",
                       ErrorKind::kNoSuchSheet);
  }
  auto sheet = std::make_unique<XlsxSheet>(globals_);
  for (const std::string& note : Repairs().Notes()) sheet->Repairs().Note(note);
  const char* notAWorksheet = FirstWorksheet(*this) == position
                                  ? "the first worksheet's part is not a worksheet"
                                  : "the worksheet's part is not a worksheet";
  WithWorkbookErrors(globals_.path, [&] { sheet->Load(sheetParts_[position], notAWorksheet); });
  // LibreOffice reads such parts by the directory too; their bytes pass its size and CRC.
  NoteZipRepair(Repairs());
  NoteZipRepair(sheet->Repairs());
  return sheet;
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
  PrefetchStream prefetch(*stream);
  XmlScanner xml(prefetch, "the sheet");
  SheetReader reader(xml, globals_.shared, globals_.date1904, spool_, usedRange_, indexed_,
                     tableIds, Repairs(), layout_, notAWorksheet);
  reader.Read();
  cellsHeld_ = reader.CellsHeld();
}

void XlsxSheet::ReadIndexedRecord(size_t i, SheetRow& row) {
  spool_.ReadAt(indexed_[i].offset, indexed_[i].size, record_);
  RecordCursor cursor(record_);
  ReadRowRecord(cursor, globals_.shared, row);
}

bool XlsxSheet::NextIndexedRow(SheetRow& row) {
  if (nextIndexed_ == indexed_.size()) return false;
  ReadIndexedRecord(nextIndexed_++, row);
  // A row given again is one row, as LibreOffice reads it: the later of two cells in one
  // place stands. Its cells gather behind the merged ones and are merged when they are as
  // many or hold a row's worth of text: a row given a million times costs no more than the
  // cells it gives, and memory stays within three rows' text.
  size_t merged = row.cells.size();
  size_t gatheredText = 0;
  auto merge = [&] {
    merged = KeepLastOfEachColumn(row.cells, row.cells.size());
    row.cells.resize(merged);
    size_t text = 0;
    for (const SheetCell& cell : row.cells) text += cell.value.text.size();
    if (text > kMaxRowText) Damaged("a row holds too much text");
    gatheredText = 0;
  };
  while (nextIndexed_ < indexed_.size() && indexed_[nextIndexed_].row == row.row) {
    ReadIndexedRecord(nextIndexed_++, repeated_);
    for (const SheetCell& cell : repeated_.cells) gatheredText += cell.value.text.size();
    row.cells.insert(row.cells.end(), std::make_move_iterator(repeated_.cells.begin()),
                     std::make_move_iterator(repeated_.cells.end()));
    if (row.cells.size() - merged >= merged || gatheredText > kMaxRowText) merge();
  }
  if (row.cells.size() != merged) merge();
  return true;
}

// The parts related to the sheet that widen its used range: comments (notes) and tables.
void XlsxSheet::ReadSheetRelated(const std::string& part,
                                 const std::vector<std::string>& tableIds) {
  const std::vector<Relationship> relationships = ReadRelationships(*globals_.zip, part);
  for (const Relationship& r : relationships) {
    if (IsType(r.type, "comments")) ReadComments(r.target);
  }
  for (const std::string& id : tableIds) {
    const Relationship* r = FindRelationship(relationships, id);
    if (r == nullptr || !IsType(r->type, "table")) Damaged("a table has no part");
    ReadTable(r->target);
  }
}

// A cell that holds only a note counts as used (ECMA-376-1 18.7.3 comment, ref).
void XlsxSheet::ReadComments(const std::string& part) {
  if (globals_.zip->Find(part) == nullptr) return;
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

bool XlsxSheet::NextRow(SheetRow& row) {
  return WithWorkbookErrors(globals_.path, [&] {
    if (!indexed_.empty()) return NextIndexedRow(row);
    if (spool_.AtEnd()) return false;
    ReadRowRecord(spool_, globals_.shared, row);
    return true;
  });
}

}  // namespace

std::unique_ptr<WorkbookSource> OpenXlsxWorkbook(const std::string& path, int fd,
                                                 const XlsxMemoryLimits& limits) {
  auto workbook = std::make_unique<XlsxWorkbook>(path, fd, limits);
  WithWorkbookErrors(path, [&] { workbook->Load(); });
  return workbook;
}

std::unique_ptr<WorkbookSource> OpenXlsxWorkbook(const std::string& path,
                                                 std::unique_ptr<ZipArchive> zip,
                                                 const XlsxMemoryLimits& limits) {
  auto workbook = std::make_unique<XlsxWorkbook>(path, std::move(zip), limits);
  WithWorkbookErrors(path, [&] { workbook->Load(); });
  return workbook;
}

std::unique_ptr<SheetSource> OpenXlsxSource(const std::string& path, int fd,
                                            const XlsxMemoryLimits& limits) {
  return OpenFirstWorksheet(OpenXlsxWorkbook(path, fd, limits), path);
}

}  // namespace cellverter
