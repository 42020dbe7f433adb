#include "spreadsheet/numfmt/serial_date.h"

#include <gtest/gtest.h>

#include <chrono>

namespace cellverter {
namespace {

using std::chrono::year;

struct SerialCase {
  std::chrono::year_month_day date;
  long long serial1900;
  long long serial1904;
};

class SerialDateTest : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialDateTest, DateAndSerialGoBothWaysInBothSystems) {
  const SerialCase& c = GetParam();
  EXPECT_EQ(SerialDayOf(c.date, false), c.serial1900);
  EXPECT_EQ(SerialDayOf(c.date, true), c.serial1904);
  EXPECT_EQ(DateOfSerialDay(c.serial1900, false), c.date);
  if (c.serial1904 >= 0) {
    EXPECT_EQ(DateOfSerialDay(c.serial1904, true), c.date);
  }
}

INSTANTIATE_TEST_SUITE_P(Dates, SerialDateTest,
                         ::testing::Values(SerialCase{year(1900) / 1 / 1, 1, -1460},
                                           SerialCase{year(1900) / 2 / 28, 59,
                                                      -1402},  // then the 29th that never was
                                           SerialCase{year(1900) / 3 / 1, 61, -1401},
                                           SerialCase{year(1904) / 1 / 1, 1462, 0},
                                           SerialCase{year(2024) / 1 / 5, 45296, 43834},
                                           SerialCase{year(9999) / 12 / 31, 2958465, 2957003}));

TEST(SerialDayOfTest, DayPastTheEndOfItsMonthRunsOnIntoTheNext) {
  EXPECT_EQ(SerialDayOf(year(2023) / 2 / 31, false), SerialDayOf(year(2023) / 3 / 3, false));
  EXPECT_EQ(SerialDayOf(year(1900) / 2 / 29, false), 61);
}

}  // namespace
}  // namespace cellverter
