#include "app/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "about/about_box.h"
#include "app/conversion_options_form.h"
#include "app/main_window_dialogs.h"
#include "app/settings_store.h"
#include "app/version_info.h"
#include "convert/batch_run.h"
#include "convert/csv_encoding.h"
#include "feedback/feedback_form.h"
#include "i18n/translate.h"
#include "platform/ansi_code_page.h"
#include "platform/app_values.h"
#include "sources/folder_scan.h"
#include "sources/source_rules.h"
#include "update/update_ui.h"

// The window's images, from a static library: registered once before the first window.
static void RegisterWindowImages() { Q_INIT_RESOURCE(resources); }

#ifndef CELLVERTER_MAKER_HOST
#define CELLVERTER_MAKER_HOST "cellverter.example.net"
#endif

namespace cellverter {
namespace {

std::string ToUtf8(const QString& text) { return text.toStdString(); }
QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

QIcon Image(const char* name) { return QIcon(QStringLiteral(":/icons/%1.svg").arg(name)); }

// The controls' fixed inputs plus the worksheets chosen in the Settings menu.
class WindowBatchInputs : public FixedBatchInputs {
 public:
  WindowBatchInputs(std::vector<std::string> workbooks, std::string destination, CsvOptions options,
                    SheetChoice sheets)
      : FixedBatchInputs(std::move(workbooks), std::move(destination), std::move(options)),
        sheets_(std::move(sheets)) {}
  SheetChoice Sheets() override { return sheets_; }

 private:
  SheetChoice sheets_;
};

void ReadStoredConversionOptions(const SettingsStore& settings, CsvOptions& options) {
  ReadConversionSettings(
      [&settings](std::string_view key) {
        return settings.Document().Value(kSettingsSection, key);
      },
      options);
}

// Sizes of the window at 96 dots per inch.
constexpr int kClientWidth = 663;
constexpr int kClientHeight = 390;
constexpr int kButtonPanelHeight = 41;
constexpr int kFieldPanelHeight = 30;
// A few progress updates a second at most, whatever the pace of the rows.
constexpr int kProgressIntervalMs = 250;
constexpr int kProgressScale = 10000;  // RunProgressPermyriad

// The status panel keeps its whole text and leaves out the middle of what does not fit, so
// the name of the workbook under way stays in sight; its width never widens the window.
class StatusPanel : public QLabel {
 public:
  explicit StatusPanel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
  }
};

}  // namespace

TAppForm::TAppForm(WindowDialogs& dialogs, const QString& executablePath, QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs), executablePath_(executablePath) {
  RegisterWindowImages();
  programFolder_ = FromUtf8(ProgramFolder(std::filesystem::path(ToUtf8(executablePath))));
  BuildWindow();
  BuildMenus();
  FormCreate();
}

TAppForm::~TAppForm() {
  // The list's model announces its rows' removal while the children are destroyed.
  listView1_->model()->disconnect(this);
  listView1_->selectionModel()->disconnect(this);
}

