#include "spreadsheet/ods/ods_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/unique_fd.h"
#include "spreadsheet/container/prefetch_stream.h"
#include "spreadsheet/crypto/office_crypto.h"
#include "spreadsheet/ods/ods_number_style.h"
#include "spreadsheet/ods/ods_xml.h"
#include "spreadsheet/sheet_layout_builder.h"
#include "spreadsheet/used_range_bounds.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xlsx/sheet_spool.h"
#include "spreadsheet/xlsx/xml_scanner.h"
#include "spreadsheet/xlsx/xml_values.h"

namespace cellverter {
namespace {

constexpr size_t kMaxCellStyles = 1 << 20;
constexpr size_t kMaxNameLength = 4096;  // style names
constexpr size_t kMaxStyleChain = 32;    // parents followed from a cell style
constexpr size_t kMaxStyleBytes = 64 << 20;

constexpr XmlNamespace kOffice = XmlNamespace::OdfOffice;
constexpr XmlNamespace kTable = XmlNamespace::OdfTable;
constexpr XmlNamespace kText = XmlNamespace::OdfText;
constexpr XmlNamespace kStyle = XmlNamespace::OdfStyle;

constexpr const char* kClippedRepair =
    "cells beyond Excel's 1,048,576 rows or 16,384 columns were left out, as LibreOffice "
    "leaves them";

[[noreturn]] void Damaged(const std::string& detail) { throw WorkbookDamaged(detail); }

// A repeat count (number-rows-repeated, number-columns-repeated, the spans): 1 when absent
// or unreadable, as LibreOffice reads it; no more than `limit`.
uint64_t RepeatCount(const XmlScanner& xml, std::string_view name, uint64_t limit) {
  uint64_t count = 0;
  if (!ParseUnsigned(xml.RawAttribute(kTable, name), count) || count == 0) return 1;
  return std::min(count, limit);
}

bool IsHidden(std::string_view visibility) {
  return visibility == "collapse" || visibility == "filter";
}

// The texts Excel shows for its error values; a formula's string result that reads as one
// is that error (files that do not say so with calcext:value-type).
bool IsErrorText(std::string_view text) {
  static constexpr std::string_view kCodes[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!",
                                                "#NAME?", "#NUM!",   "#N/A"};
  return std::find(std::begin(kCodes), std::end(kCodes), text) != std::end(kCodes);
}

// A file descriptor as a stream, for the flat document.
class FileStream final : public ByteStream {
 public:
  explicit FileStream(int fd) : fd_(fd) {}
  size_t Read(char* buffer, size_t capacity) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, capacity);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) throw WorkbookFault(SystemMessage(errno), ErrorKind::kInputOutput);
    }
  }

 private:
  int fd_;
};

// A named cell style (style:style of family table-cell): its parent and its data style.
struct CellStyle {
  std::string parent;
  std::string dataStyle;
};

// The number format of a cell style; `shown` is false when no format code says its data
// style, and its cells show the text the file stores.
struct OdsFormat {
  NumberFormatRef ref;
  bool shown = true;
};

// The styles of the document, and the number formats the sheets' cells refer to by index.
class OdsStyles {
 public:
  OdsStyles() { formats_.push_back({}); }  // 0: General

  // At the Start of an element of <office:styles> or <office:automatic-styles>.
  void Read(XmlScanner& xml);

  // The format index of the cell style `name` ("" for none).
  uint32_t IndexOf(const std::string& name);
  // The format index of a built-in format id.
  uint32_t BuiltIn(int id) { return Add("#" + std::to_string(id), {{id, {}}, true}); }
  const OdsFormat& Format(uint32_t index) const { return formats_[index]; }
  const std::vector<OdsFormat>& Formats() const { return formats_; }
  bool TableHidden(const std::string& tableStyle) const {
    return hiddenTables_.contains(tableStyle);
  }

 private:
  uint32_t Add(const std::string& key, OdsFormat format);
  uint32_t IndexOfDataStyle(const std::string& dataStyle);
  // Names kept of the styles: real documents hold a few hundred kilobytes.
  void AddBytes(size_t bytes) {
    bytes_ += bytes;
    if (bytes_ > kMaxStyleBytes) Damaged("the styles are too large");
  }

  OdsDataStyles data_;
  std::unordered_map<std::string, CellStyle> cellStyles_;
  std::string defaultDataStyle_;  // of <style:default-style style:family="table-cell">
  std::unordered_set<std::string> hiddenTables_;
  std::vector<OdsFormat> formats_;
  std::unordered_map<std::string, uint32_t> byCode_;
  std::unordered_map<std::string, uint32_t> byStyle_;
  size_t bytes_ = 0;
};

