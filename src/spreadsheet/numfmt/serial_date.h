// Excel's serial day numbers and calendar dates. The 1900 system counts a 29 February 1900
// that never was (serial 60) and starts at serial 0, "0 January 1900"; the 1904 system starts
// at 1 January 1904.
#pragma once

#include <chrono>

namespace cellverter {

inline constexpr std::chrono::sys_days kFirstDay1904 =
    std::chrono::year(1904) / std::chrono::January / 1;
// Serial 0 of the 1900 system counts from here up to the missing 29 February 1900; the
// serials after it count from the day before.
inline constexpr std::chrono::sys_days kDayBeforeSerial1 =
    std::chrono::year(1899) / std::chrono::December / 31;

// The serial of a calendar date. A day past the end of its month runs on into the next
// month, as std::chrono counts it (2023-02-31 is 3 March).
constexpr long long SerialDayOf(std::chrono::year_month_day date, bool date1904) {
  const std::chrono::sys_days day = date;
  if (date1904) return (day - kFirstDay1904).count();
  const long long serial = (day - kDayBeforeSerial1).count();
  return serial < 60 ? serial : serial + 1;
}

// The calendar date of a serial; serials 0 and 60 of the 1900 system have none.
constexpr std::chrono::year_month_day DateOfSerialDay(long long serialDay, bool date1904) {
  if (date1904) return kFirstDay1904 + std::chrono::days(serialDay);
  return kDayBeforeSerial1 + std::chrono::days(serialDay < 60 ? serialDay : serialDay - 1);
}

}  // namespace cellverter
