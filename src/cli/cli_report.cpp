#include "cli/cli_report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "platform/utf8.h"

namespace cellverter {
namespace {

// A redraw of the progress line at most this often: enough to see it move.
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

int TerminalWidth(std::FILE* stream) {
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// A text cut to at most `width` characters (UTF-8), keeping its end, which names the file.
std::string Tail(const std::string& text, std::size_t width) {
  if (Utf8Length(text) <= width) return text;
  if (width <= 3) return std::string(width, '.');
  std::size_t start = text.size();
  for (std::size_t kept = 0; kept < width - 3;) {
    --start;
    kept += !IsUtf8Continuation(text[start]);
  }
  return "..." + text.substr(start);
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

std::string QuotedPath(const std::string& path) {
  if (!path.starts_with('"') &&
      std::none_of(path.begin(), path.end(), [](char c) { return IsControl(c); })) {
    return path;
  }
  std::string quoted = "\"";
  for (const char c : path) {
    switch (c) {
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      default:
        if (IsControl(static_cast<unsigned char>(c))) {
          const unsigned byte = static_cast<unsigned char>(c);
          quoted += '\\';
          quoted += static_cast<char>('0' + (byte >> 6));
          quoted += static_cast<char>('0' + ((byte >> 3) & 7));
          quoted += static_cast<char>('0' + (byte & 7));
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

CliReport::CliReport(std::size_t total, std::FILE* out, std::FILE* err, bool showProgress,
                     bool nulSeparated)
    : total_(total),
      out_(out),
      err_(err),
      showProgress_(showProgress),
      nulSeparated_(nulSeparated),
      results_(total),
      workbooks_(total) {}

void CliReport::DestinationNotCreated(const std::string& folder, const std::string& systemMessage) {
  std::lock_guard guard(lock_);
  ClearProgress();
  std::fprintf(err_, "cellverter-cli: cannot create the folder \"%s\": %s\n", folder.c_str(),
               systemMessage.c_str());
}

void CliReport::WorkbookStarting(std::size_t index, std::size_t, const std::string& workbook) {
  std::lock_guard guard(lock_);
  if (index < workbooks_.size()) workbooks_[index] = workbook;
  current_ = workbook;
  currentIndex_ = index;
  currentRow_ = -1;
  DrawProgress();
}

void CliReport::Warn(const std::function<std::string(const std::string& workbook)>& text,
                     std::size_t index) {
  std::lock_guard guard(lock_);
  ClearProgress();
  const std::string workbook = index < workbooks_.size() ? workbooks_[index] : std::string();
  std::fprintf(err_, "cellverter-cli: warning: %s\n", text(workbook).c_str());
  std::fflush(err_);
  DrawProgress();
}

void CliReport::WorkbookUsedRange(std::size_t index, const UsedRangeSize& size) {
  if (!size.FarLargerThanHeld()) return;
  Warn(
      [&](const std::string& workbook) {
        return "\"" + workbook + "\": the used range " + size.Address() + " has " +
               std::to_string(size.Cells()) + " cells but the file holds only " +
               std::to_string(size.cellsHeld) +
               "; its CSV file is mostly separators (--max-cells refuses such a workbook).";
      },
      index);
}

void CliReport::WorkbookRepaired(std::size_t index, const std::string& repair) {
  Warn(
      [&](const std::string& workbook) {
        return "\"" + workbook + "\": repaired: " + repair + ".";
      },
      index);
}

void CliReport::WorkbookFormulasWithoutValue(std::size_t index, long long count) {
  Warn([&](const std::string& workbook) { return FormulasWithoutValueText(workbook, count); },
       index);
}

void CliReport::WorkbookProgress(std::size_t index, long long row, long long lastRow) {
  if (!showProgress_) return;
  std::lock_guard guard(lock_);
  if (index != currentIndex_) return;
  currentRow_ = row;
  currentLastRow_ = lastRow;
  if (std::chrono::steady_clock::now() - lastDrawn_ >= kRedrawInterval) DrawProgress();
}

void CliReport::WorkbookConverted(std::size_t index, const std::string&,
                                  const std::vector<std::string>& csvFiles) {
  std::lock_guard guard(lock_);
  ++converted_;
  Record(index, {true, csvFiles});
}

void CliReport::WorkbookFailed(std::size_t index, const std::string& workbook,
                               const std::string& message, ErrorKind kind) {
  std::lock_guard guard(lock_);
  ++failed_;
  // A message about the CSV file names that file, not the workbook.
  const bool named = kind != ErrorKind::kOutputFolder;
  Record(index, {false, {"cellverter-cli: " + (named ? message : workbook + ": " + message)}});
}

void CliReport::Record(std::size_t index, Result result) {
  if (finished_) return;
  if (index < results_.size()) results_[index] = std::move(result);
  ++done_;
  if (index == currentIndex_) currentRow_ = -1;
  ClearProgress();
  while (nextToPrint_ < results_.size() && results_[nextToPrint_]) {
    Print(*results_[nextToPrint_]);
    results_[nextToPrint_].reset();
    ++nextToPrint_;
  }
  DrawProgress();
}

void CliReport::Print(const Result& result) {
  // A sheet that gave no line has no file, so nothing to list.
  for (const std::string& text : result.texts) {
    if (!result.ok) {
      std::fprintf(err_, "%s\n", text.c_str());
    } else if (nulSeparated_) {
      std::fwrite(text.c_str(), 1, text.size() + 1, out_);
    } else {
      std::fprintf(out_, "%s\n", QuotedPath(text).c_str());
    }
  }
  std::fflush(out_);
  std::fflush(err_);
}

void CliReport::PrintRemaining() {
  ClearProgress();
  for (; nextToPrint_ < results_.size(); ++nextToPrint_) {
    if (results_[nextToPrint_]) Print(*results_[nextToPrint_]);
  }
}

void CliReport::DrawProgress() {
  if (!showProgress_ || total_ == 0 || finished_) return;
  const int width = TerminalWidth(err_);
  constexpr std::size_t kBar = 20;
  const std::size_t filled = done_ * kBar / total_;
  std::string line = "[" + std::string(filled, '#') + std::string(kBar - filled, '.') + "] " +
                     std::to_string(done_) + "/" + std::to_string(total_);
  if (currentRow_ >= 0 && currentLastRow_ > 0) {
    line += " row " + std::to_string(currentRow_) + "/" + std::to_string(currentLastRow_);
  }
  const std::size_t room = width > static_cast<int>(line.size()) + 8
                               ? static_cast<std::size_t>(width) - line.size() - 2
                               : 0;
  if (room > 0 && !current_.empty()) line += " " + Tail(current_, room);
  std::fprintf(err_, "\r\033[K%s", line.c_str());
  std::fflush(err_);
  progressShown_ = true;
  lastDrawn_ = std::chrono::steady_clock::now();
}

void CliReport::ClearProgress() {
  if (!progressShown_) return;
  std::fprintf(err_, "\r\033[K");
  progressShown_ = false;
}

void CliReport::Finish(const BatchSummary& summary, const std::string& destination) {
  std::lock_guard guard(lock_);
  if (finished_) return;
  PrintRemaining();
  finished_ = true;
  if (!summary.destinationReady) return;
  const std::size_t all = summary.converted + summary.failed;
  const std::string into =
      destination == "-" ? "to standard output" : "into \"" + destination + "\"";
  if (summary.stopped) {
    std::fprintf(err_,
                 "Interrupted: %zu of %zu workbooks converted %s, %zu failed, the rest not "
                 "converted.\n",
                 summary.converted, total_, into.c_str(), summary.failed);
  } else if (all == 0) {
    std::fprintf(err_, "No workbooks to convert.\n");
  } else if (summary.failed == 0) {
    std::fprintf(err_, "Converted %zu workbook%s %s.\n", all, all == 1 ? "" : "s", into.c_str());
  } else {
    std::fprintf(err_, "Converted %zu of %zu workbooks %s; %zu failed.\n", summary.converted, all,
                 into.c_str(), summary.failed);
  }
  std::fflush(err_);
}

void CliReport::EndAtOnce(const std::string& destination) {
  std::lock_guard guard(lock_);
  if (finished_) return;
  PrintRemaining();
  finished_ = true;
  std::fprintf(err_,
               "Interrupted again, ended at once: %zu of %zu workbooks converted into \"%s\", %zu "
               "failed, the rest not converted.\n",
               converted_, total_, destination.c_str(), failed_);
  std::fflush(out_);
  std::fflush(err_);
}

}  // namespace cellverter
