#include "update/installation.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "http/local_maker.h"
#include "platform/error.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

using testing_support::TempDir;

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(MachineGuidTest, IsAStableGuidThatHidesTheMachineId) {
  TempDir folder;
  const std::string machineId = "0123456789abcdef0123456789abcdef";
  WriteFile(folder.path() / "a", machineId + "\n");
  WriteFile(folder.path() / "b", "0123456789ABCDEF0123456789ABCDEF");  // same id, other case
  WriteFile(folder.path() / "c", "fedcba9876543210fedcba9876543210\n");
  std::string guid = MachineGuidFromFile(folder.path() / "a");
  EXPECT_TRUE(std::regex_match(
      guid, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
      << guid;
  EXPECT_EQ(MachineGuidFromFile(folder.path() / "b"), guid);
  EXPECT_NE(MachineGuidFromFile(folder.path() / "c"), guid);
  std::string compact = guid;
  std::erase(compact, '-');
  EXPECT_NE(compact, machineId);
}

TEST(MachineGuidTest, MissingOrUninitialisedIdIsEmpty) {
  TempDir folder;
  WriteFile(folder.path() / "empty", "");
  WriteFile(folder.path() / "uninitialized", "uninitialized\n");
  EXPECT_EQ(MachineGuidFromFile(folder.path() / "none"), "");
  EXPECT_EQ(MachineGuidFromFile(folder.path() / "empty"), "");
  EXPECT_EQ(MachineGuidFromFile(folder.path() / "uninitialized"), "");
}

TEST(MachineGuidTest, MalformedOrUnreadableIdThrows) {
  TempDir folder;
  WriteFile(folder.path() / "short", "0123456789abcdef\n");
  WriteFile(folder.path() / "nonhex", "0123456789abcdef0123456789abcdeg\n");
  std::filesystem::create_directory(folder.path() / "folder");
  for (const char* name : {"short", "nonhex", "folder"}) {
    EXPECT_THROW(MachineGuidFromFile(folder.path() / name), Error) << name;
  }
}

TEST(MachineGuidTest, ThisMachineGivesTheSameGuidEveryTime) {
  EXPECT_EQ(ReadMachineGuid(), ReadMachineGuid());
}

struct OsCase {
  OsFacts facts;
  std::string text;
};

class OsDescriptionTest : public ::testing::TestWithParam<OsCase> {};

TEST_P(OsDescriptionTest, FillsTheTemplate) {
  EXPECT_EQ(OSDescription(GetParam().facts), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OsDescriptionTest,
    ::testing::Values(
        OsCase{{"Windows 7", 6, 1, 7601, 1, true},
               "Windows 7 Service Pack 1 (Version 6.1, Build 7601, 64-bit Edition)"},
        OsCase{{"Windows 7", 6, 1, 7601, 0, true},
               "Windows 7 (Version 6.1, Build 7601, 64-bit Edition)"},
        OsCase{{"Debian GNU/Linux 12 (bookworm)", 6, 1, 0, 0, false},
               "Debian GNU/Linux 12 (bookworm) (Version 6.1, Build 0, 32-bit Edition)"}));

TEST(OsDescriptionTest, NamesThisSystem) {
  std::string text = OSDescription();
  EXPECT_TRUE(std::regex_match(
      text, std::regex(".+ \\(Version \\d+\\.\\d+, Build \\d+, (32|64)-bit Edition\\)")))
      << text;
}

TEST(OsNameTest, PrefersThePrettyName) {
  EXPECT_EQ(OsNameFromRelease(
                "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
            "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(OsNameFromRelease("NAME=Fedora\nID=fedora\n"), "Fedora");
  EXPECT_EQ(OsNameFromRelease("PRETTY_NAME='Say \\\"hi\\\"'\n"), "Say \"hi\"");
  EXPECT_EQ(OsNameFromRelease(""), "Linux");
}

struct LocaleCase {
  std::string id;
  std::string name;
};

class LocaleNameTest : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(LocaleNameTest, GivesLanguageAndRegion) {
  EXPECT_EQ(LocaleNameFor(GetParam().id), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Cases, LocaleNameTest,
                         ::testing::Values(LocaleCase{"de_DE.UTF-8", "de-DE"},
                                           LocaleCase{"tr_TR", "tr-TR"},
                                           LocaleCase{"fr_CA.utf8@euro", "fr-CA"},
                                           LocaleCase{"pt_BR", "pt-BR"}, LocaleCase{"ja", "ja-JP"},
                                           LocaleCase{"C", "en-US"}, LocaleCase{"POSIX", "en-US"},
                                           LocaleCase{"C.UTF-8", "en-US"}, LocaleCase{"", "en-US"},
                                           LocaleCase{"qq_QQ", "xx"}, LocaleCase{"de_QQ", "xx"}));

TEST(LocaleNameTest, CurrentLocaleIsAKnownNameOrXx) {
  std::string name = CurrentLocaleName();
  EXPECT_TRUE(name == "xx" ||
              std::regex_match(name, std::regex("[a-z]{2,3}(-[A-Z][a-z]{3})?-[A-Z0-9]{2,3}")))
      << name;
}

TEST(ApplicationKeyTest, IsTheUpperCaseMd5OfTheAsciiTitle) {
  // RFC 1321 test suite values.
  EXPECT_EQ(ApplicationKey(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(ApplicationKey("abc"), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(ApplicationKey("message digest"), "F96B697D7CB7938D525A2F31AAF161D0");
  // Each character outside ASCII counts as one "?".
  EXPECT_EQ(ApplicationKey("Caf\u00e9 \u65e5"), ApplicationKey("Caf? ?"));
  EXPECT_NE(ApplicationKey("KORVANE - Cellverter"), ApplicationKey("KORVANE - Cellverter2"));
}

}  // namespace
}  // namespace cellverter
