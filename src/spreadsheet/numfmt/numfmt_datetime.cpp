// The date and time path: calendar dates of Excel's serial days, times of day rounded to the
// seconds shown, and elapsed times ([h], [m], [s]).
#include <cmath>

#include "platform/utf8.h"
#include "spreadsheet/numfmt/numfmt_render.h"
#include "spreadsheet/numfmt/serial_date.h"

namespace cellverter::numfmt {
namespace {

// Excel's serial days as dates of the proleptic Gregorian and the tabular Hijri calendar.
struct Calendar {
  // The date of a serial (serial_date.h), and the two days of the 1900 system that no
  // calendar has: "0 January 1900" and 29 February 1900.
  static void CivilDate(long long serialDay, bool date1904, int& year, int& month, int& day,
                        int& weekday) {
    if (date1904) {
      weekday = static_cast<int>((serialDay + 5) % 7);  // 1 January 1904 was a Friday
    } else {
      weekday = static_cast<int>((serialDay + 6) % 7);  // serial 1 is a Sunday in Excel
      if (serialDay == 0) {
        year = 1900, month = 1, day = 0;
        return;
      }
      if (serialDay == 60) {
        year = 1900, month = 2, day = 29;
        return;
      }
    }
    const std::chrono::year_month_day date = DateOfSerialDay(serialDay, date1904);
    year = static_cast<int>(date.year());
    month = static_cast<int>(static_cast<unsigned>(date.month()));
    day = static_cast<int>(static_cast<unsigned>(date.day()));
  }

