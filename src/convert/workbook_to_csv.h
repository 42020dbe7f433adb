#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/csv_encoding.h"
#include "convert/csv_record.h"
#include "platform/error.h"
#include "platform/pending_file.h"

namespace cellverter {

class CsvFileWriter;

// What each field holds: the text the spreadsheet displays, or the value it stores (numbers
// with the shortest digits that read back the same, dates and times in ISO 8601).
enum class CellValues : uint8_t { kDisplayed, kRaw };

// The words that name an option's values in the command-line tool and the Python module,
// the default first.
template <typename Value>
struct OptionWord {
  std::string_view word;
  Value value;
};
inline constexpr std::array<OptionWord<CellValues>, 2> kCellValuesWords{
    {{"displayed", CellValues::kDisplayed}, {"raw", CellValues::kRaw}}};
inline constexpr std::array<OptionWord<CsvQuoting>, 2> kQuotingWords{
    {{"minimal", CsvQuoting::kMinimal}, {"all", CsvQuoting::kAll}}};
inline constexpr std::array<OptionWord<LineEnding>, 2> kLineEndingWords{
    {{"crlf", LineEnding::kCrLf}, {"lf", LineEnding::kLf}}};

// The value `word` names among `words`, if it is one of them.
template <typename Value, size_t N>
std::optional<Value> OptionValue(const std::array<OptionWord<Value>, N>& words,
                                 std::string_view word) {
  for (const OptionWord<Value>& known : words) {
    if (known.word == word) return known.value;
  }
  return std::nullopt;
}

struct CsvOptions {
  std::string separator = ",";
  CsvEncoding encoding = CsvEncoding::Ansi;
  int ansiCodePage = 1252;
  // A workbook whose used range has more cells than this is refused before anything is
  // written; 0 sets no bound.
  long long maxCells = 0;
  // Tried on encrypted workbooks after Excel's default password; empty: none.
  std::string password = {};
  CellValues values = CellValues::kDisplayed;
  // Hidden rows and columns are left out, and hidden worksheets when every worksheet is chosen.
  bool skipHidden = false;
  // Every cell of a merged area shows the text of its top-left cell (else that cell alone).
  bool fillMerged = false;
  // Trailing rows and columns that show no text are left out.
  bool trim = false;
  CsvQuoting quoting = CsvQuoting::kMinimal;
  LineEnding lineEnding = LineEnding::kCrLf;
  // Whether each CSV file is on disk before it gets its name; not for files that only pass
  // through a private folder (standard output's).
  PendingFile::Durability durability = PendingFile::Durability::kDurable;
};

// The used range of the first worksheet (A1 to the last used cell) and how many cells the
// file holds in it (a value or only a style). Both are known before the first row is read.
struct UsedRangeSize {
  long long rows = 0;
  long long columns = 0;
  long long cellsHeld = 0;

  long long Cells() const { return rows * columns; }
  // "A1:XFD1048576"
  std::string Address() const;
  // True when the range is far larger than what the file holds: more than
  // kSparseRangeMinCells cells and more than kSparseRangeRatio times the cells held. Such a
  // workbook writes mostly separators (one styled cell at XFD1048576 makes 16 GiB).
  bool FarLargerThanHeld() const;
};
inline constexpr long long kSparseRangeMinCells = 1'000'000;
inline constexpr long long kSparseRangeRatio = 100;

// What a caller may ask of one conversion under way. Every call comes from the thread that
// converts; an implementation makes them cheap and, when it is shared by several
// conversions at once, thread-safe.
class ConversionMonitor {
 public:
  virtual ~ConversionMonitor() = default;
  // Asked before each row is written: true abandons the workbook (nothing is published, the
  // pending file is discarded) and ConvertExcelToCSV throws ConversionCancelled.
  virtual bool CancelRequested() { return false; }
  // Once, when the used range is known, before any row is written.
  virtual void UsedRangeKnown(const UsedRangeSize& /*size*/) {}
  // With row 0 once the used range is known, then as rows are written (not after every
  // row: after about kProgressCells cells, and after the last row); `row` counts the rows
  // written so far, `lastRow` is the used range's. Callers throttle what they show.
  virtual void RowsWritten(long long /*row*/, long long /*lastRow*/) {}
  // After the last row, once for each thing the reader mended to read the workbook
  // (ExcelWorkbook::Repairs); the CSV file holds what could be read soundly.
  virtual void Repaired(const std::string& /*repair*/) {}
  // After the last row, when the worksheets converted hold formula cells stored without a
  // calculated value (written empty): how many, for the whole workbook.
  virtual void FormulasWithoutValue(long long /*count*/) {}
};
inline constexpr long long kProgressCells = 1 << 16;

// Thrown by ConvertExcelToCSV when its monitor asked it to stop; no file was left.
class ConversionCancelled : public Error {
 public:
  using Error::Error;
};

// Which worksheets of a workbook to convert. Nothing chosen: the first worksheet.
struct SheetChoice {
  bool all = false;  // every worksheet in workbook order, hidden ones too
  // Each a name (exact, else equal but for case, as Excel finds sheets) or a 1-based position
  // among the worksheets ("2"); a name wins over a position.
  std::vector<std::string> sheets;