void OdsStyles::Read(XmlScanner& xml) {
  if (OdsDataStyles::IsDataStyle(xml)) {
    data_.Read(xml);
    return;
  }
  const bool isDefault = xml.Is(kStyle, "default-style");
  if (!isDefault && !xml.Is(kStyle, "style")) {
    SkipOdsElement(xml);
    return;
  }
  const std::string family = xml.Attribute(kStyle, "family");
  std::string name = xml.Attribute(kStyle, "name");
  if (name.size() > kMaxNameLength) Damaged("a style's name is too long");
  if (family == "table-cell") {
    CellStyle style{xml.Attribute(kStyle, "parent-style-name"),
                    xml.Attribute(kStyle, "data-style-name")};
    if (style.parent.size() + style.dataStyle.size() > kMaxNameLength) {
      Damaged("a style's name is too long");
    }
    if (isDefault) {
      defaultDataStyle_ = std::move(style.dataStyle);
    } else if (!name.empty()) {
      if (cellStyles_.size() >= kMaxCellStyles) Damaged("there are too many cell styles");
      AddBytes(name.size() + style.parent.size() + style.dataStyle.size());
      cellStyles_[std::move(name)] = std::move(style);
    }
    SkipOdsElement(xml);
    return;
  }
  if (family != "table") {
    SkipOdsElement(xml);
    return;
  }
  // A table style hides its sheets with table:display="false" (ODF 1.2 17.15.2).
  const size_t depth = xml.Depth();
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e == XmlScanner::Event::End && xml.Depth() == depth) break;
    if (e == XmlScanner::Event::Start && xml.Is(kStyle, "table-properties") &&
        xml.RawAttribute(kTable, "display") == "false" && !name.empty()) {
      if (hiddenTables_.size() >= kMaxCellStyles) Damaged("there are too many table styles");
      AddBytes(name.size());
      hiddenTables_.insert(name);
    }
  }
}

uint32_t OdsStyles::Add(const std::string& key, OdsFormat format) {
  const auto [it, inserted] = byCode_.try_emplace(key, static_cast<uint32_t>(formats_.size()));
  if (inserted) formats_.push_back(std::move(format));
  return it->second;
}

uint32_t OdsStyles::IndexOf(const std::string& name) {
  if (name.empty()) return 0;
  const auto known = byStyle_.find(name);
  if (known != byStyle_.end()) return known->second;
  // A name no style has takes the default; it is not kept, so cells cannot grow the memo.
  if (!cellStyles_.contains(name)) return IndexOfDataStyle(defaultDataStyle_);
  // The data style of the style or of its nearest parent that has one.
  const std::string* dataStyle = &defaultDataStyle_;
  const std::string* current = &name;
  for (size_t step = 0; step < kMaxStyleChain; ++step) {
    const auto style = cellStyles_.find(*current);
    if (style == cellStyles_.end()) break;
    if (!style->second.dataStyle.empty()) {
      dataStyle = &style->second.dataStyle;
      break;
    }
    if (style->second.parent.empty()) break;
    current = &style->second.parent;
  }
  const uint32_t index = IndexOfDataStyle(*dataStyle);
  byStyle_.emplace(name, index);
  return index;
}

uint32_t OdsStyles::IndexOfDataStyle(const std::string& dataStyle) {
  if (dataStyle.empty()) return 0;
  const std::optional<std::string> code = data_.Code(dataStyle);
  if (!code) return Add("\x01" + dataStyle, {{}, false});
  return code->empty() ? 0 : Add(*code, {{0, *code}, true});
}

// What one sheet's pass left: its rows' place in the workbook's spool, its used range and
// layout.
struct OdsSheetData {
  uint64_t begin = 0;
  uint64_t end = 0;
  UsedRangeBounds usedRange;
  SheetLayout layout;
  uint64_t cellsHeld = 0;
  RepairLog repairs;
};

// Reads one <table:table> into the spool, row by row. Repeated rows and cells are spooled
// once with their counts. Rows and runs of cells that only carry a style and repeat, at the
// end of the sheet or of a row, are how LibreOffice fills a sheet out to its edge: they are
// not used cells (a million such rows cost nothing), while a single styled blank counts as
// used, as in Excel.
class TableReader {
 public:
  TableReader(XmlScanner& xml, OdsStyles& styles, bool date1904, SheetSpool& spool,
              OdsSheetData& data)
      : xml_(xml), styles_(styles), date1904_(date1904), spool_(spool), data_(data) {}

  void Read();

 private:
  struct PendingCell {
    uint32_t column;
    uint32_t repeat;
    uint32_t style;
    bool hasValue;
    std::string bytes;  // kind and payload, as spooled
  };

  void StartColumn();
  void StartRow();
  void FinishRow();
  void StartCell(bool covered);
  void StartInCell();
  void AppendParagraphText(std::string_view text);
  void EndInCell();
  void FinishCell();
  void EncodeValue(std::string& bytes, bool& hasValue);
  uint32_t ColumnDefaultStyle(uint32_t column) const {
    return column < columnStyles_.size() ? columnStyles_[column] : 0;
  }
  void Clipped() { data_.repairs.Note(kClippedRepair); }

