// cellverter-cli end to end: the built program on real workbooks in a temporary folder.

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../spreadsheet/xls_test_files.h"
#include "../spreadsheet/xlsx_builder.h"
#include "cli/cli_report.h"
#include "cli/interrupt.h"
#include "convert/csv_encoding.h"
#include "logical_workbook.h"
#include "scoped_environment.h"
#include "temp_dir.h"
#include "xlsx_maker.h"

namespace cellverter {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing_support::ReadBytes;
using testing_support::ScopedEnvironment;
using testing_support::TempDir;
using testing_support::WriteBytes;
using testing_support::WriteXlsx;

const std::string kProgram = std::string(CELLVERTER_BIN_DIR) + "/cellverter-cli";

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program in `folder` with `input` on standard input; with `terminal` its
// standard error is a pseudo-terminal.
struct RunOptions {
  std::string input;      // standard input
  bool terminal = false;  // standard error is a pseudo-terminal
  bool asNobody = false;  // root drops to an ordinary user, who cannot read every folder
  // What standard output is: a new file, a file opened for appending, or a pipe.
  enum class Output { kFile, kAppendedFile, kPipe } output = Output::kFile;
  // Called with the child's id and the path of its standard output while it runs.
  std::function<void(pid_t, const std::string&)> whileRunning;
};

RunOptions WithInput(std::string input) {
  RunOptions options;
  options.input = std::move(input);
  return options;
}
RunOptions OnATerminal() {
  RunOptions options;
  options.terminal = true;
  return options;
}
RunOptions AsNobody() {
  RunOptions options;
  options.asNobody = true;
  return options;
}

// Polls `done` until it holds or a bound far above any expected wait passes; false then.
bool WaitFor(const std::function<bool()>& done) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  while (!done()) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

Outcome RunCli(const std::string& folder, const std::vector<std::string>& args,
               const RunOptions& options = {}) {
  const std::string& input = options.input;
  const bool terminal = options.terminal;
  const auto& whileRunning = options.whileRunning;
  const std::string inPath = folder + "/.stdin";
  const std::string outPath = folder + "/.stdout";
  const std::string errPath = folder + "/.stderr";
  WriteBytes(inPath, input);
  int master = -1;
  int slave = -1;
  if (terminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {};
  using Output = RunOptions::Output;
  int pipeEnds[2] = {-1, -1};
  if (options.output == Output::kPipe && ::pipe(pipeEnds) != 0) return {};
  // The ordinary user may not enter the folder of the build (a private home, a clone under
  // mktemp -d): it runs a copy of the program from the test's own folder.
  std::string program = kProgram;
  if (options.asNobody) {
    program = folder + "/.cellverter-cli";
    fs::copy_file(kProgram, program, fs::copy_options::overwrite_existing);
    fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
  }
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    const int in = ::open(inPath.c_str(), O_RDONLY);
    const int out = options.output == Output::kPipe
                        ? pipeEnds[1]
                        : ::open(outPath.c_str(),
                                 O_WRONLY | O_CREAT | O_TRUNC |
                                     (options.output == Output::kAppendedFile ? O_APPEND : 0),
                                 0600);
    const int err = terminal ? slave : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.asNobody && ::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(126);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  Outcome outcome;
  if (options.output == Output::kPipe) {
    ::close(pipeEnds[1]);
    char buffer[65536];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
      outcome.out.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeEnds[0]);
  }
  if (whileRunning) whileRunning(child, outPath);
  if (terminal) {
    ::close(slave);
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) outcome.err.append(buffer, n);
    ::close(master);
  }
  int status = 0;
  if (!WaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; })) {
    ADD_FAILURE() << "the program did not end; killed";
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (options.output != Output::kPipe) outcome.out = ReadBytes(outPath);
  if (!terminal) outcome.err = ReadBytes(errPath);
  fs::remove(inPath);
  fs::remove(outPath);
  fs::remove(errPath);
  if (program != kProgram) fs::remove(program);
  return outcome;
}

std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadBytes(entry.path().string());
  }
  return files;
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(CliTest, BadUsageExitsWithTwoAndConvertsNothing) {
  TempDir dir;
  WriteXlsx(dir / "book.xlsx", {{"x"}});
  const std::vector<std::vector<std::string>> cases = {
      {"-e", "utf8", "book.xlsx"},  // encoding words compare exactly
      {"-e", "UTF-8", "book.xlsx"},
      {"-e", "ANSI ", "book.xlsx"},
      {"--encoding=", "book.xlsx"},
      {"-j", "0", "book.xlsx"},
      {"-j", "two", "book.xlsx"},
      {"--bogus", "book.xlsx"},
      {"-d", "", "book.xlsx"},  // "Unable to create directory"
      {"--destination=", "book.xlsx"},
      {},  // no path
      {"--max-cells", "0", "book.xlsx"},
      {"--max-cells", "-5", "book.xlsx"},
      {"--max-cells", "many", "book.xlsx"},
      {"--values", "stored", "book.xlsx"},
      {"--quote", "some", "book.xlsx"},
      {"--line-ending", "cr", "book.xlsx"},
      {"-d", "-", "book.xlsx", "book.xlsx"},  // standard output takes one workbook's file
      {"-d", "-", "--all-sheets", "book.xlsx"},
      {"-d", "-", "--sheet", "1", "--sheet", "2", "book.xlsx"},
  };
  for (const auto& args : cases) {
    const Outcome outcome = RunCli(dir.path(), args);
    std::string shown;
    for (const std::string& arg : args) shown += "[" + arg + "] ";
    EXPECT_EQ(outcome.status, 2) << shown << outcome.err;
    EXPECT_FALSE(outcome.err.empty()) << shown;
    EXPECT_TRUE(outcome.out.empty()) << shown;
    EXPECT_FALSE(fs::exists(dir / "book.csv")) << shown;
  }
  EXPECT_NE(RunCli(dir.path(), {"-d", "", "book.xlsx"}).err.find("Unable to create directory"),
            std::string::npos);
}

