#include "app/main_window_rules.h"

#include <algorithm>

#include "app/settings_store.h"
#include "convert/batch_run.h"
#include "platform/workbook_names.h"

namespace cellverter {

std::string GeneralErrorText(std::string_view message) {
  std::string text(message);
  // Compared as a byte: every byte of a multi-byte UTF-8 character is above '.' too.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

std::string WorkbookNameFilter() {
  std::string filter = "Workbooks (";
  for (std::string_view extension : kWorkbookExtensions) {
    if (filter.back() != '(') filter += ' ';
    filter += "*.";
    for (char c : extension.substr(1)) {
      const char upper = static_cast<char>(c - 'a' + 'A');
      filter += {'[', c, upper, ']'};
    }
  }
  return filter + ")";
}

std::string HelpPageName(std::string_view productName) {
  std::string page;
  page.reserve(productName.size());
  for (char c : productName) {
    if (c >= 'A' && c <= 'Z') {
      page += static_cast<char>(c - 'A' + 'a');
    } else if (c == ' ') {
      page += '-';
    } else {
      page += c;
    }
  }
  return page;
}

std::string HelpAddress(std::string_view productName, std::string_view makerHost) {
  return "http://" + std::string(makerHost) + "/help/" + HelpPageName(productName) + "/";
}

std::string AppVersionFromFileVersion(std::string_view fileVersion) {
  unsigned long parts[2] = {0, 0};
  std::size_t at = 0;
  for (unsigned long& part : parts) {
    while (at < fileVersion.size() && fileVersion[at] >= '0' && fileVersion[at] <= '9') {
      if (part < 65536) part = part * 10 + unsigned(fileVersion[at] - '0');
      ++at;
    }
    if (at < fileVersion.size() && fileVersion[at] == '.') ++at;
  }
  // Each number is a 16-bit field of the version.
  return std::to_string(std::min(parts[0], 65535ul)) + "." +
         std::to_string(std::min(parts[1], 65535ul));
}

std::string ProgramFolder(const std::filesystem::path& executable) {
  std::filesystem::path folder = executable.parent_path();
  if (folder.empty()) return ".";
  return folder.string();
}

std::string DestinationWarningText(std::string_view folder, std::string_view systemMessage) {
  return "Cannot create folder \"" + std::string(folder) + "\". " + std::string(systemMessage);
}

std::string SparseRangeStatusText(const std::string& workbook, const UsedRangeSize& size) {
  return ConvertingStatusText(workbook) + " (used range " + size.Address() + ": " +
         std::to_string(size.Cells()) + " cells, " + std::to_string(size.cellsHeld) + " held)";
}

std::string RepairedStatusText(const std::string& workbook, const std::string& repair) {
  return ConvertingStatusText(workbook) + " (repaired: " + repair + ")";
}

std::string CompletedWithRepairsText(std::size_t workbooks, const std::string& lastRepair) {
  return std::string(kCompletedStatusText) + " (" + std::to_string(workbooks) +
         (workbooks == 1 ? " workbook" : " workbooks") + " repaired; " + lastRepair + ")";
}

std::string FormulasWithoutValueCompletionNote(std::size_t workbooks,
                                               const std::string& lastWarning) {
  if (workbooks == 1) return " (" + lastWarning + ")";
  return " (" + std::to_string(workbooks) +
         " workbooks have formula cells without a calculated value; " + lastWarning + ")";
}

int RunProgressPermyriad(std::size_t done, std::size_t total, long long row, long long lastRow) {
  if (total == 0) return 0;
  if (done >= total) return 10000;
  double share = double(done);
  if (lastRow > 0 && row > 0) share += double(std::min(row, lastRow)) / double(lastRow);
  return int(share * 10000.0 / double(total));
}

std::string_view OptionKey(WindowOption option) {
  switch (option) {
    case WindowOption::AutomaticallyAddExcelFiles:
      return "AutomaticallyAddExcelFiles";
    case WindowOption::AutomaticallyConverttoCSV:
      return "AutomaticallyConverttoCSV";
    case WindowOption::AutomaticallyCloseApplication:
      return "AutomaticallyCloseApplication";
    case WindowOption::IncludeSubfolders:
      return "IncludeSubfolders";
    case WindowOption::StartMinimized:
      return "StartMinimized";
  }
  return {};
}

namespace {

// One conversion option in settings.ini: its key, the word of the default and the word of
// the other choice.
struct ConversionSetting {
  std::string_view key;
  std::string_view defaultWord;
  std::string_view otherWord;
  bool (*isOther)(const CsvOptions&);
  void (*set)(CsvOptions&, bool other);
};

constexpr ConversionSetting kConversionSettings[] = {
    {kValuesKey, "Displayed", "Raw",
     [](const CsvOptions& o) { return o.values == CellValues::kRaw; },
     [](CsvOptions& o, bool other) {
       o.values = other ? CellValues::kRaw : CellValues::kDisplayed;
     }},
    {kSkipHiddenKey, "0", "1", [](const CsvOptions& o) { return o.skipHidden; },
     [](CsvOptions& o, bool other) { o.skipHidden = other; }},
    {kFillMergedKey, "0", "1", [](const CsvOptions& o) { return o.fillMerged; },
     [](CsvOptions& o, bool other) { o.fillMerged = other; }},
    {kTrimKey, "0", "1", [](const CsvOptions& o) { return o.trim; },
     [](CsvOptions& o, bool other) { o.trim = other; }},
    {kQuotingKey, "Minimal", "All",
     [](const CsvOptions& o) { return o.quoting == CsvQuoting::kAll; },
     [](CsvOptions& o, bool other) {
       o.quoting = other ? CsvQuoting::kAll : CsvQuoting::kMinimal;
     }},
    {kLineEndingKey, "CRLF", "LF",
     [](const CsvOptions& o) { return o.lineEnding == LineEnding::kLf; },
     [](CsvOptions& o, bool other) { o.lineEnding = other ? LineEnding::kLf : LineEnding::kCrLf; }},
};

}  // namespace

void ReadConversionSettings(
    const std::function<std::optional<std::string>(std::string_view key)>& stored,
    CsvOptions& options) {
  for (const ConversionSetting& setting : kConversionSettings) {
    const std::optional<std::string> word = stored(setting.key);
    if (word == setting.otherWord) {
      setting.set(options, true);
    } else if (word == setting.defaultWord) {
      setting.set(options, false);
    }
  }
}

std::vector<std::pair<std::string_view, std::string_view>> ChangedConversionSettings(
    const CsvOptions& shown, const CsvOptions& chosen) {
  std::vector<std::pair<std::string_view, std::string_view>> changed;
  for (const ConversionSetting& setting : kConversionSettings) {
    const bool other = setting.isOther(chosen);
    if (other == setting.isOther(shown)) continue;
    changed.emplace_back(setting.key, other ? setting.otherWord : setting.defaultWord);
  }
  return changed;
}

void RunAutomaticStart(AutomaticRunHost& host, const std::string& programFolder) {
  if (host.OptionChecked(WindowOption::StartMinimized)) {
    host.Minimize();
    host.ShowStatus("Minimized");
    host.ProcessMessages();
  }
  if (host.OptionChecked(WindowOption::AutomaticallyAddExcelFiles)) {
    host.AddWorkbooksOfFolder(programFolder);
  }
  if (!host.OptionChecked(WindowOption::AutomaticallyConverttoCSV) || !host.ConvertEnabled()) {
    return;
  }
  if (host.StoredDestination().empty()) host.ShowDestinationUnstored(programFolder);
  host.ShowStatus("Automatically converting to CSV...");
  host.ProcessMessages();
  host.ClickConvert();
  host.ShowStatus("Automatically converted to CSV");
  host.ProcessMessages();
  if (host.OptionChecked(WindowOption::AutomaticallyCloseApplication)) {
    host.ShowStatus("Automatically closing application...");
    host.ProcessMessages();
    host.CloseWindow();
  }
}

}  // namespace cellverter