void TAppForm::BuildWindow() {
  setObjectName("AppForm");
  // For every window of the program, the new-version notice and the message boxes too.
  QApplication::setWindowIcon(Image("cellverter"));
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* panel1 = new QWidget(central);
  panel1->setObjectName("Panel1");
  panel1->setFixedHeight(kButtonPanelHeight);
  auto* panel1Row = new QHBoxLayout(panel1);
  panel1Row->setContentsMargins(3, 3, 3, 3);
  panel1Row->setSpacing(6);

  buttonAdd_ = new QToolButton(panel1);
  buttonAdd_->setObjectName("ButtonAdd");
  buttonAdd_->setText("Add Excel Files...");
  buttonAdd_->setIcon(Image("add"));
  buttonAdd_->setIconSize(QSize(24, 24));
  buttonAdd_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  buttonAdd_->setPopupMode(QToolButton::MenuButtonPopup);
  buttonAdd_->setFixedSize(190, 35);
  popupMenu2_ = new QMenu(buttonAdd_);
  popupMenu2_->setObjectName("PopupMenu2");
  addFolder2_ = popupMenu2_->addAction(Image("folder_add"), "Add Folder...");
  addFolder2_->setObjectName("AddFolder2");
  buttonAdd_->setMenu(popupMenu2_);
  connect(buttonAdd_, &QToolButton::clicked, this,
          [this] { Guarded([this] { ButtonAddClick(); }); });
  connect(addFolder2_, &QAction::triggered, this,
          [this] { Guarded([this] { AddFolder2Click(); }); });

  buttonConvert_ = new QPushButton("Convert to CSV", panel1);
  buttonConvert_->setObjectName("ButtonConvert");
  buttonConvert_->setIconSize(QSize(24, 24));
  buttonConvert_->setFixedSize(190, 35);
  connect(buttonConvert_, &QPushButton::clicked, this,
          [this] { Guarded([this] { ButtonConvertClick(); }); });
  panel1Row->addWidget(buttonAdd_);
  panel1Row->addWidget(buttonConvert_);
  panel1Row->addStretch(1);
  column->addWidget(panel1);

  listView1_ = new QTableWidget(0, 1, central);
  listView1_->setObjectName("ListView1");
  listView1_->setHorizontalHeaderLabels({"Filename"});
  listView1_->horizontalHeader()->setStretchLastSection(true);
  listView1_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  listView1_->horizontalHeader()->setHighlightSections(false);
  listView1_->verticalHeader()->setVisible(false);
  listView1_->verticalHeader()->setDefaultSectionSize(listView1_->fontMetrics().height() + 4);
  listView1_->setShowGrid(true);
  listView1_->setSelectionBehavior(QAbstractItemView::SelectRows);
  listView1_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  listView1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  listView1_->setWordWrap(false);
  listView1_->setTextElideMode(Qt::ElideMiddle);
  listView1_->setContextMenuPolicy(Qt::CustomContextMenu);
  popupMenu1_ = new QMenu(listView1_);
  popupMenu1_->setObjectName("PopupMenu1");
  delete1_ = popupMenu1_->addAction("Delete");
  delete1_->setObjectName("Delete1");
  // The Delete key works in the list itself, not only through its menu.
  delete1_->setShortcut(QKeySequence(Qt::Key_Delete));
  delete1_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  listView1_->addAction(delete1_);
  deleteAll1_ = popupMenu1_->addAction("Delete All");
  deleteAll1_->setObjectName("DeleteAll1");
  connect(delete1_, &QAction::triggered, this, [this] { Guarded([this] { Delete1Click(); }); });
  connect(deleteAll1_, &QAction::triggered, this,
          [this] { Guarded([this] { DeleteAll1Click(); }); });
  connect(listView1_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    popupMenu1_->popup(listView1_->viewport()->mapToGlobal(at));
  });
  auto changed = [this] { Guarded([this] { ListView1Change(); }); };
  connect(listView1_->model(), &QAbstractItemModel::rowsInserted, this, changed);
  connect(listView1_->model(), &QAbstractItemModel::rowsRemoved, this, changed);
  connect(listView1_->model(), &QAbstractItemModel::modelReset, this, changed);
  connect(listView1_->selectionModel(), &QItemSelectionModel::selectionChanged, this, changed);
  column->addWidget(listView1_, 1);

  auto* panel2 = new QWidget(central);
  panel2->setObjectName("Panel2");
  panel2->setFixedHeight(kFieldPanelHeight);
  auto* panel2Row = new QHBoxLayout(panel2);
  panel2Row->setContentsMargins(0, 0, 3, 0);
  panel2Row->setSpacing(6);
  auto* label1 = new QLabel("Destination Folder:", panel2);
  label1->setObjectName("Label1");
  label1->setMinimumWidth(100);
  label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edit1_ = new QLineEdit(panel2);
  edit1_->setObjectName("Edit1");
  edit1_->setMinimumWidth(277);   // and wider with the window
  edit1_->setAcceptDrops(false);  // a drop anywhere on the window is the window's
  buttonBrowse_ = new QPushButton(Image("folder32"), "Browse...", panel2);
  buttonBrowse_->setObjectName("ButtonBrowse");
  buttonBrowse_->setFixedSize(101, 30);
  connect(buttonBrowse_, &QPushButton::clicked, this,
          [this] { Guarded([this] { ButtonBrowseClick(); }); });
  panel2Row->addWidget(label1);
  panel2Row->addWidget(edit1_, 1);
  panel2Row->addWidget(buttonBrowse_);
  column->addWidget(panel2);

  auto* panel3 = new QWidget(central);
  panel3->setObjectName("Panel3");
  panel3->setFixedHeight(kFieldPanelHeight);
  auto* panel3Row = new QHBoxLayout(panel3);
  panel3Row->setContentsMargins(0, 0, 3, 0);
  panel3Row->setSpacing(6);
  auto* label2 = new QLabel("CSV Separator:", panel3);
  label2->setObjectName("Label2");
  label2->setMinimumWidth(100);
  label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edit2_ = new QLineEdit(panel3);
  edit2_->setObjectName("Edit2");
  edit2_->setFixedWidth(44);
  edit2_->setAcceptDrops(false);
  auto* label3 = new QLabel("Encoding:", panel3);
  label3->setObjectName("Label3");
  comboBox1_ = new QComboBox(panel3);
  comboBox1_->setObjectName("ComboBox1");
  comboBox1_->setFixedWidth(174);
  for (const auto& info : kCsvEncodings) {
    comboBox1_->addItem(QString::fromUtf8(info.listText.data(), qsizetype(info.listText.size())));
  }
  panel3Row->addWidget(label2);
  panel3Row->addWidget(edit2_);
  panel3Row->addSpacing(6);
  panel3Row->addWidget(label3);
  panel3Row->addWidget(comboBox1_);
  panel3Row->addStretch(1);
  column->addWidget(panel3);

  // 100 pixels at 96 dpi; wider where the font needs it, both labels alike so that the
  // fields line up.
  const int labelWidth = std::max({100, label1->sizeHint().width(), label2->sizeHint().width()});
  label1->setFixedWidth(labelWidth);
  label2->setFixedWidth(labelWidth);

  setCentralWidget(central);

  statusBar1_ = new QStatusBar(this);
  statusBar1_->setObjectName("StatusBar1");
  statusBar1_->setSizeGripEnabled(true);
  statusPanel_ = new StatusPanel(statusBar1_);
  statusPanel_->setObjectName("StatusPanel");
  statusPanel_->setTextFormat(Qt::PlainText);
  statusBar1_->addWidget(statusPanel_, 1);
  // Shown only while a run lasts.
  progressBar_ = new QProgressBar(statusBar1_);
  progressBar_->setObjectName("ProgressBar1");
  progressBar_->setRange(0, kProgressScale);
  progressBar_->setFixedWidth(200);
  buttonCancel_ = new QPushButton("Cancel", statusBar1_);
  buttonCancel_->setObjectName("ButtonCancel");
  buttonCancel_->setAutoDefault(false);
  connect(buttonCancel_, &QPushButton::clicked, this,
          [this] { Guarded([this] { ButtonCancelClick(); }); });
  statusBar1_->addPermanentWidget(progressBar_);
  statusBar1_->addPermanentWidget(buttonCancel_);
  progressBar_->hide();
  buttonCancel_->hide();
  setStatusBar(statusBar1_);
  cancel1_ = new QAction(this);
  cancel1_->setObjectName("Cancel1");
  cancel1_->setShortcut(QKeySequence(Qt::Key_Escape));
  cancel1_->setEnabled(false);
  addAction(cancel1_);
  connect(cancel1_, &QAction::triggered, this,
          [this] { Guarded([this] { ButtonCancelClick(); }); });

  timerStart_ = new QTimer(this);
  timerStart_->setObjectName("TimerStart");
  timerStart_->setInterval(1);
  connect(timerStart_, &QTimer::timeout, this, [this] { Guarded([this] { TimerStartTimer(); }); });
  timerChecker_ = new QTimer(this);
  timerChecker_->setObjectName("TimerChecker");
  timerChecker_->setInterval(1000);
  connect(timerChecker_, &QTimer::timeout, this,
          [this] { Guarded([this] { TimerCheckerTimer(); }); });
  timerProgress_ = new QTimer(this);
  timerProgress_->setObjectName("TimerProgress");
  timerProgress_->setInterval(kProgressIntervalMs);
  connect(timerProgress_, &QTimer::timeout, this,
          [this] { Guarded([this] { TimerProgressTimer(); }); });
}