  bool FirstOnly() const { return !all && sheets.empty(); }
  // Whether a workbook may give more than one CSV file, which then carry the sheet names.
  bool NamesSheets() const { return all || sheets.size() > 1; }
};

// The path of a worksheet's CSV file, asked once the worksheet is found (already made unique
// by the caller).
using CsvFileNamer = std::function<std::string(const std::string& sheetName)>;

// Converts the worksheets of `excelFile` that `choice` names, each as ConvertExcelToCSV
// converts the first one, into the file `csvFileFor` names. The workbook is opened once and
// every chosen worksheet is found before anything is written: a name or number it lacks fails
// the workbook (ErrorKind::kNoSuchSheet). The files appear after the workbook is closed, none
// of them when a sheet fails or the conversion is cancelled. Returns the paths written, in
// the order chosen (a sheet that gives no line gives no file); a worksheet chosen twice is
// converted once.
std::vector<std::string> ConvertWorkbookToCSV(const std::string& excelFile,
                                              const SheetChoice& choice,
                                              const CsvFileNamer& csvFileFor,
                                              const CsvOptions& options,
                                              ConversionMonitor* monitor = nullptr);

// The CSV files of a converted workbook, written in full but not yet named, so that a caller
// may name them (flush them to disk and link them) while it converts its next workbook.
// Dropped unpublished, they leave nothing behind.
class PendingCsvFiles {
 public:
  PendingCsvFiles();
  explicit PendingCsvFiles(std::vector<std::unique_ptr<CsvFileWriter>> writers);
  ~PendingCsvFiles();
  PendingCsvFiles(PendingCsvFiles&&) noexcept;
  PendingCsvFiles& operator=(PendingCsvFiles&&) noexcept;

  // Gives the files their names in the order of the sheets and returns the paths, as
  // ConvertWorkbookToCSV does. Throws Error for a file that cannot be named; the files named
  // before it stay, those after it are dropped.
  std::vector<std::string> Publish();

 private:
  std::vector<std::unique_ptr<CsvFileWriter>> writers_;
};

// ConvertWorkbookToCSV but for the last step: the files are left to the caller to publish.
// Names are chosen (csvFileFor is asked) during the call, so a caller that converts another
// workbook whose names could meet these publishes them first.
PendingCsvFiles ConvertWorkbookToPendingCSV(const std::string& excelFile, const SheetChoice& choice,
                                            const CsvFileNamer& csvFileFor,
                                            const CsvOptions& options,
                                            ConversionMonitor* monitor = nullptr);

// The texts of one worksheet of `excelFile` (`sheet` as SheetChoice names one; empty: the
// first) as a conversion with `options` writes them: a row of texts per line, all of one
// width. For callers that want the cells rather than a file. Throws Error as
// ConvertWorkbookToCSV does.
std::vector<std::vector<std::string>> ReadWorksheetTexts(const std::string& excelFile,
                                                         const std::string& sheet,
                                                         const CsvOptions& options);

// One sheet of a workbook as --list-sheets shows it.
struct SheetDescription {
  int worksheetNumber = 0;  // what SheetChoice accepts; 0 for a sheet that is not a worksheet
  std::string name;
  std::string kind;        // "worksheet", "chart", "dialog", "macro"
  std::string visibility;  // "visible", "hidden", "veryhidden"
  std::string usedRange;   // "A1:F120" for a worksheet, else empty
};

// Every sheet of `excelFile` in workbook order. Finding a worksheet's used range reads it.
std::vector<SheetDescription> DescribeSheets(const std::string& excelFile,
                                             const std::string& password = {});

// Converts the first worksheet of `excelFile` into `csvFile` (already made unique by the
// caller): every cell from A1 to the last used cell, as the spreadsheet displays it, one CSV
// line per row. Returns the path actually written (the writer takes the next free numbered
// name if `csvFile` was taken meanwhile). Throws cellverter::Error with a message naming the
// file and the cause (also for a used range above options.maxCells); a workbook that fails
// or is cancelled leaves no output file.
std::string ConvertExcelToCSV(const std::string& excelFile, const std::string& csvFile,
                              const CsvOptions& options, ConversionMonitor* monitor = nullptr);

}  // namespace cellverter
