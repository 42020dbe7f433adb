#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "convert/csv_encoding.h"
#include "convert/workbook_to_csv.h"

namespace cellverter {

// What a run reads from its caller while it runs. The window answers from its controls,
// which may change while the run waits in a message box, so the run asks again each time
// the rules say so: the list length before every workbook, the item by index, the
// destination once at the start and again for each workbook's output path, the separator
// once at the start, the encoding for each workbook.
class BatchInputs {
 public:
  virtual ~BatchInputs() = default;
  virtual std::size_t ItemCount() = 0;
  virtual std::string Item(std::size_t index) = 0;
  virtual std::string Destination() = 0;
  virtual std::string Separator() = 0;
  virtual CsvEncoding Encoding() = 0;
  virtual int AnsiCodePage() = 0;
  // CsvOptions::maxCells, asked with the encoding; 0 (the default) sets no bound.
  virtual long long MaxCells() { return 0; }
  // Tried on encrypted workbooks after Excel's default password, read once at the start;
  // empty: none.
  virtual std::string Password() { return {}; }
  // The worksheets of each workbook to convert, read once at the start; by default the
  // first one.
  virtual SheetChoice Sheets() { return {}; }
  // How cells become fields and lines (values, hidden parts, merged areas, trim, quoting,
  // line ends), read once at the start; its other fields come from the calls above.
  virtual CsvOptions Options() { return {}; }
};

// A fixed list with fixed settings (the command-line tool, tests).
class FixedBatchInputs : public BatchInputs {
 public:
  FixedBatchInputs(std::vector<std::string> workbooks, std::string destination, CsvOptions options);
  std::size_t ItemCount() override { return workbooks_.size(); }
  std::string Item(std::size_t index) override { return workbooks_.at(index); }
  std::string Destination() override { return destination_; }
  std::string Separator() override { return options_.separator; }
  CsvEncoding Encoding() override { return options_.encoding; }
  int AnsiCodePage() override { return options_.ansiCodePage; }
  long long MaxCells() override { return options_.maxCells; }
  std::string Password() override { return options_.password; }
  CsvOptions Options() override { return options_; }

 private:
  std::vector<std::string> workbooks_;
  std::string destination_;
  CsvOptions options_;
};

// How a run shows itself. Every call returns before the run goes on, so a window may show
// a modal box inside one; the run continues once it is closed.
//
// The two ways a run ends early are told apart: an empty destination text throws
// cellverter::Error("Unable to create directory") out of the run (the window's general
// error report shows it); a destination the system refuses to create is reported through
// DestinationNotCreated (the window's translated "WARNING" box) and the run returns.
class BatchObserver {
 public:
  virtual ~BatchObserver() = default;

  // The status panel's text; the empty text clears it.
  virtual void ShowStatus(const std::string& text) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  virtual void Beep() = 0;
  // `systemMessage` is the system's text for the failure ("Permission denied").
  virtual void DestinationNotCreated(const std::string& folder,
                                     const std::string& systemMessage) = 0;
  // `message` names the workbook and the cause (or, for a CSV file that could not be
  // written, ErrorKind::kOutputFolder, that file); the window shows it in a box captioned
  // "ERROR" with the normal cursor, and the run goes on with the next workbook.
  virtual void WorkbookFailed(std::size_t index, const std::string& workbook,
                              const std::string& message, ErrorKind kind) = 0;

