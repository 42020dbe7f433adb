#include "spreadsheet/numfmt_decimal.h"

#include <charconv>

namespace cellverter::numfmt {
namespace {

// Reads "d.ddde+XX" (or "de-XX") as to_chars writes it.
Decimal FromScientific(const char* begin, const char* end) {
  Decimal result;
  const char* p = begin;
  result.digits[result.count++] = *p++;
  if (p != end && *p == '.') {
    ++p;
    while (p != end && *p != 'e' && result.count < static_cast<int>(result.digits.size())) {
      result.digits[result.count++] = *p++;
    }
  }
  while (p != end && *p != 'e') ++p;
  int exponent = 0;
  if (p != end) {
    ++p;
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    for (; p != end; ++p) exponent = exponent * 10 + (*p - '0');
    if (negative) exponent = -exponent;
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
  // The shortest text that reads back as the same double. With at most 15 digits it is the
  // value rounded to 15 digits, since doubles are finer than that grid. With more, rounding
  // it again gives the same result as rounding the exact binary value, except when it sits
  // exactly on a 15-digit midpoint (16 digits ending in 5): then ask for the exact rounding.
  const auto shortest =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  Decimal result = FromScientific(buffer, shortest.ptr);
  if (result.count <= 15) return result;
  if (result.count == 16 && result.digits[15] == '5') {
    const auto precise =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, 14);
    return FromScientific(buffer, precise.ptr);
  }
  RoundToDigits(result, 15);
  return result;
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
