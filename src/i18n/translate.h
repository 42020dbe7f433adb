#pragma once

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cellverter {

// The loaded language. LoadLanguage writes it once at start-up; afterwards it is only read
// (also from the update-check thread), so it needs no lock.
struct LanguageState {
  std::filesystem::path LanguagesFolder;   // ProgramDataPath(program folder, "Languages")
  std::vector<std::string> LanguageFiles;  // names of the *lang.txt files, in listing order
  std::filesystem::path LanguageFile;      // empty when no language is loaded
  std::vector<std::string> Translations;   // lines of the loaded file (valid UTF-8)
};
const LanguageState& Language();

// Finds the Languages folder beside the program or installed with it (ProgramDataPath),
// chooses a file through LanguageCodes.csv and the user's interface language, and loads it.
// Missing folder, csv, code or file: no language, nothing reported. A chosen file that cannot be
// read throws Error after LanguageFile is set (every lookup then returns its key).
void LoadLanguage(const std::filesystem::path& programFolder);

// Appends the names of the non-directory entries of `folder` that end in "lang.txt".
void FindLanguageFiles(const std::filesystem::path& folder, std::vector<std::string>& files);

// The loaded language's text for an English key, or the key itself.
std::string Translate(std::string_view key);

// Translate(key) with each "%s" replaced by the next argument and "%%" by "%". A translation
// with any other "%" sequence or more "%s" than arguments is not trusted: the English key is
// formatted instead. Missing arguments in the key itself format as empty text.
std::string TranslateFormat(std::string_view key, std::initializer_list<std::string_view> args);

// The Windows language identifier of a locale name ("de_DE.UTF-8" -> 1031, "pt_BR" -> 1046);
// "C", "POSIX" and empty names give 1033.
int LanguageIdForLocale(std::string_view localeName);
// The user's interface language: the override when set, else the message locale
// (LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
int UserInterfaceLanguage();
void SetUserInterfaceLanguageOverride(std::optional<int> languageId);

}  // namespace cellverter
