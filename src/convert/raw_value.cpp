#include "convert/raw_value.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace cellverter {
namespace {

constexpr long long kMillisecondsPerDay = 86'400'000;

void AppendNumber(double number, std::string& out) {
  if (number == 0) number = 0;  // no negative zero
  // Plain digits where they stay short, as Excel's General keeps them; else with an exponent.
  const double magnitude = std::abs(number);
  const auto style = magnitude == 0 || (magnitude >= 1e-5 && magnitude < 1e21)
                         ? std::chars_format::fixed
                         : std::chars_format::scientific;
  char digits[400];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, number, style);
  if (error != std::errc()) return;
  for (char* c = digits; c != end; ++c) {
    out += *c == 'e' ? 'E' : *c;
  }
}

void AppendTwoDigits(long long value, std::string& out) {
  out += static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

void AppendDate(long long day, std::string& out) {
  const std::chrono::year_month_day date{
      std::chrono::sys_days(std::chrono::year(1899) / std::chrono::December / 30) +
      std::chrono::days(day)};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  out += text;
}

void AppendTime(long long milliseconds, std::string& out) {
  const long long seconds = milliseconds / 1000;
  AppendTwoDigits(seconds / 3600, out);
  out += ':';
  AppendTwoDigits(seconds / 60 % 60, out);
  out += ':';
  AppendTwoDigits(seconds % 60, out);
  if (const long long rest = milliseconds % 1000; rest != 0) {
    out += '.';
    out += static_cast<char>('0' + rest / 100);
    AppendTwoDigits(rest % 100, out);
  }
}

}  // namespace

void AppendRawValue(const ExcelValue& value, std::string& out) {
  using Type = ExcelValue::Type;
  switch (value.type) {
    case Type::kEmpty:
      return;
    case Type::kNumber:
      AppendNumber(value.number, out);
      return;
    case Type::kString:
    case Type::kError:
      out += value.text;
      return;
    case Type::kBoolean:
      out += value.number != 0 ? "TRUE" : "FALSE";
      return;
    case Type::kDate:
    case Type::kTime:
    case Type::kDateTime:
      break;
  }
  // Rounded to the millisecond, as Excel keeps times; 23:59:59.9996 is the next day.
  const auto total = static_cast<long long>(std::llround(value.number * kMillisecondsPerDay));
  const long long day = total / kMillisecondsPerDay;
  const long long time = total % kMillisecondsPerDay;
  if (value.type == Type::kTime && day == 0) {
    AppendTime(time, out);
  } else if (value.type == Type::kDate && time == 0) {
    AppendDate(day, out);
  } else {
    AppendDate(day, out);
    out += 'T';
    AppendTime(time, out);
  }
}

}  // namespace cellverter
