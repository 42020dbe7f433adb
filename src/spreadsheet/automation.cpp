#include "spreadsheet/automation.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "platform/error.h"
#include "spreadsheet/number_format.h"
#include "spreadsheet/workbook_source.h"

namespace cellverter {
namespace {

constexpr uint32_t kMaxRows = 1048576;
constexpr uint32_t kMaxColumns = 16384;
constexpr uint32_t kCachedStyles = 1 << 16;

// The first worksheet of an opened workbook, served from its reader's forward row stream.
// A cursor keeps the current row; asking for a later row reads on, an earlier one rewinds.
class EngineWorksheet final : public ExcelWorksheet {
 public:
  EngineWorksheet(SheetSource& source, std::string fileName)
      : source_(source), fileName_(std::move(fileName)), formats_(FormatLocale::User()) {}

  ExcelRange UsedRange() override { return ExcelRange(*this, 1, 1); }

  uint64_t CellsHeld() override { return source_.CellsHeld(); }

  ExcelRange Cells(int row, int column) override {
    if (row < 1 || column < 1 || static_cast<uint32_t>(row) > kMaxRows ||
        static_cast<uint32_t>(column) > kMaxColumns) {
      throw Error("Cells(" + std::to_string(row) + ", " + std::to_string(column) +
                  ") lies outside the worksheet of \"" + fileName_ + "\".");
    }
    return ExcelRange(*this, static_cast<uint32_t>(row), static_cast<uint32_t>(column));
  }

 protected:
  ExcelRange LastCell() override {
    return ExcelRange(*this, std::max<uint32_t>(source_.LastRow(), 1),
                      std::max<uint32_t>(source_.LastColumn(), 1));
  }

  void AppendText(uint32_t row, uint32_t column, std::string& out) override {
    const SheetCell* cell = FindCell(row, column);
    if (cell == nullptr || cell->value.kind == CellValue::Kind::Empty) return;
    FormatOf(cell->styleIndex).Render(cell->value, source_.Date1904(), out);
  }

  uint64_t CountValues(uint32_t row, uint32_t column, uint32_t lastRow,
                       uint32_t lastColumn) override {
    uint64_t count = 0;
    for (uint32_t r = row; r <= lastRow && r <= kMaxRows; ++r) {
      const SheetRow* found = FindRow(r);
      if (found == nullptr) {
        // Jump over rows the sheet does not hold.
        if (!haveCurrent_) break;
        if (current_.row > r) r = std::min(current_.row, lastRow + 1) - 1;
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
  const SheetRow* FindRow(uint32_t row) {
    if (row < asked_) {
      source_.Rewind();
      haveCurrent_ = false;
      exhausted_ = false;
    }
    asked_ = row;
    while (!haveCurrent_ || current_.row < row) {
      if (exhausted_) return nullptr;
      if (!source_.NextRow(current_)) {
        exhausted_ = true;
        haveCurrent_ = false;
        return nullptr;
      }
      haveCurrent_ = true;
      cursor_ = 0;
    }
    return current_.row == row ? &current_ : nullptr;
  }

  const SheetCell* FindCell(uint32_t row, uint32_t column) {
    const SheetRow* found = FindRow(row);
    if (found == nullptr) return nullptr;
    const std::vector<SheetCell>& cells = found->cells;
    if (cursor_ > 0 && (cursor_ > cells.size() || cells[cursor_ - 1].column >= column)) {
      cursor_ = static_cast<size_t>(
          std::lower_bound(cells.begin(), cells.end(), column,
                           [](const SheetCell& c, uint32_t col) { return c.column < col; }) -
          cells.begin());
    }
    while (cursor_ < cells.size() && cells[cursor_].column < column) ++cursor_;
    if (cursor_ < cells.size() && cells[cursor_].column == column) return &cells[cursor_++];
    return nullptr;
  }

  const NumberFormat& FormatOf(uint32_t style) {
    if (style >= kCachedStyles) return formats_.Get(source_.CellFormat(style));
    if (style >= byStyle_.size()) byStyle_.resize(style + 1, nullptr);
    const NumberFormat*& slot = byStyle_[style];
    if (slot == nullptr) slot = &formats_.Get(source_.CellFormat(style));
    return *slot;
  }

  SheetSource& source_;
  std::string fileName_;
  NumberFormatCache formats_;
  std::vector<const NumberFormat*> byStyle_;
  SheetRow current_;
  bool haveCurrent_ = false;
  bool exhausted_ = false;
  uint32_t asked_ = 0;
  size_t cursor_ = 0;
};

class EngineWorkbook final : public ExcelWorkbook {
 public:
  EngineWorkbook(const std::string& fileName, const std::string& password)
      : fileName_(fileName),
        source_(OpenWorkbookSource(fileName, password)),
        sheet_(*source_, fileName) {}

  ExcelWorksheet& Worksheets(int index) override {
    if (index != 1) {
      throw Error("Cannot read worksheet " + std::to_string(index) + " of \"" + fileName_ +
                  "\": only the first worksheet is read.");
    }
    return sheet_;
  }
  std::vector<std::string> Repairs() const override { return source_->Repairs().Notes(); }

 private:
  std::string fileName_;
  std::unique_ptr<SheetSource> source_;
  EngineWorksheet sheet_;
};

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

uint64_t ExcelWorksheet::CellsHeld() {
  const ExcelRange last = UsedRange().SpecialCells(kXlCellTypeLastCell);
  return ExcelWorksheetFunction().CountA(Range(Cells(1, 1), last));
}

std::string ExcelRange::Text() const {
  std::string text;
  sheet_->AppendText(row_, column_, text);
  return text;
}

std::unique_ptr<ExcelApplication> CreateAutomationObject(std::string_view progId) {
  if (progId != "Excel.Application") {
    throw Error("Cannot create the automation object \"" + std::string(progId) +
                "\": no such application is known.");
  }
  return std::make_unique<EngineApplication>();
}

}  // namespace cellverter
