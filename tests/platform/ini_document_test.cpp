#include "platform/ini_document.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace cellverter {
namespace {

// What a change does to a file kept in the as-read layout: everything else stays as it was.
struct AsReadCase {
  const char* name;
  std::string text;
  std::string written;  // after SetValue("Settings", "ShowUpdate", "1")
};

class IniAsRead : public testing::TestWithParam<AsReadCase> {};

TEST_P(IniAsRead, ChangesOnlyTheEntry) {
  IniDocument document = IniDocument::Parse(GetParam().text);
  document.SetValue("Settings", "ShowUpdate", "1");
  EXPECT_EQ(document.Serialize(IniDocument::Layout::kAsRead), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniAsRead,
    testing::Values(
        AsReadCase{"Empty", "", "[Settings]\nShowUpdate=1\n"},
        AsReadCase{"ChangedInPlaceKeepingItsSpelling", "[settings]\n x = 1 \nshowUPDATE = 0 \n",
                   "[settings]\n x = 1 \nshowUPDATE=1\n"},
        AsReadCase{"AddedBeforeTheEmptyLinesAfterAComment",
                   "; top\n[Settings]\na=b\n; end\n\n[Next]\n",
                   "; top\n[Settings]\na=b\n; end\nShowUpdate=1\n\n[Next]\n"},
        // The byte order mark and CR LF of a file edited elsewhere do not hide its section.
        AsReadCase{"ByteOrderMarkAndCrLf", "\xEF\xBB\xBF[Settings]\r\nShowUpdate=0\r\n",
                   "[Settings]\nShowUpdate=1\n"},
        AsReadCase{"OnlyTheFirstSectionOfTheName", "[Settings]\nA=1\n[SETTINGS]\nShowUpdate=0\n",
                   "[Settings]\nA=1\nShowUpdate=1\n[SETTINGS]\nShowUpdate=0\n"}),
    [](const testing::TestParamInfo<AsReadCase>& p) { return p.param.name; });

TEST(IniDocument, NamesIgnoreLetterCaseBeyondAscii) {
  const IniDocument document = IniDocument::Parse("[Ärger]\nSTRAßE=1\nStraße=2\n");
  // Full case folding: ß matches ss, and the first entry of the name counts.
  EXPECT_EQ(document.Value("ärger", "strasse"), "1");
  EXPECT_EQ(document.Value("ÄRGER", "STRASSE"), "1");
  EXPECT_EQ(document.Value("Arger", "straße"), std::nullopt);
}

}  // namespace
}  // namespace cellverter
