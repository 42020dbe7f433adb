#include "convert/batch_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../spreadsheet/xlsx_builder.h"
#include "platform/error.h"
#include "temp_dir.h"
#include "xlsx_maker.h"

namespace cellverter {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;
using testing_support::WriteXlsx;

// The window's controls as plain values that a test may change while the run waits in
// one of its callbacks.
class WindowInputs : public BatchInputs {
 public:
  std::vector<std::string> list;
  std::string destination;
  std::string separator = ",";
  CsvEncoding encoding = CsvEncoding::Utf8;
  std::vector<std::string> asked;  // which value was read, in order

  std::size_t ItemCount() override {
    asked.push_back("count");
    return list.size();
  }
  std::string Item(std::size_t index) override { return list.at(index); }
  std::string Destination() override {
    asked.push_back("destination");
    return destination;
  }
  std::string Separator() override {
    asked.push_back("separator");
    return separator;
  }
  CsvEncoding Encoding() override { return encoding; }
  int AnsiCodePage() override { return 1252; }
};

// Writes down what the window would show.
class EventLog : public BatchObserver {
 public:
  std::vector<std::string> events;
  std::function<void(std::size_t)> onFailure;  // runs while the "ERROR" box would be open

  void ShowStatus(const std::string& text) override { events.push_back("status: " + text); }
  void SetBusyCursor(bool busy) override { events.push_back(busy ? "busy" : "normal"); }
  void Beep() override { events.push_back("beep"); }
  void DestinationNotCreated(const std::string& folder, const std::string& message) override {
    events.push_back("WARNING " + folder + ": " + message);
  }
  void WorkbookFailed(std::size_t index, const std::string& workbook, const std::string& message,
                      ErrorKind) override {
    events.push_back("ERROR " + workbook);
    EXPECT_FALSE(message.empty());
    if (onFailure) onFailure(index);
  }
};

// A workbook whose only cell holds `tag`, which its CSV file repeats.
std::string Workbook(const TempDir& dir, const std::string& relative, const std::string& tag) {
  const std::string path = dir / relative;
  fs::create_directories(fs::path(path).parent_path());
  WriteXlsx(path, {{tag}});
  return path;
}

std::string Csv(const std::string& tag) { return tag + "\r\n"; }

// Every file of a folder with its bytes ("<folder>" for a folder).
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] =
        entry.is_directory() ? "<folder>" : ReadBytes(entry.path().string());
  }
  return files;
}

TEST(RunBatchTest, SameBaseNamesNumberedInListOrderAndAgainOnASecondRun) {
  TempDir dir;
  WindowInputs inputs;
  // Opened by content: a zip named .xls is read all the same.
  inputs.list = {Workbook(dir, "in/sales.xls", "first"), Workbook(dir, "in/sales.xlsx", "second"),
                 Workbook(dir, "other/sales.xlsx", "third"),
                 Workbook(dir, "in/q1.sales.xlsx", "dotted")};
  inputs.destination = dir / "out";
  EventLog log;

  BatchSummary summary = RunBatch(inputs, log);
  EXPECT_EQ(summary.converted, 4u);
  EXPECT_EQ(Files(dir / "out"),
            (std::map<std::string, std::string>{{"sales.csv", Csv("first")},
                                                {"sales (2).csv", Csv("second")},
                                                {"sales (3).csv", Csv("third")},
                                                {"q1.sales.csv", Csv("dotted")}}));

  summary = RunBatch(inputs, log);
  EXPECT_EQ(summary.converted, 4u);
  const auto files = Files(dir / "out");
  EXPECT_EQ(files.size(), 8u);
  EXPECT_EQ(files.at("sales (4).csv"), Csv("first"));
  EXPECT_EQ(files.at("sales (6).csv"), Csv("third"));
  EXPECT_EQ(files.at("q1.sales (2).csv"), Csv("dotted"));
  EXPECT_EQ(files.at("sales.csv"), Csv("first"));  // never overwritten
}

