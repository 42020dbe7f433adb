#include "platform/ansi_code_page.h"

#include <array>
#include <cstdlib>
#include <string>

namespace cellverter {
namespace {

struct LanguageCodePage {
  std::string_view language;
  int codePage;
};

// Languages whose Windows locales use a code page other than 1252.
constexpr std::array kLanguageCodePages{
    LanguageCodePage{"cs", 1250}, LanguageCodePage{"hr", 1250}, LanguageCodePage{"hu", 1250},
    LanguageCodePage{"pl", 1250}, LanguageCodePage{"ro", 1250}, LanguageCodePage{"sk", 1250},
    LanguageCodePage{"sl", 1250}, LanguageCodePage{"sq", 1250}, LanguageCodePage{"bs", 1250},
    LanguageCodePage{"ru", 1251}, LanguageCodePage{"uk", 1251}, LanguageCodePage{"be", 1251},
    LanguageCodePage{"bg", 1251}, LanguageCodePage{"mk", 1251}, LanguageCodePage{"kk", 1251},
    LanguageCodePage{"ky", 1251}, LanguageCodePage{"tt", 1251}, LanguageCodePage{"mn", 1251},
    LanguageCodePage{"el", 1253}, LanguageCodePage{"tr", 1254}, LanguageCodePage{"az", 1254},
    LanguageCodePage{"uz", 1254}, LanguageCodePage{"he", 1255}, LanguageCodePage{"yi", 1255},
    LanguageCodePage{"ar", 1256}, LanguageCodePage{"fa", 1256}, LanguageCodePage{"ur", 1256},
    LanguageCodePage{"et", 1257}, LanguageCodePage{"lt", 1257}, LanguageCodePage{"lv", 1257},
    LanguageCodePage{"vi", 1258}, LanguageCodePage{"th", 874},  LanguageCodePage{"ja", 932},
    LanguageCodePage{"ko", 949},
};

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

}  // namespace

int AnsiCodePageForLocale(std::string_view localeName) {
  // "sr_RS@latin.UTF-8" -> language "sr", territory "rs", modifier "latin"
  const std::string name = Lower(localeName);
  const size_t languageEnd = name.find_first_of("_-.@");
  const std::string language = name.substr(0, languageEnd);
  std::string rest = languageEnd == std::string::npos ? "" : name.substr(languageEnd);

  if (language == "zh") {
    const bool traditional =
        rest.find("tw") != std::string::npos || rest.find("hk") != std::string::npos ||
        rest.find("mo") != std::string::npos || rest.find("hant") != std::string::npos;
    return traditional ? 950 : 936;
  }
  if (language == "sr") {
    // Serbian is Cyrillic unless the locale says Latin.
    return rest.find("latin") != std::string::npos || rest.find("latn") != std::string::npos ? 1250
                                                                                             : 1251;
  }
  for (const auto& entry : kLanguageCodePages) {
    if (entry.language == language) return entry.codePage;
  }
  return 1252;
}

int UserAnsiCodePage() {
  static const int codePage = [] {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
      const char* value = std::getenv(variable);
      if (value != nullptr && *value != '\0') return AnsiCodePageForLocale(value);
    }
    return 1252;
  }();
  return codePage;
}

}  // namespace cellverter
