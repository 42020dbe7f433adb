#include "sources/source_rules.h"

#include <gtest/gtest.h>

namespace cellverter {
namespace {

struct NameCase {
  const char* name;
  bool supported;
};

class DestekleniyormuTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(DestekleniyormuTest, AcceptsOnlyTheWorkbookExtensions) {
  EXPECT_EQ(Destekleniyormu(GetParam().name), GetParam().supported) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, DestekleniyormuTest,
    ::testing::Values(NameCase{"BOOK.XLS", true}, NameCase{"a.b.xlsx", true},
                      NameCase{"Old.XlSx", true}, NameCase{"/data/~$Book.xlsx", true},
                      NameCase{".xls", true}, NameCase{"book.xlsm", true},
                      NameCase{"Book.XLSB", true}, NameCase{"t.xltx", true},
                      NameCase{"t.Xltm", true}, NameCase{"calc.ods", true},
                      NameCase{"flat.FODS", true}, NameCase{"letter.odt", false},
                      NameCase{"old.xlt", false}, NameCase{"book.xlsb.tmp", false},
                      NameCase{"data.csv", false}, NameCase{"book.xls.bak", false},
                      NameCase{"name.", false}, NameCase{"xls", false}, NameCase{"", false},
                      // The last dot before a separator is no extension.
                      NameCase{"C:\\x.xls\\data", false}, NameCase{"/x.xls/data", false},
                      NameCase{"x.xls:data", false}, NameCase{"/data.d/book", false},
                      // Only ASCII letters are lower-cased: a Turkish dotted capital
                      // I or a fullwidth letter never makes ".xls".
                      NameCase{"book.X\xEF\xBC\xB3S", false}, NameCase{"book.xl\xC4\xB0s", false}));

struct FolderCase {
  const char* path;
  const char* folder;
};

class FolderPartOfPathTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(FolderPartOfPathTest, DropsTheNameAndOneSeparator) {
  EXPECT_EQ(FolderPartOfPath(GetParam().path), GetParam().folder) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FolderPartOfPathTest,
    ::testing::Values(FolderCase{"/data/Book.xls", "/data"},
                      FolderCase{"/home/ann/q1/Book.xlsx", "/home/ann/q1"},
                      FolderCase{"/Book.xls", "/"},  // the root keeps its separator
                      FolderCase{"Book.xls", ""}, FolderCase{"", ""},
                      FolderCase{"data/Book.xls", "data"}, FolderCase{"/data//Book.xls", "/data//"},
                      FolderCase{"/data/", "/data"},
                      // "\" and ":" are ordinary name characters here.
                      FolderCase{"/data/a:b\\c.xls", "/data"}, FolderCase{"C:\\Book.xls", ""}));

}  // namespace
}  // namespace cellverter
