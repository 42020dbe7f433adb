#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "box_answerer.h"
#include "i18n/translate.h"
#include "platform/app_values.h"
#include "qt_application.h"

namespace cellverter::testing_support {

// A language folder beside a pretend program, chosen through the interface language.
// Without entries the program runs untranslated.
class LanguageFixture {
 public:
  explicit LanguageFixture(const std::filesystem::path& programFolder) : folder_(programFolder) {}

  void LoadItalian(const std::string& entries) {
    const auto languages = folder_ / "Languages";
    std::filesystem::create_directories(languages);
    std::ofstream(languages / "LanguageCodes.csv", std::ios::binary) << "\xEF\xBB\xBF"
                                                                        "1040,Italian.lang.txt\r\n";
    std::ofstream(languages / "Italian.lang.txt", std::ios::binary) << entries;
    SetUserInterfaceLanguageOverride(1040);
    LoadLanguage(folder_);
  }

  static void Unload() {
    LoadLanguage(std::filesystem::temp_directory_path() / "cellverter-no-such-program-folder");
    SetUserInterfaceLanguageOverride(std::nullopt);
  }

 private:
  std::filesystem::path folder_;
};

inline void SetProgramValues() {
  App().companyName = "KORVANE";
  App().productName = "Cellverter";
  App().appTitle = "KORVANE - Cellverter";
  App().appVersion = "2.1";
}

}  // namespace cellverter::testing_support
