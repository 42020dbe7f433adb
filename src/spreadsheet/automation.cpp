#include "spreadsheet/automation.h"

#include <unicode/stringoptions.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <queue>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/error.h"
#include "spreadsheet/first_worksheet.h"
#include "spreadsheet/numfmt/number_format.h"
#include "spreadsheet/rows_ahead.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/workbook_source.h"

namespace cellverter {
namespace {

constexpr uint32_t kMaxRows = 1048576;
constexpr uint32_t kMaxColumns = 16384;
// A sheet holding this many cells has its rows read and rendered ahead on a second core; for
// fewer, starting a thread costs more than it saves.
constexpr uint64_t kCellsReadAhead = 20000;

class EngineWorkbook;

// The merged areas of a worksheet by cell, for a reading that goes down the rows: the areas
// over the current row are kept by their first column, each entering and leaving once, so a
// pass costs O(areas log areas) whatever their shape. Overlapping areas (which Excel refuses)
// keep the first one listed.
class MergeIndex {
 public:
  explicit MergeIndex(std::vector<CellArea> areas) : byFirstRow_(std::move(areas)) {
    std::stable_sort(byFirstRow_.begin(), byFirstRow_.end(),
                     [](const CellArea& a, const CellArea& b) { return a.firstRow < b.firstRow; });
  }

  std::optional<CellArea> Find(uint32_t row, uint32_t column) {
    MoveTo(row);
    auto after = active_.upper_bound(column);
    if (after == active_.begin()) return std::nullopt;
    const CellArea& area = std::prev(after)->second;
    if (area.lastColumn < column) return std::nullopt;
    return area;
  }

  bool Any(uint32_t row, uint32_t column, uint32_t lastRow, uint32_t lastColumn) const {
    return std::any_of(byFirstRow_.begin(), byFirstRow_.end(), [&](const CellArea& a) {
      return a.firstRow <= lastRow && a.lastRow >= row && a.firstColumn <= lastColumn &&
             a.lastColumn >= column;
    });
  }

  // Whether an area covers any cell of `row`.
  bool AnyOnRow(uint32_t row) {
    MoveTo(row);
    return !active_.empty();
  }

 private:
  void MoveTo(uint32_t row) {
    if (row == row_) return;
    if (row < row_) {
      active_.clear();
      ends_ = {};
      next_ = 0;
    }
    row_ = row;
    while (!ends_.empty() && ends_.top().first < row) {
      active_.erase(ends_.top().second);
      ends_.pop();
    }
    for (; next_ < byFirstRow_.size() && byFirstRow_[next_].firstRow <= row; ++next_) {
      const CellArea& area = byFirstRow_[next_];
      if (area.lastRow < row || Overlaps(area)) continue;
      active_.emplace(area.firstColumn, area);
      ends_.emplace(area.lastRow, area.firstColumn);
    }
  }

  bool Overlaps(const CellArea& area) const {
    auto after = active_.upper_bound(area.lastColumn);
    return after != active_.begin() && std::prev(after)->second.lastColumn >= area.firstColumn;
  }

  std::vector<CellArea> byFirstRow_;
  size_t next_ = 0;
  uint32_t row_ = 0;
  std::map<uint32_t, CellArea> active_;  // by first column
  std::priority_queue<std::pair<uint32_t, uint32_t>, std::vector<std::pair<uint32_t, uint32_t>>,
                      std::greater<>>
      ends_;  // (last row, first column) of the active areas
};

// An OLE Automation date for a serial day of either date system, if a date stands for it.
std::optional<double> AutomationDate(double serial, bool date1904) {
  constexpr double kDaysFrom1899To1904 = 1462;
  constexpr double kFirstSerialOf10000 = 2958466;  // 1 January 10000 in the 1900 system
  if (!(serial >= 0)) return std::nullopt;
  if (date1904) {
    if (serial + kDaysFrom1899To1904 >= kFirstSerialOf10000) return std::nullopt;
    return serial + kDaysFrom1899To1904;
  }
  if (serial >= kFirstSerialOf10000) return std::nullopt;
  const double day = std::floor(serial);
  if (day == 60) return std::nullopt;           // 29 February 1900, a day that never was
  if (day >= 1 && day < 60) return serial + 1;  // before it, the serials count one day short
  return serial;
}

// A worksheet of an opened workbook, served from its reader's forward row stream, which is
// opened when a cell is first asked for. A cursor keeps the current row; asking for a later
// row reads on, an earlier one rewinds. Only one worksheet of a workbook has its stream open
// at a time (the readers read one sheet at a time); the workbook closes the one before.
class EngineWorksheet final : public ExcelWorksheet {
 public:
  EngineWorksheet(EngineWorkbook& book, size_t position, const SheetEntry& entry)
      : book_(book), position_(position), entry_(entry), formats_(FormatLocale::User()) {}

