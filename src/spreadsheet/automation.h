#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/sheet_source.h"

namespace cellverter {

// The members of spreadsheet automation that a conversion uses, by their Excel names.
// CreateAutomationObject("Excel.Application") gives our own engine on this platform; a
// Windows build could put Excel itself behind the same classes without touching convert/.
// Every failure is thrown as Error with a message naming the workbook.

// SpecialCells type of the last used cell (xlCellTypeLastCell).
inline constexpr int kXlCellTypeLastCell = 11;

// The values of a sheet's Visible property (XlSheetVisibility).
inline constexpr int kXlSheetVisible = -1;
inline constexpr int kXlSheetHidden = 0;
inline constexpr int kXlSheetVeryHidden = 2;

class ExcelWorksheet;

// A cell's stored value as Range.Value gives it. A number that the cell's number format shows
// as a date or a time comes as one, in either date system of the workbook: `number` is then
// an OLE Automation date (days since 30 December 1899, the time as the fraction; never
// negative), and the type says what the format shows of it. A number no date stands for
// (before the first day, 29 February 1900, after 9999) stays a number.
struct ExcelValue {
  enum class Type : uint8_t { kEmpty, kNumber, kDate, kTime, kDateTime, kString, kBoolean, kError };
  Type type = Type::kEmpty;
  double number = 0;  // kNumber and the dates: the value; kBoolean: 0 or 1
  std::string text;   // kString: the text (UTF-8); kError: its code, such as "#N/A"
};

// A range of cells, as a temporary reference: valid while its worksheet is.
class ExcelRange {
 public:
  ExcelRange(ExcelWorksheet& sheet, uint32_t row, uint32_t column)
      : ExcelRange(sheet, row, column, row, column) {}
  ExcelRange(ExcelWorksheet& sheet, uint32_t row, uint32_t column, uint32_t lastRow,
             uint32_t lastColumn)
      : sheet_(&sheet), row_(row), column_(column), lastRow_(lastRow), lastColumn_(lastColumn) {}

  // The row and column of the range's first cell, 1-based.
  int Row() const { return static_cast<int>(row_); }
  int Column() const { return static_cast<int>(column_); }
  // kXlCellTypeLastCell: the last used cell of the worksheet (A1 for an empty one).
  ExcelRange SpecialCells(int type) const;
  // The displayed text of the range's first cell: its value in its number format, as shown
  // in a column wide enough; empty for an empty cell.
  std::string Text() const;
  // The same into `text`, so that a reader of many cells keeps one buffer from cell to cell.
  void Text(std::string& text) const;
  // The stored value of the range's first cell.
  ExcelValue Value() const;
  // Rows.Count and Columns.Count.
  int RowCount() const { return static_cast<int>(lastRow_ - row_ + 1); }
  int ColumnCount() const { return static_cast<int>(lastColumn_ - column_ + 1); }
  // For whole rows (Rows(n)) or whole columns (Columns(n)): whether all of them are hidden.
  // Throws Error for any other range, as Excel does.
  bool Hidden() const;
  // The merged area that holds the range's first cell, or that cell alone.
  ExcelRange MergeArea() const;
  // Whether any cell of the range lies in a merged area (Excel gives Null, not true, for a
  // range only partly merged; here that is true as well).
  bool MergeCells() const;

 private:
  friend class ExcelWorksheetFunction;
  ExcelWorksheet* sheet_;
  uint32_t row_;
  uint32_t column_;
  uint32_t lastRow_;
  uint32_t lastColumn_;
};

class ExcelWorksheet {
 public:
  virtual ~ExcelWorksheet() = default;
  // The name on the sheet's tab.
  virtual std::string Name() const = 0;
  // kXlSheetVisible, kXlSheetHidden or kXlSheetVeryHidden.
  virtual int Visible() const = 0;
  // The used area. Its first cell is A1 here: only the last cell of it is ever needed.
  virtual ExcelRange UsedRange() = 0;
  // One cell, 1-based; rows up to 1,048,576, columns up to 16,384.
  virtual ExcelRange Cells(int row, int column) = 0;
  // Row `row` and column `column` as whole lines, 1-based.
  ExcelRange Rows(int row);
  ExcelRange Columns(int column);
  // The block from one cell to another (both of this worksheet).
  ExcelRange Range(const ExcelRange& first, const ExcelRange& last) {
    return ExcelRange(*this, static_cast<uint32_t>(first.Row()),
                      static_cast<uint32_t>(first.Column()), static_cast<uint32_t>(last.Row()),
                      static_cast<uint32_t>(last.Column()));
  }
  // Not an Excel member: how many cells the worksheet holds, with a value or only a style,
  // which tells a used range blown up by one far cell from a full one. The engine's readers
  // count them as they load; this default counts the values through the Excel members
  // (COUNTA over the used range), which reads the whole sheet.
  virtual uint64_t CellsHeld();
  // Not an Excel member (Excel calculates such cells when it opens the file): how many formula
  // cells the file stores without a calculated value; they read as empty cells.
  virtual uint64_t FormulasWithoutValue() { return 0; }
  // Not an Excel member: Cells(row, columns[i]).Text into texts[i], for every i (`texts` holds
  // as many strings as `columns` has columns). This default asks cell by cell; the engine
  // finds the row once and walks its cells along the columns.
  virtual void RowTexts(int row, std::span<const int> columns, std::span<std::string> texts);

