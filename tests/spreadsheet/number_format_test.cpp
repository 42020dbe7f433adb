// Displayed texts of format codes. Expected values are what Excel shows; rows marked
// "ssf" come from the test tables of the SheetJS ssf library (test/comma.tsv and
// test/oddities.json of SheetJS/ssf and SheetJS/sheetjs), which record Excel's output;
// rows marked "numfmt" from the test tables of borgar/numfmt (test/*.spec.ts: ssf-fraction,
// conditionals, expformat, fragmented-numbers, ssf-oddities), checked against Excel 16;
// rows marked "recorded" are Excel's texts recorded on Excel-saved workbooks for the
// second review of displayed texts (issue 13).
#include "spreadsheet/numfmt/number_format.h"

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
                    Case{"General", 0.0000123456, "1.23456E-05"}, Case{"General", 1e100, "1E+100"},
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
                    Case{"# ?/?", -2.25, "-2 1/4"}, Case{R"(# ??/??)", 3.14159265358979, "3  1/7 "},
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

// Below 1E-4 General stays plain while every significant digit fits in eleven characters.
INSTANTIATE_TEST_SUITE_P(GeneralSmallNumbers, EnUsNumbers,
                         testing::Values(Case{"General", 0.00001, "0.00001"},           // recorded
                                         Case{"General", 1.2e-08, "0.000000012"},       // recorded
                                         Case{"General", 1e-09, "0.000000001"},         // recorded
                                         Case{"General", 1.234e-06, "0.000001234"},     // recorded
                                         Case{"General", -1.234e-06, "-0.000001234"},   // recorded
                                         Case{"General", 1.234567e-06, "1.23457E-06"},  // recorded
                                         Case{"General", 1e-10, "1E-10"}));

// Without a placeholder before the point the whole number still shows, unless it is zero.
INSTANTIATE_TEST_SUITE_P(IntegerPartWithoutPlaceholder, EnUsNumbers,
                         testing::Values(Case{".00", 3.14159, "3.14"},       // recorded
                                         Case{"$.00", 12.5, "$12.50"},       // recorded
                                         Case{".0%", 1.5, "150.0%"},         // recorded
                                         Case{".##", 42.5, "42.5"},          // recorded
                                         Case{".00", -0.5, "-.50"},          // recorded
                                         Case{"$#.00", -3.14159, "-$3.14"},  // numfmt
                                         Case{"\"This is a \".00\"test\"000", 3.14159,
                                              "This is a 3.14test159"},  // numfmt
                                         Case{"\"This is a \".00\"test\"000", -3.14159,
                                              "-This is a 3.14test159"}));  // numfmt

// Excel's fraction is the last convergent of the value's continued fraction (in double
// arithmetic) whose denominator fits; text may stand between the parts.
INSTANTIATE_TEST_SUITE_P(
    FractionConvergents, EnUsNumbers,
    testing::Values(Case{"# ?/?", 12.3, "12 1/3"},                         // numfmt, recorded
                    Case{"# ?/?", 0.3, " 2/7"},                            // numfmt
                    Case{"# ?/?", 2.3, "2 2/7"},                           // numfmt
                    Case{"# ?/?", 0.1, "0    "},                           // recorded
                    Case{R"(# ??/??)", 0.33, "  1/3 "},                    // recorded
                    Case{R"(# ??/??)", -123.456, "-123 26/57"},            // numfmt
                    Case{R"(# ???/???)", -12345.67891, "-12345 573/844"},  // numfmt
                    Case{R"(??/??)", -1.2, "- 6/5 "},                      // numfmt
                    Case{R"(??/??)", 12.3, "123/10"},                      // numfmt
                    Case{"# #/#", 0, "0"}, Case{"# #/#", 1, "1"},          // numfmt
                    Case{"# #/#", 12.345, "12 1/3"},                       // numfmt
                    Case{"? ?/?", 123, "123    "},                         // numfmt
                    Case{R"(# ??/16)", -1.2, "-1  3/16"},                  // numfmt
                    Case{"#\\:#=/=#", 23.75, "23:3=/=4"},                  // recorded
                    Case{"#\\:#/#", 0.75, "3/4"},                          // recorded
                    Case{"#_#/#", 3.75, "15 /4"},                          // recorded
                    Case{R"(# ??/?????????)", 0.123251512342345, " 480894/3901729  "},   // numfmt
                    Case{"# ?? / ?????????", 0.123251512342345, " 480894 / 3901729  "},  // numfmt
                    Case{"00 0/0", 12345.67, "12345 2/3"},                               // numfmt
                    Case{"0z0 00/00", 12345.67, "1234z5 65/97"},                         // numfmt
                    Case{R"(00 ??/?z?)", 12345.67, "12345  2/3z "}));                    // numfmt