  XmlScanner& xml_;
  OdsStyles& styles_;
  const bool date1904_;
  SheetSpool& spool_;
  OdsSheetData& data_;

  // Columns: the default cell style of each (an index into columnStyleNames_).
  uint64_t nextColumn_ = 1;
  std::vector<uint32_t> columnStyles_;
  std::vector<std::string> columnStyleNames_{""};
  std::unordered_map<std::string, uint32_t> columnStyleIds_;

  // The row being read.
  uint64_t rowNumber_ = 1;  // of the next row
  uint64_t rowRepeat_ = 1;
  bool rowHidden_ = false;
  std::string rowStyle_;  // the row's default cell style
  uint64_t cellColumn_ = 1;
  std::vector<PendingCell> cells_;
  size_t used_ = 0;
  uint64_t rowText_ = 0;

  // Rows spooled but not yet known to be used: styled blanks that repeat.
  uint64_t pendingEnd_ = 0;
  uint32_t pendingLastRow_ = 0;
  uint32_t pendingLastColumn_ = 0;
  uint64_t pendingHeld_ = 0;

  // The cell being read.
  bool inCell_ = false;
  size_t cellDepth_ = 0;
  bool covered_ = false;
  uint64_t cellRepeat_ = 1;
  uint64_t columnsSpanned_ = 1;
  uint64_t rowsSpanned_ = 1;
  bool hasStyle_ = false;
  std::string styleName_;
  std::string valueType_;
  bool errorValue_ = false;
  bool hasFormula_ = false;
  std::string value_;  // office:value, date-value, time-value or boolean-value
  bool hasStringValue_ = false;
  std::string stringValue_;  // office:string-value
  std::string text_;         // the paragraphs
  size_t paragraphs_ = 0;
  size_t paragraphDepth_ = 0;  // of the <text:p> being read, 0 outside
  std::string record_;
};

void TableReader::Read() {
  const size_t tableDepth = xml_.Depth();
  data_.begin = spool_.written();
  data_.end = data_.begin;
  pendingEnd_ = data_.begin;
  for (auto e = xml_.Next(); e != XmlScanner::Event::EndOfDocument; e = xml_.Next()) {
    if (e == XmlScanner::Event::Start) {
      if (inCell_) {
        StartInCell();
      } else if (xml_.Namespace() == kTable) {
        const std::string_view name = xml_.Name();
        if (name == "table-row") {
          StartRow();
        } else if (name == "table-cell" || name == "covered-table-cell") {
          StartCell(name == "covered-table-cell");
        } else if (name == "table-column") {
          StartColumn();
        } else if (name == "table") {
          Damaged("a sheet holds a sheet");
        }
      } else if (xml_.Depth() == tableDepth + 1) {
        SkipOdsElement(xml_);  // shapes, forms, named ranges of the sheet
      }
    } else if (e == XmlScanner::Event::End) {
      if (inCell_) {
        if (xml_.Depth() == cellDepth_) {
          FinishCell();
        } else {
          EndInCell();
        }
      } else if (xml_.Depth() == tableDepth) {
        break;
      } else if (xml_.Is(kTable, "table-row")) {
        FinishRow();
      }
    } else if (e == XmlScanner::Event::Text && paragraphDepth_ != 0) {
      AppendParagraphText(xml_.Text());
    }
  }
  // Rows left pending are the sheet's filling: the spooled rows end before them.
  NormaliseLineSpans(data_.layout.hiddenRows);
  NormaliseLineSpans(data_.layout.hiddenColumns);
}

void TableReader::StartColumn() {
  const uint64_t first = nextColumn_;
  const uint64_t count = RepeatCount(xml_, "number-columns-repeated", kMaxSheetColumns + 1);
  nextColumn_ = std::min<uint64_t>(first + count, kMaxSheetColumns + 1);
  if (first > kMaxSheetColumns) return;
  const uint32_t last = static_cast<uint32_t>(nextColumn_ - 1);
  if (IsHidden(xml_.RawAttribute(kTable, "visibility"))) {
    AddLineSpan(data_.layout.hiddenColumns, static_cast<uint32_t>(first), last);
  }
  const std::string style = xml_.Attribute(kTable, "default-cell-style-name");
  if (style.empty() && columnStyles_.size() <= first) return;
  if (style.size() > kMaxNameLength) Damaged("a style's name is too long");
  uint32_t id = 0;
  if (!style.empty()) {
    const auto [known, added] =
        columnStyleIds_.try_emplace(style, static_cast<uint32_t>(columnStyleNames_.size()));
    if (added) columnStyleNames_.push_back(style);
    id = known->second;
  }
  if (columnStyles_.size() <= last) columnStyles_.resize(last + 1, 0);
  std::fill(columnStyles_.begin() + static_cast<ptrdiff_t>(first),
            columnStyles_.begin() + static_cast<ptrdiff_t>(last) + 1, id);
}