TEST(RunBatchTest, FailingWorkbookInTheMiddleIsReportedAndTheRunGoesOn) {
  TempDir dir;
  WindowInputs inputs;
  WriteBytes(dir / "broken.xlsx", "not a workbook");
  inputs.list = {Workbook(dir, "a.xlsx", "A"), dir / "broken.xlsx", dir / "missing.xlsx",
                 Workbook(dir, "b.xlsx", "B")};
  inputs.destination = dir / "out";
  EventLog log;

  const BatchSummary summary = RunBatch(inputs, log);
  EXPECT_TRUE(summary.destinationReady);
  EXPECT_EQ(summary.converted, 2u);
  EXPECT_EQ(summary.failed, 2u);
  const std::vector<std::string> expected = {"status: ",
                                             "busy",
                                             "status: Converting " + inputs.list[0] + "...",
                                             "status: ",
                                             "status: Converting " + inputs.list[1] + "...",
                                             "normal",
                                             "ERROR " + inputs.list[1],
                                             "busy",
                                             "status: ",
                                             "status: Converting " + inputs.list[2] + "...",
                                             "normal",
                                             "ERROR " + inputs.list[2],
                                             "busy",
                                             "status: ",
                                             "status: Converting " + inputs.list[3] + "...",
                                             "status: ",
                                             "beep",
                                             "normal",
                                             "status: Completed"};
  EXPECT_EQ(log.events, expected);
  EXPECT_EQ(Files(dir / "out"),
            (std::map<std::string, std::string>{{"a.csv", Csv("A")}, {"b.csv", Csv("B")}}));
}

TEST(RunBatchTest, FailureMessageNamesTheWorkbook) {
  TempDir dir;
  WriteBytes(dir / "broken.xlsx", "not a workbook");
  FixedBatchInputs inputs({dir / "broken.xlsx"}, dir / "out", CsvOptions{});
  struct : EventLog {
    std::string message;
    void WorkbookFailed(std::size_t, const std::string&, const std::string& text,
                        ErrorKind) override {
      message = text;
    }
  } log;
  RunBatch(inputs, log);
  EXPECT_NE(log.message.find("broken.xlsx"), std::string::npos) << log.message;
}

TEST(RunBatchTest, DestinationWithOrWithoutTrailingSlashIsCreatedWithItsParents) {
  for (const std::string suffix : {"", "/"}) {
    TempDir dir;
    WindowInputs inputs;
    inputs.list = {Workbook(dir, "in/book.xlsx", "x")};
    inputs.destination = dir / ("new/deeper/out" + suffix);
    struct : EventLog {
      std::string csv;
      void WorkbookConverted(std::size_t, const std::string&,
                             const std::vector<std::string>& files) override {
        ASSERT_EQ(files.size(), 1u);
        csv = files.front();
      }
    } written;
    RunBatch(inputs, written);
    EXPECT_EQ(written.csv, dir / "new/deeper/out/book.csv") << "destination " << inputs.destination;
    EXPECT_EQ(ReadBytes(dir / "new/deeper/out/book.csv"), Csv("x"));
  }
}

TEST(RunBatchTest, EmptyDestinationStopsBeforeAnyWorkbook) {
  TempDir dir;
  WindowInputs inputs;
  inputs.list = {Workbook(dir, "book.xlsx", "x")};
  inputs.destination = "";
  EventLog log;
  try {
    RunBatch(inputs, log);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "Unable to create directory");
  }
  EXPECT_EQ(log.events, std::vector<std::string>{"status: "});
  EXPECT_EQ(inputs.asked, std::vector<std::string>{"destination"});
}

