#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/cell_value.h"

namespace cellverter {

// The number format of a cell format (style): a built-in id, or a code of its own.
struct NumberFormatRef {
  int builtInId = 0;  // used when `code` is empty
  std::string code;   // a custom format code, such as "#,##0.00;[Red]-#,##0.00"
};

struct SheetCell {
  uint32_t column = 0;      // 1-based
  uint32_t styleIndex = 0;  // index into the workbook's cell formats
  CellValue value;          // Empty for a cell that only carries a style
};

struct SheetRow {
  uint32_t row = 0;              // 1-based
  std::vector<SheetCell> cells;  // ascending columns
};

inline constexpr size_t kMaxRepairs = 16;
inline constexpr const char* kMissingSharedStringRepair =
    "a cell referred to a shared string that does not exist; it was read as empty";
inline constexpr const char* kBareWorkbookStreamRepair =
    "the workbook records were stored without their compound file; they were read as they are";
inline constexpr const char* kSharedStringCountRepair =
    "the shared string table gave a wrong count of its strings; the strings it holds were read";
inline constexpr const char* kSharedStringCutOffRepair =
    "a shared string was cut off; the characters it holds were read";
inline constexpr const char* kTruncatedFileRepair =
    "the file is cut off; the sectors it holds were read";
inline constexpr const char* kSheetWithoutBofRepair =
    "a sheet did not start with a BOF record; its records were read from where the sheet list "
    "places it";
inline constexpr const char* kMissingCellFormatRepair =
    "a cell referred to a cell format that does not exist; it was shown as General";
inline constexpr const char* kRowsOutOfOrderRepair =
    "the sheet's rows were out of order; they were read in row order, the cells of a row given "
    "twice merged";
inline constexpr const char* kZipLocalSizesRepair =
    "a part's local zip header disagreed with the zip directory on its sizes; it was read by "
    "the directory";

// What a reader mended to read a file that its writer left slightly wrong, the way Excel and
// LibreOffice mend it (a shared string index out of range read as an empty cell, say). Each
// repair is a clause in lower case without a final period, noted once however often it is
// met; a hostile file cannot grow the list beyond kMaxRepairs entries.
class RepairLog {
 public:
  // Called per cell for some repairs: a repair already noted costs no allocation.
  void Note(std::string_view what) { NoteAt(notes_.size(), what); }
  // Notes `what` as though it had been noted when the log held `position` notes: for a
  // repair found only after later ones were noted.
  void NoteAt(size_t position, std::string_view what) {
    if (position >= kMaxRepairs || position > notes_.size()) return;
    for (const std::string& known : notes_) {
      if (known == what) return;
    }
    notes_.emplace(notes_.begin() + static_cast<ptrdiff_t>(position), what);
    if (notes_.size() > kMaxRepairs) notes_.pop_back();
  }
  const std::vector<std::string>& Notes() const { return notes_; }

 private:
  std::vector<std::string> notes_;
};

// Rows or columns `first` to `last`, 1-based and inclusive.
struct LineSpan {
  uint32_t first = 0;
  uint32_t last = 0;
  bool operator==(const LineSpan&) const = default;
};

// A block of cells, 1-based and inclusive.
struct CellArea {
  uint32_t firstRow = 0;
  uint32_t firstColumn = 0;
  uint32_t lastRow = 0;
  uint32_t lastColumn = 0;
  bool operator==(const CellArea&) const = default;
};

// Merged areas beyond this many mark a damaged file (Excel's own files stay far below).
inline constexpr size_t kMaxMergedAreas = 1 << 20;

// What a worksheet holds beside its cells' values, for the conversion options that ask for it.
struct SheetLayout {
  std::vector<LineSpan> hiddenRows;     // ascending, disjoint, adjacent spans joined
  std::vector<LineSpan> hiddenColumns;  // ascending, disjoint, adjacent spans joined
  std::vector<CellArea> mergedAreas;    // as the file lists them, each of two cells or more
  // Formula cells the file stores without a calculated value (some libraries write them so;
  // Excel calculates them on opening). They are served as cells without a value.
  uint64_t formulasWithoutValue = 0;
};

// One worksheet of an opened workbook as a forward stream of rows, plus the workbook facts
// needed to display its cells. WorkbookSource::OpenSheet gives it; the engine behind the
// automation members uses it.
class SheetSource {
 public:
  virtual ~SheetSource() = default;

