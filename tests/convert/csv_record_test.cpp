#include "convert/csv_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace cellverter {
namespace {

struct LineCase {
  const char* name;
  std::vector<std::string> cells;
  std::string separator;
  std::string expected;
  CsvQuoting quoting = CsvQuoting::kMinimal;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class BuildCsvLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(BuildCsvLineTest, EncodesRow) {
  const LineCase& c = GetParam();
  EXPECT_EQ(BuildCsvLine(c.cells, c.separator, c.quoting), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, BuildCsvLineTest,
    testing::Values(
        LineCase{"CommaInTextIsQuoted", {"1,5"}, ",", "\"1,5\""},
        LineCase{"CommaWithSemicolonSeparatorStaysBare", {"1,5"}, ";", "1,5"},
        LineCase{"LoneQuoteBecomesFour", {"\""}, ",", "\"\"\"\""},
        LineCase{"QuotedWordIsQuotedWithoutSeparator", {"\"hi\""}, ",", "\"\"\"hi\"\"\""},
        LineCase{"EachQuoteAmongTextDoubled",
                 {"say \"hi\", \"\"bye"},
                 ",",
                 "\"say \"\"hi\"\", \"\"\"\"bye\""},
        LineCase{"PartOfMultiCharSeparatorStaysBare", {"a|b"}, "||", "a|b"},
        LineCase{"WholeMultiCharSeparatorIsQuoted", {"a||b", "c"}, "||", "\"a||b\"||c"},
        LineCase{"EmptySeparatorConcatenates", {"a,b", "c", "d\"e"}, "", "a,bc\"d\"\"e\""},
        LineCase{"LineFeedBecomesBlank", {"one\ntwo"}, ",", "one two"},
        LineCase{"CrLfKeepsCrAndIsNotQuoted", {"one\r\ntwo"}, ",", "one\r two"},
        LineCase{"BlanksAndTabsStayBare", {" lead", "trail ", "a\tb"}, ",", " lead,trail ,a\tb"},
        LineCase{"TrailingEmptyCellsKeepSeparators", {"a", "", ""}, ",", "a,,"},
        LineCase{"AllEmptyRowIsSeparatorsOnly", {"", "", "", ""}, ";", ";;;"},
        LineCase{"SingleEmptyCell", {""}, ",", ""}, LineCase{"NoCells", {}, ",", ""},
        LineCase{"QuoteSeparatorQuotesOnce", {"a\"b", "c"}, "\"", "\"a\"\"b\"\"c"},
        LineCase{"BlankSeparatorMatchesCleanedLineFeed", {"a\nb", "c"}, " ", "\"a b\" c"},
        LineCase{"LooksNumericStaysBare", {"00123", "=1+2", "-5"}, ",", "00123,=1+2,-5"},
        LineCase{"NonAsciiSeparator", {"x§y", "z"}, "§", "\"x§y\"§z"},
        // Quoting every field: empty ones too, quotes still doubled, line feeds still blanks.
        LineCase{
            "AllQuotesEveryField", {"a", "", "1,5"}, ",", "\"a\",\"\",\"1,5\"", CsvQuoting::kAll},
        LineCase{"AllDoublesQuotesAndCleansLineFeeds",
                 {"say \"hi\"", "x\ny"},
                 ";",
                 "\"say \"\"hi\"\"\";\"x y\"",
                 CsvQuoting::kAll},
        LineCase{"AllWithEmptySeparator", {"a", "b"}, "", "\"a\"\"b\"", CsvQuoting::kAll}),
    [](const auto& p) { return std::string(p.param.name); });

// The test for fields that need quotes or cleaning looks at words of several bytes: a quote,
// a line feed or the separator at any place of a text of any length must be found, and a
// byte that is none of them, however close in value, must not be taken for one.
TEST(BuildCsvLineTest, FindsWhatNeedsQuotesAtEveryPlaceOfEveryLength) {
  for (size_t length = 1; length <= 20; ++length) {
    for (size_t at = 0; at < length; ++at) {
      for (const char special : {'"', '\n', ';'}) {
        std::string text(length, 'x');
        text[at] = special;
        const std::string cleaned =
            special == '\n' ? std::string(length, 'x').replace(at, 1, " ") : text;
        std::string quoted = special == '"' ? std::string(length + 1, 'x') : cleaned;
        if (special == '"') quoted.replace(at, 2, "\"\"");
        const std::string expected = special == '\n' ? cleaned : "\"" + quoted + "\"";
        EXPECT_EQ(BuildCsvLine(std::vector<std::string>{text, "z"}, ";"), expected + ";z")
            << "length " << length << " at " << at << " byte " << int{special};
      }
      // Neighbours of the special bytes in value: no quotes.
      std::string text(length, 'x');
      text[at] = static_cast<char>(at % 2 == 0 ? '"' + 1 : ';' - 1);
      text[length - 1 - at] = '\x0B';
      EXPECT_EQ(BuildCsvLine(std::vector<std::string>{text}, ";"), text)
          << "length " << length << " at " << at;
    }
  }
}

// Lines are written in runs of up to 64 fields that need at most enclosing quotes, a field
// with a quote or a line feed on its own: a long line mixing every kind gives each field as
// the field-by-field rule does, across the runs' ends.
TEST(BuildCsvLineTest, LongLineMixingEveryKindOfField) {
  const std::vector<std::string> kinds{"plain",   "",  "1,5",   "say \"hi\"", "two\nlines",
                                       "a,\"b\"", "x", "c,d,e", "12345678,"};
  std::vector<std::string> fields;
  std::string expected;
  for (size_t i = 0; i < 150; ++i) {
    // A varying stride, so that every kind falls on both sides of each run's end.
    fields.push_back(kinds[(i * i + i / 7) % kinds.size()]);
    std::string cleaned = fields.back();
    std::replace(cleaned.begin(), cleaned.end(), '\n', ' ');
    if (i > 0) expected += ',';
    expected += QuoteCsvField(cleaned, ",");
  }
  EXPECT_EQ(BuildCsvLine(fields, ","), expected);
}

TEST(QuoteCsvFieldTest, EmptyTextGivesEmptyField) {
  EXPECT_EQ(QuoteCsvField("", ","), "");
  EXPECT_EQ(QuoteCsvField("", ""), "");
}

TEST(AppendCsvLineTest, AppendsToExistingBuffer) {
  std::string line = "keep:";
  const std::vector<std::string> cells{"a", "b,c"};
  AppendCsvLine(cells, ",", line);
  EXPECT_EQ(line, "keep:a,\"b,c\"");
}

}  // namespace
}  // namespace cellverter
