#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/workbook_to_csv.h"

namespace cellverter {

// The text of the general error report: the message with a full stop appended when its
// last character has a code above that of the full stop ("Unable to create directory"
// becomes "Unable to create directory."; "Done." and "Done!" stay as they are).
std::string GeneralErrorText(std::string_view message);

// The open dialog's filter of workbooks: "Workbooks (*.[xX][lL][sS][xX] ...)", one pattern
// for each name extension read, each letter in both cases since the dialog's name filters
// compare case-sensitively.
std::string WorkbookNameFilter();

// The help page of a product: its name lower-cased (ASCII letters only) with every blank
// turned into "-"; "Cellverter" gives "cellverter".
std::string HelpPageName(std::string_view productName);

// The online help address on the maker's host: http://<host>/help/<page>/.
std::string HelpAddress(std::string_view productName, std::string_view makerHost);

// "major.minor" of a file version text such as "2.1.0.0"; empty parts count as 0.
std::string AppVersionFromFileVersion(std::string_view fileVersion);

// The folder of the program's executable, without a trailing separator unless it is the
// root.
std::string ProgramFolder(const std::filesystem::path& executable);

// The text of the "WARNING" box when the destination folder cannot be created: the folder
// and the system's reason, as the output file's errors read.
std::string DestinationWarningText(std::string_view folder, std::string_view systemMessage);

// The status text while a workbook whose used range is far larger than the cells its file
// holds is converted: the converting text with the range, so that a long run of separators
// is explained ("Converting /a/b.xlsx... (used range A1:XFD1048576: 17179869184 cells, 2
// held)").
std::string SparseRangeStatusText(const std::string& workbook, const UsedRangeSize& size);
// "Converting <path>... (repaired: <repair>)": shown after the rows of a workbook its reader
// had to mend, until the next workbook starts.
std::string RepairedStatusText(const std::string& workbook, const std::string& repair);

// How far a run has come, in ten-thousandths: `done` workbooks of `total`, plus the share
// of the workbook under way that its rows written (`row` of `lastRow`) make up.
// "Completed (1 workbook repaired; "<path>": <repair>)": the end of a run in which readers
// mended workbooks, with the last repair (`lastRepair` names its workbook).
std::string CompletedWithRepairsText(std::size_t workbooks, const std::string& lastRepair);
// What "Completed" adds for a run in which `workbooks` workbooks had formulas without a
// calculated value: " (<lastWarning>)" for one, " (2 workbooks have formula cells without a
// calculated value; <lastWarning>)" for more, so the last workbook's warning stays in sight.
std::string FormulasWithoutValueCompletionNote(std::size_t workbooks,
                                               const std::string& lastWarning);
int RunProgressPermyriad(std::size_t done, std::size_t total, long long row, long long lastRow);

// The five Settings options and the setting key each one is stored under.
enum class WindowOption {
  AutomaticallyAddExcelFiles,
  AutomaticallyConverttoCSV,
  AutomaticallyCloseApplication,
  IncludeSubfolders,
  StartMinimized,
};
std::string_view OptionKey(WindowOption option);

// The conversion options as settings.ini stores them. Reading starts from `options` and
// changes only what a key holds one of its two exact words for; `stored` gives a key's text,
// or nothing when it is absent.
void ReadConversionSettings(
    const std::function<std::optional<std::string>(std::string_view key)>& stored,
    CsvOptions& options);
// The keys and words of the options in which `chosen` differs from `shown`, so that a key the
// user left alone stays as stored (absent, or a word of a later version).
std::vector<std::pair<std::string_view, std::string_view>> ChangedConversionSettings(
    const CsvOptions& shown, const CsvOptions& chosen);

// What the automatic run at start-up asks of the window. The window carries the steps out;
// the order and the conditions live in RunAutomaticStart.
class AutomaticRunHost {
 public:
  virtual ~AutomaticRunHost() = default;
  virtual bool OptionChecked(WindowOption option) = 0;
  virtual void Minimize() = 0;
  virtual void ShowStatus(const std::string& text) = 0;
  virtual void ProcessMessages() = 0;
  virtual void AddWorkbooksOfFolder(const std::string& folder) = 0;  // AddMyFolder
  virtual bool ConvertEnabled() = 0;
  // The stored Destination setting, empty when none is stored.
  virtual std::string StoredDestination() = 0;
  // Shows `folder` in the destination field without storing it.
  virtual void ShowDestinationUnstored(const std::string& folder) = 0;
  virtual void ClickConvert() = 0;
  virtual void CloseWindow() = 0;
};

// The one-shot start step: minimise, add the program folder's workbooks, convert the
// list (into the program folder when no destination is stored) and close, each only when
// its option is on, and closing only after a conversion.
void RunAutomaticStart(AutomaticRunHost& host, const std::string& programFolder);

}  // namespace cellverter
