#include "app/version_info.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// The message of the error that ReadEXEVersionData raised, or "" when it raised none.
std::string ReadError(const std::string& file, TEXEVersionData& data) {
  try {
    ReadEXEVersionData(file, data);
  } catch (const Error& error) {
    return error.what();
  }
  return "";
}

TEST(ReadEXEVersionData, OwnExecutableCarriesTheProgramRecord) {
  TEXEVersionData data;
  ReadEXEVersionData(ExecutablePath(), data);
  EXPECT_EQ(data.CompanyName, "KORVANE");
  EXPECT_EQ(data.ProductName, "Cellverter");
  EXPECT_EQ(data.FileVersion, "2.1.0.0");
  EXPECT_EQ(data.ProductVersion, "2.1.0.0");
  EXPECT_EQ(data.FileDescription, "Cellverter - Excel to CSV converter");
  EXPECT_EQ(data.InternalName, "Cellverter");
  EXPECT_EQ(data.OriginalFileName, "app_core_tests");  // stored as "OriginalFilename"
  EXPECT_NE(data.LegalCopyright.find("KORVANE"), std::string::npos);
  EXPECT_FALSE(data.LegalTrademarks.empty());
  EXPECT_FALSE(data.Comments.empty());
  EXPECT_EQ(data.PrivateBuild, "");
  EXPECT_EQ(data.SpecialBuild, "");
}

TEST(ReadEXEVersionData, FieldsMissingFromTheRecordKeepTheCallersValue) {
  TEXEVersionData data;
  data.PrivateBuild = "kept";
  data.CompanyName = "replaced";
  ReadEXEVersionData(ExecutablePath(), data);
  EXPECT_EQ(data.PrivateBuild, "kept");
  EXPECT_EQ(data.CompanyName, "KORVANE");
}

TEST(ReadEXEVersionData, OtherTranslationKeyIsFollowed) {
  TEXEVersionData data;
  ReadEXEVersionData(VERSION_PROBE_GERMAN, data);
  EXPECT_EQ(data.CompanyName, "KORVANE");
  EXPECT_EQ(data.FileDescription, "Excel-zu-CSV-Konverter");
  EXPECT_EQ(data.PrivateBuild, "Testbau");
  EXPECT_EQ(data.SpecialBuild, "Sonderausgabe für Tests");
  EXPECT_EQ(data.OriginalFileName, "version_probe_german");
}

struct FailureCase {
  const char* name;
  std::string file;  // written into the temporary folder when `content` is set
  std::string content;
  std::string expected;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ReadEXEVersionDataFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ReadEXEVersionDataFailure, RaisesSystemErrorAndLeavesRecordEmpty) {
  const FailureCase& c = GetParam();
  TempDir dir;
  std::string file = c.file;
  if (!c.content.empty()) {
    file = dir / c.file;
    WriteBytes(file, c.content);
  } else if (c.file.empty()) {
    file = dir.path().string();
  } else if (c.file.front() != '/') {
    file = dir / c.file;
  }
  TEXEVersionData data;
  EXPECT_EQ(ReadError(file, data), c.expected);
  EXPECT_EQ(data, TEXEVersionData{});
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadEXEVersionDataFailure,
    testing::Values(FailureCase{"ProgramWithoutRecord", VERSION_PROBE_PLAIN, "",
                                "System Error.  Code: 61.\r\nNo data available"},
                    FailureCase{"MissingFile", "missing.exe", "",
                                "System Error.  Code: 2.\r\nNo such file or directory"},
                    FailureCase{"Folder", "", "", "System Error.  Code: 21.\r\nIs a directory"},
                    FailureCase{"TextFile", "notes.txt", "just some text, no program",
                                "System Error.  Code: 8.\r\nExec format error"},
                    FailureCase{"ElfMagicOnly", "tiny",
                                "\x7f"
                                "ELF",
                                "System Error.  Code: 8.\r\nExec format error"},
                    FailureCase{"UnknownElfClass", "odd",
                                std::string("\x7f"
                                            "ELF\x07\x01\x01",
                                            7) +
                                    std::string(100, '\0'),
                                "System Error.  Code: 8.\r\nExec format error"}),
    CaseName<FailureCase>);

