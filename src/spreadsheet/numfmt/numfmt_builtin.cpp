// The codes of Excel's built-in number formats, which files name by id alone.
#include <array>
#include <string_view>
#include <utility>

#include "spreadsheet/numfmt/number_format.h"

namespace cellverter {
namespace {

// The ids whose code is the same in every locale.
constexpr std::array<std::string_view, 50> kFixedCodes = {
    "General",                     // 0
    "0",                           // 1
    "0.00",                        // 2
    "#,##0",                       // 3
    "#,##0.00",                    // 4
    "",                            // 5 currency
    "",                            // 6
    "",                            // 7
    "",                            // 8
    "0%",                          // 9
    "0.00%",                       // 10
    "0.00E+00",                    // 11
    "# ?/?",                       // 12
    "# ?\?/?\?",                   // 13
    "",                            // 14 short date
    "d-mmm-yy",                    // 15
    "d-mmm",                       // 16
    "mmm-yy",                      // 17
    "h:mm AM/PM",                  // 18
    "h:mm:ss AM/PM",               // 19
    "h:mm",                        // 20
    "h:mm:ss",                     // 21
    "",                            // 22 short date and time
    "General",                     // 23-26: East Asian ids with no code outside their locales
    "General",                     // 24
    "General",                     // 25
    "General",                     // 26
    "",                            // 27-31 East Asian dates: the short date elsewhere
    "",                            // 28
    "",                            // 29
    "",                            // 30
    "",                            // 31
    "h:mm:ss",                     // 32-35 East Asian times
    "h:mm:ss",                     // 33
    "h:mm:ss",                     // 34
    "h:mm:ss",                     // 35
    "",                            // 36 East Asian date
    "#,##0 ;(#,##0)",              // 37
    "#,##0 ;[Red](#,##0)",         // 38
    "#,##0.00_);(#,##0.00)",       // 39
    "#,##0.00_);[Red](#,##0.00)",  // 40
    "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)",          // 41
    "",                                                       // 42 accounting currency
    "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)",  // 43
    "",                                                       // 44 accounting currency
    "mm:ss",                                                  // 45
    "[h]:mm:ss",                                              // 46
    "mmss.0",                                                 // 47
    "##0.0E+0",                                               // 48
    "@",                                                      // 49
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// 5 to 8: currency with 0 or 2 decimals, negative in black or red.
std::string CurrencyCode(const FormatLocale& locale, bool decimals, bool red) {
  const std::string number = decimals ? "#,##0.00" : "#,##0";
  const std::string space = locale.currencySpaced ? " " : "";
  const std::string amount = locale.currencyBefore ? Quoted(locale.currencySymbol) + space + number
                                                   : number + space + Quoted(locale.currencySymbol);
  const std::string colour = red ? "[Red]" : "";
  if (locale.currencyNegativeInParentheses) {
    return amount + "_);" + colour + "\\(" + amount + "\\)";
  }
  return amount + ";" + colour + "-" + amount;
}

// 42 and 44: accounting with the currency symbol; zero shows as a dash.
std::string AccountingCode(const FormatLocale& locale, bool decimals) {
  const std::string number = decimals ? "#,##0.00" : "#,##0";
  const std::string dash = decimals ? "\"-\"??" : "\"-\"";
  const std::string symbol = Quoted(locale.currencySymbol);
  const std::string space = locale.currencySpaced ? " " : "";
  if (locale.currencyBefore && locale.currencyNegativeInParentheses) {
    return "_(" + symbol + "* " + number + "_);_(" + symbol + "* \\(" + number + "\\);_(" + symbol +
           "* " + dash + "_);_(@_)";
  }
  if (locale.currencyBefore) {
    return "_-" + symbol + "* " + number + "_-;\\-" + symbol + "* " + number + "_-;_-" + symbol +
           "* " + dash + "_-;_-@_-";
  }
  return "_-* " + number + space + symbol + "_-;\\-* " + number + space + symbol + "_-;_-* " +
         dash + space + symbol + "_-;_-@_-";
}

}  // namespace

std::string BuiltInFormatCode(int id, const FormatLocale& locale) {
  switch (id) {
    case 5:
    case 6:
    case 7:
    case 8:
      return CurrencyCode(locale, id >= 7, id == 6 || id == 8);
    case 42:
    case 44:
      return AccountingCode(locale, id == 44);
    case 14:
    case 27:
    case 28:
    case 29:
    case 30:
    case 31:
    case 36:
      return locale.shortDateCode;
    case 22:
      return locale.dateTimeCode;
    default:
      break;
  }
  if (id >= 0 && id < static_cast<int>(kFixedCodes.size())) return std::string(kFixedCodes[id]);
  // Ids that East Asian and Thai versions of Excel write without a format record: their
  // dates show as the short date, the rest as the id they copy.
  if (id >= 50 && id <= 58) return locale.shortDateCode;
  static constexpr std::pair<int, int> kCopies[] = {
      {59, 1},  {60, 2},  {61, 3},  {62, 4},  {67, 9},  {68, 10}, {69, 12}, {70, 13}, {71, 14},
      {72, 14}, {73, 15}, {74, 16}, {75, 17}, {76, 20}, {77, 21}, {78, 45}, {79, 46}, {80, 47}};
  for (const auto& [copy, original] : kCopies) {
    if (id == copy) return BuiltInFormatCode(original, locale);
  }
  return "General";
}

}  // namespace cellverter
