#include "convert/csv_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "bounded_child.h"
#include "platform/ansi_code_page.h"
#include "platform/error.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

using testing_support::ReadBytes;
using testing_support::RunInBoundedChild;
using testing_support::TempDir;
using testing_support::WriteBytes;

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

struct EncodingCase {
  const char* name;
  CsvEncoding encoding;
  int codePage;
  std::vector<std::string> lines;
  std::string expected;
};

void PrintTo(const EncodingCase& c, std::ostream* os) { *os << c.name; }

class WriteCsvFileBytesTest : public testing::TestWithParam<EncodingCase> {};

TEST_P(WriteCsvFileBytesTest, WritesExactBytes) {
  const EncodingCase& c = GetParam();
  TempDir dir;
  const std::string written = WriteCsvFile(c.lines, dir / "out.csv", c.encoding, c.codePage);
  EXPECT_EQ(written, dir / "out.csv");
  EXPECT_EQ(ReadBytes(dir / "out.csv"), c.expected);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.csv"});  // no temporary left
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, WriteCsvFileBytesTest,
    testing::Values(
        EncodingCase{"AnsiAscii", CsvEncoding::Ansi, 1252, {"a,b", "c"}, "a,b\r\nc\r\n"},
        EncodingCase{"Utf8AsciiEqualsAnsi", CsvEncoding::Utf8, 1252, {"a,b", "c"}, "a,b\r\nc\r\n"},
        EncodingCase{"Utf8Bom",
                     CsvEncoding::Utf8Bom,
                     1252,
                     {"A"},
                     Bytes({0xEF, 0xBB, 0xBF, 0x41, 0x0D, 0x0A})},
        EncodingCase{"Utf16Be",
                     CsvEncoding::Utf16BeBom,
                     1252,
                     {"A"},
                     Bytes({0xFE, 0xFF, 0x00, 0x41, 0x00, 0x0D, 0x00, 0x0A})},
        EncodingCase{"Utf16Le",
                     CsvEncoding::Utf16LeBom,
                     1252,
                     {"A"},
                     Bytes({0xFF, 0xFE, 0x41, 0x00, 0x0D, 0x00, 0x0A, 0x00})},
        EncodingCase{"OneEmptyLineUtf8Bom",
                     CsvEncoding::Utf8Bom,
                     1252,
                     {""},
                     Bytes({0xEF, 0xBB, 0xBF, 0x0D, 0x0A})},
        EncodingCase{"OneEmptyLineAnsi", CsvEncoding::Ansi, 1252, {""}, "\r\n"},
        EncodingCase{"CyrillicUtf8", CsvEncoding::Utf8, 1252, {"Привет"}, "Привет\r\n"},
        EncodingCase{"CyrillicUtf16Be",
                     CsvEncoding::Utf16BeBom,
                     1252,
                     {"Пр"},
                     Bytes({0xFE, 0xFF, 0x04, 0x1F, 0x04, 0x40, 0x00, 0x0D, 0x00, 0x0A})},
        EncodingCase{"SupplementaryUtf16Le",
                     CsvEncoding::Utf16LeBom,
                     1252,
                     {"😀"},
                     Bytes({0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE, 0x0D, 0x00, 0x0A, 0x00})},
        EncodingCase{"WesternAnsi",
                     CsvEncoding::Ansi,
                     1252,
                     {"café €5"},
                     Bytes({'c', 'a', 'f', 0xE9, ' ', 0x80, '5', 0x0D, 0x0A})},
        EncodingCase{"CyrillicLostInWesternAnsi", CsvEncoding::Ansi, 1252, {"Да"}, "??\r\n"},
        EncodingCase{
            "CyrillicAnsi1251", CsvEncoding::Ansi, 1251, {"Да"}, Bytes({0xC4, 0xE0, 0x0D, 0x0A})},
        EncodingCase{"BestFitDropsAccents", CsvEncoding::Ansi, 1252, {"Ŝ ā ł"}, "S a l\r\n"},
        EncodingCase{"BestFitCompatibility", CsvEncoding::Ansi, 1252, {"ﬁ①"}, "fi1\r\n"},
        EncodingCase{"SupplementaryAnsiIsTwoUnits", CsvEncoding::Ansi, 1252, {"😀"}, "??\r\n"},
        EncodingCase{"JapaneseAnsi932",
                     CsvEncoding::Ansi,
                     932,
                     {"日本"},
                     Bytes({0x93, 0xFA, 0x96, 0x7B, 0x0D, 0x0A})},
        EncodingCase{"InvalidUtf8BecomesReplacement",
                     CsvEncoding::Utf8,
                     1252,
                     {"a\xFFz"},
                     "a\xEF\xBF\xBDz\r\n"}),
    [](const auto& p) { return std::string(p.param.name); });

