#include "spreadsheet/xlsx/xml_values.h"

#include <chrono>

#include "spreadsheet/numfmt/serial_date.h"

namespace cellverter {

// Days of an ISO 8601 duration, as Excel's Strict Open XML files store times ("PT13H20M1.5S",
// "P1DT2H"): weeks, days, hours, minutes and seconds, each with an optional fraction. Years
// and months have no fixed length and are refused.
std::optional<double> IsoDurationDays(std::string_view text) {
  if (text.size() < 3 || text[0] != 'P') return std::nullopt;
  double seconds = 0;
  bool inTime = false;
  for (size_t i = 1; i < text.size();) {
    if (text[i] == 'T' && !inTime) {
      inTime = true;
      ++i;
      continue;
    }
    const size_t start = i;
    double value = 0;
    while (i < text.size() && i - start < 16 && text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + (text[i++] - '0');
    }
    if (i == start) return std::nullopt;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
      double scale = 0.1;
      for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10) {
        value += (text[i] - '0') * scale;
      }
    }
    if (i >= text.size()) return std::nullopt;
    const char unit = text[i++];
    if (!inTime && unit == 'W') {
      seconds += value * 7 * 86400;
    } else if (!inTime && unit == 'D') {
      seconds += value * 86400;
    } else if (inTime && unit == 'H') {
      seconds += value * 3600;
    } else if (inTime && unit == 'M') {
      seconds += value * 60;
    } else if (inTime && unit == 'S') {
      seconds += value;
    } else {
      return std::nullopt;
    }
  }
  return seconds / 86400;
}

// The serial number of an ISO 8601 date, time or date-time (cells of type "d"), or of a
// duration, which Excel writes for times of day.
std::optional<double> IsoDateSerial(std::string_view text, bool date1904) {
  if (!text.empty() && text[0] == 'P') return IsoDurationDays(text);
  auto number = [&](size_t& i, size_t digits, int& out) {
    if (i + digits > text.size()) return false;
    out = 0;
    for (size_t k = 0; k < digits; ++k) {
      const char c = text[i + k];
      if (c < '0' || c > '9') return false;
      out = out * 10 + (c - '0');
    }
    i += digits;
    return true;
  };
  size_t i = 0;
  double serial = 0;
  bool hasDate = false;
  if (text.size() >= 10 && text[4] == '-') {
    int y, mo, d;
    if (!number(i, 4, y) || text[i++] != '-' || !number(i, 2, mo) || text[i++] != '-' ||
        !number(i, 2, d) || mo < 1 || mo > 12 || d < 1 || d > 31) {
      return std::nullopt;
    }
    serial = static_cast<double>(SerialDayOf(std::chrono::year(y) / mo / d, date1904));
    hasDate = true;
    if (i < text.size() && (text[i] == 'T' || text[i] == ' ')) ++i;
  }
  if (i < text.size()) {
    int h, mi, s = 0;
    if (!number(i, 2, h) || i >= text.size() || text[i++] != ':' || !number(i, 2, mi)) {
      return std::nullopt;
    }
    double fraction = 0;
    if (i < text.size() && text[i] == ':') {
      ++i;
      if (!number(i, 2, s)) return std::nullopt;
      if (i < text.size() && text[i] == '.') {
        ++i;
        double scale = 0.1;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
          fraction += (text[i++] - '0') * scale;
          scale /= 10;
        }
      }
    }
    if (i < text.size() && text[i] == 'Z') ++i;
    if (i != text.size() || h > 24 || mi > 59 || s > 60) return std::nullopt;
    serial += (h * 3600.0 + mi * 60.0 + s + fraction) / 86400.0;
  } else if (!hasDate) {
    return std::nullopt;
  }
  return serial;
}

}  // namespace cellverter
