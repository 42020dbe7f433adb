#include "cli/cli_report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace cellverter {
namespace {

int TerminalWidth(std::FILE* stream) {
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// A text cut to at most `width` characters (UTF-8), keeping its end, which names the file.
std::string Tail(const std::string& text, std::size_t width) {
  std::size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  if (characters <= width) return text;
  if (width <= 3) return std::string(width, '.');
  std::size_t start = text.size();
  for (std::size_t kept = 0; kept < width - 3;) {
    --start;
    kept += (static_cast<unsigned char>(text[start]) & 0xC0) != 0x80;
  }
  return "..." + text.substr(start);
}

}  // namespace

CliReport::CliReport(std::size_t total, std::FILE* out, std::FILE* err, bool showProgress)
    : total_(total), out_(out), err_(err), showProgress_(showProgress), results_(total) {}

void CliReport::DestinationNotCreated(const std::string& folder, const std::string& systemMessage) {
  ClearProgress();
  std::fprintf(err_, "cellverter-cli: cannot create the folder \"%s\": %s\n", folder.c_str(),
               systemMessage.c_str());
}

void CliReport::WorkbookStarting(std::size_t, std::size_t, const std::string& workbook) {
  current_ = workbook;
  DrawProgress();
}

void CliReport::WorkbookConverted(std::size_t index, const std::string&,
                                  const std::string& csvFile) {
  Record(index, {true, csvFile});
}

void CliReport::WorkbookFailed(std::size_t index, const std::string& workbook,
                               const std::string& message) {
  // Most messages name the workbook already; one about the CSV file does not.
  const bool named = message.find(workbook) != std::string::npos;
  Record(index, {false, "cellverter-cli: " + (named ? message : workbook + ": " + message)});
}

void CliReport::Record(std::size_t index, Result result) {
  if (index < results_.size()) results_[index] = std::move(result);
  ++done_;
  ClearProgress();
  while (nextToPrint_ < results_.size() && results_[nextToPrint_]) {
    Print(*results_[nextToPrint_]);
    results_[nextToPrint_].reset();
    ++nextToPrint_;
  }
  DrawProgress();
}

void CliReport::Print(const Result& result) {
  if (!result.ok) {
    std::fprintf(err_, "%s\n", result.text.c_str());
  } else if (!result.text.empty()) {
    std::fprintf(out_, "%s\n", result.text.c_str());
  }
  std::fflush(out_);
  std::fflush(err_);
}

void CliReport::DrawProgress() {
  if (!showProgress_ || total_ == 0) return;
  const int width = TerminalWidth(err_);
  constexpr std::size_t kBar = 20;
  const std::size_t filled = done_ * kBar / total_;
  std::string line = "[" + std::string(filled, '#') + std::string(kBar - filled, '.') + "] " +
                     std::to_string(done_) + "/" + std::to_string(total_);
  const std::size_t room = width > static_cast<int>(line.size()) + 8
                               ? static_cast<std::size_t>(width) - line.size() - 2
                               : 0;
  if (room > 0 && !current_.empty()) line += " " + Tail(current_, room);
  std::fprintf(err_, "\r\033[K%s", line.c_str());
  std::fflush(err_);
  progressShown_ = true;
}

void CliReport::ClearProgress() {
  if (!progressShown_) return;
  std::fprintf(err_, "\r\033[K");
  progressShown_ = false;
}

void CliReport::Finish(const BatchSummary& summary, const std::string& destination) {
  ClearProgress();
  for (; nextToPrint_ < results_.size(); ++nextToPrint_) {
    if (results_[nextToPrint_]) Print(*results_[nextToPrint_]);
  }
  if (!summary.destinationReady) return;
  const std::size_t all = summary.converted + summary.failed;
  if (summary.stopped) {
    std::fprintf(err_,
                 "Interrupted: %zu of %zu workbooks converted into \"%s\", %zu failed, the rest "
                 "not started.\n",
                 summary.converted, total_, destination.c_str(), summary.failed);
    return;
  }
  if (all == 0) {
    std::fprintf(err_, "No workbooks to convert.\n");
  } else if (summary.failed == 0) {
    std::fprintf(err_, "Converted %zu workbook%s into \"%s\".\n", all, all == 1 ? "" : "s",
                 destination.c_str());
  } else {
    std::fprintf(err_, "Converted %zu of %zu workbooks into \"%s\"; %zu failed.\n",
                 summary.converted, all, destination.c_str(), summary.failed);
  }
}

}  // namespace cellverter