// UTF-8 lines are copied a word of eight bytes at a time while the bytes are ASCII: a
// character or a bad byte at any place of a line of any length keeps its bytes or becomes
// U+FFFD, as byte by byte.
TEST(WriteCsvFileTest, Utf8KeepsEveryCharacterAtEveryPlace) {
  TempDir dir;
  std::vector<std::string> lines;
  std::string expected;
  for (size_t length = 1; length <= 20; ++length) {
    for (size_t at = 0; at < length; ++at) {
      std::string line(length, 'a');
      lines.push_back(std::string(line).replace(at, 1, "\xC3\xA9"));
      expected += lines.back() + "\r\n";
      lines.push_back(line.replace(at, 1, "\xFF"));
      expected += std::string(line).replace(at, 1, "\xEF\xBF\xBD") + "\r\n";
    }
  }
  WriteCsvFile(lines, dir / "out.csv", CsvEncoding::Utf8, 1252);
  EXPECT_EQ(ReadBytes(dir / "out.csv"), expected);
}

TEST(WriteCsvFileTest, EmptyLineListCreatesNothing) {
  TempDir dir;
  EXPECT_EQ(WriteCsvFile({}, dir / "out.csv", CsvEncoding::Utf8, 1252), "");
  EXPECT_TRUE(dir.Names().empty());
}

TEST(WriteCsvFileTest, NeverReplacesExistingFile) {
  TempDir dir;
  WriteBytes(dir / "out.csv", "precious");
  WriteBytes(dir / "out (2).csv", "precious too");
  // The name was free when chosen but taken before publishing: the next numbered name.
  const std::string written = WriteCsvFile({"new"}, dir / "out.csv", CsvEncoding::Utf8, 1252);
  EXPECT_EQ(written, dir / "out (3).csv");
  EXPECT_EQ(ReadBytes(dir / "out.csv"), "precious");
  EXPECT_EQ(ReadBytes(dir / "out (2).csv"), "precious too");
  EXPECT_EQ(ReadBytes(dir / "out (3).csv"), "new\r\n");
}

void ExpectCreateError(const std::string& path, const std::string& reason) {
  try {
    WriteCsvFile({"x"}, path, CsvEncoding::Utf8, 1252);
    FAIL() << "no error for " << path;
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + path + "\". " + reason);
  }
}

TEST(WriteCsvFileTest, CreateFailuresNameFileAndReason) {
  TempDir dir;
  ExpectCreateError(dir / "missing/out.csv", "No such file or directory");

  std::filesystem::create_directory(dir / "folder.csv");
  ExpectCreateError(dir / "folder.csv", "Is a directory");

  if (::geteuid() != 0) {  // root writes into read-only folders anyway
    std::filesystem::create_directory(dir / "locked");
    std::filesystem::permissions(
        dir / "locked", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    ExpectCreateError(dir / "locked/out.csv", "Permission denied");
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir / "folder.csv"));
}

TEST(WriteCsvFileTest, WriteFailingMidwayLeavesNothing) {
  TempDir dir;
  const std::string path = dir / "big.csv";
  // A child with a 64 KiB file-size limit writes 4 MiB: the write fails with EFBIG.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64 * 1024, 64 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      CsvFileWriter writer(path, CsvEncoding::Utf8, 1252);
      const std::string line(1000, 'x');
      for (int i = 0; i < 4096; ++i) writer.AddLine(line);
      writer.Publish();
    } catch (const Error& error) {
      const std::string expected = "Cannot create file \"" + path + "\". File too large";
      ::_exit(std::string(error.what()) == expected ? 0 : 3);
    }
    ::_exit(4);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(dir.Names().empty());
}

TEST(CsvFileWriterTest, AbandonedWriterRemovesTemporaryFile) {
  TempDir dir;
  {
    CsvFileWriter writer(dir / "out.csv", CsvEncoding::Utf16LeBom, 1252);
    writer.AddLine("half");
  }
  EXPECT_TRUE(dir.Names().empty());
}

