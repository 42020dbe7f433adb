#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/user_folders.h"

namespace cellverter {

// The section and the nine keys of settings.ini.
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

// An INI document that keeps sections and lines in file order. Section and key lookups
// ignore letter case; lines without "=" are kept and written back but hold no value.
class SettingsIni {
 public:
  // Reads the text of an INI file (an optional UTF-8 byte order mark first). Throws Error
  // when the text is not valid UTF-8.
  static SettingsIni Parse(std::string_view text);
  // UTF-8 with a byte order mark, CR LF line ends, an empty line after every section.
  std::string Serialize() const;

  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  // Changes the first entry of the key in place, or appends it to the section (creating the
  // section at the end). Line breaks in keys or values are written as blanks so that a value
  // never becomes several lines.
  void SetValue(std::string_view section, std::string_view key, std::string_view value);
  std::vector<std::string> SectionNames() const;

 private:
  struct Line {
    std::string key;    // whole text for a line without "="
    std::string value;  // unused when !hasValue
    bool hasValue = false;
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;

  std::vector<Section> sections_;
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