void TAppForm::BuildMenus() {
  auto guarded = [this](QAction* action, void (TAppForm::*handler)()) {
    connect(action, &QAction::triggered, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  auto item = [](QMenu* menu, const char* name, const QString& caption, const char* icon) {
    QAction* action = icon ? menu->addAction(Image(icon), caption) : menu->addAction(caption);
    action->setObjectName(name);
    return action;
  };

  QMenu* file = menuBar()->addMenu("&File");
  file->setObjectName("File1");
  addExcelFiles1_ = item(file, "AddExcelFiles1", "Add Excel Files...", "add");
  addExcelFiles1_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  addFolder1_ = item(file, "AddFolder1", "Add Folder...", "folder_add");
  file->addSeparator();
  converttoCSV1_ = item(file, "ConverttoCSV1", "Convert to CSV", "save48");
  file->addSeparator();
  exit1_ = item(file, "Exit1", "Exit", "exit");
  guarded(addExcelFiles1_, &TAppForm::AddExcelFiles1Click);
  guarded(addFolder1_, &TAppForm::AddFolder1Click);
  guarded(converttoCSV1_, &TAppForm::ConverttoCSV1Click);
  guarded(exit1_, &TAppForm::Exit1Click);

  QMenu* settings = menuBar()->addMenu("&Settings");
  settings->setObjectName("Settings1");
  settingsMenu_ = settings;
  auto option = [&](const char* name, const QString& caption, WindowOption which) {
    QAction* action = item(settings, name, caption, nullptr);
    action->setCheckable(true);
    connect(action, &QAction::triggered, this, [this, which, action] {
      Guarded([this, which, action] { OptionClick(which, action); });
    });
    return action;
  };
  automaticallyAddExcelFiles1_ =
      option("AutomaticallyAddExcelFiles1", "Automatically Add Excel Files",
             WindowOption::AutomaticallyAddExcelFiles);
  automaticallyConverttoCSV1_ = option("AutomaticallyConverttoCSV1", "Automatically Convert to CSV",
                                       WindowOption::AutomaticallyConverttoCSV);
  automaticallyCloseApplication1_ =
      option("AutomaticallyCloseApplication1", "Automatically Close Application",
             WindowOption::AutomaticallyCloseApplication);
  settings->addSeparator();
  includeSubfolders1_ =
      option("IncludeSubfolders1", "Include Subfolders", WindowOption::IncludeSubfolders);
  startMinimized1_ = option("StartMinimized1", "Start Minimized", WindowOption::StartMinimized);
  // Captions in English until the language is loaded (FormCreate translates them).
  worksheets1_ = settings->addMenu("Worksheets");
  worksheets1_->setObjectName("Worksheets1");
  auto* worksheetGroup = new QActionGroup(worksheets1_);  // exclusive: radio items
  auto worksheet = [&](const char* name, const char* caption, std::string_view word) {
    QAction* action = item(worksheets1_, name, caption, nullptr);
    action->setCheckable(true);
    worksheetGroup->addAction(action);
    connect(action, &QAction::triggered, this,
            [this, word] { Guarded([this, word] { WorksheetsClick(word); }); });
    return action;
  };
  firstWorksheet1_ = worksheet("FirstWorksheet1", "First Worksheet", kFirstWorksheetWord);
  allWorksheets1_ = worksheet("AllWorksheets1", "All Worksheets", kAllWorksheetsWord);
  conversionOptions1_ = item(settings, "ConversionOptions1", "Conversion Options...", nullptr);
  guarded(conversionOptions1_, &TAppForm::ConversionOptions1Click);
  settings->addSeparator();
  resettoDefaults1_ = item(settings, "ResettoDefaults1", "Reset to Defaults...", nullptr);
  guarded(resettoDefaults1_, &TAppForm::ResettoDefaults1Click);

  QMenu* help = menuBar()->addMenu("&Help");
  help->setObjectName("Help1");
  help2_ = item(help, "Help2", "Online Help", "help");
  help2_->setShortcut(QKeySequence(Qt::Key_F1));
  help2_->setShortcutContext(Qt::WindowShortcut);
  help->addSeparator();
  updateNotifications1_ = item(help, "UpdateNotifications1", "Update Notifications", nullptr);
  updateNotifications1_->setCheckable(true);
  updateNotifications1_->setChecked(true);
  updateNotifications1_->setEnabled(false);
  QAction* bar = help->addSeparator();
  bar->setObjectName("UpdateNotificationsBar");
  sendFeedback1_ = item(help, "SendFeedback1", "Send &Feedback...", "feedback");
  about1_ = item(help, "About1", "&About...", "about");
  guarded(help2_, &TAppForm::Help2Click);
  updateCheck_ = std::make_unique<UpdateCheckUi>(this, updateNotifications1_);
  connect(updateNotifications1_, &QAction::triggered, this,
          [this] { Guarded([this] { updateCheck_->UpdateNotifications1Click(); }); });
  guarded(sendFeedback1_, &TAppForm::SendFeedback1Click);
  guarded(about1_, &TAppForm::About1Click);
}

void TAppForm::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    dialogs_.ShowMessage(this, QMessageBox::Critical, "Cellverter",
                         FromUtf8(GeneralErrorText(error.what())));
  }
}