TEST(CliTest, WritesOneWorkbookToStandardOutputLeavingNothingBehind) {
  TempDir dir;
  fs::create_directory(dir / "tmp");
  ScopedEnvironment environment;
  environment.Set("TMPDIR", (dir / "tmp").c_str());
  WriteXlsx(dir / "book.xlsx", {{"a", "b;c"}, {"", "1"}});
  WriteBytes(dir / "damaged.xlsx", "PK\x03\x04 not a zip at all");

  Outcome outcome = RunCli(
      dir.path(), {"-d", "-", "--quote", "all", "--line-ending", "lf", "-s", ";", "book.xlsx"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "\"a\";\"b;c\"\n\"\";\"1\"\n");
  EXPECT_NE(outcome.err.find("Converted 1 workbook to standard output."), std::string::npos)
      << outcome.err;

  outcome = RunCli(dir.path(), {"-d", "-", "damaged.xlsx"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_NE(outcome.err.find("damaged.xlsx"), std::string::npos) << outcome.err;

  EXPECT_TRUE(fs::is_empty(dir / "tmp"));
  EXPECT_FALSE(fs::exists(dir / "-"));
}

// Standard output gets the file by the kernel's copy where it can and by reading and writing
// where it cannot (a file opened for appending): the same bytes either way, beyond one
// buffer's worth.
TEST(CliTest, StandardOutputGetsTheWholeFileWhateverItIs) {
  TempDir dir;
  std::vector<std::vector<std::string>> rows;
  for (int r = 0; r < 40000; ++r) {
    rows.push_back({"row " + std::to_string(r), std::to_string(r * 7), "text, with a comma"});
  }
  WriteXlsx(dir / "big.xlsx", rows);
  ASSERT_EQ(RunCli(dir.path(), {"-d", "out", "big.xlsx"}).status, 0);
  const std::string expected = ReadBytes(dir / "out/big.csv");
  ASSERT_GT(expected.size(), 1u << 20);
  using Output = RunOptions::Output;
  for (const Output output : {Output::kFile, Output::kAppendedFile, Output::kPipe}) {
    RunOptions options;
    options.output = output;
    const Outcome outcome = RunCli(dir.path(), {"-d", "-", "big.xlsx"}, options);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(outcome.out == expected)
        << "output kind " << static_cast<int>(output) << ": " << outcome.out.size() << " bytes";
  }
}

TEST(CliTest, WarnsOfFormulasStoredWithoutTheirValues) {
  TempDir dir;
  testing_support::TestWorkbook book;
  book.sheets = {
      {"<row r=\"1\"><c r=\"A1\"><f>1+1</f></c><c r=\"B1\"><f>A1*2</f></c>"
       "<c r=\"C1\" t=\"str\"><f>\"\"</f><v></v></c><c r=\"D1\"><v>7</v></c></row>"}};
  WriteBytes(dir / "formulas.xlsx", book.Zip());
  const Outcome outcome = RunCli(dir.path(), {"-d", "out", "formulas.xlsx"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(ReadBytes(dir / "out/formulas.csv"), ",,,7\r\n");
  EXPECT_NE(outcome.err.find("cellverter-cli: warning: \"formulas.xlsx\": 2 formula cells have no "
                             "calculated value and are written empty\n"),
            std::string::npos)
      << outcome.err;
}

TEST(CliTest, HelpAndVersion) {
  TempDir dir;
  Outcome outcome = RunCli(dir.path(), {"--version"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "cellverter-cli " CELLVERTER_VERSION "\n");
  outcome = RunCli(dir.path(), {"--help"});
  EXPECT_EQ(outcome.status, 0);
  for (const char* option :
       {"--destination",  "--separator",   "--encoding",  "UTF16BEBOM",      "--include-subfolders",
        "--jobs",         "--version",     "--max-cells", "-0,--null",       "1,000,000 cells",
        "100 times",      "line break",    "--password",  "--password-file", "--values",
        "--skip-hidden",  "--fill-merged", "--trim",      "--quote",         "--line-ending",
        "standard output"}) {
    EXPECT_NE(outcome.out.find(option), std::string::npos) << option;
  }
}

TEST(CliTest, ConvertsFoldersAndFilesReportingEachFailure) {
  TempDir dir;
  fs::create_directories(dir / "in/sub");
  WriteXlsx(dir / "in/a.xlsx", {{"Name", "Amount, EUR"}, {"Ünïcode \"q\"", "", "3"}});
  WriteXlsx(dir / "in/sub/deep.xlsx", {{"deep"}});
  WriteBytes(dir / "in/broken.xlsx", "not a workbook");
  WriteBytes(dir / "in/notes.txt", "not listed");
  WriteXlsx(dir / "single.xlsx", {{"single"}});

  Outcome outcome = RunCli(dir.path(), {"-d", "out/nested", "in", "single.xlsx"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(Count(outcome.err, "broken.xlsx"), 1) << outcome.err;
  EXPECT_NE(outcome.err.find("Converted 2 of 3 workbooks"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.err.find('\r'), std::string::npos);  // no progress line into a file
  EXPECT_EQ(Count(outcome.out, "\n"), 2);
  EXPECT_NE(outcome.out.find("out/nested/a.csv\n"), std::string::npos);
  EXPECT_EQ(Files(dir / "out/nested"),
            (std::map<std::string, std::string>{{"a.csv",
                                                 "Name,\"Amount, EUR\",\r\n\"\xC3\x9Cn\xC3\xAF"
                                                 "code \"\"q\"\"\",,3\r\n"},
                                                {"single.csv", "single\r\n"}}));

  // With subfolders, on the same destination: nothing is overwritten.
  outcome = RunCli(dir.path(), {"-r", "-d", "out/nested", "-s", "", "in"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(ReadBytes(dir / "out/nested/deep.csv"), "deep\r\n");
  EXPECT_EQ(ReadBytes(dir / "out/nested/a.csv").substr(0, 6), "Name,\"");
  EXPECT_EQ(ReadBytes(dir / "out/nested/a (2).csv").substr(0, 17), "NameAmount, EUR\r\n");

  outcome = RunCli(dir.path(), {"single.xlsx"});  // the current folder by default
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(ReadBytes(dir / "single.csv"), "single\r\n");
}

TEST(CliTest, PasswordOptionsOpenEncryptedWorkbooksAndNeverShowThePassword) {
  TempDir dir;
  for (const char* name : {"lo-rc4-secret.xls", "agile-default.xlsx"}) {
    fs::copy_file(std::string(CELLVERTER_TEST_DATA "/encrypted/") + name, dir / name);
  }
  // Excel's default password opens its workbook silently; the other one stays protected.
  Outcome outcome = RunCli(dir.path(), {"-d", "none", "lo-rc4-secret.xls", "agile-default.xlsx"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("\"lo-rc4-secret.xls\": the workbook is protected by a password."),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(Files(dir / "none").count("agile-default.csv"), 1u);

  outcome = RunCli(dir.path(), {"-d", "wrong", "--password", "Sesame-42", "lo-rc4-secret.xls"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("\"lo-rc4-secret.xls\": the password is wrong."), std::string::npos)
      << outcome.err;
  EXPECT_EQ(outcome.err.find("Sesame-42"), std::string::npos);

  outcome = RunCli(dir.path(), {"-d", "given", "--password", "secret", "lo-rc4-secret.xls"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(ReadBytes(dir / "given/lo-rc4-secret.csv").substr(0, 11), "Kontostand ");

  // The first line of the file, without its line end.
  WriteBytes(dir / "password.txt", "secret\r\nnot this line\n");
  outcome = RunCli(dir.path(), {"-d", "file", "--password-file", "password.txt",
                                "lo-rc4-secret.xls", "agile-default.xlsx"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(Files(dir / "file").size(), 2u);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--password-file", "missing.txt", "lo-rc4-secret.xls"},
        std::vector<std::string>{"--password-file", "/dev/zero", "lo-rc4-secret.xls"},
        std::vector<std::string>{"--password", "x", "--password-file", "password.txt",
                                 "lo-rc4-secret.xls"}}) {
    outcome = RunCli(dir.path(), args);
    EXPECT_EQ(outcome.status, 2) << outcome.err;
    EXPECT_EQ(outcome.err.find("secret"), std::string::npos) << outcome.err;
  }
}

TEST(CliTest, WritesEachEncoding) {
  TempDir dir;
  WriteXlsx(dir / "book.xlsx", {{"\xC3\xA9"}});  // é
  const std::map<std::string, std::string> expected = {
      {"ANSI", "\xE9\r\n"},
      {"UTF8", "\xC3\xA9\r\n"},
      {"UTF8BOM", "\xEF\xBB\xBF\xC3\xA9\r\n"},
      {"UTF16BEBOM", std::string("\xFE\xFF\0\xE9\0\r\0\n", 8)},
      {"UTF16LEBOM", std::string("\xFF\xFE\xE9\0\r\0\n\0", 8)},
  };
  for (const auto& [word, bytes] : expected) {
    const Outcome outcome = RunCli(dir.path(), {"-e", word, "-d", word, "book.xlsx"});
    EXPECT_EQ(outcome.status, 0) << word << outcome.err;
    EXPECT_EQ(ReadBytes(dir / (word + "/book.csv")), bytes) << word;
  }
}

// Current Excel ends workbook.xml with an <x15:workbookPr> extension; the 1904 date system
// of the workbook's own <workbookPr> must survive it.
TEST(CliTest, Converts1904DatesOfAWorkbookAsExcelSavesIt) {
  TempDir dir;
  testing_support::TestWorkbook book;
  book.date1904 = true;
  book.workbookEnd = testing_support::kExcelWorkbookExtensions;
  book.numFmts = "<numFmt numFmtId=\"164\" formatCode=\"yyyy\\-mm\\-dd\"/>";
  book.cellXfs = {0, 164};
  book.sheets = {
      {"<row r=\"1\"><c r=\"A1\" s=\"1\"><v>43708</v></c>"
       "<c r=\"B1\" s=\"1\" t=\"d\"><v>2023-09-01</v></c><c r=\"C1\"><v>43708</v></c>"
       "</row>"}};
  WriteBytes(dir / "dates.xlsx", book.Zip());
  const Outcome outcome = RunCli(dir.path(), {"dates.xlsx"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(ReadBytes(dir / "dates.csv"), "2023-09-01,2023-09-01,43708\r\n");
}

TEST(CliTest, ReadsPathsFromStandardInput) {
  TempDir dir;
  fs::create_directories(dir / "in folder");
  WriteXlsx(dir / "in folder/one two.xlsx", {{"1"}});
  WriteXlsx(dir / "three.xls", {{"3"}});
  const Outcome outcome = RunCli(dir.path(), {"-d", "out", "-"},
                                 WithInput("three.xls\r\n\nin folder\n" + (dir / "missing.xlsx")));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "out/three.csv\nout/one two.csv\n");
  EXPECT_EQ(Count(outcome.err, "missing.xlsx"), 1) << outcome.err;
}

TEST(CliTest, SeveralJobsGiveTheNamesBytesAndOutputOfOneByOne) {
  TempDir dir;
  std::vector<std::string> args = {"-s", ";"};
  for (int i = 0; i < 5; ++i) {
    const std::string folder = "f" + std::to_string(i);
    fs::create_directories(dir / folder);
    WriteXlsx(dir / (folder + "/sales.xlsx"), {{"sales", folder}});
    WriteXlsx(dir / (folder + "/Sales (2).xlsx"), {{"sales two", folder}});
    WriteXlsx(dir / (folder + "/own" + std::to_string(i) + ".xlsx"), {{"own", folder}});
    if (i == 1) WriteBytes(dir / (folder + "/sales.xls"), "broken");
    args.push_back(folder);
  }
  std::vector<Outcome> outcomes;
  std::vector<std::map<std::string, std::string>> results;
  for (const char* jobs : {"1", "4", "16"}) {
    std::vector<std::string> run = args;
    run.insert(run.begin(), {"-j", jobs, "-d", "out"});
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out");
    WriteBytes(dir / "out/sales (2).csv", "already there");
    outcomes.push_back(RunCli(dir.path(), run));
    results.push_back(Files(dir / "out"));
  }
  EXPECT_EQ(results[0].size(), 16u);
  EXPECT_EQ(results[0].at("sales (2).csv"), "already there");
  for (size_t i = 1; i < outcomes.size(); ++i) {
    EXPECT_EQ(results[i], results[0]);
    EXPECT_EQ(outcomes[i].status, outcomes[0].status);
    EXPECT_EQ(outcomes[i].out, outcomes[0].out);
    EXPECT_EQ(outcomes[i].err, outcomes[0].err);
  }
  EXPECT_EQ(outcomes[0].status, 1);
}

// Displayed texts through the whole program, one cell per row of an .xlsx and an .xls
// workbook: the examples of every class of number-format fault found against Excel's
// recorded texts (the integer part lost before a bare point first among them).
struct DisplayedCell {
  std::string code;  // empty for the built-in format `builtInId`
  int builtInId = 0;
  double number = 0;
  std::string text;  // a text cell when not empty
  std::string shown;
};

// Writes the cells into book.xlsx and book.xls in `dir`, each cell with its own format.
void WriteDisplayedBooks(const TempDir& dir, const std::vector<DisplayedCell>& cells,
                         bool date1904) {
  namespace ts = testing_support;
  ts::TestWorkbook xlsx;
  xlsx.date1904 = date1904;
  std::string sheetData;
  std::string xlsGlobals = ts::Record(0x0022, ts::Le16(date1904 ? 1 : 0));  // DATEMODE
  std::string xlsFormats;
  std::string xlsXfs = ts::Xf(0);
  std::string xlsCells;
  std::vector<std::string> xlsStrings;
  for (size_t i = 0; i < cells.size(); ++i) {
    const DisplayedCell& cell = cells[i];
    const int id = cell.code.empty() ? cell.builtInId : 164 + static_cast<int>(i);
    if (!cell.code.empty()) {
      xlsx.numFmts += "<numFmt numFmtId=\"" + std::to_string(id) + "\" formatCode=\"" +
                      ts::XmlEscape(cell.code) + "\"/>";
      xlsFormats += ts::Format8(static_cast<uint16_t>(id), cell.code);
    }
    xlsx.cellXfs.push_back(id);
    xlsXfs += ts::Xf(static_cast<uint16_t>(id));
    const std::string ref = "A" + std::to_string(i + 1);
    const auto row = static_cast<uint16_t>(i);
    const auto xf = static_cast<uint16_t>(i + 1);
    if (cell.text.empty()) {
      char number[32];
      std::snprintf(number, sizeof number, "%.17g", cell.number);
      sheetData += "<row r=\"" + std::to_string(i + 1) + "\"><c r=\"" + ref + "\" s=\"" +
                   std::to_string(i + 1) + "\"><v>" + number + "</v></c></row>";
      xlsCells += ts::Number(row, 0, cell.number, xf);
    } else {
      sheetData += "<row r=\"" + std::to_string(i + 1) + "\"><c r=\"" + ref + "\" s=\"" +
                   std::to_string(i + 1) + "\" t=\"s\"><v>" + std::to_string(xlsStrings.size()) +
                   "</v></c></row>";
      xlsx.sharedStrings.push_back("<t>" + ts::XmlEscape(cell.text) + "</t>");
      xlsCells += ts::LabelSst(row, 0, static_cast<uint32_t>(xlsStrings.size()), xf);
      xlsStrings.push_back(ts::Compressed(cell.text));
    }
  }
  xlsx.sheets = {{sheetData}};
  WriteBytes(dir / "book.xlsx", xlsx.Zip());
  const std::string stream = ts::WorkbookStream(
      xlsGlobals + xlsFormats + xlsXfs + ts::Sst(xlsStrings), {{0, 0x10, 0, xlsCells}});
  WriteBytes(dir / "book.xls", ts::WriteCompoundFile({{"Workbook", stream}}).bytes);
}

void ExpectDisplayedTexts(const std::vector<DisplayedCell>& cells, bool date1904) {
  ScopedEnvironment environment;
  environment.Set("LC_ALL", "en_US.UTF-8");
  TempDir dir;
  WriteDisplayedBooks(dir, cells, date1904);
  const Outcome outcome = RunCli(dir.path(), {"-s", "\t", "-d", "out", "book.xlsx", "book.xls"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  for (const char* name : {"out/book.csv", "out/book (2).csv"}) {
    std::istringstream csv(ReadBytes(dir / name));
    std::string line;
    for (const DisplayedCell& cell : cells) {
      std::getline(csv, line);
      EXPECT_EQ(line, cell.shown + "\r") << name << ": " << cell.code << cell.builtInId;
    }
    EXPECT_FALSE(std::getline(csv, line)) << name;
  }
}

TEST(CliTest, ShowsEveryCellAsExcelDoesInXlsxAndXls) {
  ExpectDisplayedTexts(
      {
          {".00", 0, 3.14159, "", "3.14"},
          {"$.00", 0, 12.5, "", "$12.50"},
          {".0%", 0, 1.5, "", "150.0%"},
          {".##", 0, 42.5, "", "42.5"},
          {"\"This is a \".00\"test\"000", 0, 3.14159, "", "This is a 3.14test159"},
          {"#\\:#=/=#", 0, 23.75, "", "23:3=/=4"},
          {"#\\:#/#", 0, 0.75, "", "3/4"},
          {"#_#/#", 0, 3.75, "", "15 /4"},
          {"# ?? / ?????????", 0, 0.123251512342345, "", " 480894 / 3901729  "},
          {"[Red][<-25]General;[Blue][>25]General;[Green]General;[Yellow]General", 0, 0, "foo",
           "foo"},
          {"[<-10]#\" Wow\"", 0, -11, "", "-11 Wow"},
          {"[<=-10]#\" Wow\"", 0, -10, "", "-10 Wow"},
          {"[<10]#\" Wow\"", 0, 10, "", "10"},
          {"[=10]#\" Wow\"", 0, 1, "", "1"},
          {"[>-10]#\" Big\"", 0, -10, "", "-10"},
          {"General", 0, 1e-05, "", "0.00001"},
          {"General", 0, 1.2e-08, "", "0.000000012"},
          {"General", 0, 1e-09, "", "0.000000001"},
          {"General", 0, 1.234e-06, "", "0.000001234"},
          {"General", 0, 1.234567e-06, "", "1.23457E-06"},
          {"# ?/?", 0, 12.3, "", "12 1/3"},
          {R"(# ??/??)", 0, 0.33, "", "  1/3 "},
          {"# ?/?", 0, 0.1, "", "0    "},
          {"", 12, 1.23456789, "", "1 1/4"},
          {"", 39, 123, "", "123.00 "},
          {"", 40, 9612.5, "", "9,612.50 "},
          {"0.00e+00", 0, 12345, "", "1.23e+04"},
          {"|#|e-|#|", 0, 123456.789, "", "|1|e|5|"},
          {"|0000.0000|e-|0|", 0, 123456.789, "", "|0012.3457|e|4|"},
          {"##0.0E+0", 0, 12345, "", "12.3E+3"},
          {"\"It was \"[h]\" [yes, \"h\"] hours\"", 0, 3.14159, "", "It was 75 [yes, 75] hours"},
          {"s:m\" @ hour \"[hh]", 0, 3.14159, "", "53:23 @ hour 75"},
          {"?,?????????", 0, 1234567, "", "    1,234,567"},
          {"A\"TODO\"", 0, -1, "", "ATODO"},
          {"b", 0, 1, "", "43"},
          {"B2yyyymmdd", 0, 0, "", "13170829"},
          {"[DBNum1][$-804]General", 0, 12323, "", "一万二千三百二十三"},
      },
      false);
  ExpectDisplayedTexts({{"[h]:m:s.000", 0, -7384.0 / 86400, "", "-2:3:4.000"},
                        {"[s].000", 0, -3.14159, "", "-271433.376"},
                        {"m/d/yyyy", 0, 43538, "", "3/15/2023"}},
                       true);
}

TEST(CliTest, ShowsProgressOnlyOnATerminal) {
  TempDir dir;
  WriteXlsx(dir / "book.xlsx", {{"x"}});
  const Outcome outcome =
      RunCli(dir.path(), {"-d", "out", "book.xlsx", "missing.xlsx"}, OnATerminal());
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("2/2"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("missing.xlsx"), std::string::npos);
  EXPECT_NE(outcome.err.find("Converted 1 of 2"), std::string::npos);
  EXPECT_EQ(outcome.out, "out/book.csv\n");
}

TEST(CliTest, AFolderNamedThatCannotBeReadIsAnErrorButNotOneMetWhileScanning) {
  TempDir dir("/tmp");  // a folder the ordinary user can enter, whatever TMPDIR says
  fs::create_directories(dir / "in/locked");
  fs::create_directories(dir / "in/open");
  WriteXlsx(dir / "in/locked/hidden.xlsx", {{"hidden"}});
  WriteXlsx(dir / "in/open/seen.xlsx", {{"seen"}});
  fs::permissions(dir.path(), fs::perms::all);
  fs::permissions(dir / "in", fs::perms::all);
  fs::permissions(dir / "in/open", fs::perms::all);
  fs::permissions(dir / "in/open/seen.xlsx", fs::perms::all);
  fs::permissions(dir / "in/locked", fs::perms::none);

  Outcome outcome = RunCli(dir.path(), {"-d", "out", "in/locked", "in/open"}, AsNobody());
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("cannot read the folder \"in/locked\": Permission denied"),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(outcome.out, "out/seen.csv\n");

  outcome = RunCli(dir.path(), {"-r", "-d", "out2", "in"}, AsNobody());
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "out2/seen.csv\n");
}

TEST(CliTest, CtrlCStartsNoOtherWorkbookAndLeavesOnlyWhatItReported) {
  TempDir dir;
  fs::create_directories(dir / "in");
  std::vector<std::vector<std::string>> rows(200, std::vector<std::string>(10, "cell"));
  const std::string bytes = testing_support::MakeXlsx(rows);
  for (int i = 0; i < 400; ++i) WriteBytes(dir / ("in/book" + std::to_string(i) + ".xlsx"), bytes);

  for (const char* jobs : {"1", "3"}) {
    const std::string out = std::string("out") + jobs;
    RunOptions options;
    options.whileRunning = [](pid_t child, const std::string& outPath) {
      // Interrupt as soon as the first file is reported.
      EXPECT_TRUE(WaitFor([&] { return ReadBytes(outPath).find('\n') != std::string::npos; }));
      ::kill(child, SIGINT);
    };
    const Outcome outcome = RunCli(dir.path(), {"-j", jobs, "-d", out, "in"}, options);
    EXPECT_EQ(outcome.status, 130) << jobs << " jobs: " << outcome.err;
    EXPECT_NE(outcome.err.find("Interrupted"), std::string::npos) << outcome.err;
    // Every file reported is there, complete; nothing else is, not even a temporary file.
    std::map<std::string, std::string> reported;
    for (size_t start = 0, end; (end = outcome.out.find('\n', start)) != std::string::npos;
         start = end + 1) {
      const std::string path = outcome.out.substr(start, end - start);
      reported[fs::path(path).filename().string()] = ReadBytes(dir / path);
    }
    EXPECT_GE(reported.size(), 1u);
    EXPECT_LT(reported.size(), 400u);
    EXPECT_EQ(Files(dir / out), reported) << jobs << " jobs";
    for (const auto& [name, csv] : reported) EXPECT_EQ(csv.size(), 200u * 51u) << name;
  }
}

// The paths of standard output as a map of file name to bytes.
std::map<std::string, std::string> Reported(const std::string& folder, const std::string& out) {
  std::map<std::string, std::string> reported;
  for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string path = out.substr(start, end - start);
    reported[fs::path(path).filename().string()] = ReadBytes(folder + "/" + path);
  }
  return reported;
}

// A workbook of one styled blank cell at `last` (and 1 in A1): its used range reaches there.
std::string StyledBlankAt(const std::string& last) {
  testing_support::TestWorkbook book;
  book.cellXfs = {0, 0};
  const std::string row = last.substr(last.find_first_of("0123456789"));
  book.sheets = {{"<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"" + row + "\"><c r=\"" +
                  last + "\" s=\"1\"/></row>"}};
  return book.Zip();
}

// Whether `signal` waits, undelivered, for the process `child`.
bool SignalPending(pid_t child, int signal) {
  const std::string status = ReadBytes("/proc/" + std::to_string(child) + "/status");
  const size_t at = status.find("ShdPnd:");
  if (at == std::string::npos) return false;
  return (std::stoull(status.substr(at + 7), nullptr, 16) >> (signal - 1)) & 1;
}

// The amplifying workbook (16 GiB of separators, minutes of work) is stopped at the next row
// by one Ctrl-C: nothing of it remains, and what was written before is listed.
TEST(CliTest, CtrlCStopsTheWorkbookUnderWayAtTheNextRow) {
  TempDir dir;
  WriteXlsx(dir / "first.xlsx", {{"one"}});
  WriteBytes(dir / "far.xlsx", StyledBlankAt("XFD1048576"));
  WriteXlsx(dir / "last.xlsx", {{"three"}});
  for (const char* jobs : {"1", "2"}) {
    const std::string out = std::string("out") + jobs;
    RunOptions options;
    options.whileRunning = [&](pid_t child, const std::string& outPath) {
      // The warning comes once the used range is known, just before the rows; with two jobs
      // the first workbook may still be under way then, so its path is awaited too.
      EXPECT_TRUE(WaitFor([&] {
        return ReadBytes(dir / ".stderr").find("warning") != std::string::npos &&
               ReadBytes(outPath).find("first.csv\n") != std::string::npos;
      }));
      ::kill(child, SIGINT);
    };
    const Outcome outcome =
        RunCli(dir.path(), {"-j", jobs, "-d", out, "first.xlsx", "far.xlsx", "last.xlsx"}, options);
    EXPECT_EQ(outcome.status, 130) << outcome.err;
    EXPECT_NE(outcome.err.find("Interrupted: "), std::string::npos) << outcome.err;
    const auto reported = Reported(dir.path(), outcome.out);
    EXPECT_EQ(reported.count("first.csv"), 1u) << outcome.out;
    EXPECT_EQ(reported.count("far.csv"), 0u);
    // No temporary file either.
    EXPECT_EQ(Files(dir / out), reported) << jobs << " jobs";
  }
}

// A second Ctrl-C does not wait for a large workbook that is still being read: the program
// ends at once and still lists the files written.
TEST(CliTest, ASecondCtrlCEndsAtOnceAndListsWhatWasWritten) {
  TempDir dir;
  WriteXlsx(dir / "first.xlsx", {{"one"}});
  testing_support::TestWorkbook large;  // 3,000,000 cells: seconds of reading
  std::string rows;
  for (int r = 1; r <= 30000; ++r) {
    rows += "<row r=\"" + std::to_string(r) + "\">";
    for (int c = 0; c < 100; ++c) rows += "<c><v>1</v></c>";
    rows += "</row>";
  }
  large.sheets = {{rows}};
  WriteBytes(dir / "large.xlsx", large.Zip());

  RunOptions options;
  options.whileRunning = [&](pid_t child, const std::string& outPath) {
    EXPECT_TRUE(WaitFor([&] { return ReadBytes(outPath).find('\n') != std::string::npos; }));
    ::kill(child, SIGINT);
    // Two signals of one kind sent at once may arrive as one: wait until the first was taken.
    EXPECT_TRUE(WaitFor([&] { return !SignalPending(child, SIGINT); }));
    ::kill(child, SIGINT);
  };
  const Outcome outcome =
      RunCli(dir.path(), {"-j", "1", "-d", "out", "first.xlsx", "large.xlsx"}, options);
  EXPECT_EQ(outcome.status, 130) << outcome.err;
  EXPECT_EQ(outcome.out, "out/first.csv\n");
  // Reading the large workbook takes seconds; the second signal comes milliseconds after.
  EXPECT_EQ(outcome.err,
            "Interrupted again, ended at once: 1 of 2 workbooks converted into \"out\", 0 failed, "
            "the rest not converted.\n");
  EXPECT_EQ(Files(dir / "out"), (std::map<std::string, std::string>{{"first.csv", "one\r\n"}}));
}

TEST(CliTest, MaxCellsRefusesAWorkbookWithALargerUsedRangeWritingNothing) {
  TempDir dir;
  WriteBytes(dir / "far.xlsx", StyledBlankAt("XFD1048576"));
  WriteXlsx(dir / "small.xlsx", {{"a", "b"}, {"c", "d"}});
  const Outcome outcome =
      RunCli(dir.path(), {"--max-cells", "1000000", "-d", "out", "far.xlsx", "small.xlsx"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "out/small.csv\n");
  EXPECT_EQ(outcome.err,
            "cellverter-cli: Cannot convert \"far.xlsx\": its used range A1:XFD1048576 has "
            "17179869184 cells, more than the 1000000 allowed (the file holds 2); nothing was "
            "written.\n"
            "Converted 1 of 2 workbooks into \"out\"; 1 failed.\n");
  EXPECT_EQ(Files(dir / "out").size(), 1u);
}

TEST(CliTest, WarnsOfAUsedRangeFarLargerThanTheCellsItHolds) {
  TempDir dir;
  // 10 columns by 200,000 rows: 2,000,000 cells for 2 held.
  WriteBytes(dir / "sparse.xlsx", StyledBlankAt("J200000"));
  // 1,000,000 cells: not more than the threshold.
  WriteBytes(dir / "edge.xlsx", StyledBlankAt("J100000"));
  const Outcome outcome = RunCli(dir.path(), {"-j", "1", "-d", "out", "sparse.xlsx", "edge.xlsx"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err,
            "cellverter-cli: warning: \"sparse.xlsx\": the used range A1:J200000 has 2000000 "
            "cells but the file holds only 2; its CSV file is mostly separators (--max-cells "
            "refuses such a workbook).\n"
            "Converted 2 workbooks into \"out\".\n");
  EXPECT_EQ(fs::file_size(dir / "out/sparse.csv"), 200000u * 11u + 1u);
}

TEST(CliTest, WarnsOfWhatWasRepairedAndGoesOn) {
  TempDir dir;
  testing_support::TestWorkbook book;
  book.sharedStrings = {"<t>kept</t>"};
  book.sheets = {
      {"<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>4</v>"
       "</c></row>"}};
  WriteBytes(dir / "mended.xlsx", book.Zip());
  WriteXlsx(dir / "plain.xlsx", {{"y"}});
  const Outcome outcome = RunCli(dir.path(), {"-j", "2", "-d", "out", "mended.xlsx", "plain.xlsx"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err,
            "cellverter-cli: warning: \"mended.xlsx\": repaired: a cell referred to a shared "
            "string that does not exist; it was read as empty.\n"
            "Converted 2 workbooks into \"out\".\n");
  EXPECT_EQ(Files(dir / "out"), (std::map<std::string, std::string>{{"mended.csv", "kept,\r\n"},
                                                                    {"plain.csv", "y\r\n"}}));
}

// Three worksheets (the second hidden) and a chart sheet, in both formats.
TEST(CliTest, ChoosesWorksheetsByNameNumberOrAllAndListsThem) {
  for (const char* extension : {".xlsx", ".xls"}) {
    SCOPED_TRACE(extension);
    TempDir dir;
    const logical::LogicalWorkbook book = logical::ThreeWorksheetsAndAChart();
    const std::string name = std::string("book") + extension;
    WriteBytes(dir / name, extension == std::string(".xlsx") ? logical::WriteXlsx(book)
                                                             : logical::WriteXls(book));
    Outcome outcome = RunCli(dir.path(), {"--all-sheets", "-d", "all", name});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out,
              "all/book - Alpha.csv\nall/book - Beta.csv\nall/book - G\xC3\xA4mma.csv\n");
    EXPECT_EQ(Files(dir / "all"), (std::map<std::string, std::string>{
                                      {"book - Alpha.csv", "alpha,1\r\n"},
                                      {"book - Beta.csv", "beta\r\n2\r\n"},
                                      {"book - G\xC3\xA4mma.csv", "gamma \xCE\xA9,,3.5\r\n"}}));
    // Again into the same folder: numbered names, nothing overwritten.
    outcome = RunCli(dir.path(), {"--all-sheets", "-d", "all", name});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(ReadBytes(dir / "all/book - Beta (2).csv"), "beta\r\n2\r\n");

    // One sheet chosen keeps the plain name; the number counts worksheets only.
    for (const char* wanted : {"Beta", "beta", "2"}) {
      const std::string out = std::string("one-") + wanted;
      outcome = RunCli(dir.path(), {"--sheet", wanted, "-d", out, name});
      EXPECT_EQ(outcome.status, 0) << wanted << outcome.err;
      EXPECT_EQ(Files(dir / out),
                (std::map<std::string, std::string>{{"book.csv", "beta\r\n2\r\n"}}))
          << wanted;
    }
    outcome = RunCli(dir.path(), {"--sheet", "3", "--sheet", "Alpha", "-d", "two", name});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "two/book - G\xC3\xA4mma.csv\ntwo/book - Alpha.csv\n");

    // A workbook without the sheet fails alone, with nothing written for it; a chart sheet is
    // no worksheet, and neither is a number beyond the worksheets.
    WriteBytes(dir / "other.xlsx",
               logical::WriteXlsx({{logical::Worksheet({logical::Text(1, 1, "other")}, "Nope")}}));
    outcome = RunCli(dir.path(), {"--sheet", "Nope", "-d", "nope", name, "other.xlsx"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("Cannot open \"" + name + "\": it has no worksheet named \"Nope\"."),
              std::string::npos)
        << outcome.err;
    EXPECT_EQ(Files(dir / "nope"),
              (std::map<std::string, std::string>{{"other.csv", "other\r\n"}}));
    for (const char* wanted : {"Chart1", "4"}) {
      const std::string out = std::string("none-") + wanted;
      outcome = RunCli(dir.path(), {"--sheet", "Alpha", "--sheet", wanted, "-d", out, name});
      EXPECT_EQ(outcome.status, 1) << wanted;
      EXPECT_EQ(Count(outcome.err, "\"" + name + "\": it has no worksheet"), 1) << outcome.err;
      EXPECT_EQ(Files(dir / out), (std::map<std::string, std::string>{})) << wanted;
    }

    outcome = RunCli(dir.path(), {"--list-sheets", name});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, name + "\t1\tAlpha\tworksheet\tvisible\tA1:B1\n" + name +
                               "\t2\tBeta\tworksheet\thidden\tA1:A2\n" + name +
                               "\t\tChart1\tchart\tvisible\t\n" + name +
                               "\t3\tG\xC3\xA4mma\tworksheet\tvisible\tA1:C1\n");
    EXPECT_FALSE(fs::exists(dir / "book.csv"));
  }
}

TEST(CliTest, PathsWithLineBreaksAreQuotedOrNulSeparated) {
  TempDir dir;
  WriteXlsx(dir / "line\nbreak.xlsx", {{"x"}});
  WriteXlsx(dir / "plain.xlsx", {{"y"}});
  Outcome outcome = RunCli(dir.path(), {"-0", "-d", "out", "line\nbreak.xlsx", "plain.xlsx"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "out/line\nbreak.csv\0out/plain.csv\0"s);
  outcome = RunCli(dir.path(), {"--null", "-d", "out", "line\nbreak.xlsx", "plain.xlsx"});
  EXPECT_EQ(outcome.out, "out/line\nbreak (2).csv\0out/plain (2).csv\0"s);
  outcome = RunCli(dir.path(), {"-d", "out", "line\nbreak.xlsx", "plain.xlsx"});
  EXPECT_EQ(outcome.out, "\"out/line\\nbreak (3).csv\"\nout/plain (3).csv\n");
}

TEST(CliReportTest, QuotedPathLeavesOrdinaryNamesAlone) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"out/book.csv", "out/book.csv"},
      {"out/a \"b\" c\\d.csv", "out/a \"b\" c\\d.csv"},            // quotes and backslashes inside
      {"out/\xC3\xA9t\xC3\xA9.csv", "out/\xC3\xA9t\xC3\xA9.csv"},  // UTF-8
      {"out/a\nb.csv", "\"out/a\\nb.csv\""},
      {"out/a\r\nb\t.csv", "\"out/a\\r\\nb\\t.csv\""},
      {"out/\"x\\\x01\x7F.csv", "\"out/\\\"x\\\\\\001\\177.csv\""},
      {"\"lead.csv", "\"\\\"lead.csv\""},  // a leading quote would read as a quoted name
  };
  for (const auto& [path, printed] : cases) EXPECT_EQ(QuotedPath(path), printed) << path;
}

TEST(InterruptTest, RemoveUnfinishedFilesTakesOnlyNewFilesOpenForWritingInTheFolder) {
  TempDir dir;
  fs::create_directories(dir / "out");
  fs::create_directories(dir / "elsewhere");
  auto open = [](const std::string& path, int flags) {
    return ::open(path.c_str(), flags | O_CREAT | O_CLOEXEC, 0600);
  };
  // Inherited from the caller, such as a redirection into the folder: never touched.
  const int log = open(dir / "out/log.txt", O_WRONLY);
  const std::set<int> inherited = OpenDescriptors();
  const int unfinished = open(dir / "out/.book.csv.tmp", O_WRONLY);
  const int both = open(dir / "out/.other.csv.tmp", O_RDWR);
  const int reading = open(dir / "out/input.xlsx", O_RDONLY);
  const int outside = open(dir / "elsewhere/.book.csv.tmp", O_WRONLY);
  const int unnamed = ::open((dir / "out").c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  WriteBytes(dir / "out/done.csv", "finished");
  // A name that has been given to another file meanwhile stays.
  const int renamed = open(dir / "out/moved.tmp", O_WRONLY);
  fs::rename(dir / "out/moved.tmp", dir / "elsewhere/moved.tmp");
  WriteBytes(dir / "out/moved.tmp", "someone else's");

  RemoveUnfinishedFiles(dir / "out", inherited);
  EXPECT_EQ(Files(dir / "out"),
            (std::map<std::string, std::string>{{"done.csv", "finished"},
                                                {"input.xlsx", ""},
                                                {"log.txt", ""},
                                                {"moved.tmp", "someone else's"}}));
  EXPECT_TRUE(fs::exists(dir / "elsewhere/.book.csv.tmp"));
  for (const int fd : {log, unfinished, both, reading, outside, unnamed, renamed}) ::close(fd);
}

}  // namespace
}  // namespace cellverter