  std::string Name() const override { return entry_.name; }
  int Visible() const override {
    switch (entry_.visibility) {
      case SheetVisibility::kVisible:
        return kXlSheetVisible;
      case SheetVisibility::kHidden:
        return kXlSheetHidden;
      case SheetVisibility::kVeryHidden:
        return kXlSheetVeryHidden;
    }
    return kXlSheetVisible;
  }

  ExcelRange UsedRange() override { return ExcelRange(*this, 1, 1); }

  uint64_t CellsHeld() override { return Source().CellsHeld(); }
  uint64_t FormulasWithoutValue() override { return Source().Layout().formulasWithoutValue; }

  ExcelRange Cells(int row, int column) override;

  // Lets the stream go (another worksheet is about to be read), keeping what it repaired; the
  // cursor starts afresh, so a reopened stream needs nothing more.
  void Close(RepairLog& repairs) {
    if (!source_) return;
    ahead_.reset();
    for (const std::string& note : source_->Repairs().Notes()) repairs.Note(note);
    source_.reset();
    haveCurrent_ = false;
    exhausted_ = false;
    asked_ = 0;
    cursor_ = 0;
    merges_.reset();
  }
  // The open stream, with no row being read ahead from it meanwhile.
  const SheetSource* OpenSource() {
    if (ahead_) ahead_->Pause();
    return source_.get();
  }

 protected:
  ExcelRange LastCell() override {
    SheetSource& source = Source();
    return ExcelRange(*this, std::max<uint32_t>(source.LastRow(), 1),
                      std::max<uint32_t>(source.LastColumn(), 1));
  }

  void AppendText(uint32_t row, uint32_t column, std::string& out) override {
    const SheetRow* found = FindRow(row);
    if (found != nullptr) AppendTextOf(*found, column, out);
  }

  void RowTexts(int row, std::span<const int> columns, std::span<std::string> texts) override {
    for (const int column : columns) CheckCell(row, column);
    const SheetRow* found = FindRow(static_cast<uint32_t>(row));
    for (size_t i = 0; i < columns.size(); ++i) {
      texts[i].clear();
      if (found != nullptr) AppendTextOf(*found, static_cast<uint32_t>(columns[i]), texts[i]);
    }
  }

  ExcelValue ValueAt(uint32_t row, uint32_t column) override {
    using Type = ExcelValue::Type;
    if (ahead_) ahead_->TextsNotWanted();
    const SheetCell* cell = FindCell(row, column);
    if (cell == nullptr) return {};
    const CellValue& value = cell->value;
    switch (value.kind) {
      case CellValue::Kind::Empty:
        return {};
      case CellValue::Kind::String:
        return {Type::kString, 0, value.text};
      case CellValue::Kind::Boolean:
        return {Type::kBoolean, value.number, {}};
      case CellValue::Kind::Error:
        return {Type::kError, 0, value.text};
      case CellValue::Kind::Number:
        break;
    }
    using Meaning = NumberFormat::Meaning;
    const Meaning meaning = formats_.Of(*source_, cell->styleIndex).MeaningOf(value.number);
    if (meaning == Meaning::kNumber) return {Type::kNumber, value.number, {}};
    const std::optional<double> date = AutomationDate(value.number, date1904_);
    if (!date) return {Type::kNumber, value.number, {}};
    // Day 0 of the 1900 system ("0 January 1900") is no date: only its time stands.
    if (!date1904_ && value.number < 1) return {Type::kTime, *date, {}};
    switch (meaning) {
      case Meaning::kDate:
        return {Type::kDate, *date, {}};
      case Meaning::kTime:
        return {Type::kTime, *date, {}};
      default:
        return {Type::kDateTime, *date, {}};
    }
  }