void TAppForm::SetStatus(const QString& text) { statusPanel_->setText(text); }

QString TAppForm::StatusText() const { return statusPanel_->text(); }

// ---- source list

void TAppForm::Ekle(const QString& str) {
  const int row = listView1_->rowCount();
  listView1_->insertRow(row);
  auto* cell = new QTableWidgetItem(str);
  cell->setToolTip(str);
  listView1_->setItem(row, 0, cell);
}

void TAppForm::ListeDegisti() {
  const bool enabled = listView1_->rowCount() > 0;
  buttonConvert_->setEnabled(enabled && !RunUnderWay());
  if (enabled == convertShowsEnabled_) return;
  convertShowsEnabled_ = enabled;
  const char* image = enabled ? "save48" : "saveblack48";
  buttonConvert_->setIcon(Image(image));
  buttonConvert_->setProperty("imageName", QString(image));
}

void TAppForm::ListView1Change() { ListeDegisti(); }

void TAppForm::Delete1Click() {
  QList<int> rows;
  for (const QModelIndex& index : listView1_->selectionModel()->selectedRows()) {
    rows.append(index.row());
  }
  std::sort(rows.begin(), rows.end(), std::greater<int>());
  for (int row : rows) listView1_->removeRow(row);
  ListeDegisti();
}

void TAppForm::DeleteAll1Click() {
  listView1_->setRowCount(0);
  ListeDegisti();
}

void TAppForm::AddExcelFiles1Click() { buttonAdd_->click(); }

void TAppForm::AddFolder2Click() { addFolder1_->trigger(); }

void TAppForm::AddMyFolder(const QString& foldername) {
  cellverter::AddMyFolder(
      ToUtf8(foldername), includeSubfolders1_->isChecked(),
      [this](const std::string& path) { Ekle(FromUtf8(path)); },
      [this](const std::string& text) {
        SetStatus(FromUtf8(text));
        // Painted at once: the scan keeps the window busy until it ends.
        statusBar1_->repaint();
      });
}

