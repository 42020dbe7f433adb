#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

namespace cellverter {

// Values as the XML of workbook packages writes them (Office Open XML and OpenDocument).

// A decimal integer and nothing else.
inline bool ParseUnsigned(std::string_view text, uint64_t& value) {
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// A decimal number, blanks around it allowed; not infinite, not NaN.
inline bool ParseNumber(std::string_view text, double& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\n' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && !text.empty() &&
         std::isfinite(value);
}

// Days of an ISO 8601 duration ("PT13H20M1.5S", "P1DT2H"): weeks, days, hours, minutes and
// seconds, each with an optional fraction. Years and months have no fixed length and are
// refused.
std::optional<double> IsoDurationDays(std::string_view text);

// The serial number of an ISO 8601 date, time or date-time, or of a duration, in the 1900 or
// 1904 date system.
std::optional<double> IsoDateSerial(std::string_view text, bool date1904);

}  // namespace cellverter
