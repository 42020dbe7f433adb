#include "app/main_window.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "../spreadsheet/xlsx_builder.h"
#include "app/conversion_options_form.h"
#include "app/main_window_dialogs.h"
#include "i18n/translate.h"
#include "logical_workbook.h"
#include "platform/error.h"
#include "qt_application.h"
#include "scoped_environment.h"
#include "temp_dir.h"
#include "tiny_xlsx.h"

namespace cellverter {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;
using testing_support::WriteTinyXlsx;

// Answers the window's dialogs from queued replies and records what was asked.
class ScriptedDialogs : public WindowDialogs {
 public:
  struct Box {
    QMessageBox::Icon icon;
    QString caption;
    QString text;
    bool busyCursorShown;
  };
  struct FolderRequest {
    QString title, acceptLabel, startFolder;
    bool multiple;
  };

  std::deque<QStringList> fileAnswers;
  std::function<void()> onBox;  // called while a box is "open"
  std::deque<QStringList> folderAnswers;
  QMessageBox::StandardButton questionAnswer = QMessageBox::No;

  std::vector<QString> openStartFolders;
  QStringList lastFilters;
  std::vector<FolderRequest> folderRequests;
  std::vector<Box> boxes;
  int beeps = 0;
  std::vector<QUrl> urls;
  QStringList startedPrograms;
  struct Question {
    QString message, title;
    QStringList captions;
  };
  std::vector<Question> questions;

  QStringList OpenFiles(QWidget*, const QString& startFolder, const QStringList& filters) override {
    openStartFolders.push_back(startFolder);
    lastFilters = filters;
    return Next(fileAnswers);
  }
  QStringList PickFolders(QWidget*, const QString& title, const QString& acceptLabel,
                          const QString& startFolder, bool multiple) override {
    folderRequests.push_back({title, acceptLabel, startFolder, multiple});
    return Next(folderAnswers);
  }
  void ShowMessage(QWidget*, QMessageBox::Icon icon, const QString& caption,
                   const QString& text) override {
    boxes.push_back({icon, caption, text, QApplication::overrideCursor() != nullptr});
    if (onBox) onBox();
  }
  QMessageBox::StandardButton MessageDialogWithCaptions(QWidget*, const QString& message,
                                                        QMessageBox::Icon,
                                                        QMessageBox::StandardButtons,
                                                        const QString& title,
                                                        const QStringList& captions) override {
    questions.push_back({message, title, captions});
    return questionAnswer;
  }
  void Beep() override { ++beeps; }
  void OpenUrl(const QUrl& url) override { urls.push_back(url); }
  void StartProgram(const QString& executable) override { startedPrograms << executable; }

 private:
  static QStringList Next(std::deque<QStringList>& answers) {
    if (answers.empty()) return {};
    QStringList answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// Records the status panel's text each time it is painted.
class PaintRecorder : public QObject {
 public:
  explicit PaintRecorder(QLabel* panel) : panel_(panel) { panel->installEventFilter(this); }
  QStringList painted;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == panel_ && event->type() == QEvent::Paint) {
      if (painted.isEmpty() || painted.back() != panel_->text()) painted << panel_->text();
    }
    return false;
  }

 private:
  QLabel* panel_;
};

// A workbook whose run lasts many seconds, far beyond the first ticks of a test's timer,
// though its file is tiny: one row of 26 cells a million rows down, so every row above it
// becomes a CSV line of empty fields.
void WriteLargeXlsx(const std::string& path) {
  std::vector<std::vector<std::string>> rows(1000000);
  rows.back().assign(26, "z");
  WriteTinyXlsx(path, rows);
}

// Calls `step` every few milliseconds while the window's run lasts (the click that starts
// a run returns only when it has ended), until `step` answers true. A step that never
// finishes its work is bounded: after `limit` ticks the run is cancelled and `timedOut`
// is set, so a fault cannot hang the test.
class DuringRun : public QObject {
 public:
  // `form` may be empty until the window is made (a run at start-up).
  DuringRun(const std::unique_ptr<TAppForm>& form, std::function<bool()> step, int limit = 6000)
      : form_(form), step_(std::move(step)), limit_(limit) {
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start();
  }
  bool timedOut = false;
  int ticksInRun = 0;

 private:
  void Tick() {
    if (!form_ || !form_->RunUnderWay()) return;
    ++ticksInRun;
    if (ticksInRun > limit_) {
      timedOut = true;
      timer_.stop();
      form_->findChild<QPushButton*>("ButtonCancel")->click();
      return;
    }
    if (step_()) timer_.stop();
  }
  const std::unique_ptr<TAppForm>& form_;
  std::function<bool()> step_;
  int limit_;
  QTimer timer_;
};

std::string Q(const QString& text) { return text.toStdString(); }

// The conversion options of a run in a line that a failed comparison shows whole.
std::string Describe(const CsvOptions& o) {
  return std::string(o.values == CellValues::kRaw ? "raw" : "displayed") +
         (o.skipHidden ? " skip-hidden" : "") + (o.fillMerged ? " fill-merged" : "") +
         (o.trim ? " trim" : "") + (o.quoting == CsvQuoting::kAll ? " quote-all" : "") +
         (o.lineEnding == LineEnding::kLf ? " lf" : " crlf");
}
QString S(const std::string& text) { return QString::fromStdString(text); }

// A copy of the built program in a fresh folder: the window reads its version data, keeps
// settings.ini beside it and scans its folder in the automatic run. HOME and the XDG
// config folder point into the temporary folder too.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::StartOffscreenApplication();
    fs::create_directories(programDir());
    fs::copy_file(fs::path(CELLVERTER_BIN_DIR) / "cellverter", exe());
    environment_.Set("HOME", (root_ / "home").c_str());
    environment_.Set("XDG_CONFIG_HOME", (root_ / "config").c_str());
    environment_.Set("LC_ALL", "C.UTF-8");
    fs::create_directories(root_.path() / "home" / "Desktop");
  }
  void TearDown() override { form_.reset(); }

  fs::path programDir() const { return root_.path() / "prog"; }
  fs::path exe() const { return programDir() / "cellverter"; }
  std::string settingsPath() const { return (programDir() / "settings.ini").string(); }
  std::string settingsText() const { return ReadBytes(settingsPath()); }
  std::string desktop() const { return (root_.path() / "home" / "Desktop").string(); }

  void WriteSettings(const std::map<std::string, std::string>& values) {
    std::string text = "\xEF\xBB\xBF[Settings]\r\n";
    for (const auto& [key, value] : values) text += key + "=" + value + "\r\n";
    WriteBytes(settingsPath(), text + "\r\n");
  }

  TAppForm& Open() {
    form_ = std::make_unique<TAppForm>(dialogs_, S(exe().string()));
    // The update check has its own tests; here it would only reach for the maker's host.
    form_->findChild<QTimer*>("TimerChecker")->stop();
    form_->show();
    // The automatic run may minimise or close the window before it is ever exposed.
    EXPECT_TRUE(QTest::qWaitFor([this] {
      return !form_->isVisible() || form_->isMinimized() || form_->windowHandle()->isExposed();
    }));
    // Until the first layout and paint have run, a repaint draws nothing; the start
    // timer (the automatic run) fires meanwhile.
    Settle();
    return *form_;
  }
  // Lets the start timer fire (the automatic run) and pending events through.
  void Settle() { QTest::qWait(20); }

  template <typename T>
  T* Find(const char* name) {
    T* widget = form_->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QAction* Action(const char* name) { return Find<QAction>(name); }
  // Opens Settings > Conversion Options and lets `answer` work the dialog; a dialog it
  // leaves open is cancelled. False when the dialog did not open.
  bool AnswerOptionsDialog(const std::function<void(TConversionOptionsForm&)>& answer) {
    bool opened = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<TConversionOptionsForm*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      opened = true;
      answer(*dialog);
      if (dialog->isVisible()) dialog->reject();
    });
    Action("ConversionOptions1")->trigger();
    return opened;
  }
  QTableWidget* List() { return Find<QTableWidget>("ListView1"); }
  QPushButton* Convert() { return Find<QPushButton>("ButtonConvert"); }
  QStringList Rows() {
    QStringList rows;
    for (int r = 0; r < List()->rowCount(); ++r) rows << List()->item(r, 0)->text();
    return rows;
  }

  TempDir root_;
  testing_support::ScopedEnvironment environment_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<TAppForm> form_;
};