// Exponents: e keeps its case, text may stand between the parts, and the exponent is a
// multiple of the number of integer placeholders.
INSTANTIATE_TEST_SUITE_P(ExponentForms, EnUsNumbers,
                         testing::Values(Case{"0.00e+00", 12345, "1.23e+04"},      // recorded
                                         Case{"|#|e-|#|", 123456.789, "|1|e|5|"},  // recorded
                                         Case{"|0000.0000|e-|0|", 123456.789,
                                              "|0012.3457|e|4|"},                        // recorded
                                         Case{"00.0E+00", 100, "01.0E+02"},              // numfmt
                                         Case{"00.E+00", 9.59999, "10.E+00"},            // numfmt
                                         Case{"000.0E+00", 9599.99, "009.6E+03"},        // numfmt
                                         Case{"000E+00", 12345.67, "012E+03"},           // numfmt
                                         Case{"0x0.00E+0", 123456789, "0x1.23E+8"},      // numfmt
                                         Case{"0.00E+0x0", 123456789, "1.23E+0x8"},      // numfmt
                                         Case{"0.0E+0x00", 1234567890000, "1.2E+0x12"},  // numfmt
                                         Case{"0E+00", 0.95, "1E+00"}));                 // numfmt

// Padding, signs of text-only codes, elapsed time and calendars.
INSTANTIATE_TEST_SUITE_P(
    Oddities, EnUsNumbers,
    testing::Values(
        Case{"?,?????????", 1234567, "    1,234,567"},  // recorded
        Case{"A\"TODO\"", -1, "ATODO"},                 // recorded
        Case{"\"It was \"[h]\" [yes, \"h\"] hours\"", 3.14159,
             "It was 75 [yes, 75] hours"},                        // recorded
        Case{"s:m\" @ hour \"[hh]", 3.14159, "53:23 @ hour 75"},  // recorded
        Case{"[m] m", 0.5, "720 720"}, Case{"[s]:ss", 0.01, "864:864"}, Case{"b", 1, "43"},
        Case{"b", 1000, "45"}, Case{"b", 10000, "70"},                               // numfmt
        Case{"bbbb-mm-dd", 45000, "2566-03-15"}, Case{"B2yyyymmdd", 0, "13170829"},  // recorded
        Case{"B2yyyy-mm-dd", 59, "1317-10-28"},                                      // numfmt
        Case{"B2yyyy-mm-dd", 61, "1317-10-29"},                                      // numfmt
        Case{"B2yyyy-mm-dd", 1000, "1320-06-23"},                                    // numfmt
        Case{"B2yyyy-mm-dd", 10000, "1345-11-17"},                                   // numfmt
        Case{"B1yyyy-mm-dd", 10000, "1927-05-18"},
        Case{"[DBNum1][$-804]General", 12323, "一万二千三百二十三"},  // recorded
        Case{"[DBNum2][$-804]General", 123, "壹佰贰拾叁"},  // Excel, stackoverflow.com/q/54965433
        Case{"[DBNum1][$-804]General", 2.5, "2.5"}, Case{"[DBNum1][$-409]General", 12, "12"},
        // Apache POI, TestDateUtil: the texts Excel shows for 8 December 2016
        Case{"[DBNum1][$-404]m\"月\"d\"日\";@", 42712, "十二月八日"},
        Case{"[DBNum2][$-804]yyyy\"年\"m\"月\"d\"日\";@", 42712, "贰零壹陆年壹拾贰月捌日"},
        Case{"[DBNum3][$-804]yyyy\"年\"m\"月\"d\"日\";@", 42712, "２０１６年１２月８日"}));

