#include "convert/output_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "temp_dir.h"

namespace cellverter {
namespace {

using testing_support::TempDir;
using testing_support::WriteBytes;

TEST(OutputPathForTest, BuildsDestinationBaseAndCsv) {
  EXPECT_EQ(OutputPathFor("/out", "/data/sales.xlsx"), "/out/sales.csv");
  EXPECT_EQ(OutputPathFor("/out/", "/data/sales.xlsx"), "/out/sales.csv");
  EXPECT_EQ(OutputPathFor("/out", "/data/q1.sales.xlsx"), "/out/q1.sales.csv");
  EXPECT_EQ(OutputPathFor("/out", "/data.d/book"), "/out/book.csv");
}

TEST(OutputPathForSheetTest, AddsTheSheetNameMadeSafeForAFileName) {
  struct Case {
    const char* sheet;
    const char* path;
  } cases[] = {
      {"Beta", "/out/sales - Beta.csv"},
      {"Q1 2024.final", "/out/sales - Q1 2024.final.csv"},
      {"a/b", "/out/sales - a_b.csv"},
      {"tab\there\nline\x7f", "/out/sales - tab_here_line_.csv"},
      {"Übersicht ✓", "/out/sales - Übersicht ✓.csv"},
      {"", "/out/sales - .csv"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OutputPathForSheet("/out", "/data/sales.xlsx", c.sheet), c.path) << c.sheet;
  }
}

TEST(OutputPathForSheetTest, ShortensTheSheetNameToKeepTheFileNameWithin255Bytes) {
  const std::string workbook = "/data/" + std::string(200, 'w') + ".xlsx";
  // 'é' is two bytes: the cut must not split one.
  std::string sheet;
  for (int i = 0; i < 40; ++i) sheet += "é";
  const std::string path = OutputPathForSheet("/out", workbook, sheet);
  const std::string name = path.substr(std::string("/out/").size());
  EXPECT_LE(name.size(), 255u);
  EXPECT_GE(name.size(), 254u);
  EXPECT_TRUE(name.ends_with("é.csv")) << name;
  EXPECT_TRUE(name.starts_with(std::string(200, 'w') + " - é")) << name;
}

TEST(UniqueFileNameTest, NumbersFromTwoOnTheFirstBaseName) {
  TempDir dir;
  EXPECT_EQ(UniqueFileName(dir / "report.csv"), dir / "report.csv");
  WriteBytes(dir / "report.csv", "");
  EXPECT_EQ(UniqueFileName(dir / "report.csv"), dir / "report (2).csv");
  WriteBytes(dir / "report (2).csv", "");
  EXPECT_EQ(UniqueFileName(dir / "report.csv"), dir / "report (3).csv");
}

TEST(UniqueFileNameTest, FolderOfTheNameDoesNotCount) {
  TempDir dir;
  std::filesystem::create_directory(dir / "report.csv");
  EXPECT_EQ(UniqueFileName(dir / "report.csv"), dir / "report.csv");
}

TEST(UniqueFileNameTest, EveryEntryButAFolderTakesTheName) {
  TempDir dir;
  WriteBytes(dir / "target", "");
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_symlink(dir / "missing", dir / "dangling.csv");
  std::filesystem::create_symlink(dir / "target", dir / "link.csv");
  ASSERT_EQ(::mkfifo((dir / "fifo.csv").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir / "folder", dir / "folderlink.csv");
  // A dangling link would be written through; a FIFO or a link is no place for a CSV file.
  EXPECT_EQ(UniqueFileName(dir / "dangling.csv"), dir / "dangling (2).csv");
  EXPECT_EQ(UniqueFileName(dir / "link.csv"), dir / "link (2).csv");
  EXPECT_EQ(UniqueFileName(dir / "fifo.csv"), dir / "fifo (2).csv");
  // A link to a folder counts as the folder does.
  EXPECT_EQ(UniqueFileName(dir / "folderlink.csv"), dir / "folderlink.csv");
}

TEST(UniqueFileNameTest, NextNameNeverGoesBack) {
  TempDir dir;
  WriteBytes(dir / "report (3).csv", "");
  long long counter = 1;
  EXPECT_EQ(NextUniqueFileName(dir / "report.csv", counter), dir / "report (2).csv");
  EXPECT_EQ(counter, 2);
  // "report (2).csv" is still free, but it was met: the next one after it that is free.
  EXPECT_EQ(NextUniqueFileName(dir / "report.csv", counter), dir / "report (4).csv");
  EXPECT_EQ(counter, 4);
}

}  // namespace
}  // namespace cellverter