  bool LinesHidden(bool rows, uint32_t first, uint32_t last) override {
    const std::vector<LineSpan>& hidden =
        rows ? Source().Layout().hiddenRows : Source().Layout().hiddenColumns;
    // The span that could hold `first` is the last one starting at or before it.
    auto after =
        std::upper_bound(hidden.begin(), hidden.end(), first,
                         [](uint32_t line, const LineSpan& span) { return line < span.first; });
    return after != hidden.begin() && std::prev(after)->last >= last;
  }

  std::optional<CellArea> MergedAreaAt(uint32_t row, uint32_t column) override {
    return Merges().Find(row, column);
  }

  bool AnyMerged(uint32_t row, uint32_t column, uint32_t lastRow, uint32_t lastColumn) override {
    MergeIndex& merges = Merges();
    if (row == lastRow && column == 1 && lastColumn >= kMaxColumns) return merges.AnyOnRow(row);
    return merges.Any(row, column, lastRow, lastColumn);
  }

  uint64_t CountValues(uint32_t row, uint32_t column, uint32_t lastRow,
                       uint32_t lastColumn) override {
    uint64_t count = 0;
    for (uint32_t r = row; r <= lastRow && r <= kMaxRows; ++r) {
      const SheetRow* found = FindRow(r);
      if (found == nullptr) {
        // Jump over rows the sheet does not hold.
        if (!haveCurrent_) break;
        if (current_->row > r) r = std::min(current_->row, lastRow + 1) - 1;
        continue;
      }
      // A row rendered ahead counted its values; it serves when its cells all lie in range.
      const RowsAhead::Rendered* rendered = ahead_ ? ahead_->RenderedRow() : nullptr;
      if (rendered != nullptr &&
          (rendered->cells == 0 || (rendered->columns[0] >= column &&
                                    rendered->columns[rendered->cells - 1] <= lastColumn))) {
        count += rendered->values;
        continue;
      }
      for (const SheetCell& cell : found->cells) {
        if (cell.column >= column && cell.column <= lastColumn &&
            cell.value.kind != CellValue::Kind::Empty) {
          ++count;
        }
      }
    }
    return count;
  }

 private:
  SheetSource& Source() {
    if (!source_) Open();
    return *source_;
  }
  void Open();
  // Throws when Cells(row, column) lies outside the worksheet.
  void CheckCell(int row, int column) const {
    if (row < 1 || column < 1 || static_cast<uint32_t>(row) > kMaxRows ||
        static_cast<uint32_t>(column) > kMaxColumns) [[unlikely]] {
      OutsideTheWorksheet(row, column);
    }
  }
  [[noreturn, gnu::cold]] void OutsideTheWorksheet(int row, int column) const;

  // Cells of the row under the cursor are asked for most: that path stays inline.
  [[gnu::always_inline]] const SheetRow* FindRow(uint32_t row) {
    if (haveCurrent_ && current_->row == row && row >= asked_) {
      asked_ = row;
      return current_;
    }
    return ReadToRow(row);
  }

  const SheetRow* ReadToRow(uint32_t row) {
    SheetSource& source = Source();
    if (row < asked_) {
      ahead_.reset();
      source.Rewind();
      haveCurrent_ = false;
      exhausted_ = false;
    }
    asked_ = row;
    while (!haveCurrent_ || current_->row < row) {
      if (exhausted_) return nullptr;
      if (!NextSourceRow(source)) {
        exhausted_ = true;
        haveCurrent_ = false;
        return nullptr;
      }
      haveCurrent_ = true;
      cursor_ = 0;
    }
    return current_->row == row ? current_ : nullptr;
  }