// Conditions: the section that takes the value, and whether it shows the minus.
INSTANTIATE_TEST_SUITE_P(
    ConditionalSigns, EnUsNumbers,
    testing::Values(Case{"[<-10]#\" Wow\"", -11, "-11 Wow"},     // recorded
                    Case{"[<=-10]#\" Wow\"", -10, "-10 Wow"},    // recorded
                    Case{"[<10]#\" Wow\"", 10, "10"},            // recorded: no condition met
                    Case{"[=10]#\" Wow\"", 1, "1"},              // recorded
                    Case{"[>-10]#\" Big\"", -10, "-10"},         // recorded
                    Case{"[>6]\"A\"0;[<-6]\"B\"0", -6.3, "B6"},  // numfmt
                    Case{"[>=100]\"A\"0;[<=0]\"B\"0;\"C\"0", -6.3, "-B6"},     // numfmt
                    Case{"[>=100]\"A\"0;[<=-100]\"B\"0;\"C\"0", -6.3, "-C6"},  // numfmt
                    Case{"[<=-100]\"B\"0;\"C\"0", -6.3, "C6"},                 // numfmt
                    Case{"[>=100]\"A\"0;[<=-100]\"B\"0", 6.3, "########"},     // numfmt
                    Case{"[<-4]\\A0;[<>-6]\\B0;\\C0", -5, "A5"},               // numfmt
                    Case{"[>-6]\\A0;[<-4]\\B0;\\C0", -5, "-A5"},               // numfmt
                    Case{"[<-6]\\A0;[<>-6]\\B0;\\C0", -5, "-B5"},              // numfmt
                    Case{"[<>-5]\\A0;[=-5]\\B0;\\C0", -5, "B5"},               // numfmt
                    Case{"[>2]\\A0;[>2]\\B0;\\C0", -5, "-C5"},                 // numfmt
                    Case{"\"A-\"0;[<0]\"B-\"0;\"C-\"0", -1, "B-1"},            // numfmt
                    Case{"\"A-\"0;[<=0]\"B-\"0;\"C-\"0", -1, "-B-1"},          // numfmt
                    Case{"\"A-\"0;[=-10]\"B-\"0;\"C-\"0", -10, "B-10"},        // numfmt
                    Case{"\"A-\"0;[<0.5]\"B-\"0;\"C-\"0", 0, "B-0"},           // numfmt
                    Case{"\"A-\"0;[>0]\"B-\"0;\"C-\"0", 0, "C-0"},             // numfmt
                    Case{"[Red][<-25]General;[Blue][>25]General;[Green]General;[Yellow]General",
                         -26, "26"},  // numfmt
                    Case{"[Red][<-25]General;[Blue][>25]General;[Green]General;[Yellow]General", -1,
                         "-1"},  // numfmt
                    Case{"[Red][<=-25]General;[Blue][>=25]General;[Green]General;[Yellow]General",
                         -25, "25"}));  // numfmt

class EnUs1904 : public testing::TestWithParam<Case> {};
TEST_P(EnUs1904, ShowsExcelText) {
  EXPECT_EQ(Us(GetParam().value, GetParam().code, true), GetParam().expected);
}

// The 1904 system shows negative dates and times with a minus.
INSTANTIATE_TEST_SUITE_P(
    NegativeTimes, EnUs1904,
    testing::Values(Case{"[h]:m:s.000", -7384.0 / 86400, "-2:3:4.000"},  // recorded
                    Case{"[s].000", -3.14159, "-271433.376"},            // recorded
                    Case{"h:mm", -0.5, "-12:00"}, Case{"yyyy-mm-dd", -1, "-1904-01-02"}));

