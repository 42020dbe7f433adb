#include "convert/output_path.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace cellverter
