// FormatLocale from ICU's locale data.
#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/rbnf.h>
#include <unicode/smpdtfmt.h>
#include <unicode/uloc.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "spreadsheet/numfmt/number_format.h"
#include "spreadsheet/numfmt/numfmt_code.h"

namespace cellverter {
namespace {

std::string Utf8(const icu::UnicodeString& text) {
  std::string result;
  text.toUTF8String(result);
  return result;
}

// ICU writes narrow and ordinary no-break spaces where Windows patterns have spaces.
std::string PlainSpaces(std::string text) {
  for (std::string_view space : {std::string_view("\u202f"), std::string_view("\u00a0")}) {
    for (size_t at = text.find(space); at != std::string::npos; at = text.find(space, at)) {
      text.replace(at, space.size(), " ");
    }
  }
  return text;
}

std::string WithoutTrailingDot(std::string text) {
  if (text.size() > 1 && text.back() == '.') text.pop_back();
  return text;
}

// An ICU date/time pattern ("EEEE, MMMM d, y", "HH:mm:ss") as an Excel format code.
// Years always get four digits, as the Windows short date has them.
std::string ExcelCodeFromPattern(const icu::UnicodeString& pattern, bool keepAmPm) {
  std::string code;
  const int32_t length = pattern.length();
  for (int32_t i = 0; i < length;) {
    const char16_t c = pattern.charAt(i);
    if (c == u'\'') {
      const int32_t close = pattern.indexOf(u'\'', i + 1);
      if (close == i + 1) {  // '' is a quote
        code += "\\'";
        i += 2;
        continue;
      }
      const int32_t end = close < 0 ? length : close;
      icu::UnicodeString literal;
      pattern.extract(i + 1, end - i - 1, literal);
      code += "\"" + PlainSpaces(Utf8(literal)) + "\"";
      i = end + 1;
      continue;
    }
    int32_t run = 1;
    while (i + run < length && pattern.charAt(i + run) == c) ++run;
    switch (c) {
      case u'y':
      case u'u':
        code += "yyyy";
        break;
      case u'M':
      case u'L':
        code += std::string(static_cast<size_t>(std::min(run, 5)), 'm');
        break;
      case u'd':
        code += run >= 2 ? "dd" : "d";
        break;
      case u'E':
      case u'c':
        code += run >= 4 ? "dddd" : "ddd";
        break;
      case u'h':
      case u'H':
      case u'k':
      case u'K':
        code += run >= 2 ? "hh" : "h";
        break;
      case u'm':
        code += run >= 2 ? "mm" : "m";
        break;
      case u's':
        code += run >= 2 ? "ss" : "s";
        break;
      case u'a':
        if (keepAmPm) {
          code += "AM/PM";
        } else {
          while (!code.empty() && code.back() == ' ') code.pop_back();
        }
        break;
      default:
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) break;  // era, zone...
        for (int32_t k = 0; k < run; ++k) {
          const std::string text = PlainSpaces(Utf8(icu::UnicodeString(c)));
          code += text.size() == 1 && text != "\"" && text != "\\" ? text : "\"" + text + "\"";
        }
        break;
    }
    i += run;
  }
  while (!code.empty() && code.back() == ' ') code.pop_back();
  return code;
}

std::string PatternCode(icu::DateFormat* format, bool keepAmPm, const std::string& fallback) {
  std::unique_ptr<icu::DateFormat> owner(format);
  auto* simple = dynamic_cast<icu::SimpleDateFormat*>(format);
  if (simple == nullptr) return fallback;
  icu::UnicodeString pattern;
  simple->toPattern(pattern);
  std::string code = ExcelCodeFromPattern(pattern, keepAmPm);
  return code.empty() ? fallback : code;
}

// "de_DE.UTF-8@euro" -> "de_DE"; "C" and "POSIX" are no locale.
std::string IcuName(std::string_view name) {
  std::string result(name.substr(0, name.find_first_of(".@")));
  for (char& c : result) {
    if (c == '-') c = '_';
  }
  if (result == "C" || result == "POSIX") result.clear();
  return result;
}

// ICU answers for any name with its root data; only languages it has data for count.
bool KnownLanguage(const icu::Locale& locale) {
  int32_t count = 0;
  const icu::Locale* available = icu::Locale::getAvailableLocales(count);
  for (int32_t i = 0; i < count; ++i) {
    if (std::string_view(available[i].getLanguage()) == locale.getLanguage()) return true;
  }
  return false;
}

FormatLocale Build(const icu::Locale& locale) {
  FormatLocale result;
  UErrorCode status = U_ZERO_ERROR;
  icu::DateFormatSymbols dates(locale, status);
  if (U_FAILURE(status) || status == U_USING_DEFAULT_WARNING) return result;
  status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols numbers(locale, status);
  if (U_FAILURE(status)) return result;

  char tag[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode tagStatus = U_ZERO_ERROR;
  uloc_toLanguageTag(locale.getName(), tag, sizeof tag, false, &tagStatus);
  if (U_SUCCESS(tagStatus)) result.name = tag;

  result.decimalSeparator =
      PlainSpaces(Utf8(numbers.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol)));
  result.groupSeparator =
      Utf8(numbers.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol));