// Separators and names follow the locale.
INSTANTIATE_TEST_SUITE_P(
    DecimalComma, GermanNumbers,
    testing::Values(Case{"General", 1234.5, "1234,5"}, Case{"General", 1.5e20, "1,5E+20"},
                    Case{"#,##0.00", 1234567.891, "1.234.567,89"}, Case{"0.00%", 0.1234, "12,34%"},
                    Case{"0.00E+00", 12345, "1,23E+04"}, Case{"#,##0.00 [$€-407]", -3.5, "-3,50 €"},
                    Case{"dd.mm.yyyy", 45000, "15.03.2023"},
                    Case{"dddd, d. mmmm yyyy", 45000, "Mittwoch, 15. März 2023"},
                    Case{"ddd mmm", 45000, "Mi Mär"},
                    Case{"hh:mm:ss.00", 0.5 + 1.5 / 86400, "12:00:01,50"},
                    Case{".00", 3.14159, "3,14"}, Case{"General", 1.2e-08, "0,000000012"},
                    Case{"?,?????????", 1234567, "    1.234.567"},
                    Case{"0.00e+00", 12345, "1,23e+04"}));

// Serial 45000.75 is Wednesday 15 March 2023, 18:00 in the 1900 system.
INSTANTIATE_TEST_SUITE_P(
    Dates, EnUsNumbers,
    testing::Values(Case{"m/d/yyyy", 45000.75, "3/15/2023"}, Case{"mm/dd/yy", 45000.75, "03/15/23"},
                    Case{"d-mmm-yy", 45000.75, "15-Mar-23"},
                    Case{"dddd, mmmm dd, yyyy", 45000.75, "Wednesday, March 15, 2023"},
                    Case{"ddd mmmmm", 45000.75, "Wed M"},
                    Case{"yyyy-mm-dd hh:mm:ss", 45000.75, "2023-03-15 18:00:00"},
                    Case{"e", 0.7, "1900"},  // ssf
                    Case{"m/d/yyyy", 0, "1/0/1900"}, Case{"dddd", 0, "Saturday"},
                    Case{"m/d/yyyy", 1, "1/1/1900"}, Case{"dddd", 1, "Sunday"},
                    Case{"m/d/yyyy", 59, "2/28/1900"}, Case{"m/d/yyyy", 60, "2/29/1900"},
                    Case{"m/d/yyyy", 61, "3/1/1900"}, Case{"dddd", 61, "Thursday"},
                    Case{"m/d/yyyy", 2958465, "12/31/9999"}, Case{"m/d/yyyy", 2958466, "########"},
                    Case{"m/d/yyyy", -1, "########"}, Case{"h:mm", -0.5, "########"},
                    Case{"[h]:mm;-[h]:mm", -0.5, "-12:00"},
                    Case{"yyyy", 2958465.99999999, "########"}));

INSTANTIATE_TEST_SUITE_P(
    Times, EnUsNumbers,
    testing::Values(Case{"hh:mm AM/PM", 0.7, "04:48 PM"},  // ssf
                    Case{"A/P", 0.7, "P"},                 // ssf
                    Case{"h:mm a/p", 0.25, "6:00 a"}, Case{"h AM/PM", 0, "12 AM"},
                    Case{"h AM/PM", 0.5, "12 PM"}, Case{"h:mm:ss", 0.5, "12:00:00"},
                    Case{"mm:ss", 1.0 / 24 + 65.0 / 86400, "01:05"},  // m before s is minutes
                    Case{"h:mm", 10.5 / 24 + 59.6 / 86400,
                         "10:31"},  // seconds round, minutes do not
                    Case{"h:mm", 10.5 / 24 + 59.4 / 86400, "10:30"},
                    Case{"h:mm:ss", 10.5 / 24 + 59.5 / 86400, "10:31:00"},
                    Case{"h:mm:ss.0", 10.5 / 24 + 59.96 / 86400, "10:31:00.0"},
                    Case{"h:mm:ss.000", 0.5 + 1.234 / 86400, "12:00:01.234"},
                    Case{"ss.00", 12.345 / 86400, "12.35"},
                    Case{"yyyy-mm-dd hh:mm:ss", 45000.99999999, "2023-03-16 00:00:00"},
                    Case{"[h]:mm:ss", 2.5, "60:00:00"}, Case{"[hh]:mm", 0.25, "06:00"},
                    Case{"[mm]:ss", 1.5 / 24, "90:00"}, Case{"[s]", 0.01, "864"},
                    Case{"mmss.0", 65.25 / 86400, "0105.3"},
                    Case{"h \"h\" m \"min\"", 1.75 / 24, "1 h 45 min"},
                    Case{"[$-F400]h:mm", 0.75, "6:00:00 PM"},
                    Case{"[$-F800]dddd", 45000, "Wednesday, March 15, 2023"},
                    Case{"[$-407]mmmm dddd", 45000, "März Mittwoch"},
                    Case{"[$-409]mmmm", 45000, "March"}, Case{"[$-ja-JP]mmmm", 45000, "March"}));

