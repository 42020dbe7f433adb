#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "convert/batch_run.h"

namespace cellverter {

// How a path is printed on standard output, one a line: as it is, unless it holds a
// control character (a line break, a tab ...) or begins with a double quote; then in
// double quotes with C escapes (\n, \r, \t, \", \\, \ooo for other control bytes), as git
// prints such names. Ordinary names read the same as before and no name spans two lines.
std::string QuotedPath(const std::string& path);

// What cellverter-cli tells about a run. Standard output gets the path of every CSV file
// written and standard error one line per failing workbook, both in list order whatever
// order the workers finish in, so a run with several jobs prints what a one-by-one run
// prints. When standard error is a terminal a progress line (a bar, done of total, the rows
// written of the workbook last started, its name) is redrawn beneath them.
// A used range far larger than what its file holds is warned about at once.
//
// Every call may come from another thread than the run's (EndAtOnce from the interrupt
// watcher): the report keeps its output in one piece with a lock of its own.
class CliReport : public BatchObserver {
 public:
  // With `nulSeparated`, each path is followed by a NUL instead of a line feed, unquoted.
  CliReport(std::size_t total, std::FILE* out, std::FILE* err, bool showProgress,
            bool nulSeparated = false);

  void ShowStatus(const std::string&) override {}
  void SetBusyCursor(bool) override {}
  void Beep() override {}
  void DestinationNotCreated(const std::string& folder, const std::string& systemMessage) override;
  void WorkbookFailed(std::size_t index, const std::string& workbook, const std::string& message,
                      ErrorKind kind) override;
  void WorkbookStarting(std::size_t index, std::size_t count, const std::string& workbook) override;
  void WorkbookUsedRange(std::size_t index, const UsedRangeSize& size) override;
  void WorkbookRepaired(std::size_t index, const std::string& repair) override;
  void WorkbookFormulasWithoutValue(std::size_t index, long long count) override;
  void WorkbookProgress(std::size_t index, long long row, long long lastRow) override;
  void WorkbookConverted(std::size_t index, const std::string& workbook,
                         const std::vector<std::string>& csvFiles) override;

  // The run stops at the next row once `flag` is set (by the interrupt watcher).
  void StopWhen(const std::atomic<bool>& flag) { stop_ = &flag; }
  bool StopRequested() override { return stop_ != nullptr && stop_->load(); }

  // Prints what a stopped run left unprinted, clears the progress line and prints the
  // summary; `destination` "-" is standard output.
  void Finish(const BatchSummary& summary, const std::string& destination);
  // For a run ended at once (a second Ctrl-C): prints every file written so far and a
  // summary from what the report has seen. Nothing is printed after Finish or a first call.
  void EndAtOnce(const std::string& destination);

 private:
  struct Result {
    bool ok = false;
    std::vector<std::string> texts;  // the files written, or the one error message
  };
  // One warning line about workbook `index`, whose path `text` is given (the workbook is known
  // only under the lock).
  void Warn(const std::function<std::string(const std::string& workbook)>& text, std::size_t index);
  void Record(std::size_t index, Result result);
  void Print(const Result& result);
  void PrintRemaining();
  void DrawProgress();
  void ClearProgress();

  std::mutex lock_;
  std::size_t total_;
  std::FILE* out_;
  std::FILE* err_;
  bool showProgress_;
  bool nulSeparated_;
  std::vector<std::optional<Result>> results_;
  std::vector<std::string> workbooks_;
  std::size_t nextToPrint_ = 0;
  std::size_t done_ = 0;
  std::size_t converted_ = 0;
  std::size_t failed_ = 0;
  std::string current_;
  std::size_t currentIndex_ = 0;
  long long currentRow_ = -1;  // rows written of the workbook last started; -1: not known
  long long currentLastRow_ = 0;
  std::chrono::steady_clock::time_point lastDrawn_;
  bool progressShown_ = false;
  bool finished_ = false;
  const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace cellverter
