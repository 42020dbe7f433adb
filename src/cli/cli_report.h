#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "convert/batch_run.h"

namespace cellverter {

// What cellverter-cli tells about a run. Standard output gets the path of every CSV file
// written and standard error one line per failing workbook, both in list order whatever
// order the workers finish in, so a run with several jobs prints what a one-by-one run
// prints. When standard error is a terminal a progress line (done of total, a bar, the
// workbook last started) is redrawn beneath them.
class CliReport : public BatchObserver {
 public:
  CliReport(std::size_t total, std::FILE* out, std::FILE* err, bool showProgress);

  void ShowStatus(const std::string&) override {}
  void SetBusyCursor(bool) override {}
  void Beep() override {}
  void DestinationNotCreated(const std::string& folder, const std::string& systemMessage) override;
  void WorkbookFailed(std::size_t index, const std::string& workbook,
                      const std::string& message) override;
  void WorkbookStarting(std::size_t index, std::size_t count, const std::string& workbook) override;
  void WorkbookConverted(std::size_t index, const std::string& workbook,
                         const std::string& csvFile) override;

  // The run stops before the next workbook once `flag` is set (by a signal handler).
  void StopWhen(const std::atomic<bool>& flag) { stop_ = &flag; }
  bool StopRequested() override { return stop_ != nullptr && stop_->load(); }

  // Prints what a stopped run left unprinted, clears the progress line and prints the
  // summary.
  void Finish(const BatchSummary& summary, const std::string& destination);

 private:
  struct Result {
    bool ok = false;
    std::string text;
  };
  void Record(std::size_t index, Result result);
  void Print(const Result& result);
  void DrawProgress();
  void ClearProgress();

  std::size_t total_;
  std::FILE* out_;
  std::FILE* err_;
  bool showProgress_;
  std::vector<std::optional<Result>> results_;
  std::size_t nextToPrint_ = 0;
  std::size_t done_ = 0;
  std::string current_;
  bool progressShown_ = false;
  const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace cellverter
