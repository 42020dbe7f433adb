#pragma once

#include <string_view>

namespace cellverter {

// The Windows ANSI code page that a locale such as "ru_RU.UTF-8" or "de-DE" uses
// (1252 Western, 1250 Central European, 1251 Cyrillic, ..., 932 Japanese). Locales that
// Windows does not tie to a code page get 1252.
int AnsiCodePageForLocale(std::string_view localeName);

// The ANSI code page of the user's locale (LC_ALL, else LC_CTYPE, else LANG), chosen
// once per process.
int UserAnsiCodePage();

}  // namespace cellverter