// ---- start-up

TEST_F(MainWindowTest, FirstStartShowsDefaultsAndWritesOnlyTheSeparator) {
  TAppForm& form = Open();
  EXPECT_EQ(form.windowTitle(), "KORVANE - Cellverter");
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), S(desktop()));
  EXPECT_EQ(form.LastFolder(), S(desktop()));
  EXPECT_EQ(Find<QLineEdit>("Edit2")->text(), ",");  // LC_ALL=C.UTF-8 lists with ","
  EXPECT_EQ(Find<QComboBox>("ComboBox1")->currentText(), "ANSI");
  EXPECT_EQ(settingsText(), "\xEF\xBB\xBF[Settings]\r\nSeparator=,\r\n\r\n");
  EXPECT_FALSE(Convert()->isEnabled());
  EXPECT_EQ(Convert()->property("imageName").toString(), "saveblack48");
  QAction* update = Action("UpdateNotifications1");
  EXPECT_TRUE(update->isChecked());
  EXPECT_FALSE(update->isEnabled());
}

struct StartupCase {
  const char* name;
  std::map<std::string, std::string> stored;
  QString encoding;
  std::vector<const char*> checked;
};

class StartupReadTest : public MainWindowTest, public ::testing::WithParamInterface<StartupCase> {};

TEST_P(StartupReadTest, ShowsStoredValues) {
  WriteSettings(GetParam().stored);
  Open();
  EXPECT_EQ(Find<QComboBox>("ComboBox1")->currentText(), GetParam().encoding);
  for (const char* item : {"AutomaticallyAddExcelFiles1", "AutomaticallyConverttoCSV1",
                           "AutomaticallyCloseApplication1", "IncludeSubfolders1",
                           "StartMinimized1", "AllWorksheets1"}) {
    bool expected = false;
    for (const char* on : GetParam().checked) expected |= std::string(on) == item;
    EXPECT_EQ(Action(item)->isChecked(), expected) << item;
  }
  // The worksheet pair is a radio choice, and a run is handed what it shows.
  EXPECT_NE(Action("FirstWorksheet1")->isChecked(), Action("AllWorksheets1")->isChecked());
  EXPECT_EQ(form_->ReadBatchInputs()->Sheets().all, Action("AllWorksheets1")->isChecked());
  // Start-up writes the file (the separator) but keeps every stored word as it was, an
  // unknown one included, and adds no worksheet choice of its own.
  const std::string text = settingsText();
  for (const auto& [key, value] : GetParam().stored) {
    EXPECT_NE(text.find("\n" + key + "=" + value + "\r\n"), std::string::npos) << key;
  }
  if (!GetParam().stored.contains("Worksheets")) {
    EXPECT_EQ(text.find("Worksheets"), std::string::npos) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupReadTest,
    ::testing::Values(
        StartupCase{"ExactWords",
                    {{"Encoding", "UTF16LEBOM"},
                     {"IncludeSubfolders", "True"},
                     {"StartMinimized", "False"}},
                    "UTF-16 LE BOM",
                    {"IncludeSubfolders1"}},
        StartupCase{"WrongCaseAndLowerTrueAreDefaults",
                    {{"Encoding", "utf8bom"},
                     {"IncludeSubfolders", "true"},
                     {"AutomaticallyCloseApplication", "1"}},
                    "ANSI",
                    {}},
        StartupCase{"UnknownWordIsAnsi", {{"Encoding", "UTF-8"}}, "ANSI", {}},
        StartupCase{"AllWorksheets",
                    {{"Worksheets", "All"}, {"IncludeSubfolders", "True"}},
                    "ANSI",
                    {"AllWorksheets1", "IncludeSubfolders1"}},
        StartupCase{"WorksheetsInWrongCaseIsFirst", {{"Worksheets", "all"}}, "ANSI", {}},
        StartupCase{"UnknownWorksheetsWordIsFirst", {{"Worksheets", "Every"}}, "ANSI", {}}),
    [](const ::testing::TestParamInfo<StartupCase>& c) { return c.param.name; });

TEST_F(MainWindowTest, StoredDestinationAndSeparatorAreShownAndSeparatorRewritten) {
  const std::string out = (root_.path() / "out").string();
  WriteSettings({{"Destination", out}, {"Separator", ";"}});
  Open();
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), S(out));
  EXPECT_EQ(form_->LastFolder(), S(out));
  EXPECT_EQ(Find<QLineEdit>("Edit2")->text(), ";");
  // Rewritten by the separator field at start: still in file order, the BOM first.
  EXPECT_EQ(settingsText(),
            "\xEF\xBB\xBF[Settings]\r\nDestination=" + out + "\r\nSeparator=;\r\n\r\n");
}

// ---- the source list

