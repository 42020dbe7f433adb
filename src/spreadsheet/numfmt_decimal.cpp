#include "spreadsheet/numfmt_decimal.h"

#include <charconv>
#include <system_error>

namespace cellverter::numfmt {
namespace {

// Reads "d.ddde+XX" as to_chars writes it.
Decimal FromScientific(const char* begin, const char* end) {
  Decimal result;
  const char* p = begin;
  for (; p != end && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9' && result.count < static_cast<int>(result.digits.size())) {
      result.digits[result.count++] = *p;
    }
  }
  int exponent = 0;
  if (p != end) {
    ++p;
    if (p != end && *p == '+') ++p;
    std::from_chars(p, end, exponent);
  }
  result.point = exponent + 1;
  while (result.count > 0 && result.digits[result.count - 1] == '0') --result.count;
  if (result.count == 0) result.point = 0;
  return result;
}

}  // namespace

Decimal ToDecimal(double magnitude) {
  if (!(magnitude > 0)) return {};
  char buffer[40];
  // The shortest text that reads back as the same double: when it has at most 15 digits it
  // is also the value rounded to 15 digits, since a double is finer than that grid.
  auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  int significant = 0;
  for (const char* p = buffer; p != end && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') ++significant;
  }
  if (error != std::errc() || significant > 15) {
    const auto precise =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, 14);
    end = precise.ptr;
  }
  return FromScientific(buffer, end);
}

void RoundToDigits(Decimal& value, int keep) {
  if (keep >= value.count) return;
  if (keep < 0) {
    value = {};
    return;
  }
  const bool up = value.digits[keep] >= '5';
  value.count = keep;
  if (up) {
    int i = keep - 1;
    while (i >= 0 && value.digits[i] == '9') --i;
    if (i < 0) {
      // 0.999 -> 1.00: one digit more before the point.
      value.digits[0] = '1';
      value.count = 1;
      ++value.point;
      return;
    }
    ++value.digits[i];
    value.count = i + 1;
  }
  while (value.count > 0 && value.digits[value.count - 1] == '0') --value.count;
  if (value.count == 0) value.point = 0;
}

}  // namespace cellverter::numfmt