void TableReader::StartRow() {
  rowRepeat_ = RepeatCount(xml_, "number-rows-repeated", kMaxSheetRows + 1);
  rowHidden_ = IsHidden(xml_.RawAttribute(kTable, "visibility"));
  rowStyle_ = xml_.Attribute(kTable, "default-cell-style-name");
  if (rowStyle_.size() > kMaxNameLength) Damaged("a style's name is too long");
  cellColumn_ = 1;
  used_ = 0;
  rowText_ = 0;
}

void TableReader::FinishRow() {
  const uint64_t first = rowNumber_;
  rowNumber_ = std::min<uint64_t>(first + rowRepeat_, kMaxSheetRows + 1);
  // A run of styled blanks that repeats, last in the row, fills the row out to its edge.
  while (used_ > 0 && !cells_[used_ - 1].hasValue && cells_[used_ - 1].repeat > 1) --used_;
  if (first > kMaxSheetRows) {
    if (used_ > 0) Clipped();
    return;
  }
  const uint32_t last = static_cast<uint32_t>(rowNumber_ - 1);
  if (first + rowRepeat_ - 1 > kMaxSheetRows && used_ > 0) Clipped();
  if (rowHidden_) AddLineSpan(data_.layout.hiddenRows, static_cast<uint32_t>(first), last);
  if (used_ == 0) return;
  const uint64_t repeat = last - first + 1;
  bool hasValue = false;
  uint64_t cells = 0;
  record_.clear();
  AppendVarint(first, record_);
  AppendVarint(repeat, record_);
  AppendVarint(used_, record_);
  for (size_t i = 0; i < used_; ++i) {
    const PendingCell& cell = cells_[i];
    AppendVarint(cell.column, record_);
    AppendVarint(cell.repeat, record_);
    AppendVarint(cell.style, record_);
    record_ += cell.bytes;
    hasValue = hasValue || cell.hasValue;
    cells += cell.repeat;
  }
  spool_.Append(record_);
  const PendingCell& lastCell = cells_[used_ - 1];
  pendingLastRow_ = std::max(pendingLastRow_, last);
  pendingLastColumn_ = std::max(pendingLastColumn_, lastCell.column + lastCell.repeat - 1);
  pendingHeld_ += cells * repeat;
  pendingEnd_ = spool_.written();
  // Styled blanks that repeat wait for a row with a value; one row of them is used.
  if (hasValue || repeat == 1) {
    data_.usedRange.AddCell(pendingLastRow_, pendingLastColumn_);
    data_.cellsHeld += pendingHeld_;
    data_.end = pendingEnd_;
    pendingLastRow_ = pendingLastColumn_ = 0;
    pendingHeld_ = 0;
  }
}

void TableReader::StartCell(bool covered) {
  inCell_ = true;
  cellDepth_ = xml_.Depth();
  covered_ = covered;
  cellRepeat_ = RepeatCount(xml_, "number-columns-repeated", kMaxSheetColumns + 1);
  columnsSpanned_ = covered ? 1 : RepeatCount(xml_, "number-columns-spanned", kMaxSheetColumns);
  rowsSpanned_ = covered ? 1 : RepeatCount(xml_, "number-rows-spanned", kMaxSheetRows);
  const std::string_view style = xml_.RawAttribute(kTable, "style-name", &hasStyle_);
  if (style.size() > kMaxNameLength) Damaged("a style's name is too long");
  styleName_ = hasStyle_ ? xml_.Attribute(kTable, "style-name") : std::string();
  valueType_.assign(xml_.RawAttribute(kOffice, "value-type"));
  errorValue_ = xml_.RawAttribute(XmlNamespace::OdfCalcExt, "value-type") == "error";
  hasFormula_ = !xml_.RawAttribute(kTable, "formula").empty();
  std::string_view value;
  if (valueType_ == "date") {
    value = xml_.RawAttribute(kOffice, "date-value");
  } else if (valueType_ == "time") {
    value = xml_.RawAttribute(kOffice, "time-value");
  } else if (valueType_ == "boolean") {
    value = xml_.RawAttribute(kOffice, "boolean-value");
  } else {
    value = xml_.RawAttribute(kOffice, "value");
  }
  if (value.size() > 64) Damaged("a cell's value is too long");
  value_.assign(value);
  const std::string_view stringValue = xml_.RawAttribute(kOffice, "string-value", &hasStringValue_);
  if (stringValue.size() > kMaxCellText) Damaged("a cell's text is too long");
  stringValue_.clear();
  if (hasStringValue_) stringValue_ = xml_.Attribute(kOffice, "string-value");
  text_.clear();
  paragraphs_ = 0;
  paragraphDepth_ = 0;
}

