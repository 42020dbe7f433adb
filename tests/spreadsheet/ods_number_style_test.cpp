// OpenDocument data styles as the format codes the number format engine renders, and the
// texts those codes display: the styles are the ones LibreOffice writes.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ods_builder.h"
#include "spreadsheet/cell_value.h"
#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/numfmt/number_format.h"
#include "spreadsheet/ods/ods_number_style.h"
#include "spreadsheet/workbook_error.h"

namespace cellverter {
namespace {

class StringStream final : public ByteStream {
 public:
  explicit StringStream(std::string data) : data_(std::move(data)) {}
  size_t Read(char* buffer, size_t capacity) override {
    const size_t n = std::min(capacity, data_.size() - pos_);
    data_.copy(buffer, n, pos_);
    pos_ += n;
    return n;
  }

 private:
  std::string data_;
  size_t pos_ = 0;
};

// Reads the data styles of `xml` (elements of <office:styles>); the code of style "N".
OdsDataStyles ReadStyles(const std::string& xml) {
  StringStream stream("<office:styles" + testing_support::kOdsNamespaces + ">" + xml +
                      "</office:styles>");
  XmlScanner scanner(stream, "the styles");
  OdsDataStyles styles;
  for (auto e = scanner.Next(); e != XmlScanner::Event::EndOfDocument; e = scanner.Next()) {
    if (e == XmlScanner::Event::Start && OdsDataStyles::IsDataStyle(scanner)) styles.Read(scanner);
  }
  return styles;
}

struct StyleCase {
  const char* name;
  std::string xml;                  // data styles; the one under test is called "N"
  std::optional<std::string> code;  // nullopt: no format code says it
  double value;
  const char* shown;  // what the code shows for `value` in en-US; unused without a code
};

class OdsNumberStyle : public testing::TestWithParam<StyleCase> {};

TEST_P(OdsNumberStyle, BecomesTheFormatCodeThatShowsTheSameText) {
  const StyleCase& c = GetParam();
  const OdsDataStyles styles = ReadStyles(c.xml);
  const std::optional<std::string> code = styles.Code("N");
  ASSERT_EQ(code, c.code);
  if (code) {
    EXPECT_EQ(FormatCellText(CellValue::Number(c.value), *code, false, FormatLocale::EnUs()),
              c.shown);
  }
}

const std::string kNum = "<number:number-style style:name=\"N\">";
const std::string kEnd = "</number:number-style>";
const std::string kTwoDecimals =
    "<number:number number:decimal-places=\"2\" number:min-decimal-places=\"2\" "
    "number:min-integer-digits=\"1\" number:grouping=\"true\"/>";

INSTANTIATE_TEST_SUITE_P(
    LibreOfficeStyles, OdsNumberStyle,
    testing::Values(
        // LibreOffice's "General" is a number without decimal places.
        StyleCase{"General", kNum + "<number:number number:min-integer-digits=\"1\"/>" + kEnd, "",
                  1234.5678, "1234.5678"},
        StyleCase{"Grouped", kNum + kTwoDecimals + kEnd, "#,##0.00", -1234567.891, "-1,234,567.89"},
        StyleCase{
            "LeadingZeros",
            kNum + "<number:number number:decimal-places=\"0\" number:min-integer-digits=\"5\"/>" +
                kEnd,
            "00000", 42, "00042"},
        StyleCase{"OptionalDecimals",
                  kNum +
                      "<number:number number:decimal-places=\"3\" number:min-decimal-places=\"1\" "
                      "number:min-integer-digits=\"1\"/>" +
                      kEnd,
                  "0.0##", 2.5, "2.5"},
        StyleCase{"Thousands",
                  kNum +
                      "<number:number number:decimal-places=\"0\" number:min-integer-digits=\"1\" "
                      "number:display-factor=\"1000\"/><number:text>k</number:text>" +
                      kEnd,
                  "0,\"k\"", 25000, "25k"},
        StyleCase{"Percent",
                  "<number:percentage-style style:name=\"N\"><number:number "
                  "number:decimal-places=\"1\" number:min-decimal-places=\"1\" "
                  "number:min-integer-digits=\"1\"/><number:text>%</number:text>"
                  "</number:percentage-style>",
                  "0.0%", 0.125, "12.5%"},
        // A percent sign in a number style is only a character: it does not scale.
        StyleCase{"PercentSignInNumberStyle",
                  kNum +
                      "<number:number number:decimal-places=\"0\" number:min-integer-digits=\"1\"/>"
                      "<number:text>%</number:text>" +
                      kEnd,
                  "0\"%\"", 12, "12%"},
        StyleCase{"Scientific",
                  kNum +
                      "<number:scientific-number number:decimal-places=\"2\" "
                      "number:min-integer-digits=\"1\" number:min-exponent-digits=\"2\"/>" +
                      kEnd,
                  "0.00E+00", 12345, "1.23E+04"},
        StyleCase{"Fraction",
                  kNum +
                      "<number:fraction number:min-integer-digits=\"0\" "
                      "number:min-numerator-digits=\"1\" number:min-denominator-digits=\"1\"/>" +
                      kEnd,
                  "# ?/?", 1.5, "1 1/2"},
        StyleCase{"FractionInSixteenths",
                  kNum +
                      "<number:fraction number:min-integer-digits=\"0\" "
                      "number:min-numerator-digits=\"1\" number:denominator-value=\"16\"/>" +
                      kEnd,
                  "# ?/16", 0.25, " 4/16"},
        // Negative amounts in red with a minus: the positive section is a style of its own.
        StyleCase{"CurrencyWithNegativeSection",
                  "<number:currency-style style:name=\"NP0\" style:volatile=\"true\">" +
                      kTwoDecimals +
                      "<number:text> </number:text><number:currency-symbol number:language=\"de\" "
                      "number:country=\"DE\">€</number:currency-symbol></number:currency-style>"
                      "<number:currency-style style:name=\"N\"><style:text-properties "
                      "fo:color=\"#ff0000\"/><number:text>-</number:text>" +
                      kTwoDecimals +
                      "<number:text> </number:text><number:currency-symbol number:language=\"de\" "
                      "number:country=\"DE\">€</number:currency-symbol><style:map "
                      "style:condition=\"value()&gt;=0\" style:apply-style-name=\"NP0\"/>"
                      "</number:currency-style>",
                  "#,##0.00 [$€-407];-#,##0.00 [$€-407]", -1234.5, "-1,234.50 €"},
        StyleCase{"DollarBefore",
                  "<number:currency-style style:name=\"N\"><number:currency-symbol "
                  "number:language=\"en\" number:country=\"US\">$</number:currency-symbol>" +
                      kTwoDecimals + "</number:currency-style>",
                  "[$$-409]#,##0.00", 1234.5, "$1,234.50"},
        // Positive, negative and zero, as LibreOffice writes a code of three sections.
        StyleCase{"ThreeSections",
                  "<number:number-style style:name=\"Npos\"><number:number "
                  "number:decimal-places=\"1\" number:min-integer-digits=\"1\"/>"
                  "</number:number-style><number:number-style style:name=\"Nneg\">"
                  "<number:text>(</number:text><number:number number:decimal-places=\"1\" "
                  "number:min-integer-digits=\"1\"/><number:text>)</number:text>"
                  "</number:number-style>" +
                      kNum +
                      "<number:text>zero</number:text><style:map style:condition=\"value()&gt;0\" "
                      "style:apply-style-name=\"Npos\"/><style:map "
                      "style:condition=\"value()&lt;0\" style:apply-style-name=\"Nneg\"/>" +
                      kEnd,
                  "0.0;(0.0);\"zero\"", -3, "(3.0)"},
        StyleCase{"ConditionalSections",
                  "<number:number-style style:name=\"Nbig\"><number:text>big</number:text>"
                  "</number:number-style>" +
                      kNum +
                      "<number:number number:decimal-places=\"0\" number:min-integer-digits=\"1\"/>"
                      "<style:map style:condition=\"value()&gt;1000\" "
                      "style:apply-style-name=\"Nbig\"/>" +
                      kEnd,
                  "[>1000]\"big\";0", 5000, "big"},
        StyleCase{"IsoDate",
                  "<number:date-style style:name=\"N\"><number:year number:style=\"long\"/>"
                  "<number:text>-</number:text><number:month number:style=\"long\"/>"
                  "<number:text>-</number:text><number:day number:style=\"long\"/>"
                  "</number:date-style>",
                  "yyyy-mm-dd", 45351, "2024-02-29"},
        StyleCase{"LongDate",
                  "<number:date-style style:name=\"N\"><number:day-of-week number:style=\"long\"/>"
                  "<number:text>, </number:text><number:month number:style=\"long\" "
                  "number:textual=\"true\"/><number:text> </number:text><number:day/>"
                  "<number:text>, </number:text><number:year/></number:date-style>",
                  "dddd\",\" mmmm d\",\" yy", 45351, "Thursday, February 29, 24"},
        StyleCase{"DateAndTime",
                  "<number:date-style style:name=\"N\"><number:month/><number:text>/</number:text>"
                  "<number:day/><number:text>/</number:text><number:year number:style=\"long\"/>"
                  "<number:text> </number:text><number:hours/><number:text>:</number:text>"
                  "<number:minutes number:style=\"long\"/><number:text> </number:text>"
                  "<number:am-pm/></number:date-style>",
                  "m\"/\"d\"/\"yyyy h\":\"mm AM/PM", 45351.75, "2/29/2024 6:00 PM"},
        StyleCase{"TimeWithFraction",
                  "<number:time-style style:name=\"N\"><number:hours number:style=\"long\"/>"
                  "<number:text>:</number:text><number:minutes number:style=\"long\"/>"
                  "<number:text>:</number:text><number:seconds number:style=\"long\" "
                  "number:decimal-places=\"2\"/></number:time-style>",
                  "hh\":\"mm\":\"ss.00", 0.5 + 1.25 / 86400, "12:00:01.25"},
        // Hours that run past a day, as durations show.
        StyleCase{"ElapsedHours",
                  "<number:time-style style:name=\"N\" number:truncate-on-overflow=\"false\">"
                  "<number:hours/><number:text>:</number:text><number:minutes "
                  "number:style=\"long\"/></number:time-style>",
                  "[h]\":\"mm", 1.5, "36:00"},
        StyleCase{"Boolean",
                  "<number:boolean-style style:name=\"N\"><number:boolean/></number:boolean-style>",
                  "\"TRUE\";\"TRUE\";\"FALSE\"", 0, "FALSE"},
        StyleCase{"TextAround",
                  "<number:text-style style:name=\"N\"><number:text>id </number:text>"
                  "<number:text-content/></number:text-style>",
                  "\"id\" @", 7, "7"},
        // What no format code says: the cell shows the text the file stores.
        StyleCase{"Quarter",
                  "<number:date-style style:name=\"N\"><number:quarter/></number:date-style>",
                  std::nullopt, 0, ""},
        StyleCase{"EmbeddedText",
                  kNum +
                      "<number:number number:decimal-places=\"0\" number:min-integer-digits=\"6\">"
                      "<number:embedded-text number:position=\"3\">-</number:embedded-text>"
                      "</number:number>" +
                      kEnd,
                  std::nullopt, 0, ""},
        StyleCase{
            "MapToMissingStyle",
            kNum + kTwoDecimals +
                "<style:map style:condition=\"value()&gt;=0\" style:apply-style-name=\"X\"/>" +
                kEnd,
            std::nullopt, 0, ""},
        StyleCase{"MapWithFunction",
                  "<number:number-style style:name=\"Nx\"/>" + kNum + kTwoDecimals +
                      "<style:map style:condition=\"is-true-formula(1)\" "
                      "style:apply-style-name=\"Nx\"/>" +
                      kEnd,
                  std::nullopt, 0, ""}),
    [](const testing::TestParamInfo<StyleCase>& p) { return std::string(p.param.name); });

TEST(OdsNumberStyle, UnknownStyleHasNoCode) { EXPECT_EQ(ReadStyles("").Code("N"), std::nullopt); }

TEST(OdsNumberStyle, TooManyPartsAreDamage) {
  std::string parts;
  for (size_t i = 0; i <= OdsDataStyles::kMaxParts; ++i) parts += "<number:text>x</number:text>";
  EXPECT_THROW(ReadStyles(kNum + parts + kEnd), WorkbookDamaged);
}

}  // namespace
}  // namespace cellverter