void TAppForm::dragEnterEvent(QDragEnterEvent* event) {
  if (RunUnderWay() || !event->mimeData()->hasUrls()) return;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) {
      event->acceptProposedAction();
      return;
    }
  }
}

void TAppForm::dropEvent(QDropEvent* event) {
  if (RunUnderWay()) return;
  QStringList names;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) names << url.toLocalFile();
  }
  event->acceptProposedAction();
  Guarded([this, &names] { AddDroppedPaths(names); });
}

void TAppForm::AddDroppedPaths(const QStringList& names) {
  for (const QString& name : names) {
    if (QFileInfo(name).isDir()) {
      // A dropped folder becomes the destination; it is not scanned.
      lastFolder_ = name;
      edit1_->setText(name);
    } else {
      Ekle(name);
    }
  }
}

// ---- start-up

void TAppForm::FormCreate() {
  TEXEVersionData version;
  ReadEXEVersionData(std::filesystem::path(ToUtf8(executablePath_)), version);
  AppValues& app = App();
  app.companyName = version.CompanyName;
  app.productName = version.ProductName;
  app.appVersion = AppVersionFromFileVersion(version.FileVersion);
  app.appTitle = app.companyName + " - " + app.productName;
  setWindowTitle(FromUtf8(app.appTitle));

  setAcceptDrops(true);
  AllowDropMessages();

  settings_ = std::make_unique<SettingsStore>(SettingsFolder(
      std::filesystem::path(ToUtf8(programFolder_)), app.companyName, app.productName));

  lastFolder_ = FromUtf8(settings_->ReadString(kDestinationKey, DefaultDestination()));
  {
    const QSignalBlocker detached(edit1_);
    edit1_->setText(lastFolder_);
  }
  connect(edit1_, &QLineEdit::textChanged, this, [this] { Guarded([this] { Edit1Change(); }); });

  // Attached before the field is filled, so a stored separator is written again at start.
  connect(edit2_, &QLineEdit::textChanged, this, [this] { Guarded([this] { Edit2Change(); }); });
  edit2_->setText(FromUtf8(settings_->ReadString(kSeparatorKey, DefaultSeparator())));

  comboBox1_->setCurrentIndex(
      EncodingIndexFromStoredWord(settings_->ReadString(kEncodingKey, kDefaultEncoding)));
  connect(comboBox1_, &QComboBox::activated, this,
          [this](int index) { Guarded([this, index] { ComboBox1Change(index); }); });

  for (WindowOption option :
       {WindowOption::AutomaticallyAddExcelFiles, WindowOption::AutomaticallyConverttoCSV,
        WindowOption::AutomaticallyCloseApplication, WindowOption::IncludeSubfolders,
        WindowOption::StartMinimized}) {
    OptionItem(option)->setChecked(settings_->ReadBool(OptionKey(option)));
  }
  (settings_->ReadString(kWorksheetsKey, kFirstWorksheetWord) == kAllWorksheetsWord
       ? allWorksheets1_
       : firstWorksheet1_)
      ->setChecked(true);

  LoadLanguage(std::filesystem::path(ToUtf8(programFolder_)));
  buttonCancel_->setText(FromUtf8(Translate("Cancel")));
  worksheets1_->setTitle(FromUtf8(Translate("Worksheets")));
  firstWorksheet1_->setText(FromUtf8(Translate("First Worksheet")));
  allWorksheets1_->setText(FromUtf8(Translate("All Worksheets")));
  conversionOptions1_->setText(FromUtf8(Translate("Conversion Options...")));

  ListeDegisti();
  resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  timerStart_->start();
  timerChecker_->start();
}

void TAppForm::AllowDropMessages() {
  // Drops from programs of any privilege reach a window here: there is no message filter
  // to open, so this stops at once.
}

// ---- settings handlers

void TAppForm::Edit1Change() { settings_->WriteString(kDestinationKey, ToUtf8(edit1_->text())); }

void TAppForm::Edit2Change() { settings_->WriteString(kSeparatorKey, ToUtf8(edit2_->text())); }

void TAppForm::ComboBox1Change(int index) {
  const std::string_view word = StoredWordOfIndex(index);
  if (word.empty()) {
    settings_->Save();
  } else {
    settings_->WriteString(kEncodingKey, word);
  }
}

void TAppForm::OptionClick(WindowOption option, QAction* item) {
  // The item has already turned its check mark over.
  settings_->WriteBool(OptionKey(option), item->isChecked());
}

void TAppForm::WorksheetsClick(std::string_view word) {
  settings_->WriteString(kWorksheetsKey, word);
}

void TAppForm::ConversionOptions1Click() {
  CsvOptions shown;
  ReadStoredConversionOptions(*settings_, shown);
  TConversionOptionsForm form(shown, this);
  if (form.exec() != QDialog::Accepted) return;
  const auto changed = ChangedConversionSettings(shown, form.Chosen(shown));
  if (!changed.empty()) settings_->WriteStrings(changed);
}

