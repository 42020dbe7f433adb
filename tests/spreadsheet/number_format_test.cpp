// Displayed texts of format codes. Expected values are what Excel shows; rows marked
// "ssf" come from the test tables of the SheetJS ssf library (test/comma.tsv and
// test/oddities.json of SheetJS/ssf and SheetJS/sheetjs), which record Excel's output.
#include "spreadsheet/number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace cellverter {
namespace {

struct Case {
  std::string code;
  double value;
  std::string expected;
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
  return out << "\"" << c.code << "\" with " << c.value;
}

const FormatLocale& German() {
  static const FormatLocale locale = FormatLocale::ForName("de_DE.UTF-8");
  return locale;
}

std::string Us(double value, std::string_view code, bool date1904 = false) {
  return FormatCellText(CellValue::Number(value), code, date1904, FormatLocale::EnUs());
}

class EnUsNumbers : public testing::TestWithParam<Case> {};
TEST_P(EnUsNumbers, ShowsExcelText) {
  EXPECT_EQ(Us(GetParam().value, GetParam().code), GetParam().expected);
}

class GermanNumbers : public testing::TestWithParam<Case> {};
TEST_P(GermanNumbers, ShowsExcelText) {
  EXPECT_EQ(FormatCellText(CellValue::Number(GetParam().value), GetParam().code, false, German()),
            GetParam().expected);
}

// Excel's General rule: at most eleven characters besides the sign.
INSTANTIATE_TEST_SUITE_P(
    General, EnUsNumbers,
    testing::Values(Case{"General", 0, "0"}, Case{"General", 1, "1"}, Case{"General", -1.5, "-1.5"},
                    Case{"General", 0.1 + 0.2, "0.3"}, Case{"General", 1234567.891, "1234567.891"},
                    Case{"General", 12345678901, "12345678901"},
                    Case{"General", 123456789012, "1.23457E+11"},
                    Case{"General", 1234567890.12345, "1234567890"},
                    Case{"General", 3.14159265358979, "3.141592654"},
                    Case{"General", 0.123456789012, "0.123456789"},
                    Case{"General", 0.000123456789, "0.000123457"},
                    Case{"General", 0.00001, "1E-05"}, Case{"General", 0.0000123456, "1.23456E-05"},
                    Case{"General", 1e100, "1E+100"},
                    Case{"General", -1.23456789e-150, "-1.2346E-150"},
                    Case{"General", 99999999999.6, "1E+11"}, Case{"General", 1e15, "1E+15"},
                    Case{"general", 42, "42"}, Case{"[Blue]General", -1, "-1"},  // ssf
                    Case{"General\" USD\"", 2.5, "2.5 USD"}, Case{"0;-0;General", 0, "0"}));

// Digits, decimals, grouping, scaling and Excel's decimal rounding (half away from zero on
// the 15-digit decimal value).
INSTANTIATE_TEST_SUITE_P(
    Digits, EnUsNumbers,
    testing::Values(Case{"0.00", 2.675, "2.68"}, Case{"0.00", 1.005, "1.01"},
                    Case{"0.00", -2.675, "-2.68"}, Case{"0", 0.5, "1"}, Case{"0", 2.5, "3"},
                    Case{"0", -0.4, "-0"}, Case{"#,###.00", 12.345, "12.35"},  // ssf
                    Case{"#,###.00", 1234652.68499999999995, "1,234,652.69"},  // ssf
                    Case{"#,##0.0", 123456789012, "123,456,789,012.0"},        // ssf
                    Case{"###,###", 0.99, "1"},                                // ssf
                    Case{"#,###", 0, ""},                                      // ssf
                    Case{"#.##", 0, "."},                                      // ssf
                    Case{"#.##", 1, "1."},                                     // ssf
                    Case{"0.##", 1.007, "1.01"},                               // ssf
                    Case{"0.##", 1000000000000.01, "1000000000000.01"},        // ssf
                    Case{"#0.#", 12.34, "12.3"},                               // ssf
                    Case{"#,##0.000000000", 1000000, "1,000,000.000000000"},   // ssf
                    Case{"#.0000,,,", 1234567890, "1.2346"},                   // ssf
                    Case{"#.0000,,", 123.456, ".0001"},                        // ssf
                    Case{"#.0000,", 12345678901, "12345678.9010"},             // ssf
                    Case{"#,##0,\"K\"", 1234567, "1,235K"}, Case{"0.0,,\" M\"", 2500000, "2.5 M"},
                    Case{"0,000", 5, "0,005"}, Case{"00000", 42, "00042"},
                    Case{"000-00-0000", 123456789, "123-45-6789"}, Case{"???.??", 3.5, "  3.5 "},
                    Case{"#.00", 0.5, ".50"}, Case{"0", 1e20, "100000000000000000000"},
                    Case{"#,##0", 123456789012345678.0, "123,456,789,012,346,000"}));

INSTANTIATE_TEST_SUITE_P(
    PercentAndScientific, EnUsNumbers,
    testing::Values(Case{"0%", 0.125, "13%"}, Case{"0.00%", 0.0115, "1.15%"},
                    Case{"0%%", 0.5, "5000%%"}, Case{"0.00E+00", 12345, "1.23E+04"},
                    Case{"0.00E+00", 0.00012345, "1.23E-04"}, Case{"0.00E+00", 0, "0.00E+00"},
                    Case{"0.00E+00", 9.999, "1.00E+01"}, Case{"0.00E-00", 12345, "1.23E04"},
                    Case{"0.0E+0", -1500, "-1.5E+3"}, Case{"##0.0E+0", 12345, "12.3E+3"},
                    Case{"##0.0E+0", 1234567, "1.2E+6"}, Case{"##0.0E+0", 0.001234, "1.2E-3"},
                    Case{"##0.0E+0", 999999, "1.0E+6"}, Case{"0.00E+000", 1e100, "1.00E+100"}));

INSTANTIATE_TEST_SUITE_P(
    Fractions, EnUsNumbers,
    testing::Values(Case{"# ?/?", 1.5, "1 1/2"}, Case{"# ?/?", 3, "3    "},
                    Case{"# ?/?", 0, "0    "}, Case{"# ?/?", 0.3333, " 1/3"},
                    Case{"# ?/?", -2.25, "-2 1/4"}, Case{R"(# ??/??)", 3.14159265358979, "3 14/99"},
                    Case{R"(# ???/???)", 3.14159265358979, "3  16/113"}, Case{"# ?/8", 0.3, " 2/8"},
                    Case{"# ?/8", 2.97, "3    "}, Case{R"(# ??/16)", 5.5, "5  8/16"},
                    Case{"?/?", 2.5, "5/2"}, Case{"?/?", 0, "0/1"}, Case{R"(??/??)", 0.75, " 3/4 "},
                    Case{"0 0/0", 1.25, "1 1/4"}));

// Literals, escapes, spaces of _x and fills of *x.
INSTANTIATE_TEST_SUITE_P(
    Literals, EnUsNumbers,
    testing::Values(Case{"$#,##0.00", 1234.5, "$1,234.50"},
                    Case{"$#,##0.00", -1234.5, "-$1,234.50"}, Case{"\"Total: \"0", 7, "Total: 7"},
                    Case{"0\" items\"", 3, "3 items"}, Case{"\\r0", 1, "r1"}, Case{"(0)", 5, "(5)"},
                    Case{"0_)", 5, "5 "}, Case{"**0", 5, "5"}, Case{"0*-", 5, "5"},
                    Case{"+0;-0", 5, "+5"}, Case{"0 \\m", 5, "5 m"},
                    Case{"123", 0.7, "123"},  // ssf
                    Case{"\"foo\"", 5, "foo"}, Case{"[$€-407] #,##0.00", 3.5, "€ 3.50"},
                    Case{"#,##0.00 [$€-407]", 3.5, "3.50 €"}, Case{"[$USD] 0", 3, "USD 3"},
                    Case{"_($* #,##0_);_($* (#,##0);_($* \"-\"_);_(@_)", 1, " $1 "},    // ssf
                    Case{"_($* #,##0_);_($* (#,##0);_($* \"-\"_);_(@_)", -1, " $(1)"},  // ssf
                    Case{"_($* #,##0_);_($* (#,##0);_($* \"-\"_);_(@_)", 0, " $- "}));  // ssf

// Sections, conditions and colours.
INSTANTIATE_TEST_SUITE_P(
    Sections, EnUsNumbers,
    testing::Values(Case{"0;(0)", -5, "(5)"}, Case{"0;(0)", -0.1, "(0)"}, Case{"0;(0)", 0, "0"},
                    Case{"0.0;-0.0;\"zero\"", 0, "zero"}, Case{"0.0;-0.0;\"zero\"", -0.01, "-0.0"},
                    Case{"0;;", -5, ""}, Case{"0;0", -1.1, "1"},
                    Case{"\"foo\";\"bar\";\"baz\";\"qux\"", -1, "bar"},  // ssf
                    Case{"\"foo\";\"bar\";\"baz\"", 0, "baz"},           // ssf
                    Case{"\"foo\";\"bar\";@", 0, "foo"},                 // ssf
                    Case{"[Red]0.00;[Blue]-0.00", -3, "-3.00"}, Case{"[Color10]0", 3, "3"},
                    Case{"[>100]\"big\";[<=-5]\"low\";0", 150, "big"},
                    Case{"[>100]\"big\";[<=-5]\"low\";0", -10, "low"},
                    Case{"[>100]\"big\";[<=-5]\"low\";0", 50, "50"},
                    Case{"[>100]\"big\";[<=-5]\"low\";0", -2, "-2"},
                    Case{"[<1]0.00;0", 0.5, "0.50"}, Case{"[<1]0.00;0", 12.34, "12"},
                    Case{"[Red][<=100]0;[Blue][>100]0", -5, "-5"},
                    Case{"[>100]0;[<-100]0", 5, "########"}, Case{"[=1]\"one\";0", 1, "one"},
                    Case{"[<>1]0;\"one\"", 1, "one"}));

// Separators and names follow the locale.
INSTANTIATE_TEST_SUITE_P(
    DecimalComma, GermanNumbers,
    testing::Values(Case{"General", 1234.5, "1234,5"}, Case{"General", 1.5e20, "1,5E+20"},
                    Case{"#,##0.00", 1234567.891, "1.234.567,89"}, Case{"0.00%", 0.1234, "12,34%"},
                    Case{"0.00E+00", 12345, "1,23E+04"}, Case{"#,##0.00 [$€-407]", -3.5, "-3,50 €"},
                    Case{"dd.mm.yyyy", 45000, "15.03.2023"},
                    Case{"dddd, d. mmmm yyyy", 45000, "Mittwoch, 15. März 2023"},
                    Case{"ddd mmm", 45000, "Mi Mär"},
                    Case{"hh:mm:ss.00", 0.5 + 1.5 / 86400, "12:00:01,50"}));

}  // namespace
}  // namespace cellverter