TEST_F(MainWindowTest, ConvertButtonFollowsTheRows) {
  Open();
  form_->Ekle("/data/a.xlsx");
  EXPECT_TRUE(Convert()->isEnabled());
  EXPECT_EQ(Convert()->property("imageName").toString(), "save48");
  form_->Ekle("/data/b.xls");
  form_->Ekle("/data/a.xlsx");  // duplicates are kept
  EXPECT_EQ(Rows(), QStringList({"/data/a.xlsx", "/data/b.xls", "/data/a.xlsx"}));

  Action("Delete1")->trigger();  // nothing selected: nothing removed
  EXPECT_EQ(List()->rowCount(), 3);

  List()->selectRow(0);
  List()->selectionModel()->select(List()->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
  Action("Delete1")->trigger();
  EXPECT_EQ(Rows(), QStringList({"/data/b.xls"}));
  EXPECT_TRUE(Convert()->isEnabled());

  List()->selectRow(0);
  Action("Delete1")->trigger();
  EXPECT_FALSE(Convert()->isEnabled());
  EXPECT_EQ(Convert()->property("imageName").toString(), "saveblack48");

  form_->Ekle("/data/c.xlsx");
  form_->Ekle("/data/d.xlsx");
  Action("DeleteAll1")->trigger();
  EXPECT_EQ(List()->rowCount(), 0);
  EXPECT_FALSE(Convert()->isEnabled());
}

TEST_F(MainWindowTest, KeyboardReachesMenusAddAndDelete) {
  Open();
  for (const auto& [menu, key] : {std::pair{"File1", "Alt+F"}, std::pair{"Settings1", "Alt+S"},
                                  std::pair{"Help1", "Alt+H"}}) {
    EXPECT_EQ(QKeySequence::mnemonic(Find<QMenu>(menu)->title()), QKeySequence(key)) << menu;
  }
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  QTest::keyClick(form_.get(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(dialogs_.openStartFolders.size(), 1u);  // Ctrl+O: Add Excel Files

  form_->Ekle("/data/a.xlsx");
  form_->Ekle("/data/b.xlsx");
  form_->Ekle("/data/c.xlsx");
  List()->setFocus();
  List()->selectRow(1);
  QTest::keyClick(List(), Qt::Key_Delete);
  EXPECT_EQ(Rows(), QStringList({"/data/a.xlsx", "/data/c.xlsx"}));
}

// The destination field takes the room a wider window gives; every window of the program
// (message boxes, the new-version notice) shows the program's icon.
TEST_F(MainWindowTest, DestinationStretchesAndEveryWindowHasTheIcon) {
  Open();
  auto* edit1 = Find<QLineEdit>("Edit1");
  const int narrow = edit1->width();
  form_->resize(form_->width() + 200, form_->height());
  EXPECT_TRUE(QTest::qWaitFor([&] { return edit1->width() >= narrow + 150; }))
      << narrow << " " << edit1->width();
  QWidget other;
  EXPECT_FALSE(other.windowIcon().isNull());
}

// Paths handed to the window as the program's arguments are: a folder becomes the
// destination, anything else is listed, in order.
TEST_F(MainWindowTest, PathsGivenAsADropAreListedOrMadeTheDestination) {
  const fs::path folder = root_.path() / "target";
  fs::create_directories(folder);
  Open();
  form_->AddDroppedPaths({"/data/a.xlsx", S(folder.string()), "/data/notes.txt"});
  EXPECT_EQ(Rows(), QStringList({"/data/a.xlsx", "/data/notes.txt"}));
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), S(folder.string()));
  EXPECT_EQ(form_->LastFolder(), S(folder.string()));
}

TEST_F(MainWindowTest, OpenDialogAppendsFilesAndRemembersTheirFolder) {
  const fs::path data = root_.path() / "data";
  fs::create_directories(data);
  Open();
  dialogs_.fileAnswers = {{S((data / "B.XLSX").string()), S((data / "notes.csv").string())},
                          {S((data / "B.XLSX").string())},
                          {}};
  Find<QToolButton>("ButtonAdd")->click();
  // Nothing stored yet: the home folder, not the process's working folder.
  EXPECT_EQ(dialogs_.openStartFolders.back(), S((root_.path() / "home").string()));
  EXPECT_NE(settingsText().find("SourceDirectory=" + data.string() + "\r\n"), std::string::npos);

  Action("AddExcelFiles1")->trigger();  // the menu item clicks the button
  EXPECT_EQ(dialogs_.openStartFolders.back(), S(data.string()));

  const std::string before = settingsText();
  Find<QToolButton>("ButtonAdd")->click();  // cancelled
  EXPECT_EQ(settingsText(), before);
  EXPECT_EQ(Rows(), QStringList({S((data / "B.XLSX").string()), S((data / "notes.csv").string()),
                                 S((data / "B.XLSX").string())}));

  // A remembered folder that has gone away: the dialog opens at home.
  fs::remove_all(data);
  Find<QToolButton>("ButtonAdd")->click();
  EXPECT_EQ(dialogs_.openStartFolders.back(), S((root_.path() / "home").string()));
}

// The dialog's first filter must find workbooks in any letter case: the platform's
// filters compare case-sensitively.
TEST_F(MainWindowTest, OpenDialogFiltersMatchWorkbooksInAnyCase) {
  Open();
  Find<QToolButton>("ButtonAdd")->click();
  ASSERT_EQ(dialogs_.lastFilters.size(), 2);
  auto matches = [](const QString& filter, const QString& name) {
    const QRegularExpression inParentheses(R"(\(([^)]*)\))");
    const QString patterns = inParentheses.match(filter).captured(1);
    for (const QString& pattern : patterns.split(' ', Qt::SkipEmptyParts)) {
      const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern));
      if (re.match(name).hasMatch()) return true;
    }
    return false;
  };
  const QString excel = dialogs_.lastFilters[0];
  const QString any = dialogs_.lastFilters[1];
  EXPECT_TRUE(excel.startsWith("Workbooks ("));
  for (const char* name : {"book.xlsx", "BOOK.XLS", "Old.Xls", "a.b.XlSx", "m.xlsm", "B.XLSB",
                           "t.xltx", "t.XLTM", "calc.ods", "Flat.Fods"}) {
    EXPECT_TRUE(matches(excel, name)) << name;
  }
  for (const char* name : {"book.xls.bak", "data.csv", "xls", "letter.odt", "old.xlt"}) {
    EXPECT_FALSE(matches(excel, name)) << name;
  }
  EXPECT_TRUE(any.startsWith("Any File"));
  for (const char* name : {"data.csv", "README", "book.xlsx"}) {
    EXPECT_TRUE(matches(any, name)) << name;
  }
}

TEST_F(MainWindowTest, DropAppendsFilesAndMakesAFolderTheDestination) {
  const fs::path dropped = root_.path() / "dropped";
  fs::create_directories(dropped);
  // Longer than the 255 characters a fixed drop buffer would keep.
  const std::string longName = (root_.path() / (std::string(300, 'n') + ".xlsx")).string();
  Open();
  form_->Ekle("/data/first.xlsx");

  QMimeData mime;
  const QList<QUrl> urls = {QUrl::fromLocalFile(S(longName)),
                            QUrl::fromLocalFile(S(dropped.string())),
                            QUrl::fromLocalFile("/data/later.txt")};
  mime.setUrls(urls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(form_.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(form_.get(), &drop);

  EXPECT_EQ(Rows(), QStringList({"/data/first.xlsx", S(longName), "/data/later.txt"}));
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), S(dropped.string()));
  EXPECT_EQ(form_->LastFolder(), S(dropped.string()));
  EXPECT_NE(settingsText().find("Destination=" + dropped.string() + "\r\n"), std::string::npos);
}

TEST_F(MainWindowTest, AddFolderScansEachChosenFolderBetweenPaintedStatusTexts) {
  const fs::path one = root_.path() / "one";
  const fs::path two = root_.path() / "two";
  fs::create_directories(one / "sub");
  fs::create_directories(two);
  WriteBytes((one / "Book.xlsx").string(), "");
  WriteBytes((one / "Data.csv").string(), "");
  WriteBytes((one / "sub" / "Deep.xls").string(), "");
  WriteBytes((two / "Old.XLS").string(), "");
  Open();
  PaintRecorder recorder(Find<QLabel>("StatusPanel"));
  dialogs_.folderAnswers = {{S(one.string()), S(two.string())}};
  Action("AddFolder1")->trigger();

  ASSERT_EQ(dialogs_.folderRequests.size(), 1u);
  EXPECT_EQ(dialogs_.folderRequests[0].title, "Select folder:");
  EXPECT_EQ(dialogs_.folderRequests[0].acceptLabel, "Select");
  EXPECT_EQ(dialogs_.folderRequests[0].startFolder, S(desktop()));
  EXPECT_TRUE(dialogs_.folderRequests[0].multiple);
  EXPECT_EQ(Rows(), QStringList({S((one / "Book.xlsx").string()), S((two / "Old.XLS").string())}));
  EXPECT_EQ(form_->LastFolder(), S(one.string()));
  EXPECT_EQ(form_->StatusText(), "Finished folder scan");
  // Each "Scanning" text was on the screen before its folder's scan ran.
  EXPECT_TRUE(recorder.painted.contains("Scanning folder " + S(one.string()) + "..."));
  EXPECT_TRUE(recorder.painted.contains("Scanning folder " + S(two.string()) + "..."));

  // The button's drop-down item does the same, here with subfolders included.
  Action("IncludeSubfolders1")->trigger();
  dialogs_.folderAnswers = {{S(one.string())}};
  Action("AddFolder2")->trigger();
  EXPECT_EQ(dialogs_.folderRequests.size(), 2u);
  EXPECT_EQ(dialogs_.folderRequests[1].startFolder, S(one.string()));
  EXPECT_TRUE(Rows().contains(S((one / "sub" / "Deep.xls").string())));

  dialogs_.folderAnswers = {{}};  // cancelled
  const QStringList before = Rows();
  Action("AddFolder1")->trigger();
  EXPECT_EQ(Rows(), before);
}

// ---- the conversion run

