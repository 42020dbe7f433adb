#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ini_document.h"
#include "platform/user_folders.h"

namespace cellverter {

// The section and the keys of settings.ini.
inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kDestinationKey = "Destination";
inline constexpr std::string_view kSeparatorKey = "Separator";
inline constexpr std::string_view kEncodingKey = "Encoding";
inline constexpr std::string_view kAutomaticallyAddExcelFilesKey = "AutomaticallyAddExcelFiles";
inline constexpr std::string_view kAutomaticallyConverttoCSVKey = "AutomaticallyConverttoCSV";
inline constexpr std::string_view kAutomaticallyCloseApplicationKey =
    "AutomaticallyCloseApplication";
inline constexpr std::string_view kIncludeSubfoldersKey = "IncludeSubfolders";
inline constexpr std::string_view kStartMinimizedKey = "StartMinimized";
inline constexpr std::string_view kSourceDirectoryKey = "SourceDirectory";
// Which worksheets the window converts: exactly "All" for every worksheet; absent or any
// other text is the first worksheet, and stays as stored until the user picks.
inline constexpr std::string_view kWorksheetsKey = "Worksheets";
inline constexpr std::string_view kFirstWorksheetWord = "First";
inline constexpr std::string_view kAllWorksheetsWord = "All";
// The conversion options of Settings > Conversion Options, each absent until the user
// changes it; absent or any other text is the default (the first word), kept as stored.
inline constexpr std::string_view kValuesKey = "Values";          // "Displayed" or "Raw"
inline constexpr std::string_view kSkipHiddenKey = "SkipHidden";  // "0" or "1"
inline constexpr std::string_view kFillMergedKey = "FillMerged";  // "0" or "1"
inline constexpr std::string_view kTrimKey = "Trim";              // "0" or "1"
inline constexpr std::string_view kQuotingKey = "Quoting";        // "Minimal" or "All"
inline constexpr std::string_view kLineEndingKey = "LineEnding";  // "CRLF" or "LF"

inline constexpr std::string_view kSettingsFileName = "settings.ini";
inline constexpr std::string_view kDefaultEncoding = "ANSI";

// Defaults of the keys that depend on the user.
// Destination: the XDG desktop folder (XDG_DESKTOP_DIR of user-dirs.dirs, else ~/Desktop).
std::string DefaultDestination();
// Separator: the list separator of the user's locale (LC_ALL, LC_NUMERIC, LANG).
std::string DefaultSeparator();

// ";" for locales that write the decimal separator as "," (de_DE, fr_FR, ru_RU), else ",".
std::string ListSeparatorForLocale(std::string_view localeName);
std::string UserListSeparator();
// The desktop folder for a home folder and an XDG config folder: XDG_DESKTOP_DIR from
// <configHome>/user-dirs.dirs when present, else <home>/Desktop.
std::filesystem::path DesktopFolderFor(const std::filesystem::path& home,
                                       const std::filesystem::path& configHome);
std::filesystem::path DesktopFolder();  // from $HOME and $XDG_CONFIG_HOME

// True when a file can be created in `folder`: "chk.tmp" is created exclusively and removed
// again. A leftover chk.tmp therefore answers false.
bool IsFolderWritable(const std::filesystem::path& folder);

// The folder that holds settings.ini, with a trailing separator: `programFolder` when it is
// writable, else <configFolder>/<companyName>/<productName>/, each level created once with
// failures ignored (a later write then reports the problem).
std::filesystem::path SettingsFolder(
    const std::filesystem::path& programFolder, std::string_view companyName,
    std::string_view productName, const std::filesystem::path& configFolder = UserConfigFolder());

// The settings document: an INI document (platform/ini_document.h) read only from valid
// UTF-8 and written whole in the sections layout: UTF-8 with a byte order mark, CR LF line
// ends, an empty line after every section.
class SettingsIni : public IniDocument {
 public:
  // Throws Error when the text is not valid UTF-8.
  static SettingsIni Parse(std::string_view text);
  std::string Serialize() const { return IniDocument::Serialize(Layout::kSections); }
};

// settings.ini in its folder: the in-memory document and its file, written whole on every
// change.
class SettingsStore {
 public:
  // Opens <folder>/settings.ini; a missing file gives an empty document. A file that cannot
  // be read (not UTF-8, no permission) is moved aside as settings.ini.bad, replacing an
  // older one, and the store starts empty; MovedAside() then names the kept file.
  explicit SettingsStore(std::filesystem::path folder);

  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path FilePath() const { return folder_ / kSettingsFileName; }
  const std::optional<std::filesystem::path>& MovedAside() const { return movedAside_; }

  // Value of a key of section "Settings", or `defaultValue` when the key is missing.
  std::string ReadString(std::string_view key, std::string_view defaultValue) const;
  // On exactly when the stored text is "True".
  bool ReadBool(std::string_view key) const;

  // Sets the key and writes the whole file at once. A failed write throws Error naming the
  // file and the cause; the change stays in the document for the next write.
  void WriteString(std::string_view key, std::string_view value);
  void WriteBool(std::string_view key, bool on);  // "True" or "False"
  // Sets several keys and writes the file once.
  void WriteStrings(const std::vector<std::pair<std::string_view, std::string_view>>& values);
  // Writes the document as it is (a temporary file renamed over settings.ini, so a crash or
  // a full disk never leaves a truncated file). A read-only settings.ini is not replaced.
  void Save();

  // Deletes settings.ini for Reset to Defaults; nothing is written by this store afterwards.
  void DeleteFile();

  const SettingsIni& Document() const { return document_; }

 private:
  std::filesystem::path folder_;
  SettingsIni document_;
  std::optional<std::filesystem::path> movedAside_;
  bool deleted_ = false;
};

}  // namespace cellverter