  virtual bool Date1904() const = 0;

  // The number format of cell format `styleIndex`; an unknown index gives General.
  virtual NumberFormatRef CellFormat(uint32_t styleIndex) const = 0;

  // The last cell of the used range as Excel finds it (used_range_bounds.h): cells with a
  // value or a format of their own, row and column formats, notes, rows of a custom height
  // and, in .xlsx workbooks, tables. {0, 0} for an empty worksheet.
  virtual uint32_t LastRow() = 0;
  virtual uint32_t LastColumn() = 0;
  // How many cells the worksheet holds (a value or a style), as counted while loading.
  virtual uint64_t CellsHeld() = 0;
  // Hidden rows and columns, merged areas and formulas without a value: complete by the time
  // LastRow() returns.
  const SheetLayout& Layout() {
    LastRow();
    return layout_;
  }

  // The next row that holds cells, in ascending row order; false at the end. Rows without
  // cells may be skipped. Rewind() starts over from the first row.
  virtual bool NextRow(SheetRow& row) = 0;
  virtual void Rewind() = 0;

  // What the reader repaired to read this sheet, those of the workbook's globals included;
  // some repairs are met only as the rows are read, so the list is complete after the last
  // row.
  RepairLog& Repairs() { return repairs_; }
  const RepairLog& Repairs() const { return repairs_; }

 protected:
  SheetLayout layout_;  // the reader fills it as it loads the sheet

 private:
  RepairLog repairs_;
};

enum class SheetKind : uint8_t { kWorksheet, kChart, kDialog, kMacro };
enum class SheetVisibility : uint8_t { kVisible, kHidden, kVeryHidden };

// A sheet of the workbook's sheet list, as Excel shows its tabs.
struct SheetEntry {
  std::string name;
  SheetKind kind = SheetKind::kWorksheet;
  SheetVisibility visibility = SheetVisibility::kVisible;
};

// Sheet names longer than this (Excel allows 31 characters) mark a damaged file.
inline constexpr size_t kMaxSheetNameBytes = 1024;

// Bounds every reader keeps to: Excel's sheet size, and what one cell's text, one row's text
// and one workbook's sheet list may hold. Beyond them a file is damaged.
inline constexpr uint32_t kMaxSheetRows = 1048576;
inline constexpr uint32_t kMaxSheetColumns = 16384;
inline constexpr size_t kMaxCellText = 1 << 20;  // bytes; Excel holds 32,767 characters
inline constexpr size_t kMaxRowText = 64 << 20;  // bytes of text in one row, repeats counted
inline constexpr size_t kMaxSheets = 65536;

// What one file-format reader gives the engine for an opened workbook: its sheet list in
// workbook (tab) order, every kind of sheet included, and any worksheet of it as a
// SheetSource. Readers choose no sheet. Each reader (.xlsx, .xls) implements it.
class WorkbookSource {
 public:
  virtual ~WorkbookSource() = default;

  // Every sheet, in workbook order; a sheet's position is its index here.
  const std::vector<SheetEntry>& Sheets() const { return sheets_; }

  // Opens the sheet at `position` (an index into Sheets() whose kind is kWorksheet) as a row
  // stream. The workbook outlives the sheets it opened; sheets are read one at a time, on the
  // thread that opened the workbook, and opening another one may end the one before. Throws
  // Error naming the file when the sheet cannot be read.
  virtual std::unique_ptr<SheetSource> OpenSheet(size_t position) = 0;

  // What was repaired to read the workbook's globals (the sheet list, strings, formats);
  // each sheet opened starts its own list with these.
  RepairLog& Repairs() { return repairs_; }
  const RepairLog& Repairs() const { return repairs_; }

 protected:
  std::vector<SheetEntry> sheets_;

 private:
  RepairLog repairs_;
};

// The position of the first worksheet in workbook order (hidden or not), if there is one.
inline std::optional<size_t> FirstWorksheet(const WorkbookSource& workbook) {
  const std::vector<SheetEntry>& sheets = workbook.Sheets();
  for (size_t i = 0; i < sheets.size(); ++i) {
    if (sheets[i].kind == SheetKind::kWorksheet) return i;
  }
  return std::nullopt;
}

}  // namespace cellverter