TEST(RunBatchTest, DestinationThatCannotBeCreatedWarnsAndConvertsNothing) {
  TempDir dir;
  WriteBytes(dir / "file", "in the way");
  for (const std::string& destination : {dir / "file", dir / "file/sub"}) {
    WindowInputs inputs;
    inputs.list = {Workbook(dir, "book.xlsx", "x")};
    inputs.destination = destination;
    EventLog log;
    const BatchSummary summary = RunBatch(inputs, log);
    EXPECT_FALSE(summary.destinationReady);
    ASSERT_EQ(log.events.size(), 2u);
    EXPECT_EQ(log.events[1], "WARNING " + destination + ": Not a directory");
  }
  EXPECT_FALSE(fs::exists(dir / "book.csv"));
}

TEST(RunBatchTest, ReadsTheListAndDestinationAfreshButTheSeparatorOnce) {
  TempDir dir;
  WindowInputs inputs;
  WriteBytes(dir / "broken.xlsx", "not a workbook");
  inputs.list = {dir / "broken.xlsx", Workbook(dir, "two.xlsx", "2")};
  inputs.destination = dir / "first";
  const std::string added = dir / "added.xlsx";
  WriteXlsx(added, {{"a", "b"}});
  EventLog log;
  // While the error box is open the user adds a workbook, types another destination and
  // separator and picks another encoding.
  fs::create_directories(dir / "second");  // the run creates only the first destination
  log.onFailure = [&](std::size_t index) {
    ASSERT_EQ(index, 0u);
    inputs.list.push_back(added);
    inputs.destination = dir / "second";
    inputs.separator = ";";
    inputs.encoding = CsvEncoding::Utf16LeBom;
  };
  const BatchSummary summary = RunBatch(inputs, log);
  EXPECT_EQ(summary.converted, 2u);
  EXPECT_EQ(summary.failed, 1u);
  EXPECT_TRUE(fs::is_directory(dir / "first"));
  EXPECT_TRUE(fs::is_empty(dir / "first"));
  EXPECT_EQ(ReadBytes(dir / "second/two.csv"), std::string("\xFF\xFE"
                                                           "2\0\r\0\n\0",
                                                           8));
  EXPECT_EQ(ReadBytes(dir / "second/added.csv"), std::string("\xFF\xFE"
                                                             "a\0,\0b\0\r\0\n\0",
                                                             12));
  EXPECT_EQ(std::count(inputs.asked.begin(), inputs.asked.end(), "separator"), 1);
}

struct FamilyCase {
  const char* workbook;
  const char* family;
};

class OutputNameFamilyTest : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(OutputNameFamilyTest, StripsCountersAndCase) {
  EXPECT_EQ(OutputNameFamily(GetParam().workbook), GetParam().family) << GetParam().workbook;
}

INSTANTIATE_TEST_SUITE_P(
    Names, OutputNameFamilyTest,
    ::testing::Values(FamilyCase{"/a/Sales.xlsx", "sales"}, FamilyCase{"/b/sales (2).xls", "sales"},
                      FamilyCase{"sales (2) (13).xlsx", "sales"},
                      FamilyCase{"q1.sales.xlsx", "q1.sales"}, FamilyCase{"x(2).xlsx", "x(2)"},
                      FamilyCase{"x ().xlsx", "x ()"}, FamilyCase{"x (a).xlsx", "x (a)"},
                      FamilyCase{" (2).xlsx", ""}, FamilyCase{"(2).xlsx", "(2)"},
                      FamilyCase{"book", "book"}, FamilyCase{"Sales - Beta.xlsx", "sales"},
                      FamilyCase{"sales (2) - x - y.xlsx", "sales"}));