void TAppForm::ButtonBrowseClick() {
  const QStringList chosen = dialogs_.PickFolders(this, "Select folder:", "Select", lastFolder_,
                                                  /*multiple=*/false);
  if (chosen.isEmpty() || chosen.front().isEmpty()) return;
  lastFolder_ = chosen.front();
  edit1_->setText(chosen.front());
}

void TAppForm::ResettoDefaults1Click() {
  const QMessageBox::StandardButton answer = dialogs_.MessageDialogWithCaptions(
      this, FromUtf8(Translate("Restart Application?")), QMessageBox::Question,
      QMessageBox::Yes | QMessageBox::No, FromUtf8(Translate("Confirmation")),
      {FromUtf8(Translate("Yes")), FromUtf8(Translate("No"))});
  if (answer != QMessageBox::Yes) return;
  settings_->DeleteFile();
  QCoreApplication::processEvents();
  dialogs_.StartProgram(executablePath_);
  close();
}

// ---- adding files and folders

void TAppForm::ButtonAddClick() {
  QString start = FromUtf8(settings_->ReadString(kSourceDirectoryKey, ""));
  // The process's working folder means nothing to the user ("/" from a desktop menu).
  if (start.isEmpty() || !QFileInfo(start).isDir()) start = QDir::homePath();
  // "Any File" is "*" because many files have no dot.
  const QStringList chosen =
      dialogs_.OpenFiles(this, start, {FromUtf8(WorkbookNameFilter()), "Any File (*)"});
  if (chosen.isEmpty()) return;
  std::string folder;
  for (const QString& file : chosen) {
    folder = FolderPartOfPath(ToUtf8(file));
    Ekle(file);
  }
  if (!folder.empty()) settings_->WriteString(kSourceDirectoryKey, folder);
}

void TAppForm::AddFolder1Click() {
  const QStringList chosen = dialogs_.PickFolders(this, "Select folder:", "Select", lastFolder_,
                                                  /*multiple=*/true);
  if (chosen.isEmpty()) return;
  lastFolder_ = chosen.front();
  for (const QString& folder : chosen) AddMyFolder(folder);
}

// ---- the conversion run

// The run works on a thread of its own, so the window paints, moves and takes Cancel
// meanwhile. What the run shows reaches the window as queued calls, in the order the run
// makes them; a box is shown by the window while the run waits for it to close. Progress
// goes through atomics that a timer reads, so rows cost nothing but a store.
class TAppForm::RunConnection : public BatchObserver {
 public:
  explicit RunConnection(TAppForm& form) : form_(form) {}
  ~RunConnection() override {
    if (busy_) QApplication::restoreOverrideCursor();
  }
  RunConnection(const RunConnection&) = delete;
  RunConnection& operator=(const RunConnection&) = delete;

  // From the window's thread.
  void RequestStop() { stop_ = true; }
  struct Progress {
    std::size_t done, total;
    long long row, lastRow;
  };
  Progress Now() const { return {done_, total_, row_, lastRow_}; }

  // From the run's thread.
  void ShowStatus(const std::string& text) override {
    // A run that a stop ended says so where it would say "Completed".
    const bool cancelled = text == kCompletedStatusText && stopHonoured_;
    // The last workbook's notes would vanish under "Completed": a run that mended workbooks
    // names the last repair there.
    std::string shown = text == kCompletedStatusText && repairedWorkbooks_ > 0
                            ? CompletedWithRepairsText(repairedWorkbooks_, lastRepair_)
                            : text;
    if (text == kCompletedStatusText && unvaluedWorkbooks_ > 0) {
      shown += FormulasWithoutValueCompletionNote(unvaluedWorkbooks_, lastUnvalued_);
    }
    OnWindow([this, shown, cancelled] {
      form_.SetStatus(FromUtf8(cancelled ? Translate("Cancelled") : shown));
      form_.statusBar1_->repaint();
    });
  }
  void SetBusyCursor(bool busy) override {
    OnWindow([this, busy] { SetCursorNow(busy); });
  }
  void Beep() override {
    OnWindow([this] { form_.dialogs_.Beep(); });
  }
  void DestinationNotCreated(const std::string& folder, const std::string& systemMessage) override {
    WaitForWindow([this, &folder, &systemMessage] {
      form_.dialogs_.ShowMessage(&form_, QMessageBox::Warning, FromUtf8(Translate("WARNING")),
                                 FromUtf8(DestinationWarningText(folder, systemMessage)));
    });
  }
  void WorkbookFailed(std::size_t /*index*/, const std::string& /*workbook*/,
                      const std::string& message, ErrorKind /*kind*/) override {
    WaitForWindow([this, &message] {
      const bool wasBusy = busy_;
      SetCursorNow(false);
      form_.dialogs_.ShowMessage(&form_, QMessageBox::Critical, "ERROR", FromUtf8(message));
      SetCursorNow(wasBusy);
    });
  }
  void WorkbookStarting(std::size_t index, std::size_t count,
                        const std::string& workbook) override {
    workbook_ = workbook;
    row_ = 0;
    lastRow_ = 0;
    total_ = count;
    done_ = index;
  }
  void WorkbookConverted(std::size_t index, const std::string&,
                         const std::vector<std::string>&) override {
    done_ = index + 1;
  }
  // A range far larger than what the file holds writes mostly separators for a long time:
  // the status says why.
  void WorkbookUsedRange(std::size_t /*index*/, const UsedRangeSize& size) override {
    if (!size.FarLargerThanHeld()) return;
    ShowNote(SparseRangeStatusText(workbook_, size));
  }
  void WorkbookRepaired(std::size_t index, const std::string& repair) override {
    const std::string text = RepairedStatusText(workbook_, repair);
    if (lastRepairedIndex_ != index) ++repairedWorkbooks_;
    lastRepairedIndex_ = index;
    lastRepair_ = "\"" + workbook_ + "\": " + repair;
    ShowNote(text);
  }
  void WorkbookFormulasWithoutValue(std::size_t /*index*/, long long count) override {
    ++unvaluedWorkbooks_;
    lastUnvalued_ = FormulasWithoutValueText(workbook_, count);
    ShowNote(lastUnvalued_);
  }
  void WorkbookProgress(std::size_t /*index*/, long long row, long long lastRow) override {
    lastRow_ = lastRow;
    row_ = row;
  }
  bool StopRequested() override {
    if (!stop_) return false;
    stopHonoured_ = true;
    return true;
  }