TEST_F(MainWindowTest, FailingWorkbookInTheMiddleIsReportedAndTheRunGoesOn) {
  const fs::path data = root_.path() / "data";
  const fs::path out = root_.path() / "out" / "deeper";  // created with its parent
  fs::create_directories(data);
  WriteTinyXlsx((data / "first.xlsx").string(), {{"a", "b"}, {"c", "d"}});
  WriteBytes((data / "broken.xlsx").string(), "this is not a workbook");
  WriteTinyXlsx((data / "last.xlsx").string(), {{"x;y"}});
  WriteSettings({{"Destination", out.string()}, {"Separator", ";"}, {"Encoding", "UTF8"}});
  Open();
  for (const char* name : {"first.xlsx", "broken.xlsx", "last.xlsx"}) {
    form_->Ekle(S((data / name).string()));
  }
  PaintRecorder recorder(Find<QLabel>("StatusPanel"));
  Convert()->click();

  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].caption, "ERROR");
  EXPECT_EQ(dialogs_.boxes[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(dialogs_.boxes[0].text.contains("broken.xlsx")) << Q(dialogs_.boxes[0].text);
  EXPECT_FALSE(dialogs_.boxes[0].busyCursorShown);  // the normal cursor while the box is up
  EXPECT_EQ(dialogs_.beeps, 1);
  EXPECT_EQ(form_->StatusText(), "Completed");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(ReadBytes((out / "first.csv").string()), "a;b\r\nc;d\r\n");
  EXPECT_EQ(ReadBytes((out / "last.csv").string()), "\"x;y\"\r\n");
  EXPECT_FALSE(fs::exists(out / "broken.csv"));
  for (const char* name : {"first.xlsx", "broken.xlsx", "last.xlsx"}) {
    EXPECT_TRUE(recorder.painted.contains("Converting " + S((data / name).string()) + "..."))
        << name;
  }

  // A second run numbers the new files instead of replacing the old ones.
  Action("ConverttoCSV1")->trigger();
  EXPECT_TRUE(fs::exists(out / "first (2).csv"));
  EXPECT_EQ(dialogs_.boxes.size(), 2u);
}

// The window lives while a large workbook converts: it paints, resizes and shows progress;
// everything that would change the run is disabled and a click on it is not kept for
// later; Esc stops the workbook under way without a trace and leaves the later ones.
TEST_F(MainWindowTest, WindowLivesDuringARunAndEscapeCancelsIt) {
  // A long folder name: its "Converting" text must not widen the window.
  const fs::path data = root_.path() / std::string(200, 'd');
  const fs::path out = root_.path() / "out";
  fs::create_directories(data);
  WriteLargeXlsx((data / "big.xlsx").string());
  WriteTinyXlsx((data / "later.xlsx").string(), {{"1"}});
  WriteSettings({{"Destination", out.string()}});
  Open();
  form_->Ekle(S((data / "big.xlsx").string()));
  form_->Ekle(S((data / "later.xlsx").string()));
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));

  struct PaintCounter : QObject {
    int paints = 0;
    TAppForm* form = nullptr;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint && form->RunUnderWay()) ++paints;
      return false;
    }
  } counter;
  counter.form = form_.get();
  QTableWidget* list = List();
  list->viewport()->installEventFilter(&counter);
  auto* bar = Find<QProgressBar>("ProgressBar1");
  const QString converting = "Converting " + S((data / "big.xlsx").string()) + "...";
  std::map<std::string, bool> disabled;
  int widthBefore = 0;
  int widthAsked = 0;
  int widthDuringRun = 0;
  int stage = 0;
  DuringRun during(form_, [&] {
    if (!form_->StatusText().startsWith(converting)) return false;
    switch (stage) {
      case 0:
        for (const char* name : {"ButtonConvert", "ButtonAdd", "ListView1", "Edit1", "Edit2",
                                 "ButtonBrowse", "ComboBox1"}) {
          disabled[name] = !Find<QWidget>(name)->isEnabled();
        }
        for (const char* name :
             {"ConverttoCSV1", "AddExcelFiles1", "AddFolder1", "Delete1", "DeleteAll1"}) {
          disabled[name] = !Action(name)->isEnabled();
        }
        disabled["Settings1"] = !Find<QMenu>("Settings1")->menuAction()->isEnabled();
        // Clicks a user could make now: none may act, now or after the run.
        QTest::mouseClick(Convert(), Qt::LeftButton);
        Action("ConverttoCSV1")->trigger();
        QTest::keyClick(form_.get(), Qt::Key_O, Qt::ControlModifier);
        {
          QMimeData mime;
          mime.setUrls({QUrl::fromLocalFile("/data/dropped.xlsx")});
          QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
          QCoreApplication::sendEvent(form_.get(), &drop);
        }
        widthBefore = Find<QLineEdit>("Edit1")->width();
        widthAsked = form_->width() + 120;
        form_->resize(widthAsked, form_->height() + 40);
        list->viewport()->update();
        ++stage;
        return false;
      case 1:
        // Painted and laid out anew while the run goes on; the bar moves within the
        // workbook (its rows) before any workbook is done.
        if (counter.paints == 0 || Find<QLineEdit>("Edit1")->width() == widthBefore ||
            bar->value() == 0 || !bar->isVisible()) {
          return false;
        }
        widthDuringRun = form_->width();
        QTest::keyClick(form_.get(), Qt::Key_Escape);
        return true;
    }
    return true;
  });
  Convert()->click();

  EXPECT_FALSE(during.timedOut) << "stage " << stage << ", paints " << counter.paints
                                << ", progress " << bar->value();
  for (const auto& [name, off] : disabled) EXPECT_TRUE(off) << name;
  EXPECT_GT(counter.paints, 0);
  EXPECT_EQ(widthDuringRun, widthAsked);
  EXPECT_EQ(form_->StatusText(), "Cancelled");
  EXPECT_FALSE(form_->RunUnderWay());
  EXPECT_FALSE(bar->isVisible());
  // Nothing of the big workbook (no CSV, no temporary file) and nothing of the later one.
  EXPECT_TRUE(fs::is_empty(out));
  EXPECT_EQ(dialogs_.beeps, 1);  // the run's own beep; no menu beep was kept for later
  EXPECT_TRUE(dialogs_.openStartFolders.empty());
  EXPECT_TRUE(dialogs_.boxes.empty());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // Settle: a click kept from the run would start a second run now.
  Settle();
  EXPECT_TRUE(fs::is_empty(out));
  EXPECT_TRUE(Convert()->isEnabled());
  EXPECT_TRUE(List()->isEnabled());
  EXPECT_EQ(List()->rowCount(), 2);  // the drop during the run was refused
}

// A used range far larger than what the file holds is named in the status while it is
// written, so a long run of separators is explained.
TEST_F(MainWindowTest, SparseUsedRangeIsNamedInTheStatus) {
  const fs::path out = root_.path() / "out";
  WriteLargeXlsx((root_.path() / "sparse.xlsx").string());
  WriteSettings({{"Destination", out.string()}});
  Open();
  form_->Ekle(S((root_.path() / "sparse.xlsx").string()));
  const QString expected = "Converting " + S((root_.path() / "sparse.xlsx").string()) +
                           "... (used range A1:Z1000000: 26000000 cells, 26 held)";
  bool seen = false;
  DuringRun during(form_, [&] {
    if (form_->StatusText() != expected) return false;
    seen = true;
    QTest::keyClick(form_.get(), Qt::Key_Escape);
    return true;
  });
  Convert()->click();
  EXPECT_TRUE(seen) << Q(form_->StatusText());
  EXPECT_TRUE(fs::is_empty(out));  // cancelled: nothing of it
  EXPECT_FALSE(during.timedOut);
}

// A workbook its reader had to mend converts without a box (an unattended run must not
// stop); the repair stays named where the run says "Completed".
TEST_F(MainWindowTest, RepairedWorkbookIsNamedWhenTheRunCompletes) {
  const fs::path out = root_.path() / "out";
  const fs::path mended = root_.path() / "mended.xlsx";
  testing_support::TestWorkbook book;
  book.sharedStrings = {"<t>kept</t>"};
  book.sheets = {
      {"<row r=\"1\"><c r=\"A1\" t=\"s\"><v>3</v></c><c r=\"B1\" t=\"s\"><v>0</v>"
       "</c></row>"}};
  WriteBytes(mended.string(), book.Zip());
  WriteTinyXlsx((root_.path() / "plain.xlsx").string(), {{"y"}});
  WriteSettings({{"Destination", out.string()}});
  Open();
  form_->Ekle(S(mended.string()));
  form_->Ekle(S((root_.path() / "plain.xlsx").string()));
  Convert()->click();
  Settle();

  EXPECT_TRUE(dialogs_.boxes.empty());
  EXPECT_EQ(form_->StatusText(), "Completed (1 workbook repaired; \"" + S(mended.string()) +
                                     "\": a cell referred to a shared string that does not "
                                     "exist; it was read as empty)");
  EXPECT_EQ(ReadBytes((out / "mended.csv").string()), ",kept\r\n");
  EXPECT_TRUE(fs::exists(out / "plain.csv"));
}