TEST(DateSystems, The1904SystemCountsFromJanuary1904) {
  EXPECT_EQ(Us(0, "yyyy-mm-dd dddd", true), "1904-01-01 Friday");
  EXPECT_EQ(Us(1, "yyyy-mm-dd", true), "1904-01-02");
  EXPECT_EQ(Us(43538, "yyyy-mm-dd", true), "2023-03-15");
  EXPECT_EQ(Us(2957003, "yyyy-mm-dd", true), "9999-12-31");
  EXPECT_EQ(Us(2957004, "yyyy-mm-dd", true), "########");
}

struct ValueCase {
  std::string code;
  CellValue value;
  std::string expected;
};

std::ostream& operator<<(std::ostream& out, const ValueCase& c) {
  return out << "\"" << c.code << "\" with \"" << c.value.text << "\"";
}

class NonNumbers : public testing::TestWithParam<ValueCase> {};
TEST_P(NonNumbers, ShowExcelText) {
  EXPECT_EQ(FormatCellText(GetParam().value, GetParam().code, false, FormatLocale::EnUs()),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    TextBooleansErrors, NonNumbers,
    testing::Values(
        ValueCase{"@", CellValue::String("abc"), "abc"},
        ValueCase{"@", CellValue::Number(12.5), "12.5"},
        ValueCase{"\"[\"@\"]\"", CellValue::String("x"), "[x]"},
        ValueCase{"@@", CellValue::String("sheetjs"), "sheetjssheetjs"},  // ssf
        ValueCase{"@@", CellValue::Number(-1), "-1"},                     // ssf
        ValueCase{"0.00", CellValue::String("text"), "text"},
        ValueCase{"m/d/yyyy", CellValue::String("text"), "text"},
        ValueCase{"\"foo\";\"bar\";\"baz\";\"qux\"", CellValue::String("s"), "qux"},    // ssf
        ValueCase{"\"foo\";\"bar\";\"baz\"", CellValue::String("sheetjs"), "sheetjs"},  // ssf
        ValueCase{"((;@", CellValue::Number(1), "(("},                                  // ssf
        ValueCase{"((;@", CellValue::String("foo"), "foo"},                             // ssf
        ValueCase{"0;0;0;\"in \"@_)", CellValue::String("Ab"), "in Ab "},
        ValueCase{"[Red][<-25]General;[Blue][>25]General;[Green]General;[Yellow]General",
                  CellValue::String("foo"), "foo"},  // numfmt
        ValueCase{"0;0;0;\"t: \"General", CellValue::String("foo"), "t: foo"},
        ValueCase{"_(@_)", CellValue::String(""), "  "},
        ValueCase{"0.00", CellValue::Boolean(true), "TRUE"},
        ValueCase{"@", CellValue::Boolean(false), "FALSE"},
        ValueCase{"General", CellValue::Boolean(true), "TRUE"},
        ValueCase{"0.00", CellValue::ErrorCode("#DIV/0!"), "#DIV/0!"},
        ValueCase{"@", CellValue::ErrorCode("#N/A"), "#N/A"},
        ValueCase{"General", CellValue::ErrorCode("#GETTING_DATA"), "#GETTING_DATA"},
        ValueCase{"0", CellValue::ErrorCode("#SPILL!"), "#SPILL!"},
        ValueCase{"0.00", CellValue::Empty(), ""},
        ValueCase{"0.00", CellValue::Number(std::nan("")), "#NUM!"},
        ValueCase{"General", CellValue::Number(INFINITY), "#NUM!"}));

// Codes Excel would not accept render as General.
INSTANTIATE_TEST_SUITE_P(InvalidCodes, EnUsNumbers,
                         testing::Values(Case{"", 1.5, "1.5"}, Case{"\"unclosed", 1.5, "1.5"},
                                         Case{"[", 0.7, "0.7"},  // ssf
                                         Case{"[Purple]0", 1.5, "1.5"}, Case{"[>abc]0", 1.5, "1.5"},
                                         Case{"0;0;0;0;0", 1.5, "1.5"},
                                         Case{"\"foo\";\"bar\";\"baz\";\"qux\";\"foobar\"", 1,
                                              "1"}));  // ssf

struct BuiltIn {
  int id;
  double value;
  std::string enUs;
  std::string deDe;
};

std::ostream& operator<<(std::ostream& out, const BuiltIn& c) {
  return out << "id " << c.id << " with " << c.value;
}

class BuiltInIds : public testing::TestWithParam<BuiltIn> {};
TEST_P(BuiltInIds, FollowTheLocale) {
  NumberFormatCache us(FormatLocale::EnUs());
  NumberFormatCache de(German());
  std::string usText, deText;
  us.Get({GetParam().id, {}}).Render(CellValue::Number(GetParam().value), false, usText);
  de.Get({GetParam().id, {}}).Render(CellValue::Number(GetParam().value), false, deText);
  EXPECT_EQ(usText, GetParam().enUs);
  EXPECT_EQ(deText, GetParam().deDe);
}

INSTANTIATE_TEST_SUITE_P(
    Ids, BuiltInIds,
    testing::Values(
        BuiltIn{0, 1234.5, "1234.5", "1234,5"}, BuiltIn{1, 1234.5, "1235", "1235"},
        BuiltIn{2, 1234.5, "1234.50", "1234,50"}, BuiltIn{3, 1234.5, "1,235", "1.235"},
        BuiltIn{4, -1234.5, "-1,234.50", "-1.234,50"}, BuiltIn{5, -1234.5, "($1,235)", "-1.235 €"},
        BuiltIn{7, 1234.5, "$1,234.50 ", "1.234,50 €"},
        BuiltIn{8, -1234.5, "($1,234.50)", "-1.234,50 €"}, BuiltIn{9, 0.5, "50%", "50%"},
        BuiltIn{10, 0.5, "50.00%", "50,00%"}, BuiltIn{11, 1234.5, "1.23E+03", "1,23E+03"},
        BuiltIn{12, 1.5, "1 1/2", "1 1/2"}, BuiltIn{13, 0.75, "  3/4 ", "  3/4 "},
        BuiltIn{14, 45000, "3/15/2023", "15.03.2023"}, BuiltIn{15, 45000, "15-Mar-23", "15-Mär-23"},
        BuiltIn{16, 45000, "15-Mar", "15-Mär"}, BuiltIn{17, 45000, "Mar-23", "Mär-23"},
        BuiltIn{18, 0.75, "6:00 PM", "6:00 PM"}, BuiltIn{19, 0.75, "6:00:00 PM", "6:00:00 PM"},
        BuiltIn{20, 0.75, "18:00", "18:00"}, BuiltIn{21, 0.75, "18:00:00", "18:00:00"},
        BuiltIn{22, 45000.75, "3/15/2023 18:00", "15.03.2023 18:00"},
        BuiltIn{37, -1234, "(1,234)", "(1.234)"}, BuiltIn{39, 1234.5, "1,234.50 ", "1.234,50 "},
        BuiltIn{39, 123, "123.00 ", "123,00 "},         // recorded
        BuiltIn{40, 9612.5, "9,612.50 ", "9.612,50 "},  // recorded
        BuiltIn{12, 1.23456789, "1 1/4", "1 1/4"},      // recorded
        BuiltIn{41, 0, " - ", " - "}, BuiltIn{42, 1234, " $1,234 ", " 1.234 € "},
        BuiltIn{43, -1234.5, " (1,234.50)", " (1.234,50)"}, BuiltIn{44, 0, " $-   ", " -   € "},
        BuiltIn{45, 0.75, "00:00", "00:00"}, BuiltIn{46, 1.75, "42:00:00", "42:00:00"},
        BuiltIn{47, 65.25 / 86400, "0105.3", "0105,3"}, BuiltIn{48, 12345, "12.3E+3", "12,3E+3"},
        BuiltIn{49, 12.5, "12.5", "12,5"}, BuiltIn{30, 45000, "3/15/2023", "15.03.2023"},
        BuiltIn{57, 45000, "3/15/2023", "15.03.2023"}, BuiltIn{200, 1.5, "1.5", "1,5"}));

TEST(Locales, GermanLocaleDataComesFromIcu) {
  const FormatLocale& de = German();
  EXPECT_EQ(de.name, "de-DE");
  EXPECT_EQ(de.decimalSeparator, ",");
  EXPECT_EQ(de.groupSeparator, ".");
  EXPECT_EQ(de.monthNames[0], "Januar");
  EXPECT_EQ(de.monthAbbreviations[2], "Mär");
  EXPECT_EQ(de.dayNames[1], "Montag");
  EXPECT_EQ(de.dayAbbreviations[0], "So");
  EXPECT_EQ(de.shortDateCode, "dd.mm.yyyy");
  EXPECT_EQ(de.dateTimeCode, "dd.mm.yyyy hh:mm");
  EXPECT_EQ(de.longDateCode, "dddd, d. mmmm yyyy");
  EXPECT_EQ(de.longTimeCode, "hh:mm:ss");
  EXPECT_EQ(de.currencySymbol, "€");
  EXPECT_FALSE(de.currencyBefore);
  EXPECT_TRUE(de.currencySpaced);
  EXPECT_FALSE(de.currencyNegativeInParentheses);
}

TEST(Locales, EnUsFromIcuMatchesTheBuiltInDefaults) {
  const FormatLocale icu = FormatLocale::ForName("en_US.UTF-8");
  const FormatLocale& builtIn = FormatLocale::EnUs();
  EXPECT_EQ(icu.name, builtIn.name);
  EXPECT_EQ(icu.decimalSeparator, builtIn.decimalSeparator);
  EXPECT_EQ(icu.groupSeparator, builtIn.groupSeparator);
  EXPECT_EQ(icu.monthNames, builtIn.monthNames);
  EXPECT_EQ(icu.monthAbbreviations, builtIn.monthAbbreviations);
  EXPECT_EQ(icu.dayNames, builtIn.dayNames);
  EXPECT_EQ(icu.dayAbbreviations, builtIn.dayAbbreviations);
  EXPECT_EQ(icu.amText, builtIn.amText);
  EXPECT_EQ(icu.pmText, builtIn.pmText);
  EXPECT_EQ(icu.shortDateCode, builtIn.shortDateCode);
  EXPECT_EQ(icu.dateTimeCode, builtIn.dateTimeCode);
  EXPECT_EQ(icu.longDateCode, builtIn.longDateCode);
  EXPECT_EQ(icu.longTimeCode, builtIn.longTimeCode);
  EXPECT_EQ(icu.currencySymbol, builtIn.currencySymbol);
  EXPECT_EQ(icu.currencyBefore, builtIn.currencyBefore);
  EXPECT_EQ(icu.currencySpaced, builtIn.currencySpaced);
  EXPECT_EQ(icu.currencyNegativeInParentheses, builtIn.currencyNegativeInParentheses);
}

TEST(Locales, UnknownAndPosixNamesGiveEnUs) {
  for (const char* name : {"", "C", "POSIX", "C.UTF-8", "xx_YY", "qq"}) {
    const FormatLocale locale = FormatLocale::ForName(name);
    EXPECT_EQ(locale.name, "en-US") << name;
    EXPECT_EQ(locale.decimalSeparator, ".") << name;
    EXPECT_EQ(locale.monthNames[0], "January") << name;
  }
}

TEST(Cache, CompilesEachCodeOnceAndKeepsBuiltInsApart) {
  NumberFormatCache cache(FormatLocale::EnUs());
  const NumberFormat& a = cache.Get({0, "0.00"});
  const NumberFormat& b = cache.Get({0, "0.00"});
  const NumberFormat& byId = cache.Get({2, {}});
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(&a, &byId);  // id 2 is "0.00"
  EXPECT_NE(&a, &cache.Get({14, {}}));
  std::string out = "A1=";
  a.Render(CellValue::Number(1), false, out);
  EXPECT_EQ(out, "A1=1.00");  // appends
}

TEST(Robustness, HugeImproperFractionsStayWithinRange) {
  // Continued-fraction terms of such values overflow 64 bits unless bounded.
  for (double value : {123456789012.345, 98765432109876.5, 1e300}) {
    const std::string text = Us(value, R"(?????????/?????????)");
    EXPECT_FALSE(text.empty()) << value;
    EXPECT_LT(text.size(), 400u) << value;
  }
  EXPECT_EQ(Us(123456789012.5, R"(?????????/?????????)"), "246913578025/2        ");
}

// A cell's text is gathered in a buffer of a few hundred bytes: texts longer than it, or
// crossing its end, keep every character in order, on every path.
TEST(Robustness, LongTextsCrossTheBufferWhole) {
  const std::string x150(150, 'x'), x190(190, 'x'), y250(250, 'y'), z60(60, 'z');
  const struct {
    std::string code;
    double value;
    std::string expected;
  } cases[] = {
      {"\"" + x150 + "\"0.00\"" + z60 + "\"", 1.5, x150 + "1.50" + z60},
      {"\"" + y250 + "\"0", 7, y250 + "7"},
      {"yyyy\"" + x190 + "\"mm", 45000, "2023" + x190 + "03"},
      {"# ?/?\"" + y250 + "\"", 1.5, "1 1/2" + y250},
      {std::string(200, '?'), 5, std::string(199, ' ') + "5"},
  };
  for (const auto& c : cases) EXPECT_EQ(Us(c.value, c.code), c.expected) << c.code;
}

// Random codes built from the characters that matter, with values that stress each path:
// nothing may crash, hang or trip the sanitizers, and every result is bounded.
TEST(Robustness, RandomCodesNeverFail) {
  static constexpr std::string_view kPieces[] = {
      "0",      "#",     "?",       ".",         ",",        "%", "E+", "e-",  "/",    "@",
      ";",      "\"",    "\\",      "_",         "*",        "[", "]",  "[h]", "[mm]", "[>5]",
      "[<=-1]", "[Red]", "[$-407]", "[$€-F800]", "[$-F400]", "y", "m",  "d",   "h",    "s",
      "AM/PM",  "A/P",   "General", " ",         "-",        "8", "16", "ä",   "\xff", "\xe2\x82"};
  static constexpr double kValues[] = {
      0,  -0.0, 1, -1, 0.5, 2.675, 1e-300, 1e300, -1e15, 123456789012345.0, 2958465.9999999,
      60, 1e-7};
  std::mt19937 random(20240601);
  for (int round = 0; round < 3000; ++round) {
    std::string code;
    const int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) code += kPieces[random() % std::size(kPieces)];
    const auto format = CompileNumberFormat(code, German());
    for (double value : kValues) {
      for (bool date1904 : {false, true}) {
        std::string out;
        format->Render(CellValue::Number(value), date1904, out);
        EXPECT_LT(out.size(), 4000u) << code;
      }
    }
    std::string out;
    format->Render(CellValue::String("text"), false, out);
  }
}

}  // namespace
}  // namespace cellverter