  // For progress displays. `csvFiles` are the files written, in the order of the sheets (none
  // when the sheet gave no line; one for the first worksheet).
  virtual void WorkbookStarting(std::size_t index, std::size_t count, const std::string& workbook);
  virtual void WorkbookConverted(std::size_t index, const std::string& workbook,
                                 const std::vector<std::string>& csvFiles);
  // Once per workbook, when its used range is known and before any row is written (a
  // used range far larger than what the file holds shows where a huge output comes from).
  virtual void WorkbookUsedRange(std::size_t index, const UsedRangeSize& size);
  // As rows are written (see ConversionMonitor::RowsWritten: a few calls per second at
  // most would be shown, so the observer throttles); `row` of `lastRow` rows written.
  virtual void WorkbookProgress(std::size_t index, long long row, long long lastRow);
  // After the rows of a workbook that its reader had to mend (ConversionMonitor::Repaired),
  // once per repair: a warning, never a question, so that an unattended run goes on.
  virtual void WorkbookRepaired(std::size_t index, const std::string& repair);
  // After the rows of a workbook whose worksheets hold formula cells stored without a
  // calculated value (ConversionMonitor::FormulasWithoutValue): a warning, as above.
  virtual void WorkbookFormulasWithoutValue(std::size_t index, long long count);
  // Asked before each workbook and before each row of the workbook under way; true ends the
  // run there (the command-line tool on Ctrl-C). The workbook under way is abandoned: no
  // file and no temporary file is left of it, and neither WorkbookConverted nor
  // WorkbookFailed is called for it. Asked once per row, so it must be cheap (an atomic
  // flag); in RunBatchInParallel several workers ask at once, outside the one-at-a-time rule.
  virtual bool StopRequested();
};

struct BatchSummary {
  bool destinationReady = false;  // false: the run stopped at the destination folder
  std::size_t converted = 0;
  std::size_t failed = 0;
  bool stopped = false;  // StopRequested ended the run before the end of the list or mid-workbook
};

// The status texts of a run.
std::string ConvertingStatusText(const std::string& workbook);  // "Converting " + path + "..."
inline constexpr const char* kCompletedStatusText = "Completed";
// The warning for a workbook whose formula cells were written empty for want of a calculated
// value: "\"<workbook>\": 12 formula cells have no calculated value and are written empty".
std::string FormulasWithoutValueText(const std::string& workbook, long long count);
inline constexpr const char* kUnableToCreateDirectory = "Unable to create directory";

// Makes sure the destination folder exists, creating missing parents. Throws Error
// ("Unable to create directory") for the empty text; returns the system's message when
// creation fails, else the empty text.
std::string CreateDestinationFolder(const std::string& destination);

// The run behind "Convert to CSV": clears the status, creates the destination, takes the
// separator, then converts item 0, 1, ... while the index is below the current item count,
// each into OutputPathFor(destination, item) made unique, with "Converting <path>..." shown
// meanwhile. A failing workbook is reported and skipped. It ends with a beep, the normal
// cursor and "Completed", also when workbooks failed.
BatchSummary RunBatch(BatchInputs& inputs, BatchObserver& observer);

// The same conversion with up to `jobs` workbooks at once, for a fixed list. Every
// workbook gets exactly the file name that RunBatch would give it in list order, and the
// bytes are the same: workbooks whose output names could meet (the same base name, or one
// base name being another's numbered form, "sales" and "sales (2)") are converted one
// after the other in list order by one worker; the others run side by side. With `jobs` 1
// the list is converted in its order, as RunBatch would.
// Each worker hands a converted workbook's files to a thread of its own, which flushes them to
// disk and names them while the worker converts the next one; the workbook is reported
// converted (or failed, when a file could not be named) after that. A workbook converted
// before a stop is still published, and the run returns once every one is.
// Observer calls come from the workers and their publishing threads, one at a time (but for
// StopRequested, see there);
// only DestinationNotCreated, WorkbookStarting, WorkbookUsedRange, WorkbookProgress,
// WorkbookRepaired, WorkbookFormulasWithoutValue, WorkbookConverted, WorkbookFailed and
// StopRequested are called.
BatchSummary RunBatchInParallel(const std::vector<std::string>& workbooks,
                                const std::string& destination, const CsvOptions& options,
                                unsigned jobs, BatchObserver& observer,
                                const SheetChoice& choice = {});

// The key under which output names could meet: the base name of the output file up to its
// first " - " (sheets' files add " - <sheet>"), without its trailing " (n)" counters, ASCII
// letters lower-cased (a case-insensitive destination
// folder would make "Sales.csv" and "sales.csv" meet).
std::string OutputNameFamily(const std::string& workbook);

}  // namespace cellverter