// The run waits while its ERROR box is open: one box per failing workbook, after its
// "Converting" text, before the next workbook starts. Cancel pressed while a box is open
// leaves every later workbook.
TEST_F(MainWindowTest, ErrorBoxComesPerFailingWorkbookWhileTheRunWaits) {
  const fs::path data = root_.path() / "data";
  const fs::path out = root_.path() / "out";
  fs::create_directories(data);
  WriteBytes((data / "broken1.xlsx").string(), "not a workbook");
  WriteTinyXlsx((data / "good.xlsx").string(), {{"g"}});
  WriteBytes((data / "broken2.xlsx").string(), "not one either");
  WriteTinyXlsx((data / "last.xlsx").string(), {{"l"}});
  WriteSettings({{"Destination", out.string()}});
  Open();
  for (const char* name : {"broken1.xlsx", "good.xlsx", "broken2.xlsx", "last.xlsx"}) {
    form_->Ekle(S((data / name).string()));
  }

  struct Seen {
    QString status;
    bool goodWritten, running;
  };
  std::vector<Seen> seen;
  dialogs_.onBox = [&] {
    seen.push_back({form_->StatusText(), fs::exists(out / "good.csv"), form_->RunUnderWay()});
    if (seen.size() == 2) Find<QPushButton>("ButtonCancel")->click();
  };
  Convert()->click();

  ASSERT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_TRUE(dialogs_.boxes[0].text.contains("broken1.xlsx")) << Q(dialogs_.boxes[0].text);
  EXPECT_TRUE(dialogs_.boxes[1].text.contains("broken2.xlsx")) << Q(dialogs_.boxes[1].text);
  for (const auto& box : dialogs_.boxes) {
    EXPECT_EQ(box.caption, "ERROR");
    EXPECT_FALSE(box.busyCursorShown);
  }
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].status, "Converting " + S((data / "broken1.xlsx").string()) + "...");
  EXPECT_FALSE(seen[0].goodWritten);  // the run waited for the box
  EXPECT_TRUE(seen[1].goodWritten);
  EXPECT_TRUE(seen[0].running && seen[1].running);
  EXPECT_FALSE(fs::exists(out / "last.csv"));
  EXPECT_EQ(form_->StatusText(), "Cancelled");
  EXPECT_EQ(dialogs_.beeps, 1);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Closing the window during a run asks first; "No" lets the run go on, "Yes" stops it and
// the window closes once the workbook under way has removed its temporary file.
TEST_F(MainWindowTest, ClosingDuringARunAsksAndClosesOnceItHasStopped) {
  const fs::path data = root_.path() / "data";
  const fs::path out = root_.path() / "out";
  fs::create_directories(data);
  WriteLargeXlsx((data / "big.xlsx").string());
  WriteSettings({{"Destination", out.string()}});
  Open();
  form_->Ekle(S((data / "big.xlsx").string()));
  bool visibleAfterNo = false;
  int stage = 0;
  DuringRun during(form_, [&] {
    if (stage == 0) {
      dialogs_.questionAnswer = QMessageBox::No;
      Action("Exit1")->trigger();
      visibleAfterNo = form_->isVisible() && form_->RunUnderWay();
      ++stage;
      return false;
    }
    dialogs_.questionAnswer = QMessageBox::Yes;
    form_->close();
    return true;
  });
  Convert()->click();

  EXPECT_FALSE(during.timedOut);
  EXPECT_TRUE(visibleAfterNo);
  ASSERT_EQ(dialogs_.questions.size(), 2u);
  EXPECT_EQ(dialogs_.questions[0].message, "Cancel the conversion and close?");
  EXPECT_EQ(dialogs_.questions[0].title, "Confirmation");
  EXPECT_FALSE(form_->isVisible());
  EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(MainWindowTest, EmptyDestinationIsReportedByTheGeneralErrorReport) {
  Open();
  form_->Ekle("/data/a.xlsx");
  Find<QLineEdit>("Edit1")->clear();
  Convert()->click();
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].caption, "Cellverter");
  EXPECT_EQ(dialogs_.boxes[0].text, "Unable to create directory.");
  EXPECT_EQ(dialogs_.beeps, 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, DestinationThatCannotBeCreatedGivesAWarning) {
  WriteBytes((root_.path() / "file").string(), "");
  Open();
  form_->Ekle("/data/a.xlsx");
  const std::string folder = (root_.path() / "file" / "sub").string();
  Find<QLineEdit>("Edit1")->setText(S(folder));
  Convert()->click();
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].caption, "WARNING");
  EXPECT_EQ(dialogs_.boxes[0].icon, QMessageBox::Warning);
  EXPECT_EQ(dialogs_.boxes[0].text,
            S("Cannot create folder \"" + folder + "\". " + SystemMessage(ENOTDIR)));
  EXPECT_EQ(dialogs_.beeps, 0);
}

TEST_F(MainWindowTest, ConvertMenuItemOnlyBeepsOnAnEmptyList) {
  Open();
  Settle();
  const QString before = form_->StatusText();
  Action("ConverttoCSV1")->trigger();
  EXPECT_EQ(dialogs_.beeps, 1);
  EXPECT_TRUE(dialogs_.boxes.empty());
  EXPECT_EQ(form_->StatusText(), before);
}

// ---- settings handlers

TEST_F(MainWindowTest, FieldsAndEncodingAreStoredAtOnce) {
  Open();
  auto* edit1 = Find<QLineEdit>("Edit1");
  edit1->clear();
  QTest::keyClicks(edit1, "/o");
  EXPECT_NE(settingsText().find("Destination=/o\r\n"), std::string::npos);
  EXPECT_EQ(form_->LastFolder(), S(desktop()));  // typing does not move the dialogs' folder

  auto* edit2 = Find<QLineEdit>("Edit2");
  edit2->clear();
  QTest::keyClicks(edit2, "|");
  EXPECT_NE(settingsText().find("Separator=|\r\n"), std::string::npos);

  auto* combo = Find<QComboBox>("ComboBox1");
  combo->setCurrentIndex(4);
  emit combo->activated(4);  // what a user's choice sends
  EXPECT_NE(settingsText().find("Encoding=UTF16LEBOM\r\n"), std::string::npos);
}

class OptionToggleTest : public MainWindowTest,
                         public ::testing::WithParamInterface<std::pair<const char*, const char*>> {
};

