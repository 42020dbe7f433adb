#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "spreadsheet/cell_value.h"
#include "spreadsheet/sheet_source.h"

namespace cellverter {

// What a displayed text takes from the user's locale: separators, month and day names,
// AM/PM texts, the short date pattern and the currency of the locale-dependent built-in
// formats.
struct FormatLocale {
  std::string name = "en-US";
  std::string decimalSeparator = ".";
  std::string groupSeparator = ",";

  // The locale of an ICU/POSIX name such as "de-DE" or "de_DE.UTF-8"; unknown names give
  // en-US values.
  static FormatLocale ForName(std::string_view localeName);
  static const FormatLocale& EnUs();
  // The user's locale (LC_ALL, LC_NUMERIC/LC_TIME, LANG), read once.
  static const FormatLocale& User();
};

// One compiled format code. Compiling never fails: an invalid code renders as General.
class NumberFormat {
 public:
  virtual ~NumberFormat() = default;
  // Appends the text Excel displays for `value` in a column wide enough to show it.
  virtual void Render(const CellValue& value, bool date1904, std::string& out) const = 0;
};

// Compiles format codes once and keeps them by their text (and built-in id).
class NumberFormatCache {
 public:
  explicit NumberFormatCache(FormatLocale locale);
  ~NumberFormatCache();
  const NumberFormat& Get(const NumberFormatRef& format);
  const FormatLocale& locale() const { return locale_; }

 private:
  FormatLocale locale_;
  std::unordered_map<std::string, std::unique_ptr<NumberFormat>> byCode_;
};

// The code of a built-in format id (0 to 49 and the ids Excel writes without a record) in
// `locale`; General for an unknown id.
std::string BuiltInFormatCode(int id, const FormatLocale& locale);

// Convenience for tests and one-off calls.
std::string FormatCellText(const CellValue& value, std::string_view formatCode, bool date1904,
                           const FormatLocale& locale);

}  // namespace cellverter
