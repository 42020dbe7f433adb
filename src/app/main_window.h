#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "app/main_window_rules.h"
#include "convert/batch_run.h"

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTableWidget;
class QTimer;
class QToolButton;

namespace cellverter {

class SettingsStore;
class UpdateCheckUi;
class WindowDialogs;

// The main window of the desktop program. Handlers carry the names of the controls and
// events they answer; every rule they apply lives in a Qt-free function.
class TAppForm : public QMainWindow, private AutomaticRunHost {
  Q_OBJECT

 public:
  // `executablePath` is the program's own file: its version data names the program, its
  // folder holds Languages/ and (when writable) settings.ini, and the automatic run scans
  // it. Throws cellverter::Error when the version data cannot be read.
  TAppForm(WindowDialogs& dialogs, const QString& executablePath, QWidget* parent = nullptr);
  ~TAppForm() override;

  // Appends one row to the source list; checks nothing.
  void Ekle(const QString& str);
  // Enables "Convert to CSV" exactly while the list holds a row.
  void ListeDegisti();
  // Scans one folder into the list between its two status texts.
  void AddMyFolder(const QString& foldername);

  // Takes paths as a drop does: a folder becomes the destination, anything else is listed.
  // The program passes its command-line arguments here ("Open with" of a file manager).
  void AddDroppedPaths(const QStringList& names);

  QString StatusText() const;
  const QString& LastFolder() const { return lastFolder_; }
  // True from the click on "Convert to CSV" until its run has ended.
  bool RunUnderWay() const { return run_ != nullptr; }
  // What a click on "Convert to CSV" hands to the run: the list, the destination, the
  // separator, the encoding and the worksheets, as the controls show them now, and the
  // conversion options as stored.
  std::unique_ptr<BatchInputs> ReadBatchInputs() const;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void AllowDropMessages();
  void BuildWindow();
  void BuildMenus();

  // Runs a command or timer handler; an error that escapes it is shown in the general
  // error report and the program goes on.
  void Guarded(const std::function<void()>& handler);
  void SetStatus(const QString& text);

  void ButtonAddClick();
  void AddExcelFiles1Click();
  void AddFolder1Click();
  void AddFolder2Click();
  void ButtonConvertClick();
  void ConverttoCSV1Click();
  void Delete1Click();
  void DeleteAll1Click();
  void ListView1Change();
  void Edit1Change();
  void Edit2Change();
  void ComboBox1Change(int index);
  void ButtonBrowseClick();
  void OptionClick(WindowOption option, QAction* item);
  void WorksheetsClick(std::string_view word);
  void ConversionOptions1Click();
  void ResettoDefaults1Click();
  void Help2Click();
  void Exit1Click();
  void SendFeedback1Click();
  void About1Click();
  void TimerStartTimer();
  void TimerCheckerTimer();
  void ButtonCancelClick();
  void TimerProgressTimer();
  // Enables or disables everything that would change a run under way.
  void SetRunControlsEnabled(bool enabled);

  // AutomaticRunHost
  bool OptionChecked(WindowOption option) override;
  void Minimize() override;
  void ShowStatus(const std::string& text) override;
  void ProcessMessages() override;
  void AddWorkbooksOfFolder(const std::string& folder) override;
  bool ConvertEnabled() override;
  std::string StoredDestination() override;
  void ShowDestinationUnstored(const std::string& folder) override;
  void ClickConvert() override;
  void CloseWindow() override;

  QAction* OptionItem(WindowOption option) const;

  class RunConnection;
  RunConnection* run_ = nullptr;  // the run under way, owned by ButtonConvertClick
  bool closeAfterRun_ = false;

  WindowDialogs& dialogs_;
  QString executablePath_;
  QString programFolder_;
  QString lastFolder_;
  std::unique_ptr<SettingsStore> settings_;
  std::unique_ptr<UpdateCheckUi> updateCheck_;

  QToolButton* buttonAdd_ = nullptr;
  QPushButton* buttonConvert_ = nullptr;
  QTableWidget* listView1_ = nullptr;
  QLineEdit* edit1_ = nullptr;
  QLineEdit* edit2_ = nullptr;
  QPushButton* buttonBrowse_ = nullptr;
  QComboBox* comboBox1_ = nullptr;
  QStatusBar* statusBar1_ = nullptr;
  QLabel* statusPanel_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* buttonCancel_ = nullptr;
  QTimer* timerProgress_ = nullptr;
  QMenu* settingsMenu_ = nullptr;
  QMenu* popupMenu1_ = nullptr;
  QMenu* popupMenu2_ = nullptr;
  QTimer* timerStart_ = nullptr;
  QTimer* timerChecker_ = nullptr;

  QAction* addExcelFiles1_ = nullptr;
  QAction* addFolder1_ = nullptr;
  QAction* addFolder2_ = nullptr;
  QAction* converttoCSV1_ = nullptr;
  QAction* exit1_ = nullptr;
  QAction* automaticallyAddExcelFiles1_ = nullptr;
  QAction* automaticallyConverttoCSV1_ = nullptr;
  QAction* automaticallyCloseApplication1_ = nullptr;
  QAction* includeSubfolders1_ = nullptr;
  QAction* startMinimized1_ = nullptr;
  QMenu* worksheets1_ = nullptr;
  QAction* firstWorksheet1_ = nullptr;
  QAction* allWorksheets1_ = nullptr;
  QAction* conversionOptions1_ = nullptr;
  QAction* resettoDefaults1_ = nullptr;
  QAction* help2_ = nullptr;
  QAction* updateNotifications1_ = nullptr;
  QAction* sendFeedback1_ = nullptr;
  QAction* about1_ = nullptr;
  QAction* delete1_ = nullptr;
  QAction* deleteAll1_ = nullptr;
  QAction* cancel1_ = nullptr;  // Esc during a run

  bool convertShowsEnabled_ = true;  // so the first ListeDegisti sets the image
};

}  // namespace cellverter
