#pragma once

#include <array>
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

  // Names as "mmmm", "mmm", "dddd" and "ddd" show them; days start with Sunday.
  std::array<std::string, 12> monthNames{"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};
  std::array<std::string, 12> monthAbbreviations{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 7> dayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};
  std::array<std::string, 7> dayAbbreviations{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::string amText = "AM";
  std::string pmText = "PM";

  // Excel format codes of the locale's patterns: the short date (built-in id 14), the short
  // date with a 24-hour time (id 22), the long date ([$-F800]) and the long time ([$-F400]).
  std::string shortDateCode = "m/d/yyyy";
  std::string dateTimeCode = "m/d/yyyy h:mm";
  std::string longDateCode = "dddd, mmmm d, yyyy";
  std::string longTimeCode = "h:mm:ss AM/PM";

  // The currency of the currency built-in ids (5 to 8, 42, 44): its symbol, whether it
  // stands before the amount, whether a space separates them, and whether negative amounts
  // are shown in parentheses rather than with a minus sign.
  std::string currencySymbol = "$";
  bool currencyBefore = true;
  bool currencySpaced = false;
  bool currencyNegativeInParentheses = true;

  // The locale of an ICU/POSIX name such as "de-DE" or "de_DE.UTF-8"; unknown names give
  // en-US values.
  static FormatLocale ForName(std::string_view localeName);
  // The locale of a Windows locale identifier (LCID) such as 0x407, as [$-407] names it;
  // nullptr when ICU does not know it. Built once per identifier and kept for the process.
  static std::shared_ptr<const FormatLocale> ForLcid(unsigned lcid);
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

  // What a number shown in this format stands for: a plain number, or, in a section of dates
  // and times, a date, a time (of day or elapsed) or both. Excel's Range.Value gives a date
  // for the last three.
  enum class Meaning : uint8_t { kNumber, kDate, kTime, kDateTime };
  virtual Meaning MeaningOf(double /*value*/) const { return Meaning::kNumber; }
};

// Compiles format codes once and keeps them by their text (and built-in id). The formats it
// returns live as long as the cache; it is not shared between threads.
class NumberFormatCache {
 public:
  explicit NumberFormatCache(FormatLocale locale);
  ~NumberFormatCache();
  NumberFormatCache(const NumberFormatCache&) = delete;
  NumberFormatCache& operator=(const NumberFormatCache&) = delete;

  const NumberFormat& Get(const NumberFormatRef& format);
  const FormatLocale& locale() const { return locale_; }

 private:
  FormatLocale locale_;
  std::unordered_map<std::string, std::unique_ptr<NumberFormat>> byCode_;
};

// The code of a built-in format id (0 to 49 and the ids Excel writes without a record) in
// `locale`; General for an unknown id.
std::string BuiltInFormatCode(int id, const FormatLocale& locale);

// Compiles `code` for `locale` (which must outlive the result). Never fails: an invalid code
// gives a format that renders as General.
std::unique_ptr<NumberFormat> CompileNumberFormat(std::string_view code,
                                                  const FormatLocale& locale);

// Convenience for tests and one-off calls.
std::string FormatCellText(const CellValue& value, std::string_view formatCode, bool date1904,
                           const FormatLocale& locale);

}  // namespace cellverter