// The content of a cell: its paragraphs with their spans, links, spaces, tabs and line
// breaks. Only the cell's own paragraphs: those of its note (office:annotation) and of the
// shapes anchored to it (draw:frame, draw:custom-shape) are not its text.
void TableReader::StartInCell() {
  if (xml_.Namespace() != kText) return;
  const std::string_view name = xml_.Name();
  if (paragraphDepth_ == 0) {
    if ((name == "p" || name == "h") && xml_.Depth() == cellDepth_ + 1) {
      if (paragraphs_++ > 0) text_ += '\n';
      paragraphDepth_ = xml_.Depth();
    }
    return;
  }
  if (name == "s") {
    uint64_t count = 1;
    const std::string_view c = xml_.RawAttribute(kText, "c");
    if (!c.empty() && (!ParseUnsigned(c, count) || count == 0)) count = 1;
    if (count > kMaxCellText - std::min(kMaxCellText, text_.size())) {
      Damaged("a cell's text is too long");
    }
    text_.append(static_cast<size_t>(count), ' ');
  } else if (name == "tab") {
    text_ += '\t';
  } else if (name == "line-break") {
    text_ += '\n';
  } else {
    return;  // spans, links, fields: their text is the paragraph's
  }
  if (text_.size() > kMaxCellText) Damaged("a cell's text is too long");
}

// A paragraph's text as it stands: LibreOffice writes runs of spaces as they are, not as
// <text:s>, and reads them back so.
void TableReader::AppendParagraphText(std::string_view text) {
  if (text_.size() + text.size() > kMaxCellText) Damaged("a cell's text is too long");
  text_ += text;
}

void TableReader::EndInCell() {
  if (xml_.Depth() == paragraphDepth_) paragraphDepth_ = 0;
}

void TableReader::FinishCell() {
  inCell_ = false;
  const uint64_t column = cellColumn_;
  cellColumn_ = std::min<uint64_t>(column + cellRepeat_, kMaxSheetColumns + 1);
  if (column > kMaxSheetColumns) {
    if (!valueType_.empty() || !text_.empty()) Clipped();
    return;
  }
  const uint32_t first = static_cast<uint32_t>(column);
  const uint32_t repeat = static_cast<uint32_t>(cellColumn_ - column);
  if (column + cellRepeat_ - 1 > kMaxSheetColumns && (!valueType_.empty() || !text_.empty())) {
    Clipped();
  }
  // One merged area for the cell as written; a row or cell repeated with its span would
  // repeat the area, which LibreOffice never writes.
  if (columnsSpanned_ > 1 || rowsSpanned_ > 1) {
    const uint64_t lastRow = std::min<uint64_t>(rowNumber_ + rowsSpanned_ - 1, kMaxSheetRows);
    if (rowNumber_ <= kMaxSheetRows) {
      AddMergedArea(
          data_.layout.mergedAreas, static_cast<uint32_t>(rowNumber_), first,
          static_cast<uint32_t>(lastRow),
          static_cast<uint32_t>(std::min<uint64_t>(first + columnsSpanned_ - 1, kMaxSheetColumns)),
          kMaxSheetColumns);
    }
  }
  // The cell's own style, else the row's or the column's default; only a style of its own
  // (not its column's) makes a blank cell used.
  const uint32_t columnStyle = ColumnDefaultStyle(first);
  const std::string& inherited = !rowStyle_.empty() ? rowStyle_ : columnStyleNames_[columnStyle];
  const bool ownStyle =
      hasStyle_ && styleName_ != "Default" && styleName_ != columnStyleNames_[columnStyle];
  uint32_t style = styles_.IndexOf(hasStyle_ ? styleName_ : inherited);
  if (used_ == cells_.size()) cells_.emplace_back();
  PendingCell& cell = cells_[used_];
  cell.bytes.clear();
  bool hasValue = false;
  EncodeValue(cell.bytes, hasValue);
  if (!hasValue && !ownStyle && !hasFormula_) return;
  if (hasFormula_ && !hasValue) data_.layout.formulasWithoutValue += repeat;
  // Dates and times without a date format show as the locale's dates and times do.
  if (hasValue && style == 0 && !errorValue_) {
    if (valueType_ == "date") {
      style = styles_.BuiltIn(value_.find('T') == std::string::npos ? 14 : 22);
    } else if (valueType_ == "time") {
      style = styles_.BuiltIn(46);  // [h]:mm:ss
    }
  }
  const uint8_t kind = static_cast<uint8_t>(cell.bytes[0]);
  if (!styles_.Format(style).shown && (kind == kNumber || kind == kInteger) && !text_.empty()) {
    // No format code says the cell's data style: it shows the text the file stores.
    cell.bytes.clear();
    AppendSpooledText(kInline, text_, cell.bytes);
  }
  if (cell.bytes.size() > 1) {
    rowText_ += (cell.bytes.size() - 1) * repeat;
    if (rowText_ > kMaxRowText) Damaged("a row holds too much text");
  }
  cell.column = first;
  cell.repeat = repeat;
  cell.style = style;
  cell.hasValue = hasValue;
  ++used_;
}