 protected:
  friend class ExcelRange;
  friend class ExcelWorksheetFunction;
  // The number of cells of the block that hold a value (not those with only a style).
  virtual uint64_t CountValues(uint32_t row, uint32_t column, uint32_t lastRow,
                               uint32_t lastColumn) = 0;
  virtual ExcelRange LastCell() = 0;
  // Sequential reading (row by row, columns ascending) costs constant time per cell.
  virtual void AppendText(uint32_t row, uint32_t column, std::string& out) = 0;
  virtual ExcelValue ValueAt(uint32_t row, uint32_t column) = 0;
  // Whether every row (columns: false) or column of first..last is hidden.
  virtual bool LinesHidden(bool rows, uint32_t first, uint32_t last) = 0;
  // The merged area that holds the cell, if any.
  virtual std::optional<CellArea> MergedAreaAt(uint32_t row, uint32_t column) = 0;
  virtual bool AnyMerged(uint32_t row, uint32_t column, uint32_t lastRow, uint32_t lastColumn) = 0;
};

// Application.WorksheetFunction: the worksheet functions a conversion uses.
class ExcelWorksheetFunction {
 public:
  // COUNTA: the cells of the range that are not empty. A row where it is 0 shows only empty
  // texts, which lets a conversion write such a row without asking for each cell.
  uint64_t CountA(const ExcelRange& range) const {
    if (range.lastRow_ < range.row_ || range.lastColumn_ < range.column_) return 0;
    return range.sheet_->CountValues(range.row_, range.column_, range.lastRow_, range.lastColumn_);
  }
};

// Workbook.Worksheets: the worksheets of a workbook in its order, hidden ones too (chart and
// dialog sheets are not worksheets). A worksheet's reference stays valid while its workbook
// is open; reading cells of one worksheet after another reads its rows anew.
class ExcelWorksheets {
 public:
  virtual ~ExcelWorksheets() = default;
  virtual int Count() const = 0;
  // 1-based. Throws Error (ErrorKind::kNoSuchSheet) naming the workbook when there is no
  // such worksheet.
  virtual ExcelWorksheet& Item(int index) = 0;
  // By name as Excel finds it: the exact name, else the one equal but for case (compared as
  // Unicode case folding does). Throws Error (ErrorKind::kNoSuchSheet) naming the workbook
  // and the name when there is none.
  virtual ExcelWorksheet& Item(std::string_view name) = 0;
};

class ExcelWorkbook {
 public:
  virtual ~ExcelWorkbook() = default;
  virtual ExcelWorksheets& Worksheets() = 0;
  // Worksheets(1): the first worksheet in the workbook's order, hidden or not.
  ExcelWorksheet& Worksheets(int index) { return Worksheets().Item(index); }
  ExcelWorksheet& Worksheets(std::string_view name) { return Worksheets().Item(name); }
  // Workbook.Sheets: every sheet in the workbook's order with its name, type (worksheet,
  // chart, dialog or macro sheet) and visibility.
  virtual const std::vector<SheetEntry>& Sheets() const = 0;
  // Not an Excel member (Excel tells its repairs in a box when it opens the file): what was
  // mended to read a workbook its writer left slightly wrong, each a clause such as "a cell
  // referred to a shared string that does not exist; it was read as empty": those of the
  // workbook and of every worksheet read so far. Complete once their last rows were read.
  virtual std::vector<std::string> Repairs() const { return {}; }
};

class ExcelWorkbooks {
 public:
  virtual ~ExcelWorkbooks() = default;
  // Opens a workbook by its content (.xlsx, .xlsm, .xls). Only read-only opening is offered;
  // links are never updated. An encrypted workbook opens with Excel's default password, else
  // with `password` (Excel's Password argument of Open) when it is not empty.
  virtual ExcelWorkbook& Open(const std::string& fileName, bool updateLinks, bool readOnly,
                              const std::string& password) = 0;
  ExcelWorkbook& Open(const std::string& fileName, bool updateLinks, bool readOnly) {
    return Open(fileName, updateLinks, readOnly, std::string());
  }
};

class ExcelApplication {
 public:
  virtual ~ExcelApplication() = default;
  virtual void DisplayAlerts(bool value) = 0;
  virtual void Visible(bool value) = 0;
  virtual ExcelWorkbooks& Workbooks() = 0;
  ExcelWorksheetFunction WorksheetFunction() const { return {}; }
  // Ends the instance: every workbook is let go without saving. Never fails; later calls of
  // other members throw.
  virtual void Quit() noexcept = 0;
};

// The application of a programmatic identifier; "Excel.Application" is the only one known.
std::unique_ptr<ExcelApplication> CreateAutomationObject(std::string_view progId);

}  // namespace cellverter