// A list whose names meet in every way: the same base name in other folders and cases,
// base names that are another's numbered form, a failing workbook that leaves its name to
// the next one, and a file that the destination already holds.
TEST(RunBatchInParallelTest, GivesTheNamesAndBytesOfAOneByOneRun) {
  TempDir dir;
  fs::create_directories(dir / "in");
  WriteBytes(dir / "in/broken.xlsx", "");
  std::vector<std::string> list;
  WriteBytes(dir / "in/sales.xls", "not a workbook");
  list.push_back(dir / "in/sales.xls");
  for (int i = 0; i < 6; ++i) {
    const std::string n = std::to_string(i);
    list.push_back(Workbook(dir, "f" + n + "/sales.xlsx", "sales " + n));
    list.push_back(Workbook(dir, "f" + n + "/sales (2).xlsx", "sales two " + n));
    list.push_back(Workbook(dir, "f" + n + "/Report (3) (2).xlsx", "report " + n));
    list.push_back(Workbook(dir, "f" + n + "/report.xlsx", "report lower " + n));
    list.push_back(Workbook(dir, "f" + n + "/own" + n + ".xlsx", "own " + n));
    if (i == 2) list.push_back(dir / "in/broken.xlsx");
  }
  CsvOptions options;
  options.separator = "|";

  fs::create_directories(dir / "one");
  WriteBytes(dir / "one/sales (3).csv", "already there");
  FixedBatchInputs inputs(list, dir / "one", options);
  EventLog log;
  const BatchSummary sequential = RunBatch(inputs, log);
  const auto expected = Files(dir / "one");
  ASSERT_EQ(expected.size(), list.size() - 2 + 1);

  for (const unsigned jobs : {1u, 2u, 3u, 8u}) {
    const std::string out = dir / ("jobs" + std::to_string(jobs));
    fs::create_directories(out);
    WriteBytes(out + "/sales (3).csv", "already there");
    EventLog parallelLog;
    const BatchSummary parallel = RunBatchInParallel(list, out, options, jobs, parallelLog);
    EXPECT_EQ(parallel.converted, sequential.converted);
    EXPECT_EQ(parallel.failed, sequential.failed);
    EXPECT_EQ(Files(out), expected) << jobs << " jobs";
  }
}

// A workbook whose worksheets, named `sheets`, each hold their name in A1 and, in B1, a
// formula without a calculated value (told to the observer after the rows are written, when
// the files wait to be published).
std::string SheetsWorkbook(const TempDir& dir, const std::string& relative,
                           const std::vector<std::string>& sheets) {
  testing_support::TestWorkbook book;
  for (const std::string& sheet : sheets) {
    book.sheets.emplace_back("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>" + sheet +
                             "</t></is></c><c r=\"B1\"><f>1+1</f></c></row>");
    book.sheets.back().name = sheet;
  }
  const std::string path = dir / relative;
  fs::create_directories(fs::path(path).parent_path());
  WriteBytes(path, book.Zip());
  return path;
}

// Every worksheet of each workbook, as --all-sheets.
class AllSheetsInputs : public FixedBatchInputs {
 public:
  using FixedBatchInputs::FixedBatchInputs;
  SheetChoice Sheets() override { return SheetChoice{true, {}}; }
};

// Sheets' files whose names meet across workbooks of one family: "x - a - b.csv" comes from
// the sheet "a - b" of x.xlsx and from the sheet "b" of "x - a.xlsx", each publish choosing
// the next name only once the earlier ones are on disk.
TEST(RunBatchInParallelTest, SheetsOfOneFamilyGetTheNamesOfAOneByOneRun) {
  TempDir dir;
  const std::vector<std::string> list = {
      SheetsWorkbook(dir, "in/x.xlsx", {"a - b", "c"}),
      SheetsWorkbook(dir, "in/x - a.xlsx", {"b", "c"}),
      SheetsWorkbook(dir, "other/x.xlsx", {"a - b"}),
      SheetsWorkbook(dir, "in/x (2).xlsx", {"a - b"}),
      SheetsWorkbook(dir, "in/y.xlsx", {"a - b"}),
  };
  AllSheetsInputs inputs(list, dir / "one", CsvOptions{});
  EventLog log;
  const BatchSummary sequential = RunBatch(inputs, log);
  ASSERT_EQ(sequential.converted, list.size());
  const auto expected = Files(dir / "one");
  ASSERT_EQ(expected.size(), 7u);
  EXPECT_EQ(expected.at("x - a - b (3).csv"), Csv("a - b,"));

  for (const unsigned jobs : {1u, 2u}) {
    const std::string out = dir / ("jobs" + std::to_string(jobs));
    EventLog parallelLog;
    const BatchSummary parallel =
        RunBatchInParallel(list, out, CsvOptions{}, jobs, parallelLog, SheetChoice{true, {}});
    EXPECT_EQ(parallel.converted, list.size());
    EXPECT_EQ(Files(out), expected) << jobs << " jobs";
  }
}