// The cell's value as spooled: its kind and payload.
void TableReader::EncodeValue(std::string& bytes, bool& hasValue) {
  auto text = [&](SpoolKind kind, const std::string& s) {
    AppendSpooledText(kind, s, bytes);
    hasValue = true;
  };
  auto number = [&](double n) {
    AppendSpooledNumber(n, bytes);
    hasValue = true;
  };
  // LibreOffice writes an empty string-value beside the text of a formula's error.
  const std::string& shown = hasStringValue_ && !stringValue_.empty() ? stringValue_ : text_;
  if (errorValue_ || (hasFormula_ && valueType_ == "string" && IsErrorText(shown))) {
    text(kErrorCode, shown);
    return;
  }
  if (valueType_ == "float" || valueType_ == "percentage" || valueType_ == "currency") {
    double n = 0;
    if (!ParseNumber(value_, n)) Damaged("a number cell holds no number");
    // LibreOffice stores a formula's logical result as a float and shows it as TRUE or FALSE.
    if (hasFormula_ && ((n == 1 && text_ == "TRUE") || (n == 0 && text_ == "FALSE"))) {
      AppendSpooledBoolean(n == 1, bytes);
      hasValue = true;
      return;
    }
    number(n);
  } else if (valueType_ == "date") {
    const std::optional<double> serial = IsoDateSerial(value_, date1904_);
    if (!serial) Damaged("a date cell holds no date");
    number(*serial);
  } else if (valueType_ == "time") {
    // A duration; LibreOffice writes negative ones with a leading minus.
    const bool negative = !value_.empty() && value_[0] == '-';
    const std::optional<double> days =
        IsoDurationDays(std::string_view(value_).substr(negative ? 1 : 0));
    if (!days) Damaged("a time cell holds no duration");
    number(negative ? -*days : *days);
  } else if (valueType_ == "boolean") {
    if (!AppendSpooledXmlBoolean(value_, bytes)) Damaged("a logical cell holds no logical value");
    hasValue = true;
  } else if (valueType_ == "string" || (valueType_.empty() && paragraphs_ > 0)) {
    // Without a value type a cell's paragraphs are its text (ODF 1.2 19.385).
    text(kInline, shown);
  } else {
    AppendSpooledEmpty(bytes);
  }
}

// A sequential reader of one sheet's records in the workbook's spool.
class SpoolCursor {
 public:
  SpoolCursor(const SheetSpool& spool, uint64_t begin, uint64_t end)
      : spool_(spool), begin_(begin), end_(end), offset_(begin) {}

  void Rewind() {
    offset_ = begin_;
    buffer_.clear();
    pos_ = 0;
  }
  bool AtEnd() const { return pos_ == buffer_.size() && offset_ == end_; }
  uint8_t ReadByte() {
    if (pos_ == buffer_.size()) Fill();
    return static_cast<uint8_t>(buffer_[pos_++]);
  }
  uint64_t ReadVarint() { return ReadVarintFrom(*this); }
  void ReadBytes(size_t size, std::string& out) {
    out.clear();
    while (size > 0) {
      if (pos_ == buffer_.size()) Fill();
      const size_t n = std::min(size, buffer_.size() - pos_);
      out.append(buffer_, pos_, n);
      pos_ += n;
      size -= n;
    }
  }

 private:
  void Fill() {
    if (offset_ == end_) SpoolCorrupt("the sheet spool is corrupt");
    const size_t n = static_cast<size_t>(std::min<uint64_t>(end_ - offset_, 1 << 16));
    spool_.ReadAt(offset_, n, buffer_);
    offset_ += n;
    pos_ = 0;
  }

  const SheetSpool& spool_;
  uint64_t begin_;
  uint64_t end_;
  uint64_t offset_;
  std::string buffer_;
  size_t pos_ = 0;
};

// What every sheet of a workbook reads with.
struct OdsGlobals {
  explicit OdsGlobals(const std::string& workbookPath) : path(workbookPath) {}
  std::string path;
  std::unique_ptr<ZipArchive> zip;
  OdsStyles styles;
  bool date1904 = false;
  SheetSpool spool;
  std::vector<OdsSheetData> sheets;
};

class OdsSheet final : public SheetSource {
 public:
  OdsSheet(const OdsGlobals& globals, const OdsSheetData& data)
      : globals_(globals), data_(data), cursor_(globals.spool, data.begin, data.end) {
    layout_ = data.layout;
  }

  bool Date1904() const override { return globals_.date1904; }
  NumberFormatRef CellFormat(uint32_t styleIndex) const override {
    const std::vector<OdsFormat>& formats = globals_.styles.Formats();
    return styleIndex < formats.size() ? formats[styleIndex].ref : NumberFormatRef{};
  }
  uint32_t LastRow() override { return data_.usedRange.LastRow(); }
  uint32_t LastColumn() override { return data_.usedRange.LastColumn(); }
  uint64_t CellsHeld() override { return data_.cellsHeld; }
  bool NextRow(SheetRow& row) override;
  void Rewind() override {
    cursor_.Rewind();
    repeatsLeft_ = 0;
  }