TEST_P(OptionToggleTest, StoresTrueThenFalse) {
  const auto [item, key] = GetParam();
  Open();
  Action(item)->trigger();
  EXPECT_TRUE(Action(item)->isChecked());
  EXPECT_NE(settingsText().find(std::string(key) + "=True\r\n"), std::string::npos);
  Action(item)->trigger();
  EXPECT_FALSE(Action(item)->isChecked());
  EXPECT_NE(settingsText().find(std::string(key) + "=False\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Options, OptionToggleTest,
    ::testing::Values(std::pair{"AutomaticallyAddExcelFiles1", "AutomaticallyAddExcelFiles"},
                      std::pair{"AutomaticallyConverttoCSV1", "AutomaticallyConverttoCSV"},
                      std::pair{"AutomaticallyCloseApplication1", "AutomaticallyCloseApplication"},
                      std::pair{"IncludeSubfolders1", "IncludeSubfolders"},
                      std::pair{"StartMinimized1", "StartMinimized"}));

// The worksheet choice sits after the options; a pick is stored at once, replacing
// whatever word was there, and the next run is handed it.
TEST_F(MainWindowTest, WorksheetsChoiceIsStoredAtOnceAndHandedToTheRun) {
  WriteSettings({{"Worksheets", "Every"}});
  Open();
  const QList<QAction*> settings = Find<QMenu>("Settings1")->actions();
  const qsizetype at = settings.indexOf(Find<QMenu>("Worksheets1")->menuAction());
  ASSERT_GT(at, 0);
  EXPECT_EQ(settings[at - 1], Action("StartMinimized1"));
  EXPECT_EQ(Find<QMenu>("Worksheets1")->title(), "Worksheets");
  QAction* first = Action("FirstWorksheet1");
  QAction* all = Action("AllWorksheets1");
  EXPECT_EQ(first->text(), "First Worksheet");
  EXPECT_EQ(all->text(), "All Worksheets");

  struct Pick {
    QAction* item;
    const char* stored;
    bool all;
  };
  for (const Pick& pick : {Pick{all, "Worksheets=All\r\n", true},
                           Pick{all, "Worksheets=All\r\n", true},  // picked again: stays
                           Pick{first, "Worksheets=First\r\n", false}}) {
    pick.item->trigger();
    EXPECT_EQ(all->isChecked(), pick.all) << pick.stored;
    EXPECT_EQ(first->isChecked(), !pick.all) << pick.stored;
    EXPECT_NE(settingsText().find(pick.stored), std::string::npos) << settingsText();
    const SheetChoice sheets = form_->ReadBatchInputs()->Sheets();
    EXPECT_EQ(sheets.all, pick.all);
    EXPECT_TRUE(sheets.sheets.empty());
  }
}

// Every language file beside the program names the worksheet choice in its own words in the
// window (which keys each file holds is checked with the language files themselves).
TEST_F(MainWindowTest, EveryLanguageNamesTheWorksheetsChoice) {
  const fs::path languages = programDir() / "Languages";
  fs::copy(fs::path(CELLVERTER_BIN_DIR) / "Languages", languages, fs::copy_options::recursive);
  std::vector<std::string> files;
  FindLanguageFiles(languages, files);
  ASSERT_FALSE(files.empty());

  // The first language id that chooses each file.
  std::map<std::string, int> idOfFile;
  std::string codes = ReadBytes((languages / "LanguageCodes.csv").string());
  if (codes.starts_with("\xEF\xBB\xBF")) codes.erase(0, 3);
  for (const QString& line : S(codes).split('\n', Qt::SkipEmptyParts)) {
    const QStringList fields = line.trimmed().split(',');
    if (fields.size() == 2) idOfFile.try_emplace(Q(fields[1]), fields[0].toInt());
  }

  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    ASSERT_TRUE(idOfFile.contains(file));
    SetUserInterfaceLanguageOverride(idOfFile.at(file));
    Open();
    SetUserInterfaceLanguageOverride(std::nullopt);
    ASSERT_EQ(Language().LanguageFile.filename(), file);
    const QStringList english = {"Worksheets", "First Worksheet", "All Worksheets"};
    const QStringList shown = {Find<QMenu>("Worksheets1")->title(),
                               Action("FirstWorksheet1")->text(), Action("AllWorksheets1")->text()};
    for (qsizetype i = 0; i < shown.size(); ++i) {
      EXPECT_FALSE(shown[i].trimmed().isEmpty()) << Q(english[i]);
      EXPECT_NE(Q(shown[i]), Q(english[i]));
    }
    EXPECT_NE(shown[1], shown[2]);
    EXPECT_NE(Q(Action("ConversionOptions1")->text()), "Conversion Options...");
    const TConversionOptionsForm options(CsvOptions{});
    EXPECT_NE(Q(options.windowTitle()), "Conversion Options");
    for (const auto& [name, caption] :
         {std::pair{"ValuesDisplayed1", "Displayed text"}, std::pair{"ValuesRaw1", "Stored values"},
          std::pair{"SkipHidden1", "Leave out hidden rows, columns and sheets"},
          std::pair{"FillMerged1", "Fill merged areas"},
          std::pair{"Trim1", "Trim trailing empty rows and columns"},
          std::pair{"QuoteAll1", "Quote every field"}}) {
      const auto* button = options.findChild<QAbstractButton*>(name);
      ASSERT_NE(button, nullptr) << name;
      EXPECT_FALSE(button->text().trimmed().isEmpty()) << name;
      EXPECT_NE(Q(button->text()), caption);
    }
    form_.reset();
  }
}

// ---- conversion options

struct StoredOptionsCase {
  const char* name;
  std::map<std::string, std::string> stored;
  const char* expected;  // Describe() of what the run and the dialog get
};

class StoredOptionsTest : public MainWindowTest,
                          public ::testing::WithParamInterface<StoredOptionsCase> {};

// Only the exact words count; anything else is the default, and the window leaves every
// stored word as it was until the user changes that option.
TEST_P(StoredOptionsTest, RunAndDialogGetTheStoredOptions) {
  WriteSettings(GetParam().stored);
  Open();
  EXPECT_EQ(Describe(form_->ReadBatchInputs()->Options()), GetParam().expected);
  std::string shown;
  EXPECT_TRUE(AnswerOptionsDialog(
      [&](TConversionOptionsForm& dialog) { shown = Describe(dialog.Chosen(CsvOptions{})); }));
  EXPECT_EQ(shown, GetParam().expected);
  const std::string text = settingsText();
  for (const auto& [key, value] : GetParam().stored) {
    EXPECT_NE(text.find("\n" + key + "=" + value + "\r\n"), std::string::npos) << key;
  }
  for (const char* key : {"Values", "SkipHidden", "FillMerged", "Trim", "Quoting", "LineEnding"}) {
    if (!GetParam().stored.contains(key)) {
      EXPECT_EQ(text.find(std::string("\n") + key + "="), std::string::npos) << text;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredOptionsTest,
    ::testing::Values(StoredOptionsCase{"Absent", {}, "displayed crlf"},
                      StoredOptionsCase{"EveryOtherWord",
                                        {{"Values", "Raw"},
                                         {"SkipHidden", "1"},
                                         {"FillMerged", "1"},
                                         {"Trim", "1"},
                                         {"Quoting", "All"},
                                         {"LineEnding", "LF"}},
                                        "raw skip-hidden fill-merged trim quote-all lf"},
                      StoredOptionsCase{"DefaultWords",
                                        {{"Values", "Displayed"},
                                         {"SkipHidden", "0"},
                                         {"FillMerged", "0"},
                                         {"Trim", "0"},
                                         {"Quoting", "Minimal"},
                                         {"LineEnding", "CRLF"}},
                                        "displayed crlf"},
                      StoredOptionsCase{"WrongCaseAndUnknownWordsAreDefaults",
                                        {{"Values", "raw"},
                                         {"SkipHidden", "True"},
                                         {"FillMerged", "yes"},
                                         {"Trim", "2"},
                                         {"Quoting", "all"},
                                         {"LineEnding", "lf"}},
                                        "displayed crlf"},
                      StoredOptionsCase{"SomeKnownSomeNot",
                                        {{"Values", "Raw"}, {"Trim", "01"}, {"LineEnding", "LF"}},
                                        "raw lf"}),
    [](const ::testing::TestParamInfo<StoredOptionsCase>& c) { return c.param.name; });

// The dialog sits below the worksheet choice. Cancel keeps the file as it was; OK writes the
// options the user changed at once (a key left alone keeps its word, an unknown one too) and
// the next run, unattended or not, writes its CSV with them; OK with nothing changed writes
// nothing. Reset to Defaults takes them away with the file.
TEST_F(MainWindowTest, ConversionOptionsDialogStoresWhatChangedAndTheRunUsesIt) {
  const fs::path out = root_.path() / "out";
  const fs::path book = root_.path() / "book.xlsx";
  WriteTinyXlsx(book.string(), {{"a", "b c"}, {"1", ""}});
  WriteSettings({{"Destination", out.string()}, {"Values", "Exact"}});
  Open();
  const QList<QAction*> settings = Find<QMenu>("Settings1")->actions();
  const qsizetype at = settings.indexOf(Action("ConversionOptions1"));
  ASSERT_GT(at, 0);
  EXPECT_EQ(settings[at - 1], Find<QMenu>("Worksheets1")->menuAction());
  EXPECT_EQ(Action("ConversionOptions1")->text(), "Conversion Options...");

  const std::string before = settingsText();
  EXPECT_TRUE(AnswerOptionsDialog([](TConversionOptionsForm& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Conversion Options");
    dialog.findChild<QCheckBox*>("QuoteAll1")->click();
    dialog.findChild<QPushButton*>("OptionsCancel")->click();
  }));
  EXPECT_EQ(settingsText(), before);

  EXPECT_TRUE(AnswerOptionsDialog([](TConversionOptionsForm& dialog) {
    dialog.findChild<QCheckBox*>("QuoteAll1")->click();
    dialog.findChild<QRadioButton*>("LineEndingLf1")->click();
    dialog.findChild<QPushButton*>("OptionsOK")->click();
  }));
  std::string text = settingsText();
  for (const char* line : {"\nQuoting=All\r\n", "\nLineEnding=LF\r\n", "\nValues=Exact\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  for (const char* key : {"SkipHidden", "FillMerged", "Trim"}) {
    EXPECT_EQ(text.find(key), std::string::npos) << text;
  }
  form_->Ekle(S(book.string()));
  Convert()->click();
  EXPECT_EQ(ReadBytes((out / "book.csv").string()), "\"a\",\"b c\"\n\"1\",\"\"\n");

  struct stat stored {};
  ASSERT_EQ(::stat(settingsPath().c_str(), &stored), 0);
  std::string shown;
  EXPECT_TRUE(AnswerOptionsDialog([&](TConversionOptionsForm& dialog) {
    shown = Describe(dialog.Chosen(CsvOptions{}));
    dialog.findChild<QPushButton*>("OptionsOK")->click();
  }));
  EXPECT_EQ(shown, "displayed quote-all lf");
  struct stat after {};
  ASSERT_EQ(::stat(settingsPath().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, stored.st_ino);  // not written again

  EXPECT_TRUE(AnswerOptionsDialog([](TConversionOptionsForm& dialog) {
    dialog.findChild<QCheckBox*>("QuoteAll1")->click();
    dialog.findChild<QRadioButton*>("ValuesRaw1")->click();
    dialog.findChild<QPushButton*>("OptionsOK")->click();
  }));
  text = settingsText();
  for (const char* line : {"\nQuoting=Minimal\r\n", "\nLineEnding=LF\r\n", "\nValues=Raw\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  Convert()->click();
  EXPECT_EQ(ReadBytes((out / "book (2).csv").string()), "a,b c\n1,\n");

  dialogs_.questionAnswer = QMessageBox::Yes;
  Action("ResettoDefaults1")->trigger();
  EXPECT_FALSE(fs::exists(settingsPath()));
  form_.reset();
  Open();
  EXPECT_EQ(Describe(form_->ReadBatchInputs()->Options()), "displayed crlf");
  EXPECT_EQ(settingsText().find("Quoting"), std::string::npos);
}

// A workbook whose formulas carry no calculated value converts without a box (an unattended
// run must not stop); the count stays in the status until the next workbook begins, and
// where the run says "Completed".
TEST_F(MainWindowTest, FormulasWithoutValueAreNamedInTheStatus) {
  const fs::path out = root_.path() / "out";
  const fs::path formulas = root_.path() / "formulas.xlsx";
  testing_support::TestWorkbook book;
  book.sheets = {
      {"<row r=\"1\"><c r=\"A1\"><f>1+1</f></c><c r=\"B1\"><v>5</v></c>"
       "<c r=\"C1\"><f>B1*2</f></c></row>"}};
  WriteBytes(formulas.string(), book.Zip());
  WriteTinyXlsx((root_.path() / "plain.xlsx").string(), {{"y"}});
  WriteSettings({{"Destination", out.string()}});
  Open();
  form_->Ekle(S(formulas.string()));
  form_->Ekle(S((root_.path() / "plain.xlsx").string()));
  PaintRecorder recorder(Find<QLabel>("StatusPanel"));
  Convert()->click();

  EXPECT_TRUE(dialogs_.boxes.empty());
  const QString warning = "\"" + S(formulas.string()) +
                          "\": 2 formula cells have no calculated value and are written empty";
  const qsizetype shown = recorder.painted.indexOf(warning);
  EXPECT_GE(shown, 0) << Q(recorder.painted.join(" | "));
  EXPECT_GT(
      recorder.painted.indexOf("Converting " + S((root_.path() / "plain.xlsx").string()) + "..."),
      shown);
  EXPECT_EQ(ReadBytes((out / "formulas.csv").string()), ",5,\r\n");
  // The warning would vanish under "Completed" at once: it stays named there.
  EXPECT_EQ(form_->StatusText(), "Completed (" + warning + ")");
}

TEST_F(MainWindowTest, BrowseSetsDestinationAndLastFolder) {
  const std::string chosen = (root_.path() / "chosen").string();
  Open();
  dialogs_.folderAnswers = {{}, {S(chosen)}};
  Find<QPushButton>("ButtonBrowse")->click();  // cancelled: nothing changes
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), S(desktop()));
  Find<QPushButton>("ButtonBrowse")->click();
  ASSERT_EQ(dialogs_.folderRequests.size(), 2u);
  EXPECT_FALSE(dialogs_.folderRequests[1].multiple);
  EXPECT_EQ(dialogs_.folderRequests[1].startFolder, S(desktop()));
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), S(chosen));
  EXPECT_EQ(form_->LastFolder(), S(chosen));
  EXPECT_NE(settingsText().find("Destination=" + chosen + "\r\n"), std::string::npos);
}

TEST_F(MainWindowTest, ResetToDefaultsDeletesTheSettingsAndStartsAgain) {
  Open();
  Action("StartMinimized1")->trigger();
  dialogs_.questionAnswer = QMessageBox::No;
  Action("ResettoDefaults1")->trigger();
  EXPECT_TRUE(fs::exists(settingsPath()));
  EXPECT_TRUE(form_->isVisible());
  ASSERT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_EQ(dialogs_.questions[0].message, "Restart Application?");
  EXPECT_EQ(dialogs_.questions[0].title, "Confirmation");
  EXPECT_EQ(dialogs_.questions[0].captions, QStringList({"Yes", "No"}));

  dialogs_.questionAnswer = QMessageBox::Yes;
  Action("ResettoDefaults1")->trigger();
  EXPECT_FALSE(fs::exists(settingsPath()));
  EXPECT_EQ(dialogs_.startedPrograms, QStringList({S(exe().string())}));
  EXPECT_FALSE(form_->isVisible());
  Settle();
  EXPECT_FALSE(fs::exists(settingsPath()));  // nothing writes the file afterwards
}

// With a language beside the program, the question and the warning speak it; the window's
// own texts stay English.
TEST_F(MainWindowTest, ResetQuestionAndWarningAreTranslated) {
  fs::copy(fs::path(CELLVERTER_BIN_DIR) / "Languages", programDir() / "Languages",
           fs::copy_options::recursive);
  SetUserInterfaceLanguageOverride(1031);  // German
  Open();
  SetUserInterfaceLanguageOverride(std::nullopt);
  Action("ResettoDefaults1")->trigger();
  ASSERT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_EQ(dialogs_.questions[0].message, "Anwendung neu starten?");
  EXPECT_EQ(dialogs_.questions[0].title, "Bestätigung");
  EXPECT_EQ(dialogs_.questions[0].captions, QStringList({"Ja", "Nein"}));

  WriteBytes((root_.path() / "file").string(), "");
  form_->Ekle("/data/a.xlsx");
  Find<QLineEdit>("Edit1")->setText(S((root_.path() / "file" / "sub").string()));
  Convert()->click();
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].caption, "WARNUNG");
  EXPECT_EQ(Find<QPushButton>("ButtonConvert")->text(), "Convert to CSV");
  EXPECT_EQ(Find<QPushButton>("ButtonCancel")->text(), "Abbrechen");
}

TEST_F(MainWindowTest, FailedSettingsWriteIsReportedAndTheProgramGoesOn) {
  Open();
  // A folder in the file's place: no write can replace it, whoever runs the test.
  fs::remove(settingsPath());
  fs::create_directory(settingsPath());
  Action("IncludeSubfolders1")->trigger();
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].caption, "Cellverter");
  EXPECT_EQ(dialogs_.boxes[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(dialogs_.boxes[0].text.endsWith('.'));
  EXPECT_TRUE(dialogs_.boxes[0].text.contains("settings.ini")) << Q(dialogs_.boxes[0].text);
  EXPECT_TRUE(form_->isVisible());
  EXPECT_TRUE(Action("IncludeSubfolders1")->isChecked());
}

// ---- help and exit

TEST_F(MainWindowTest, OnlineHelpOpensTheHelpPageAlsoWithF1) {
  Open();
  Action("Help2")->trigger();
  ASSERT_EQ(dialogs_.urls.size(), 1u);
  EXPECT_EQ(dialogs_.urls[0].toString(), "http://" CELLVERTER_TEST_MAKER_HOST "/help/cellverter/");
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  QTest::keyClick(List(), Qt::Key_F1);
  EXPECT_EQ(dialogs_.urls.size(), 2u);
}

// Feedback and About open their modal windows over the main window.
TEST_F(MainWindowTest, FeedbackAndAboutOpenTheirWindows) {
  Open();
  for (const auto& [item, window] : {std::pair{"SendFeedback1", "cellverter::TFeedbackForm"},
                                     std::pair{"About1", "cellverter::TAboutBox"}}) {
    QString opened;
    QTimer::singleShot(0, [&opened] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        opened = modal->metaObject()->className();
        modal->close();
      }
    });
    Action(item)->trigger();
    EXPECT_EQ(opened, window) << item;
  }
}