// Records outcomes; when `takeName` names a workbook, a folder takes the name of its CSV file
// after its rows are written, before the file is published.
struct PublishRecord : EventLog {
  std::string destination;
  std::size_t takeName = SIZE_MAX;
  std::map<std::size_t, std::string> outcomes;  // guarded by the run
  void WorkbookFormulasWithoutValue(std::size_t index, long long) override {
    if (index == takeName)
      fs::create_directory(destination + "/b" + std::to_string(index) + ".csv");
  }
  void WorkbookConverted(std::size_t index, const std::string&,
                         const std::vector<std::string>& csvFiles) override {
    outcomes[index] = "converted " + fs::path(csvFiles.at(0)).filename().string();
  }
  void WorkbookFailed(std::size_t index, const std::string&, const std::string& message,
                      ErrorKind kind) override {
    outcomes[index] = message + (kind == ErrorKind::kOutputFolder ? " (output folder)" : "");
  }
};

TEST(RunBatchInParallelTest, FileThatCannotBeNamedFailsItsWorkbookAlone) {
  TempDir dir;
  std::vector<std::string> list;
  for (int i = 0; i < 6; ++i) {
    list.push_back(SheetsWorkbook(dir, "in/b" + std::to_string(i) + ".xlsx", {"s"}));
  }
  for (const unsigned jobs : {0u, 1u, 2u}) {  // 0: the one-by-one run
    PublishRecord log;
    log.destination = dir / ("out" + std::to_string(jobs));
    log.takeName = 3;
    FixedBatchInputs inputs(list, log.destination, CsvOptions{});
    const BatchSummary summary =
        jobs == 0 ? RunBatch(inputs, log)
                  : RunBatchInParallel(list, log.destination, CsvOptions{}, jobs, log);
    EXPECT_EQ(summary.converted, 5u) << jobs;
    EXPECT_EQ(summary.failed, 1u) << jobs;
    std::map<std::size_t, std::string> expected;
    for (std::size_t i = 0; i < list.size(); ++i) {
      expected[i] = "converted b" + std::to_string(i) + ".csv";
    }
    expected[3] =
        "Cannot create file \"" + log.destination + "/b3.csv\". Is a directory (output folder)";
    EXPECT_EQ(log.outcomes, expected) << jobs;
    EXPECT_EQ(Files(log.destination), (std::map<std::string, std::string>{{"b0.csv", Csv("s,")},
                                                                          {"b1.csv", Csv("s,")},
                                                                          {"b2.csv", Csv("s,")},
                                                                          {"b3.csv", "<folder>"},
                                                                          {"b4.csv", Csv("s,")},
                                                                          {"b5.csv", Csv("s,")}}))
        << jobs;
    EXPECT_TRUE(fs::is_empty(log.destination + "/b3.csv"));
  }
}

// Stops the run once workbook `stopAt` has written its rows, before its files are published.
struct StopAfterRows : PublishRecord {
  std::size_t stopAt = 0;
  std::atomic<bool> stop{false};
  void WorkbookFormulasWithoutValue(std::size_t index, long long) override {
    if (index == stopAt) stop = true;
  }
  bool StopRequested() override { return stop; }
};

