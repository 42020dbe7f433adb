#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

namespace cellverter {

// Values as the XML of workbook packages writes them (Office Open XML and OpenDocument).

// A decimal integer and nothing else. A loop of our own: the numbers are short (styles, shared
// string indexes, rows), and from_chars costs several times as much on them.
inline bool ParseUnsigned(std::string_view text, uint64_t& value) {
  if (text.empty()) return false;
  uint64_t result = 0;
  if (text.size() <= 19) {  // 19 digits cannot overflow
    for (const char c : text) {
      const auto digit = static_cast<uint64_t>(static_cast<unsigned char>(c) - '0');
      if (digit > 9) return false;
      result = result * 10 + digit;
    }
    value = result;
    return true;
  }
  for (const char c : text) {
    const auto digit = static_cast<uint64_t>(static_cast<unsigned char>(c) - '0');
    if (digit > 9 || __builtin_mul_overflow(result, 10, &result) ||
        __builtin_add_overflow(result, digit, &result)) {
      return false;
    }
  }
  value = result;
  return true;
}

// The decimals that most cells hold ("-12.5", "26606.62"): at most 19 digits, whose integer is
// exact in a double, at most 22 of them after the point; zeros that end the digits after the
// point are taken off ("2.50" is 25 and one decimal, "7.000" is 7).
struct PlainDecimal {
  uint64_t digits = 0;  // the magnitude times 10^decimals
  int decimals = 0;
  bool negative = false;

  // The quotient of two exact doubles, which the division rounds correctly: the double
  // from_chars gives.
  double Value() const {
    static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const double magnitude = static_cast<double>(digits) / kPowersOfTen[decimals];
    return negative ? -magnitude : magnitude;
  }
};

// False for any text other than a plain decimal, which from_chars then reads.
inline bool ReadPlainDecimal(std::string_view text, PlainDecimal& decimal) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++i;
  uint64_t integer = 0;
  int digits = 0;
  int decimals = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const auto digit = static_cast<unsigned>(static_cast<unsigned char>(text[i]) - '0');
    if (digit <= 9) {
      if (++digits > 19) return false;
      integer = integer * 10 + digit;
      decimals += point;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (digits == 0 || integer > (uint64_t{1} << 53) || decimals > 22) return false;
  while (decimals > 0 && integer % 10 == 0) {
    integer /= 10;
    --decimals;
  }
  decimal = PlainDecimal{integer, decimals, negative};
  return true;
}

// The blanks a number may have around it in XML (' ', '\n', '\t'), taken off.
inline void TrimXmlNumberBlanks(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\n' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
}

// A decimal number, blanks around it allowed; not infinite, not NaN. A plain decimal comes as
// its digits (`isDecimal`), whose Value() is the number; any other as `value`.
inline bool ReadNumber(std::string_view text, PlainDecimal& decimal, bool& isDecimal,
                       double& value) {
  // Nearly every number comes without blanks: a byte above ' ' at each end tells so.
  if (text.empty() || static_cast<unsigned char>(text.front()) <= ' ' ||
      static_cast<unsigned char>(text.back()) <= ' ') {
    TrimXmlNumberBlanks(text);
  }
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  isDecimal = ReadPlainDecimal(text, decimal);
  if (isDecimal) return true;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && !text.empty() &&
         std::isfinite(value);
}

// The same number as a double.
inline bool ParseNumber(std::string_view text, double& value) {
  PlainDecimal decimal;
  bool isDecimal = false;
  if (!ReadNumber(text, decimal, isDecimal, value)) return false;
  if (isDecimal) value = decimal.Value();
  return true;
}

// Days of an ISO 8601 duration ("PT13H20M1.5S", "P1DT2H"): weeks, days, hours, minutes and
// seconds, each with an optional fraction. Years and months have no fixed length and are
// refused.
std::optional<double> IsoDurationDays(std::string_view text);

// The serial number of an ISO 8601 date, time or date-time, or of a duration, in the 1900 or
// 1904 date system.
std::optional<double> IsoDateSerial(std::string_view text, bool date1904);

}  // namespace cellverter