// --- Records crafted into a copy of a real program ---------------------------------------

std::string U16(unsigned value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

void Pad4(std::string& bytes) {
  while (bytes.size() % 4 != 0) bytes += '\0';
}

// A node as the build writes it: lengths, type, key, padding, value, padding, children.
std::string Node(const std::string& key, int type, const std::string& value,
                 const std::string& children = "") {
  std::string node(6, '\0');
  node += key;
  node += '\0';
  Pad4(node);
  node += value;
  if (!children.empty()) {
    Pad4(node);
    node += children;
  }
  node.replace(0, 6, U16(node.size()) + U16(value.size()) + U16(type));
  Pad4(node);
  return node;
}

std::string Text(const std::string& key, const std::string& value) {
  return Node(key, 1, value + '\0');
}

std::string Root(const std::string& stringTables, const std::string& translations,
                 const std::string& rootKey = "VS_VERSION_INFO") {
  std::string children = Node("StringFileInfo", 1, "", stringTables);
  if (translations != "none") {
    children += Node("VarFileInfo", 1, "", Node("Translation", 0, translations));
  }
  return Node(rootKey, 0, std::string(52, '\0'), children);
}

// The German probe with its record replaced by `record` (the section keeps its size).
std::string ProbeWithRecord(const TempDir& dir, const std::string& record) {
  std::string program = ReadBytes(VERSION_PROBE_GERMAN);
  // The record starts 6 bytes before its root key, whose value is the 52-byte fixed part.
  const std::string marker = std::string("\x34\x00\x00\x00", 4) + "VS_VERSION_INFO";
  const size_t at = program.find(marker);
  EXPECT_NE(at, std::string::npos);
  const size_t start = at - 2;
  const size_t length = static_cast<unsigned char>(program[start]) |
                        static_cast<unsigned char>(program[start + 1]) << 8;
  EXPECT_LE(record.size(), length);
  std::string patched = record;
  patched.resize(length, '\0');
  program.replace(start, length, patched);
  const std::string file = dir / "crafted";
  WriteBytes(file, program);
  return file;
}

struct CraftedCase {
  const char* name;
  std::string record;
  std::string companyName;
  std::string productName;
  std::string error;
};

void PrintTo(const CraftedCase& c, std::ostream* os) { *os << c.name; }

class ReadEXEVersionDataCrafted : public testing::TestWithParam<CraftedCase> {};

TEST_P(ReadEXEVersionDataCrafted, ReadsWhatTheRecordHolds) {
  const CraftedCase& c = GetParam();
  TempDir dir;
  TEXEVersionData data;
  EXPECT_EQ(ReadError(ProbeWithRecord(dir, c.record), data), c.error);
  EXPECT_EQ(data.CompanyName, c.companyName);
  EXPECT_EQ(data.ProductName, c.productName);
}

const std::string kGermanFirst = U16(0x0407) + U16(0x04B0);
const std::string kEnglishFirst = U16(0x0409) + U16(0x04E4);

std::string RootLengthTooLong() {
  std::string record = Root(Node("040904E4", 1, "", Text("CompanyName", "A")), kEnglishFirst);
  record.replace(0, 2, U16(0xFFFF));
  return record;
}

std::string DamagedMiddleNode() {
  std::string broken = Text("Comments", "x");
  broken.replace(0, 2, U16(0x4000));  // longer than its table
  return Root(Node("040904E4", 1, "",
                   Text("CompanyName", "Before") + broken + Text("ProductName", "After")),
              kEnglishFirst);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ReadEXEVersionDataCrafted,
    testing::Values(
        CraftedCase{"OnlyTheFirstTranslationCounts",
                    Root(Node("040904E4", 1, "", Text("CompanyName", "English")) +
                             Node("040704B0", 1, "",
                                  Text("CompanyName", "Deutsch") + Text("ProductName", "P")),
                         kGermanFirst + kEnglishFirst),
                    "Deutsch", "P", ""},
        CraftedCase{
            "KeysMatchWithoutRegardToCase",
            Root(Node("040704b0", 1, "", Text("COMPANYNAME", "C") + Text("productname", "P")),
                 kGermanFirst),
            "C", "P", ""},
        CraftedCase{"UnknownStringsIgnored",
                    Root(Node("040904E4", 1, "", Text("Foo", "bar") + Text("ProductName", "P")),
                         kEnglishFirst),
                    "", "P", ""},
        CraftedCase{
            "TextWithoutTerminatorEndsAtItsLength",
            Root(Node("040904E4", 1, "", Node("CompanyName", 1, "ABC") + Text("ProductName", "P")),
                 kEnglishFirst),
            "ABC", "P", ""},
        CraftedCase{"EmptyTranslationTableMeansNoValues",
                    Root(Node("040904E4", 1, "", Text("CompanyName", "C")), ""), "", "", ""},
        CraftedCase{"DamagedNodeHidesOnlyWhatFollowsIt", DamagedMiddleNode(), "Before", "", ""},
        CraftedCase{"NoTranslationTable",
                    Root(Node("040904E4", 1, "", Text("CompanyName", "C")), "none"), "", "",
                    "System Error.  Code: 61.\r\nNo data available"},
        CraftedCase{"RootLongerThanItsSection", RootLengthTooLong(), "", "",
                    "System Error.  Code: 61.\r\nNo data available"},
        CraftedCase{"OtherRootKey",
                    Root(Node("040904E4", 1, "", Text("CompanyName", "C")), kEnglishFirst,
                         "SOMETHING_ELSE"),
                    "", "", "System Error.  Code: 61.\r\nNo data available"}),
    CaseName<CraftedCase>);

TEST(ReadEXEVersionData, TruncatedProgramIsAnError) {
  TempDir dir;
  const std::string program = ReadBytes(VERSION_PROBE_GERMAN);
  for (size_t length : {size_t{16}, size_t{64}, program.size() / 2, program.size() - 1}) {
    SCOPED_TRACE(length);
    WriteBytes(dir / "cut", program.substr(0, length));
    TEXEVersionData data;
    EXPECT_EQ(ReadError(dir / "cut", data), "System Error.  Code: 8.\r\nExec format error");
    EXPECT_EQ(data, TEXEVersionData{});
  }
}

TEST(ReadEXEVersionData, SectionTableOutsideTheFileIsAnError) {
  TempDir dir;
  std::string program = ReadBytes(VERSION_PROBE_GERMAN);
  program.replace(0x28, 8, std::string(8, '\x7f'));  // e_shoff of a 64-bit file
  WriteBytes(dir / "bad", program);
  TEXEVersionData data;
  EXPECT_EQ(ReadError(dir / "bad", data), "System Error.  Code: 8.\r\nExec format error");
}

// Damaged copies of a real program: whatever the damage, the reader answers with values or
// with an Error, never with a crash or a read outside the file.
TEST(ReadEXEVersionData, DamagedProgramsNeverCrash) {
  TempDir dir;
  const std::string program = ReadBytes(VERSION_PROBE_GERMAN);
  const size_t record = program.find("VS_VERSION_INFO") - 6;
  uint64_t sectionTable = 0;
  for (int i = 7; i >= 0; --i) {
    sectionTable = sectionTable << 8 | static_cast<unsigned char>(program[0x28 + i]);
  }
  ASSERT_LT(sectionTable, program.size());
  // The ELF header, the section header table and the record.
  const std::pair<size_t, size_t> regions[] = {
      {0, 64},
      {sectionTable, program.size() - sectionTable},
      {record, static_cast<unsigned char>(program[record]) |
                   static_cast<unsigned char>(program[record + 1]) << 8}};
  std::mt19937 random(20240607);
  for (int round = 0; round < 600; ++round) {
    std::string damaged = program;
    const auto& [start, length] = regions[round % 3];
    for (int n = 1 + static_cast<int>(random() % 4); n > 0; --n) {
      damaged[start + random() % length] = static_cast<char>(random());
    }
    WriteBytes(dir / "damaged", damaged);
    TEXEVersionData data;
    try {
      ReadEXEVersionData(dir / "damaged", data);
    } catch (const Error&) {
      EXPECT_EQ(data, TEXEVersionData{});
    }
  }
}

}  // namespace
}  // namespace cellverter