  // The source's next row as `current_`, read ahead when the sheet is large (the stream is
  // then the other thread's until it is paused or rewound).
  bool NextSourceRow(SheetSource& source) {
    if (!ahead_ && readAhead_) ahead_.emplace(source, formats_.Locale());
    if (ahead_) {
      const SheetRow* row = ahead_->Next();
      if (row == nullptr) return false;
      current_ = row;
      return true;
    }
    if (!source.NextRow(read_)) return false;
    current_ = &read_;
    return true;
  }

  static constexpr size_t kNoCell = ~size_t{0};

  // Of `count` cells in ascending columns, `columnAt(i)` giving each one's, the one at `column`
  // or kNoCell. The cursor makes a row read left to right cost one step per cell. Inlined into
  // AppendText, the path of every cell; ValueAt would otherwise have it outlined.
  template <class ColumnAt>
  [[gnu::always_inline]] size_t FindColumn(size_t count, ColumnAt columnAt, uint32_t column) {
    if (cursor_ > 0 && (cursor_ > count || columnAt(cursor_ - 1) >= column)) {
      // Back to the first cell at or after `column`, by halves (the fuzzing build's clang
      // cannot compile the standard library's ranges for this).
      size_t low = 0;
      for (size_t size = count; size > 0;) {
        const size_t half = size / 2;
        if (columnAt(low + half) < column) {
          low += half + 1;
          size -= half + 1;
        } else {
          size = half;
        }
      }
      cursor_ = low;
    }
    while (cursor_ < count && columnAt(cursor_) < column) ++cursor_;
    if (cursor_ < count && columnAt(cursor_) == column) return cursor_++;
    return kNoCell;
  }

  [[gnu::always_inline]] const SheetCell* FindCellOf(const SheetRow& found, uint32_t column) {
    const std::vector<SheetCell>& cells = found.cells;
    const size_t i = FindColumn(
        cells.size(), [&cells](size_t at) { return cells[at].column; }, column);
    return i == kNoCell ? nullptr : &cells[i];
  }

  // The text of the cell at `column` of `found`, the row under the cursor.
  [[gnu::always_inline]] void AppendTextOf(const SheetRow& found, uint32_t column,
                                           std::string& out) {
    if (const RowsAhead::Rendered* rendered = ahead_ ? ahead_->RenderedRow() : nullptr) {
      // An empty cell was rendered as nothing.
      const size_t i = FindColumn(
          rendered->cells, [rendered](size_t at) { return rendered->columns[at]; }, column);
      if (i != kNoCell) out += rendered->Text(i);
      return;
    }
    const SheetCell* cell = FindCellOf(found, column);
    if (cell != nullptr) formats_.AppendText(*source_, *cell, date1904_, out);
  }

  [[gnu::always_inline]] const SheetCell* FindCell(uint32_t row, uint32_t column) {
    const SheetRow* found = FindRow(row);
    return found == nullptr ? nullptr : FindCellOf(*found, column);
  }

  MergeIndex& Merges() {
    if (!merges_) merges_.emplace(Source().Layout().mergedAreas);
    return *merges_;
  }