TEST_F(MainWindowTest, StartTimerTicksOnlyOnce) {
  Open();
  EXPECT_FALSE(Find<QTimer>("TimerStart")->isActive());
}

TEST_F(MainWindowTest, ExitClosesTheWindow) {
  Open();
  Action("Exit1")->trigger();
  EXPECT_FALSE(form_->isVisible());
}

// ---- the automatic run

TEST_F(MainWindowTest, AutomaticRunWithAllOptionsOffChangesNothing) {
  Open();
  Settle();
  EXPECT_EQ(form_->StatusText(), "");
  EXPECT_FALSE(form_->isMinimized());
  EXPECT_TRUE(form_->isVisible());
}

TEST_F(MainWindowTest, AutomaticRunOnlyMinimizes) {
  WriteSettings({{"StartMinimized", "True"}, {"AutomaticallyCloseApplication", "True"}});
  Open();
  Settle();
  EXPECT_TRUE(form_->isMinimized());
  EXPECT_EQ(form_->StatusText(), "Minimized");
  EXPECT_TRUE(form_->isVisible());
}

TEST_F(MainWindowTest, AutomaticRunWithoutWorkbooksStaysOpen) {
  WriteSettings({{"AutomaticallyAddExcelFiles", "True"},
                 {"AutomaticallyConverttoCSV", "True"},
                 {"AutomaticallyCloseApplication", "True"}});
  Open();
  Settle();
  EXPECT_EQ(form_->StatusText(), "Finished folder scan");
  EXPECT_EQ(List()->rowCount(), 0);
  EXPECT_TRUE(form_->isVisible());
}