TEST(RunBatchInParallelTest, StopPublishesTheWorkbooksConvertedAndNothingElse) {
  TempDir dir;
  // One family: a single worker converts the list in order, so the stop falls exactly after
  // the third workbook.
  std::vector<std::string> family;
  std::vector<std::string> distinct;
  for (int i = 0; i < 8; ++i) {
    family.push_back(SheetsWorkbook(dir, "f" + std::to_string(i) + "/book.xlsx", {"s"}));
    distinct.push_back(SheetsWorkbook(dir, "d/b" + std::to_string(i) + ".xlsx", {"s"}));
  }
  StopAfterRows log;
  log.stopAt = 2;
  BatchSummary summary = RunBatchInParallel(family, dir / "family", CsvOptions{}, 2, log);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.converted, 3u);
  EXPECT_EQ(log.outcomes, (std::map<std::size_t, std::string>{{0, "converted book.csv"},
                                                              {1, "converted book (2).csv"},
                                                              {2, "converted book (3).csv"}}));
  EXPECT_EQ(
      Files(dir / "family"),
      (std::map<std::string, std::string>{
          {"book.csv", Csv("s,")}, {"book (2).csv", Csv("s,")}, {"book (3).csv", Csv("s,")}}));

  // Side by side, the other worker may have converted some: each of those is complete and
  // reported, and nothing else is left.
  StopAfterRows sideBySide;
  sideBySide.stopAt = 1;
  summary = RunBatchInParallel(distinct, dir / "distinct", CsvOptions{}, 2, sideBySide);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(sideBySide.outcomes.count(1), 1u);
  EXPECT_LT(sideBySide.outcomes.size(), distinct.size());
  std::map<std::string, std::string> expected;
  for (const auto& [index, outcome] : sideBySide.outcomes) {
    expected["b" + std::to_string(index) + ".csv"] = Csv("s,");
    EXPECT_EQ(outcome, "converted b" + std::to_string(index) + ".csv");
  }
  EXPECT_EQ(summary.converted, expected.size());
  EXPECT_EQ(Files(dir / "distinct"), expected);
}

TEST(RunBatchInParallelTest, ReportsEveryWorkbookOnceAndStopsAtTheDestination) {
  TempDir dir;
  std::vector<std::string> list;
  for (int i = 0; i < 5; ++i) list.push_back(Workbook(dir, "b" + std::to_string(i) + ".xlsx", "x"));
  list.push_back(dir / "missing.xlsx");
  struct : EventLog {
    std::vector<int> seen = std::vector<int>(6);
    void WorkbookConverted(std::size_t index, const std::string&,
                           const std::vector<std::string>&) override {
      ++seen.at(index);
    }
    void WorkbookFailed(std::size_t index, const std::string&, const std::string&,
                        ErrorKind) override {
      seen.at(index) += 10;
    }
  } log;
  const BatchSummary summary = RunBatchInParallel(list, dir / "out", CsvOptions{}, 4, log);
  EXPECT_EQ(log.seen, (std::vector<int>{1, 1, 1, 1, 1, 10}));
  EXPECT_EQ(summary.converted, 5u);

  WriteBytes(dir / "blocker", "");
  EventLog blocked;
  EXPECT_FALSE(
      RunBatchInParallel(list, dir / "blocker/out", CsvOptions{}, 4, blocked).destinationReady);
  EXPECT_EQ(blocked.events.size(), 1u);
  EXPECT_THROW(RunBatchInParallel(list, "", CsvOptions{}, 4, blocked), Error);
}

// A workbook of `rows` rows and 4 columns whose only cell, D<rows>, holds a number: large
// enough that the run reports progress within it before its end.
std::string TallWorkbook(const TempDir& dir, const std::string& name, int rows) {
  testing_support::TestWorkbook book;
  const std::string last = std::to_string(rows);
  book.sheets = {{"<row r=\"" + last + "\"><c r=\"D" + last + "\"><v>7</v></c></row>"}};
  WriteBytes(dir / name, book.Zip());
  return dir / name;
}