TEST(CsvFileWriterTest, StreamsManyLinesInOrder) {
  TempDir dir;
  CsvFileWriter writer(dir / "out.csv", CsvEncoding::Utf8, 1252);
  std::string expected;
  for (int i = 0; i < 200000; ++i) {
    const std::string line = "row " + std::to_string(i);
    writer.AddLine(line);
    expected += line + "\r\n";
  }
  writer.Publish();
  EXPECT_EQ(ReadBytes(dir / "out.csv"), expected);
}

TEST(WriteCsvFileTest, DanglingLinkAtTheNameGetsTheNextNumber) {
  TempDir dir;
  // The name looks free to stat, which follows the link; publishing must not loop on it.
  std::filesystem::create_symlink(dir / "missing.csv", dir / "out.csv");
  const std::string written = RunInBoundedChild(
      [&] { return WriteCsvFile({"new"}, dir / "out.csv", CsvEncoding::Utf8, 1252); });
  EXPECT_EQ(written, dir / "out (2).csv");
  EXPECT_EQ(ReadBytes(dir / "out (2).csv"), "new\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "out.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.csv"));
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"out (2).csv", "out.csv"}));
}

TEST(WriteCsvFileTest, LongestLegalNamesAreWritable) {
  TempDir dir;
  for (const size_t length : {248u, 251u, 255u}) {
    const std::string name = std::string(length - 4, 'n') + ".csv";
    EXPECT_EQ(WriteCsvFile({"x"}, dir / name, CsvEncoding::Utf8, 1252), dir / name);
    EXPECT_EQ(ReadBytes(dir / name), "x\r\n");
  }
  EXPECT_EQ(dir.Names().size(), 3u);
}

TEST(CsvFileWriterTest, KilledWriterLeavesNothing) {
  TempDir dir;
  const int probe = ::open(dir.path().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (probe < 0) GTEST_SKIP() << "no unnamed files on this file system";
  ::close(probe);

  int ready[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::alarm(60);  // never outlives a parent that stopped waiting
    CsvFileWriter writer(dir / "out.csv", CsvEncoding::Utf8, 1252);
    const std::string line(1000, 'x');
    for (int i = 0; i < 3000; ++i) writer.AddLine(line);  // over 1 MiB: part of it is on disk
    if (::write(ready[1], "w", 1) != 1) ::_exit(1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char byte = 0;
  ssize_t got = 0;
  do {
    got = ::read(ready[0], &byte, 1);  // end of file if the child died first
  } while (got < 0 && errno == EINTR);
  ::close(ready[0]);
  const std::vector<std::string> whileWriting = dir.Names();
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_EQ(got, 1) << "the child did not get to write";
  EXPECT_TRUE(whileWriting.empty()) << whileWriting[0];
  EXPECT_TRUE(dir.Names().empty()) << dir.Names()[0];
}

TEST(AnsiCodePageTest, FollowsLocaleLanguage) {
  EXPECT_EQ(AnsiCodePageForLocale("en_US.UTF-8"), 1252);
  EXPECT_EQ(AnsiCodePageForLocale("de-DE"), 1252);
  EXPECT_EQ(AnsiCodePageForLocale("C.UTF-8"), 1252);
  EXPECT_EQ(AnsiCodePageForLocale("ru_RU.UTF-8"), 1251);
  EXPECT_EQ(AnsiCodePageForLocale("pl_PL"), 1250);
  EXPECT_EQ(AnsiCodePageForLocale("tr_TR.UTF-8"), 1254);
  EXPECT_EQ(AnsiCodePageForLocale("el_GR"), 1253);
  EXPECT_EQ(AnsiCodePageForLocale("ja_JP.UTF-8"), 932);
  EXPECT_EQ(AnsiCodePageForLocale("zh_CN.UTF-8"), 936);
  EXPECT_EQ(AnsiCodePageForLocale("zh_TW.UTF-8"), 950);
  EXPECT_EQ(AnsiCodePageForLocale("sr_RS@latin"), 1250);
  EXPECT_EQ(AnsiCodePageForLocale("sr_RS"), 1251);
  EXPECT_EQ(AnsiCodePageForLocale("th_TH"), 874);
}

}  // namespace
}  // namespace cellverter