  EngineWorkbook& book_;
  size_t position_;  // in the workbook's sheet list
  SheetEntry entry_;
  std::unique_ptr<SheetSource> source_;
  bool date1904_ = false;  // the source's, asked once
  StyleFormats formats_;
  bool readAhead_ = false;  // whether rows are read ahead, decided at opening
  // Declared after `source_`, so that its thread ends before the source goes.
  std::optional<RowsAhead> ahead_;
  // The row under the cursor, while haveCurrent_: one of `ahead_`'s, or `read_`.
  const SheetRow* current_ = nullptr;
  SheetRow read_;  // the row read here when rows are not read ahead
  bool haveCurrent_ = false;
  bool exhausted_ = false;
  uint32_t asked_ = 0;
  size_t cursor_ = 0;
  std::optional<MergeIndex> merges_;
};

// Excel finds a sheet by a name that differs only in case, as Unicode case folding compares.
bool SameNameButForCase(std::string_view a, std::string_view b) {
  const icu::UnicodeString left =
      icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())));
  const icu::UnicodeString right =
      icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), static_cast<int32_t>(b.size())));
  return left.caseCompare(right, U_FOLD_CASE_DEFAULT) == 0;
}

class EngineWorkbook final : public ExcelWorkbook, private ExcelWorksheets {
 public:
  EngineWorkbook(const std::string& fileName, const std::string& password)
      : fileName_(fileName), source_(OpenWorkbook(fileName, password)) {
    const std::vector<SheetEntry>& sheets = source_->Sheets();
    for (size_t i = 0; i < sheets.size(); ++i) {
      if (sheets[i].kind == SheetKind::kWorksheet) {
        worksheets_.push_back(std::make_unique<EngineWorksheet>(*this, i, sheets[i]));
      }
    }
  }

  ExcelWorksheets& Worksheets() override { return *this; }
  const std::vector<SheetEntry>& Sheets() const override { return source_->Sheets(); }

  std::vector<std::string> Repairs() const override {
    RepairLog all = source_->Repairs();
    for (const std::string& note : closedRepairs_.Notes()) all.Note(note);
    if (active_ != nullptr && active_->OpenSource() != nullptr) {
      for (const std::string& note : active_->OpenSource()->Repairs().Notes()) all.Note(note);
    }
    return all.Notes();
  }

  // The reader's stream of the sheet at `position`, for `sheet`; the worksheet read before
  // lets its own go.
  std::unique_ptr<SheetSource> OpenSheet(EngineWorksheet& sheet, size_t position) {
    if (active_ != nullptr && active_ != &sheet) active_->Close(closedRepairs_);
    active_ = &sheet;
    return source_->OpenSheet(position);
  }

  const std::string& FileName() const { return fileName_; }

 private:
  int Count() const override { return static_cast<int>(worksheets_.size()); }

  ExcelWorksheet& Item(int index) override {
    if (worksheets_.empty()) {
      ThrowWorkbookError(fileName_, kNoWorksheetCause, ErrorKind::kNoSuchSheet);
    }
    if (index < 1 || static_cast<size_t>(index) > worksheets_.size()) {
      ThrowWorkbookError(fileName_,
                         "it has no worksheet " + std::to_string(index) + " (it has " +
                             std::to_string(worksheets_.size()) +
                             (worksheets_.size() == 1 ? " worksheet)" : " worksheets)"),
                         ErrorKind::kNoSuchSheet);
    }
    return *worksheets_[static_cast<size_t>(index - 1)];
  }

  ExcelWorksheet& Item(std::string_view name) override {
    for (const auto& sheet : worksheets_) {
      if (sheet->Name() == name) return *sheet;
    }
    for (const auto& sheet : worksheets_) {
      if (SameNameButForCase(sheet->Name(), name)) return *sheet;
    }
    ThrowWorkbookError(fileName_, "it has no worksheet named \"" + std::string(name) + "\"",
                       ErrorKind::kNoSuchSheet);
  }

  std::string fileName_;
  std::unique_ptr<WorkbookSource> source_;
  std::vector<std::unique_ptr<EngineWorksheet>> worksheets_;
  EngineWorksheet* active_ = nullptr;
  RepairLog closedRepairs_;
};

ExcelRange EngineWorksheet::Cells(int row, int column) {
  CheckCell(row, column);
  return ExcelRange(*this, static_cast<uint32_t>(row), static_cast<uint32_t>(column));
}

void EngineWorksheet::OutsideTheWorksheet(int row, int column) const {
  throw Error("Cells(" + std::to_string(row) + ", " + std::to_string(column) +
              ") lies outside the worksheet of \"" + book_.FileName() + "\".");
}