  int32_t count = 0;
  const icu::UnicodeString* names =
      dates.getMonths(count, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::WIDE);
  for (int32_t i = 0; i < std::min(count, 12); ++i) result.monthNames[i] = Utf8(names[i]);
  names = dates.getMonths(count, icu::DateFormatSymbols::STANDALONE,
                          icu::DateFormatSymbols::ABBREVIATED);
  for (int32_t i = 0; i < std::min(count, 12); ++i) {
    result.monthAbbreviations[i] = WithoutTrailingDot(Utf8(names[i]));
  }
  // ICU's weekday arrays start at index 1 (Sunday).
  names = dates.getWeekdays(count, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::WIDE);
  for (int32_t i = 1; i < std::min(count, 8); ++i) result.dayNames[i - 1] = Utf8(names[i]);
  names =
      dates.getWeekdays(count, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::ABBREVIATED);
  for (int32_t i = 1; i < std::min(count, 8); ++i) {
    result.dayAbbreviations[i - 1] = WithoutTrailingDot(Utf8(names[i]));
  }
  names = dates.getAmPmStrings(count);
  if (count >= 2) {
    result.amText = PlainSpaces(Utf8(names[0]));
    result.pmText = PlainSpaces(Utf8(names[1]));
  }

  result.shortDateCode =
      PatternCode(icu::DateFormat::createDateInstance(icu::DateFormat::kShort, locale), false,
                  result.shortDateCode);
  const std::string shortTime = PatternCode(
      icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, locale), false, "h:mm");
  result.dateTimeCode = result.shortDateCode + " " + shortTime;
  result.longDateCode =
      PatternCode(icu::DateFormat::createDateInstance(icu::DateFormat::kFull, locale), false,
                  result.longDateCode);
  result.longTimeCode =
      PatternCode(icu::DateFormat::createTimeInstance(icu::DateFormat::kMedium, locale), true,
                  result.longTimeCode);

  result.currencySymbol = Utf8(numbers.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol));
  status = U_ZERO_ERROR;
  std::unique_ptr<icu::NumberFormat> currency(
      icu::NumberFormat::createInstance(locale, UNUM_CURRENCY, status));
  if (U_SUCCESS(status)) {
    if (auto* decimal = dynamic_cast<icu::DecimalFormat*>(currency.get())) {
      icu::UnicodeString pattern;
      decimal->toPattern(pattern);
      const int32_t sign = pattern.indexOf(u'\u00a4');
      const int32_t digit =
          pattern.indexOf(u'#') >= 0 ? pattern.indexOf(u'#') : pattern.indexOf(u'0');
      if (sign >= 0 && digit >= 0) {
        result.currencyBefore = sign < digit;
        const int32_t between = result.currencyBefore ? sign + 1 : sign - 1;
        const char16_t next =
            between >= 0 && between < pattern.length() ? pattern.charAt(between) : 0;
        result.currencySpaced = next == u' ' || next == u'\u00a0' || next == u'\u202f';
      }
    }
  }
  // Parentheses for negative amounts are the United States' habit; elsewhere a minus sign.
  result.currencyNegativeInParentheses = std::string_view(locale.getCountry()) == "US";
  return result;
}

}  // namespace

FormatLocale FormatLocale::ForName(std::string_view localeName) {
  const std::string name = IcuName(localeName);
  if (name.empty()) return {};
  const icu::Locale locale(name.c_str());
  if (locale.isBogus() || !KnownLanguage(locale)) return {};
  return Build(locale);
}

std::shared_ptr<const FormatLocale> FormatLocale::ForLcid(unsigned lcid) {
  static std::mutex mutex;
  static std::map<unsigned, std::shared_ptr<const FormatLocale>> byLcid;
  const std::lock_guard lock(mutex);
  auto [it, inserted] = byLcid.try_emplace(lcid);
  if (inserted) {
    char name[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
    if (U_SUCCESS(status) && name[0] != 0) {
      it->second = std::make_shared<const FormatLocale>(ForName(name));
    }
  }
  return it->second;
}

const FormatLocale& FormatLocale::EnUs() {
  static const FormatLocale locale;
  return locale;
}

const FormatLocale& FormatLocale::User() {
  static const FormatLocale locale = [] {
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG"}) {
      const char* value = std::getenv(variable);
      if (value != nullptr && value[0] != 0) return ForName(value);
    }
    return FormatLocale();
  }();
  return locale;
}

std::string numfmt::IdeographicNumber(long long value, std::string_view localeName, int dbNum) {
  const std::string language(localeName.substr(0, localeName.find('-')));
  // Japanese financial numerals are not ICU's; only the Chinese ones are known to match.
  if (!(dbNum == 1 && (language == "zh" || language == "ja")) && !(dbNum == 2 && language == "zh"))
    return {};
  // ICU's spell-out rules write the numerals Excel shows for these two kinds.
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<icu::RuleBasedNumberFormat>> byLocale;
  const std::lock_guard lock(mutex);
  auto& speller = byLocale[std::string(localeName) + char('0' + dbNum)];
  if (!speller) {
    UErrorCode status = U_ZERO_ERROR;
    auto made = std::make_unique<icu::RuleBasedNumberFormat>(
        icu::URBNF_SPELLOUT, icu::Locale(std::string(localeName).c_str()), status);
    if (U_FAILURE(status)) return {};
    if (dbNum == 2) {
      made->setDefaultRuleSet(icu::UnicodeString(u"%spellout-cardinal-financial"), status);
      if (U_FAILURE(status)) return {};
    }
    speller = std::move(made);
  }
  icu::UnicodeString spelled;
  speller->format(static_cast<int64_t>(value), spelled);
  std::string text;
  spelled.toUTF8String(text);
  // Financial numerals write the one before a leading ten (12 is 壹拾贰).
  if (dbNum == 2 && text.starts_with("拾")) text.insert(0, "壹");
  return text;
}

}  // namespace cellverter