// Stops the run once a workbook under way has written some of its rows, as Ctrl-C would.
struct StopMidWorkbook : EventLog {
  std::atomic<bool> stop{false};
  std::vector<std::string> seen;  // progress, used range, outcomes (guarded by the run)
  void WorkbookUsedRange(std::size_t index, const UsedRangeSize& size) override {
    seen.push_back(std::to_string(index) + " range " + size.Address() + " holds " +
                   std::to_string(size.cellsHeld));
  }
  void WorkbookProgress(std::size_t index, long long row, long long lastRow) override {
    seen.push_back(std::to_string(index) + " row " + std::to_string(row) + " of " +
                   std::to_string(lastRow));
    if (row > 0 && row < lastRow) stop = true;
  }
  void WorkbookConverted(std::size_t index, const std::string&,
                         const std::vector<std::string>&) override {
    seen.push_back(std::to_string(index) + " converted");
  }
  void WorkbookFailed(std::size_t index, const std::string&, const std::string&,
                      ErrorKind) override {
    seen.push_back(std::to_string(index) + " failed");
  }
  bool StopRequested() override { return stop; }
};

TEST(RunBatchTest, StopMidWorkbookAbandonsItAndKeepsWhatWasWritten) {
  TempDir dir;
  const std::vector<std::string> list = {Workbook(dir, "first.xlsx", "one"),
                                         TallWorkbook(dir, "tall.xlsx", 300000),
                                         Workbook(dir, "never.xlsx", "three")};
  FixedBatchInputs inputs(list, dir / "out", CsvOptions{});
  StopMidWorkbook log;
  const BatchSummary summary = RunBatch(inputs, log);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.converted, 1u);
  EXPECT_EQ(summary.failed, 0u);
  // 4 columns: a report after every 16385 rows (kProgressCells cells).
  EXPECT_EQ(log.seen,
            (std::vector<std::string>{"0 range A1:A1 holds 1", "0 row 0 of 1", "0 row 1 of 1",
                                      "0 converted", "1 range A1:D300000 holds 1",
                                      "1 row 0 of 300000", "1 row 16384 of 300000"}));
  // Neither the abandoned CSV nor its temporary file is left.
  EXPECT_EQ(Files(dir / "out"), (std::map<std::string, std::string>{{"first.csv", Csv("one")}}));
  EXPECT_EQ(log.events.back(), "status: Completed");
}

TEST(RunBatchInParallelTest, StopMidWorkbookAbandonsEveryWorkbookUnderWay) {
  TempDir dir;
  const std::vector<std::string> list = {TallWorkbook(dir, "left.xlsx", 300000),
                                         TallWorkbook(dir, "right.xlsx", 300000),
                                         Workbook(dir, "never.xlsx", "three")};
  StopMidWorkbook log;
  const BatchSummary summary = RunBatchInParallel(list, dir / "out", CsvOptions{}, 2, log);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.converted + summary.failed, 0u);
  for (const std::string& event : log.seen) {
    EXPECT_EQ(event.find("converted"), std::string::npos) << event;
    EXPECT_EQ(event.find("failed"), std::string::npos) << event;
  }
  EXPECT_TRUE(Files(dir / "out").empty());
}

TEST(RunBatchTest, WorkbookAboveTheCellBoundFailsAndTheRunGoesOn) {
  TempDir dir;
  CsvOptions options;
  options.maxCells = 1000;
  const std::vector<std::string> list = {TallWorkbook(dir, "tall.xlsx", 251),
                                         TallWorkbook(dir, "fits.xlsx", 250)};
  FixedBatchInputs inputs(list, dir / "out", options);
  StopMidWorkbook log;
  const BatchSummary summary = RunBatch(inputs, log);
  EXPECT_EQ(summary.failed, 1u);
  EXPECT_EQ(summary.converted, 1u);
  EXPECT_EQ(log.seen.front(), "0 failed");
  EXPECT_EQ(Files(dir / "out").count("fits.csv"), 1u);
  EXPECT_EQ(Files(dir / "out").size(), 1u);
}

}  // namespace
}  // namespace cellverter