 private:
  // A note about the workbook under way, in the status text until the next one starts.
  void ShowNote(const std::string& text) {
    OnWindow([this, text] {
      form_.SetStatus(FromUtf8(text));
      form_.statusBar1_->repaint();
    });
  }
  void OnWindow(std::function<void()> call) {
    QMetaObject::invokeMethod(&form_, std::move(call), Qt::QueuedConnection);
  }
  void WaitForWindow(std::function<void()> call) {
    QMetaObject::invokeMethod(&form_, std::move(call), Qt::BlockingQueuedConnection);
  }
  void SetCursorNow(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy) {
      QApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
  }

  TAppForm& form_;
  bool busy_ = false;     // the window's thread only
  std::string workbook_;  // the run's thread only
  // Workbooks of this run that their readers mended, and the last repair; the run's thread.
  std::size_t repairedWorkbooks_ = 0;
  std::optional<std::size_t> lastRepairedIndex_;
  std::string lastRepair_;
  // Workbooks with formulas that have no calculated value, and the last warning; likewise.
  std::size_t unvaluedWorkbooks_ = 0;
  std::string lastUnvalued_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> stopHonoured_{false};
  std::atomic<std::size_t> done_{0};
  std::atomic<std::size_t> total_{0};
  std::atomic<long long> row_{0};
  std::atomic<long long> lastRow_{0};
};

std::unique_ptr<BatchInputs> TAppForm::ReadBatchInputs() const {
  std::vector<std::string> workbooks;
  for (int row = 0; row < listView1_->rowCount(); ++row) {
    const QTableWidgetItem* item = listView1_->item(row, 0);
    workbooks.push_back(item ? ToUtf8(item->text()) : std::string());
  }
  CsvOptions options;
  options.separator = ToUtf8(edit2_->text());
  const int encoding = comboBox1_->currentIndex();
  options.encoding = encoding >= 0 && encoding < int(kCsvEncodings.size())
                         ? kCsvEncodings[std::size_t(encoding)].encoding
                         : CsvEncoding::Ansi;
  options.ansiCodePage = UserAnsiCodePage();
  ReadStoredConversionOptions(*settings_, options);
  SheetChoice sheets;
  sheets.all = allWorksheets1_->isChecked();
  return std::make_unique<WindowBatchInputs>(std::move(workbooks), ToUtf8(edit1_->text()), options,
                                             std::move(sheets));
}