  // B2: the tabular Hijri calendar (30-year cycle, epoch 15 July 622 Julian), which gives
  // Excel's 1317-10-28 for serial 59 and 1345-11-17 for serial 10000. The 1900 system's
  // serial 0 shows as serial 1 does.
  [[gnu::cold, gnu::noinline]] static void HijriDate(long long serialDay, bool date1904, int& year,
                                                     int& month, int& day) {
    long long daysAfter1899 = serialDay;  // days after 31 December 1899
    if (date1904) {
      daysAfter1899 = serialDay + (kFirstDay1904 - kDayBeforeSerial1).count();
    } else if (serialDay == 0) {
      daysAfter1899 = 1;
    } else if (serialDay > 60) {
      daysAfter1899 = serialDay - 1;
    }
    constexpr long long kEpoch = 1948439;  // Julian day number of 1 Muharram 1 AH
    const long long julianDay = 2415020 + daysAfter1899;
    const auto firstDay = [](long long y, long long m) {
      return (59 * (m - 1) + 1) / 2 + (y - 1) * 354 + FloorDiv(3 + 11 * y, 30LL) + kEpoch;
    };
    const long long y = FloorDiv(30 * (julianDay - kEpoch) + 10646, 10631LL);
    const long long m =
        std::min<long long>(12, -FloorDiv(-2 * (julianDay - 29 - firstDay(y, 1)), 59LL) + 1);
    year = static_cast<int>(y);
    month = static_cast<int>(m);
    day = static_cast<int>(julianDay - firstDay(y, m) + 1);
  }
};

// The numbers of a date under [DBNum1] to [DBNum3]: a year digit by digit, others as
// numbers (2016-12-08 in [DBNum2][$-804] is 贰零壹陆, 壹拾贰, 捌), and [DBNum3] in full-width
// digits; a locale without such numerals keeps its digits.
[[gnu::cold, gnu::noinline]] void AppendNumeral(const Section& s, const FormatLocale& locale,
                                                long long value, int minDigits, bool year,
                                                Sink& out) {
  std::string digits;
  {
    Sink plain(digits);
    AppendInt(value, minDigits, plain);
    plain.Flush();
  }
  if (s.dbNum == 3) {
    for (char c : digits) {
      const char wide[] = {'\xEF', '\xBC', static_cast<char>('\x90' + (c - '0'))};
      out.Put(std::string_view(wide, sizeof wide));
    }
    return;
  }
  const std::string& localeName = (s.names ? *s.names : locale).name;
  std::string spelled;
  if (year) {
    for (char c : digits) spelled += IdeographicNumber(c - '0', localeName, s.dbNum);
  } else {
    spelled = IdeographicNumber(value, localeName, s.dbNum);
  }
  out.Put(spelled.empty() ? std::string_view(digits) : std::string_view(spelled));
}

}  // namespace

void RenderDateTimeSection(const Section& s, double serial, bool minus, bool date1904,
                           const FormatLocale& locale, std::string& text) {
  if (minus) text += '-';
  // The last day: 31 December 9999.
  const long long lastDay = date1904 ? 2957003 : 2958465;
  long long unitsPerSecond = 1;
  for (int i = 0; i < s.subSecondDigits; ++i) unitsPerSecond *= 10;
  if (serial >= static_cast<double>(lastDay + 1)) {
    text += kNoDisplay;
    return;
  }
  // Excel rounds to the shown precision of seconds (never to minutes), then truncates.
  const double scaled = serial * 86400.0 * static_cast<double>(unitsPerSecond);
  const auto units = static_cast<long long>(std::floor(scaled + 0.5 + scaled * 1e-15));
  // Whole seconds, the common case, divide by constants: a division by a variable (even by 1)
  // costs a few times more.
  const bool wholeSeconds = unitsPerSecond == 1;
  const long long day = wholeSeconds ? units / 86400 : units / (86400 * unitsPerSecond);
  if (day > lastDay) {
    text += kNoDisplay;
    return;
  }
  const long long totalSeconds = wholeSeconds ? units : units / unitsPerSecond;
  const long long subUnits = wholeSeconds ? 0 : units % unitsPerSecond;
  const int hour = static_cast<int>(totalSeconds / 3600 % 24);
  const int minute = static_cast<int>(totalSeconds / 60 % 60);
  const int second = static_cast<int>(totalSeconds % 60);

  int year = 0, month = 0, dayOfMonth = 0, weekday = 0;
  Calendar::CivilDate(day, date1904, year, month, dayOfMonth, weekday);
  if (s.hijri) Calendar::HijriDate(day, date1904, year, month, dayOfMonth);
  const FormatLocale& names = s.names ? *s.names : locale;

  Sink out(text);
  const auto number = [&](long long value, int minDigits, bool isYear) {
    if (s.dbNum == 0) [[likely]] {
      AppendInt(value, minDigits, out);
    } else {
      AppendNumeral(s, locale, value, minDigits, isYear, out);
    }
  };
  for (const Token& token : s.tokens) {
    switch (token.kind) {
      case Tok::Literal:
        out.Put(token.text);
        break;
      case Tok::Year2:
        number(year % 100, 2, true);
        break;
      case Tok::Year4:
        number(year, 4, true);
        break;
      case Tok::BuddhistYear2:
        number((year + 543) % 100, 2, true);
        break;
      case Tok::BuddhistYear4:
        number(year + 543, 4, true);
        break;
      case Tok::Month:
      case Tok::Month2:
        number(month, token.kind == Tok::Month2 ? 2 : 1, false);
        break;
      case Tok::MonthAbbr:
        out.Put(names.monthAbbreviations[month - 1]);
        break;
      case Tok::MonthName:
        out.Put(names.monthNames[month - 1]);
        break;
      case Tok::MonthLetter: {
        const std::string& name = names.monthNames[month - 1];
        size_t length = name.empty() ? 0 : 1;
        while (length < name.size() && IsUtf8Continuation(name[length])) {
          ++length;
        }
        out.Put(std::string_view(name).substr(0, length));
        break;
      }
      case Tok::Day:
      case Tok::Day2:
        number(dayOfMonth, token.kind == Tok::Day2 ? 2 : 1, false);
        break;
      case Tok::DayAbbr:
        out.Put(names.dayAbbreviations[weekday]);
        break;
      case Tok::DayName:
        out.Put(names.dayNames[weekday]);
        break;
      case Tok::Hour:
      case Tok::Hour2: {
        int shown = hour;
        if (s.hour12) shown = hour % 12 == 0 ? 12 : hour % 12;
        number(shown, token.kind == Tok::Hour2 ? 2 : 1, false);
        break;
      }
      case Tok::Minute:
      case Tok::Minute2:
        number(minute, token.kind == Tok::Minute2 ? 2 : 1, false);
        break;
      case Tok::Second:
      case Tok::Second2:
        number(second, token.kind == Tok::Second2 ? 2 : 1, false);
        break;
      case Tok::SubSecond: {
        out.Put(locale.decimalSeparator);
        char buffer[8];
        for (int i = s.subSecondDigits - 1, rest = static_cast<int>(subUnits); i >= 0; --i) {
          buffer[i] = static_cast<char>('0' + rest % 10);
          rest /= 10;
        }
        out.Put(buffer, buffer + token.width);
        break;
      }
      case Tok::ElapsedHours:
        AppendInt(totalSeconds / 3600, token.width, out);
        break;
      case Tok::ElapsedMinutes:
        AppendInt(totalSeconds / 60, token.width, out);
        break;
      case Tok::ElapsedSeconds:
        AppendInt(totalSeconds, token.width, out);
        break;
      case Tok::AmPm:
        out.Put(hour < 12 ? names.amText : names.pmText);
        break;
      case Tok::AOrP:
        out.Put(token.text[hour < 12 ? 0 : 1]);
        break;
      default:
        break;
    }
  }
  out.Flush();
}

}  // namespace cellverter::numfmt
