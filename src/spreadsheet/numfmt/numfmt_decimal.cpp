#include "spreadsheet/numfmt/numfmt_decimal.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>

namespace cellverter::numfmt {
namespace {

// Reads "d.ddde+XX" (or "de-XX") as to_chars writes it in scientific notation: one digit,
// optionally a point and more digits (at most 16 more), then always 'e', a sign and the
// exponent.
Decimal FromScientific(const char* begin, const char* end) {
  Decimal result;
  const char* p = begin;
  int count = 0;
  result.digits[count++] = *p++;
  if (*p == '.') {
    ++p;
    while (*p != 'e') result.digits[count++] = *p++;
  }
  ++p;  // 'e'
  const bool negative = *p == '-';
  ++p;  // sign
  int exponent = 0;
  for (; p != end; ++p) exponent = exponent * 10 + (*p - '0');
  if (negative) exponent = -exponent;
  while (count > 0 && result.digits[count - 1] == '0') --count;
  result.count = count;
  result.point = count == 0 ? 0 : exponent + 1;
  return result;
}

// A positive integer of at most 15 significant digits (10^15 included): its exact digits.
Decimal FromInteger(uint64_t value) {
  Decimal result;
  // Written where they stay: the zeros that end them are dropped by the count alone.
  char* const digits = result.digits.data();
  const auto end = std::to_chars(digits, digits + result.digits.size(), value).ptr;
  int length = static_cast<int>(end - digits);
  result.point = length;
  while (length > 0 && digits[length - 1] == '0') --length;
  result.count = length;
  return result;
}

}  // namespace

Decimal ToDecimal(double magnitude) {
  if (!(magnitude > 0)) return {};
  // Whole numbers below 10^15 are exact with at most 15 digits: no rounding needed.
  if (magnitude < 1e15) {
    const auto whole = static_cast<uint64_t>(magnitude);
    if (static_cast<double>(whole) == magnitude) return FromInteger(whole);
  }
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

Decimal ToDecimalRounded(double magnitude, int decimals) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  if (magnitude > 0 && decimals >= 0 && decimals < static_cast<int>(std::size(kPowers))) {
    // scaled + error is exactly magnitude x 10^decimals (the powers are exact doubles).
    const double power = kPowers[decimals];
    const double scaled = magnitude * power;
    if (scaled < 1e15) {
      const double error = std::fma(magnitude, power, -scaled);
      const auto whole = static_cast<uint64_t>(scaled);  // floor: scaled >= 0
      // Below 2^52 the fraction of `scaled` is exact; adding the tiny error costs at most an
      // ulp of 0.5.
      const double fraction = (scaled - static_cast<double>(whole)) + error;
      // Rounding to 15 significant digits first moves the scaled value by at most half a
      // unit of its 15th digit, which is below scaled x 10^-14. Further than that (with a
      // margin for the arithmetic above) from the midpoint, both roundings agree with
      // rounding the exact value to the nearest integer.
      if (std::abs(fraction - 0.5) > scaled * 1e-14 + 1e-12) {
        const auto rounded = whole + (fraction > 0.5 ? 1 : 0);
        if (rounded == 0) return {};
        Decimal result = FromInteger(rounded);
        result.point -= decimals;
        return result;
      }
    }
  }
  Decimal result = ToDecimal(magnitude);
  RoundToDecimals(result, decimals);
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