void EngineWorksheet::Open() {
  source_ = book_.OpenSheet(*this, position_);
  date1904_ = source_->Date1904();
  readAhead_ = source_->CellsHeld() >= kCellsReadAhead && std::thread::hardware_concurrency() > 1;
}

class EngineApplication final : public ExcelApplication, private ExcelWorkbooks {
 public:
  void DisplayAlerts(bool value) override {
    Alive();
    displayAlerts_ = value;
  }
  void Visible(bool value) override {
    Alive();
    visible_ = value;
  }
  ExcelWorkbooks& Workbooks() override {
    Alive();
    return *this;
  }
  void Quit() noexcept override {
    open_.clear();
    quit_ = true;
  }

 private:
  ExcelWorkbook& Open(const std::string& fileName, bool, bool,
                      const std::string& password) override {
    Alive();
    open_.push_back(std::make_unique<EngineWorkbook>(fileName, password));
    return *open_.back();
  }

  void Alive() const {
    if (quit_) throw Error("The spreadsheet application has already quit.");
  }

  bool displayAlerts_ = true;
  bool visible_ = true;
  bool quit_ = false;
  std::vector<std::unique_ptr<EngineWorkbook>> open_;
};

}  // namespace

ExcelRange ExcelRange::SpecialCells(int type) const {
  if (type != kXlCellTypeLastCell) {
    throw Error("SpecialCells(" + std::to_string(type) + ") is not supported.");
  }
  return sheet_->LastCell();
}

ExcelValue ExcelRange::Value() const { return sheet_->ValueAt(row_, column_); }

bool ExcelRange::Hidden() const {
  if (column_ == 1 && lastColumn_ == kMaxColumns) return sheet_->LinesHidden(true, row_, lastRow_);
  if (row_ == 1 && lastRow_ == kMaxRows) return sheet_->LinesHidden(false, column_, lastColumn_);
  throw Error("Hidden is known only of whole rows or whole columns.");
}

ExcelRange ExcelRange::MergeArea() const {
  const std::optional<CellArea> area = sheet_->MergedAreaAt(row_, column_);
  if (!area) return ExcelRange(*sheet_, row_, column_);
  return ExcelRange(*sheet_, area->firstRow, area->firstColumn, area->lastRow, area->lastColumn);
}

bool ExcelRange::MergeCells() const {
  return sheet_->AnyMerged(row_, column_, lastRow_, lastColumn_);
}

ExcelRange ExcelWorksheet::Rows(int row) {
  const auto line = static_cast<uint32_t>(Cells(row, 1).Row());
  return ExcelRange(*this, line, 1, line, kMaxColumns);
}

ExcelRange ExcelWorksheet::Columns(int column) {
  const auto line = static_cast<uint32_t>(Cells(1, column).Column());
  return ExcelRange(*this, 1, line, kMaxRows, line);
}

void ExcelWorksheet::RowTexts(int row, std::span<const int> columns, std::span<std::string> texts) {
  for (size_t i = 0; i < columns.size(); ++i) Cells(row, columns[i]).Text(texts[i]);
}

uint64_t ExcelWorksheet::CellsHeld() {
  const ExcelRange last = UsedRange().SpecialCells(kXlCellTypeLastCell);
  return ExcelWorksheetFunction().CountA(Range(Cells(1, 1), last));
}

std::string ExcelRange::Text() const {
  std::string text;
  Text(text);
  return text;
}

void ExcelRange::Text(std::string& text) const {
  text.clear();
  sheet_->AppendText(row_, column_, text);
}

std::unique_ptr<ExcelApplication> CreateAutomationObject(std::string_view progId) {
  if (progId != "Excel.Application") {
    throw Error("Cannot create the automation object \"" + std::string(progId) +
                "\": no such application is known.");
  }
  return std::make_unique<EngineApplication>();
}

}  // namespace cellverter
