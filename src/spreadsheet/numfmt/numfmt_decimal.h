#pragma once

#include <array>

namespace cellverter::numfmt {

// A non-negative number as Excel sees it when it displays one: its decimal value of at most
// 15 significant digits. value = 0.d1 d2 ... dn x 10^point; no trailing zero digits; zero has
// no digits.
struct Decimal {
  std::array<char, 24> digits;  // only the first `count` are meaningful
  int count = 0;
  int point = 0;

  bool IsZero() const { return count == 0; }
  // Digit `index` counted from the first significant one; '0' outside the stored digits.
  char Digit(int index) const { return index >= 0 && index < count ? digits[index] : '0'; }
};

// The decimal value of a finite `magnitude` >= 0, rounded to 15 significant digits.
Decimal ToDecimal(double magnitude);

// Keeps the first `keep` significant digits, rounding half away from zero (keep <= 0 rounds
// at or before the first digit).
void RoundToDigits(Decimal& value, int keep);

// Rounds to `decimals` digits after the decimal point, half away from zero.
inline void RoundToDecimals(Decimal& value, int decimals) {
  RoundToDigits(value, value.point + decimals);
}

// The same as ToDecimal(magnitude) followed by RoundToDecimals(result, decimals), usually
// without the shortest-digits conversion.
Decimal ToDecimalRounded(double magnitude, int decimals);

}  // namespace cellverter::numfmt