void TAppForm::ButtonConvertClick() {
  if (RunUnderWay()) return;
  // Read here, on the window's thread. Nothing can change these while the run lasts (the
  // controls are disabled), so reading them once is reading them when the run would.
  const std::unique_ptr<BatchInputs> inputs = ReadBatchInputs();

  RunConnection run(*this);
  QEventLoop loop;
  std::exception_ptr failure;
  std::atomic<bool> finished{false};
  // Started before the window changes, so a thread that cannot start leaves it as it was.
  // The run's calls wait in the queue until the loop below takes them.
  std::thread worker([&] {
    try {
      RunBatch(*inputs, run);
    } catch (...) {
      failure = std::current_exception();
    }
    finished = true;
    // Queued behind every call of the run, so the window has shown them all when it ends.
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  run_ = &run;
  SetRunControlsEnabled(false);
  progressBar_->setValue(0);
  progressBar_->setFormat(QStringLiteral("0 / %1").arg(inputs->ItemCount()));
  progressBar_->show();
  buttonCancel_->setEnabled(true);
  buttonCancel_->show();
  timerProgress_->start();

  loop.exec();
  // Quitting the application ends every event loop at once: the run is stopped, and its
  // last calls (a box it waits for among them) still go through before the join.
  while (!finished) {
    run.RequestStop();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  QCoreApplication::sendPostedEvents(this);
  worker.join();

  timerProgress_->stop();
  progressBar_->hide();
  buttonCancel_->hide();
  run_ = nullptr;
  SetRunControlsEnabled(true);
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    close();
  }
  if (failure) std::rethrow_exception(failure);
}

void TAppForm::SetRunControlsEnabled(bool enabled) {
  for (QWidget* widget : std::initializer_list<QWidget*>{buttonAdd_, listView1_, edit1_,
                                                         buttonBrowse_, edit2_, comboBox1_}) {
    widget->setEnabled(enabled);
  }
  for (QAction* action : {addExcelFiles1_, addFolder1_, addFolder2_, converttoCSV1_, delete1_,
                          deleteAll1_, settingsMenu_->menuAction()}) {
    action->setEnabled(enabled);
  }
  cancel1_->setEnabled(!enabled);
  ListeDegisti();
}

void TAppForm::ButtonCancelClick() {
  if (!run_) return;
  run_->RequestStop();
  buttonCancel_->setEnabled(false);
}

void TAppForm::TimerProgressTimer() {
  if (!run_) return;
  const RunConnection::Progress now = run_->Now();
  progressBar_->setValue(RunProgressPermyriad(now.done, now.total, now.row, now.lastRow));
  progressBar_->setFormat(QStringLiteral("%1 / %2").arg(now.done).arg(now.total));
}

void TAppForm::closeEvent(QCloseEvent* event) {
  if (!RunUnderWay()) {
    QMainWindow::closeEvent(event);
    return;
  }
  // The run is asked to stop and the window closes once it has: the workbook under way
  // removes its temporary file on the way out.
  event->ignore();
  if (closeAfterRun_) return;
  Guarded([this] {
    const QMessageBox::StandardButton answer = dialogs_.MessageDialogWithCaptions(
        this, FromUtf8(Translate("Cancel the conversion and close?")), QMessageBox::Question,
        QMessageBox::Yes | QMessageBox::No, FromUtf8(Translate("Confirmation")),
        {FromUtf8(Translate("Yes")), FromUtf8(Translate("No"))});
    if (answer != QMessageBox::Yes) return;
    if (RunUnderWay()) {
      closeAfterRun_ = true;
      ButtonCancelClick();
    } else {
      // The run ended while the question was open.
      QTimer::singleShot(0, this, [this] { close(); });
    }
  });
}

// ---- menus of the shell

void TAppForm::SendFeedback1Click() {
  TFeedbackForm form(this);
  form.exec();
}

void TAppForm::About1Click() {
  TAboutBox box(this);
  box.exec();
}

void TAppForm::TimerCheckerTimer() {
  if (updateCheck_) updateCheck_->TimerCheckerTimer(timerChecker_);
}

std::string TAppForm::StoredDestination() { return settings_->ReadString(kDestinationKey, ""); }

// ---- menus of the shell (continued)

void TAppForm::Help2Click() {
  dialogs_.OpenUrl(QUrl(FromUtf8(HelpAddress(App().productName, CELLVERTER_MAKER_HOST))));
}

void TAppForm::Exit1Click() { close(); }

void TAppForm::ConverttoCSV1Click() {
  if (buttonConvert_->isEnabled()) {
    buttonConvert_->click();
  } else {
    dialogs_.Beep();
  }
}

// ---- automatic run

void TAppForm::TimerStartTimer() {
  timerStart_->stop();
  RunAutomaticStart(*this, ToUtf8(programFolder_));
}

QAction* TAppForm::OptionItem(WindowOption option) const {
  switch (option) {
    case WindowOption::AutomaticallyAddExcelFiles:
      return automaticallyAddExcelFiles1_;
    case WindowOption::AutomaticallyConverttoCSV:
      return automaticallyConverttoCSV1_;
    case WindowOption::AutomaticallyCloseApplication:
      return automaticallyCloseApplication1_;
    case WindowOption::IncludeSubfolders:
      return includeSubfolders1_;
    case WindowOption::StartMinimized:
      return startMinimized1_;
  }
  return nullptr;
}

bool TAppForm::OptionChecked(WindowOption option) { return OptionItem(option)->isChecked(); }

void TAppForm::Minimize() { showMinimized(); }

void TAppForm::ShowStatus(const std::string& text) { SetStatus(FromUtf8(text)); }

void TAppForm::ProcessMessages() { QCoreApplication::processEvents(); }

void TAppForm::AddWorkbooksOfFolder(const std::string& folder) { AddMyFolder(FromUtf8(folder)); }

bool TAppForm::ConvertEnabled() { return buttonConvert_->isEnabled(); }

void TAppForm::ShowDestinationUnstored(const std::string& folder) {
  const QSignalBlocker detached(edit1_);
  edit1_->setText(FromUtf8(folder));
}

void TAppForm::ClickConvert() { buttonConvert_->click(); }

void TAppForm::CloseWindow() { close(); }

}  // namespace cellverter