 private:
  void ReadRecord();

  const OdsGlobals& globals_;
  const OdsSheetData& data_;
  SpoolCursor cursor_;
  // The record being served: its cells with their column repeats, for rows still to come.
  struct RunCell {
    uint32_t column;
    uint32_t repeat;
    uint32_t style;
    CellValue value;
  };
  std::vector<RunCell> runs_;
  uint32_t nextRow_ = 0;
  uint64_t repeatsLeft_ = 0;
};

void OdsSheet::ReadRecord() {
  nextRow_ = static_cast<uint32_t>(cursor_.ReadVarint());
  repeatsLeft_ = cursor_.ReadVarint();
  const size_t count = static_cast<size_t>(cursor_.ReadVarint());
  if (count > kMaxSheetColumns) SpoolCorrupt("the sheet spool is corrupt");
  runs_.resize(count);
  for (RunCell& cell : runs_) {
    cell.column = static_cast<uint32_t>(cursor_.ReadVarint());
    cell.repeat = static_cast<uint32_t>(cursor_.ReadVarint());
    cell.style = static_cast<uint32_t>(cursor_.ReadVarint());
    // The reader spools no shared strings.
    ReadSpooledValue(
        cursor_, [](size_t, std::string&) -> bool { SpoolCorrupt("the sheet spool is corrupt"); },
        cell.value);
  }
}

bool OdsSheet::NextRow(SheetRow& row) {
  return WithWorkbookErrors(globals_.path, [&] {
    if (repeatsLeft_ == 0) {
      if (cursor_.AtEnd()) return false;
      ReadRecord();
    }
    row.row = nextRow_++;
    --repeatsLeft_;
    size_t count = 0;
    for (const RunCell& run : runs_) count += run.repeat;
    row.cells.resize(count);
    size_t i = 0;
    for (const RunCell& run : runs_) {
      for (uint32_t k = 0; k < run.repeat; ++k, ++i) {
        SheetCell& cell = row.cells[i];
        cell.column = run.column + k;
        cell.styleIndex = run.style;
        cell.value = run.value;
      }
    }
    return true;
  });
}

class OdsWorkbook final : public WorkbookSource {
 public:
  explicit OdsWorkbook(const std::string& path) : globals_(path) {}

  void LoadPackage(std::unique_ptr<ZipArchive> zip);
  void LoadFlat(int fd);
  std::unique_ptr<SheetSource> OpenSheet(size_t position) override;

 private:
  void CheckManifest();
  void ReadDocument(ByteStream& stream, const char* part, bool flat);
  void ReadSpreadsheet(XmlScanner& xml);
  [[noreturn]] void NotAWorkbook() const {
    ThrowWorkbookError(globals_.path, kNotAWorkbookCause, ErrorKind::kNotAWorkbook);
  }

  OdsGlobals globals_;
};

// A content.xml that the manifest lists with encryption data is encrypted with a password
// (the ODF 1.2 package format, 4.8).
void OdsWorkbook::CheckManifest() {
  const ZipArchive::Entry* entry = globals_.zip->Find("META-INF/manifest.xml");
  if (entry == nullptr) return;
  auto stream = globals_.zip->Open(*entry);
  XmlScanner xml(*stream, "the manifest");
  bool inContent = false;
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e != XmlScanner::Event::Start || xml.Namespace() != XmlNamespace::OdfManifest) continue;
    if (xml.Name() == "file-entry") {
      const std::string_view path = xml.RawAttribute(XmlNamespace::OdfManifest, "full-path");
      inContent = path == "content.xml" || path == "/content.xml";
    } else if (xml.Name() == "encryption-data" && inContent) {
      throw PasswordRefused(std::string(kPasswordProtectedCause));
    }
  }
}

void OdsWorkbook::LoadPackage(std::unique_ptr<ZipArchive> zip) {
  globals_.zip = std::move(zip);
  const ZipArchive& archive = *globals_.zip;
  // Text documents, drawings and presentations are OpenDocument packages too.
  const std::string type = OpenDocumentMimeType(archive);
  if (!type.empty() && !type.starts_with(kOdsMimeType)) NotAWorkbook();
  CheckManifest();
  const ZipArchive::Entry* content = archive.Find("content.xml");
  if (content == nullptr) Damaged("the part content.xml is missing");
  if (const ZipArchive::Entry* styles = archive.Find("styles.xml")) {
    auto stream = archive.Open(*styles);
    ReadDocument(*stream, "the styles", false);
  }
  auto stream = archive.Open(*content);
  PrefetchStream prefetch(*stream);
  ReadDocument(prefetch, "the content", false);
  globals_.spool.FinishWriting();
  if (archive.LocalSizesDisagreed()) Repairs().Note(kZipLocalSizesRepair);
}

