#include "app/main_window_rules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace cellverter {
namespace {

struct ErrorTextCase {
  std::string message;
  std::string shown;
};

class GeneralErrorTextTest : public ::testing::TestWithParam<ErrorTextCase> {};

TEST_P(GeneralErrorTextTest, AppendsAFullStopAfterCharactersAboveIt) {
  EXPECT_EQ(GeneralErrorText(GetParam().message), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GeneralErrorTextTest,
    ::testing::Values(ErrorTextCase{"Unable to create directory", "Unable to create directory."},
                      ErrorTextCase{"Done.", "Done."},        // the full stop itself: kept
                      ErrorTextCase{"Done!", "Done!"},        // '!' is below '.'
                      ErrorTextCase{"Failed -", "Failed -"},  // '-' is below '.'
                      ErrorTextCase{"Cannot open \"a.xls\"", "Cannot open \"a.xls\""},
                      ErrorTextCase{"Disk full/", "Disk full/."},  // '/' is just above '.'
                      ErrorTextCase{"Datei läßt sich nicht öffnen: ö",
                                    "Datei läßt sich nicht öffnen: ö."},
                      ErrorTextCase{"", ""}));

// The completion note names the last warning, and how many workbooks warned once there are
// several.
TEST(FormulasWithoutValueCompletionNoteTest, NamesTheLastWarningAndCountsOnlySeveral) {
  const std::string last =
      "\"/d/b.xlsx\": 3 formula cells have no calculated value and are written empty";
  EXPECT_EQ(FormulasWithoutValueCompletionNote(1, last), " (" + last + ")");
  EXPECT_EQ(FormulasWithoutValueCompletionNote(2, last),
            " (2 workbooks have formula cells without a calculated value; " + last + ")");
}

TEST(HelpAddressTest, LowerCasesAsciiAndJoinsWordsWithDashes) {
  EXPECT_EQ(HelpAddress("Cellverter", "cellverter.example.net"),
            "http://cellverter.example.net/help/cellverter/");
  EXPECT_EQ(HelpPageName("Excel To CSV"), "excel-to-csv");
  EXPECT_EQ(HelpPageName("Ölçer Tool"), "Ölçer-tool");  // only A to Z are lowered
}

TEST(AppVersionTest, MajorAndMinorOfTheFileVersion) {
  EXPECT_EQ(AppVersionFromFileVersion("2.1.0.0"), "2.1");
  EXPECT_EQ(AppVersionFromFileVersion("10.22.3.4"), "10.22");
  EXPECT_EQ(AppVersionFromFileVersion("3"), "3.0");
  EXPECT_EQ(AppVersionFromFileVersion(""), "0.0");
}

TEST(ProgramFolderTest, FolderOfTheExecutableWithoutTrailingSeparator) {
  EXPECT_EQ(ProgramFolder("/opt/cellverter/cellverter"), "/opt/cellverter");
  EXPECT_EQ(ProgramFolder("/cellverter"), "/");
}

struct ProgressCase {
  std::size_t done, total;
  long long row, lastRow;
  int permyriad;
};

class RunProgressTest : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(RunProgressTest, WorkbooksDoneAndTheRowsOfTheOneUnderWay) {
  const ProgressCase& c = GetParam();
  EXPECT_EQ(RunProgressPermyriad(c.done, c.total, c.row, c.lastRow), c.permyriad)
      << c.done << "/" << c.total << " " << c.row << "/" << c.lastRow;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunProgressTest,
    ::testing::Values(ProgressCase{0, 0, 0, 0, 0},                 // nothing to convert
                      ProgressCase{0, 4, 0, 0, 0},                 // the first, its size unknown
                      ProgressCase{1, 4, 0, 0, 2500},              // one of four done
                      ProgressCase{1, 4, 500, 1000, 3750},         // and half of the second
                      ProgressCase{1, 4, 1000, 1000, 5000},        // all its rows, unpublished
                      ProgressCase{1, 4, 1500, 1000, 5000},        // past the last = the last
                      ProgressCase{0, 1, 1, 1048576, 0},           // the start of a huge sheet
                      ProgressCase{0, 1, 1048575, 1048576, 9999},  // never full before done
                      ProgressCase{4, 4, 0, 0, 10000},             // all done
                      ProgressCase{2000, 2000, 7, 9, 10000},       // done wins over rows
                      ProgressCase{3, 2000, 0, 0, 15}));           // many small workbooks

TEST(RunStatusTest, SparseRangeNamesTheRangeAndWhatTheFileHolds) {
  EXPECT_EQ(SparseRangeStatusText("/data/far.xlsx", UsedRangeSize{1048576, 16384, 2}),
            "Converting /data/far.xlsx... (used range A1:XFD1048576: 17179869184 cells, 2 held)");
}

// A window stand-in that records the steps of the automatic run in order.
class RecordingHost : public AutomaticRunHost {
 public:
  std::set<WindowOption> on;
  bool listFilledByScan = true;
  bool listHasRows = false;
  std::string storedDestination;
  std::vector<std::string> steps;

  bool OptionChecked(WindowOption option) override { return on.count(option) > 0; }
  void Minimize() override { steps.push_back("minimize"); }
  void ShowStatus(const std::string& text) override { steps.push_back("status:" + text); }
  void ProcessMessages() override { steps.push_back("process"); }
  void AddWorkbooksOfFolder(const std::string& folder) override {
    steps.push_back("scan:" + folder);
    if (listFilledByScan) listHasRows = true;
  }
  bool ConvertEnabled() override { return listHasRows; }
  std::string StoredDestination() override { return storedDestination; }
  void ShowDestinationUnstored(const std::string& folder) override {
    steps.push_back("destination:" + folder);
  }
  void ClickConvert() override { steps.push_back("convert"); }
  void CloseWindow() override { steps.push_back("close"); }
};

using O = WindowOption;
using Steps = std::vector<std::string>;

struct AutomaticRunCase {
  const char* name;
  std::set<WindowOption> on;
  bool scanFindsWorkbooks;
  std::string storedDestination;
  Steps expected;
};

class AutomaticRunTest : public ::testing::TestWithParam<AutomaticRunCase> {};

TEST_P(AutomaticRunTest, StepsInOrder) {
  RecordingHost host;
  host.on = GetParam().on;
  host.listFilledByScan = GetParam().scanFindsWorkbooks;
  host.storedDestination = GetParam().storedDestination;
  RunAutomaticStart(host, "/opt/prog");
  EXPECT_EQ(host.steps, GetParam().expected);
}

const Steps kConvertAndClose = {"status:Automatically converting to CSV...",
                                "process",
                                "convert",
                                "status:Automatically converted to CSV",
                                "process",
                                "status:Automatically closing application...",
                                "process",
                                "close"};

Steps Concat(Steps a, const Steps& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutomaticRunTest,
    ::testing::Values(
        AutomaticRunCase{"AllOff", {}, true, "", {}},
        AutomaticRunCase{"OnlyMinimized",
                         {O::StartMinimized},
                         true,
                         "",
                         {"minimize", "status:Minimized", "process"}},
        AutomaticRunCase{"CloseWithoutConvertStaysOpen",
                         {O::AutomaticallyAddExcelFiles, O::AutomaticallyCloseApplication},
                         true,
                         "",
                         {"scan:/opt/prog"}},
        AutomaticRunCase{"ConvertWithoutAddConvertsNothing",
                         {O::AutomaticallyConverttoCSV, O::AutomaticallyCloseApplication},
                         true,
                         "",
                         {}},
        AutomaticRunCase{"EmptyFolderStaysOpen",
                         {O::AutomaticallyAddExcelFiles, O::AutomaticallyConverttoCSV,
                          O::AutomaticallyCloseApplication},
                         false,
                         "",
                         {"scan:/opt/prog"}},
        AutomaticRunCase{"AllOnNoStoredDestination",
                         {O::StartMinimized, O::AutomaticallyAddExcelFiles,
                          O::AutomaticallyConverttoCSV, O::AutomaticallyCloseApplication},
                         true,
                         "",
                         Concat({"minimize", "status:Minimized", "process", "scan:/opt/prog",
                                 "destination:/opt/prog"},
                                kConvertAndClose)},
        AutomaticRunCase{"StoredDestinationKept",
                         {O::AutomaticallyAddExcelFiles, O::AutomaticallyConverttoCSV,
                          O::AutomaticallyCloseApplication},
                         true,
                         "/srv/out",
                         Concat({"scan:/opt/prog"}, kConvertAndClose)},
        AutomaticRunCase{"ConvertWithoutCloseStaysOpen",
                         {O::AutomaticallyAddExcelFiles, O::AutomaticallyConverttoCSV},
                         true,
                         "/srv/out",
                         {"scan:/opt/prog", "status:Automatically converting to CSV...", "process",
                          "convert", "status:Automatically converted to CSV", "process"}}),
    [](const ::testing::TestParamInfo<AutomaticRunCase>& c) { return c.param.name; });

}  // namespace
}  // namespace cellverter