TEST_F(MainWindowTest, AutomaticRunConvertsIntoTheStoredDestinationAndStaysOpen) {
  const fs::path out = root_.path() / "out";
  WriteTinyXlsx((programDir() / "book.xlsx").string(), {{"1"}});
  WriteSettings({{"AutomaticallyAddExcelFiles", "True"},
                 {"AutomaticallyConverttoCSV", "True"},
                 {"Destination", out.string()}});
  Open();
  Settle();
  EXPECT_EQ(form_->StatusText(), "Automatically converted to CSV");
  EXPECT_EQ(ReadBytes((out / "book.csv").string()), "1\r\n");
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), S(out.string()));
  EXPECT_TRUE(form_->isVisible());
}

// "All Worksheets": each listed workbook gives a file per worksheet, named after it; the
// chart sheet gives none. The unattended run honours the choice as a click would.
TEST_F(MainWindowTest, AutomaticRunWithAllWorksheetsConvertsEveryWorksheet) {
  const fs::path out = root_.path() / "out";
  WriteBytes((programDir() / "book.xls").string(),
             logical::WriteXls(logical::ThreeWorksheetsAndAChart()));
  WriteTinyXlsx((programDir() / "single.xlsx").string(), {{"1"}});
  WriteSettings({{"AutomaticallyAddExcelFiles", "True"},
                 {"AutomaticallyConverttoCSV", "True"},
                 {"Worksheets", "All"},
                 {"Destination", out.string()}});
  Open();
  Settle();
  EXPECT_EQ(form_->StatusText(), "Automatically converted to CSV");
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(out)) {
    files[entry.path().filename().string()] = ReadBytes(entry.path().string());
  }
  EXPECT_EQ(files,
            (std::map<std::string, std::string>{{"book - Alpha.csv", "alpha,1\r\n"},
                                                {"book - Beta.csv", "beta\r\n2\r\n"},
                                                // ANSI, the default encoding, has no omega.
                                                {"book - G\xC3\xA4mma.csv", "gamma ?,,3.5\r\n"},
                                                {"single - Sheet1.csv", "1\r\n"}}));
}

TEST_F(MainWindowTest, AutomaticRunWithoutDestinationConvertsIntoTheProgramFolderAndCloses) {
  WriteTinyXlsx((programDir() / "one.xlsx").string(), {{"1"}});
  WriteTinyXlsx((programDir() / "two.xlsx").string(), {{"2"}});
  WriteSettings({{"StartMinimized", "True"},
                 {"AutomaticallyAddExcelFiles", "True"},
                 {"AutomaticallyConverttoCSV", "True"},
                 {"AutomaticallyCloseApplication", "True"}});
  Open();
  Settle();
  EXPECT_EQ(form_->StatusText(), "Automatically closing application...");
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(ReadBytes((programDir() / "one.csv").string()), "1\r\n");
  EXPECT_EQ(ReadBytes((programDir() / "two.csv").string()), "2\r\n");
  EXPECT_EQ(settingsText().find("Destination"), std::string::npos);
}

// Cancelled, the unattended run goes on as after "Completed": it closes the window.
TEST_F(MainWindowTest, AutomaticRunThatIsCancelledStillCloses) {
  const fs::path out = root_.path() / "out";
  WriteLargeXlsx((programDir() / "big.xlsx").string());
  WriteSettings({{"AutomaticallyAddExcelFiles", "True"},
                 {"AutomaticallyConverttoCSV", "True"},
                 {"AutomaticallyCloseApplication", "True"},
                 {"Destination", out.string()}});
  QString statusAtCancel;
  DuringRun during(form_, [&] {
    statusAtCancel = form_->StatusText();
    if (!statusAtCancel.startsWith("Converting ")) return false;
    form_->findChild<QPushButton*>("ButtonCancel")->click();
    return true;
  });
  Open();
  EXPECT_TRUE(QTest::qWaitFor([this] { return !form_->isVisible(); }, 60000));
  EXPECT_FALSE(during.timedOut);
  EXPECT_TRUE(
      statusAtCancel.startsWith("Converting " + S((programDir() / "big.xlsx").string()) + "..."))
      << Q(statusAtCancel);
  EXPECT_EQ(form_->StatusText(), "Automatically closing application...");
  EXPECT_TRUE(fs::is_empty(out));
}

}  // namespace
}  // namespace cellverter