void OdsWorkbook::LoadFlat(int fd) {
  const UniqueFd file(fd);
  FileStream stream(file.get());
  PrefetchStream prefetch(stream);
  ReadDocument(prefetch, "the document", true);
  globals_.spool.FinishWriting();
}

// content.xml, styles.xml or the flat document: the styles of <office:styles> and
// <office:automatic-styles>, and the sheets of <office:body>.
void OdsWorkbook::ReadDocument(ByteStream& stream, const char* part, bool flat) {
  XmlScanner xml(stream, part);
  if (xml.Next() != XmlScanner::Event::Start || xml.Namespace() != kOffice ||
      (xml.Name() != "document" && xml.Name() != "document-content" &&
       xml.Name() != "document-styles")) {
    if (flat) NotAWorkbook();
    Damaged(std::string(part) + " is not an OpenDocument part");
  }
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e != XmlScanner::Event::Start || xml.Depth() != 2) continue;
    if (xml.Is(kOffice, "styles") || xml.Is(kOffice, "automatic-styles")) {
      for (e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
        if (e == XmlScanner::Event::End && xml.Depth() == 2) break;
        if (e == XmlScanner::Event::Start) globals_.styles.Read(xml);
      }
    } else if (xml.Is(kOffice, "body")) {
      bool spreadsheet = false;
      for (e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
        if (e == XmlScanner::Event::End && xml.Depth() == 2) break;
        if (e != XmlScanner::Event::Start) continue;
        if (xml.Is(kOffice, "spreadsheet")) {
          spreadsheet = true;
          ReadSpreadsheet(xml);
        } else {
          SkipOdsElement(xml);
        }
      }
      // A text document, a drawing or a presentation.
      if (!spreadsheet) NotAWorkbook();
    } else {
      SkipOdsElement(xml);
    }
  }
}

void OdsWorkbook::ReadSpreadsheet(XmlScanner& xml) {
  const size_t depth = xml.Depth();
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e == XmlScanner::Event::End && xml.Depth() == depth) break;
    if (e != XmlScanner::Event::Start) continue;
    if (xml.Is(kTable, "null-date")) {
      // Dates are stored as ISO dates and read as such; the null date only says which date
      // system the workbook counts in. LibreOffice's default, 1899-12-30, gives Excel's 1900
      // serials from March 1900 on.
      globals_.date1904 = xml.RawAttribute(kTable, "date-value").starts_with("1904-01-01");
      continue;
    }
    if (!xml.Is(kTable, "table")) {
      if (!xml.Is(kTable, "calculation-settings")) SkipOdsElement(xml);
      continue;
    }
    if (sheets_.size() >= kMaxSheets) Damaged("there are too many sheets");
    SheetEntry entry;
    entry.name = xml.Attribute(kTable, "name");
    if (entry.name.size() > kMaxSheetNameBytes) Damaged("a sheet's name is too long");
    if (globals_.styles.TableHidden(xml.Attribute(kTable, "style-name"))) {
      entry.visibility = SheetVisibility::kHidden;
    }
    sheets_.push_back(std::move(entry));
    globals_.sheets.emplace_back();
    TableReader(xml, globals_.styles, globals_.date1904, globals_.spool, globals_.sheets.back())
        .Read();
  }
}

std::unique_ptr<SheetSource> OdsWorkbook::OpenSheet(size_t position) {
  if (position >= sheets_.size()) {
    ThrowWorkbookError(globals_.path,
                       "the workbook holds no sheet number " + std::to_string(position + 1),
                       ErrorKind::kNoSuchSheet);
  }
  const OdsSheetData& data = globals_.sheets[position];
  auto sheet = std::make_unique<OdsSheet>(globals_, data);
  for (const std::string& note : Repairs().Notes()) sheet->Repairs().Note(note);
  for (const std::string& note : data.repairs.Notes()) sheet->Repairs().Note(note);
  return sheet;
}

}  // namespace

std::string OpenDocumentMimeType(const ZipArchive& zip) {
  constexpr uint64_t kMaxMimeType = 256;
  const ZipArchive::Entry* mimetype = zip.Find("mimetype");
  return mimetype != nullptr ? zip.ReadAll(*mimetype, kMaxMimeType) : std::string();
}

std::unique_ptr<WorkbookSource> OpenOdsWorkbook(const std::string& path,
                                                std::unique_ptr<ZipArchive> zip) {
  auto workbook = std::make_unique<OdsWorkbook>(path);
  WithWorkbookErrors(path, [&] { workbook->LoadPackage(std::move(zip)); });
  return workbook;
}

std::unique_ptr<WorkbookSource> OpenFlatOdsWorkbook(const std::string& path, int fd) {
  auto workbook = std::make_unique<OdsWorkbook>(path);
  WithWorkbookErrors(path, [&] { workbook->LoadFlat(fd); });
  return workbook;
}

}  // namespace cellverter
