// Draws the main window with a few listed workbooks into PNG files for the documentation,
// at 1x and 2x, and optionally during a run, its progress bar half way through a large
// workbook. Usage:
//   cellverter-window-screenshot PROGRAM OUTPUT.png [OUTPUT@2x.png [RUNNING.png]]
// PROGRAM is the built cellverter executable; it is copied into a temporary folder so that
// the window's settings.ini and the workbooks of the run land there.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/main_window_dialogs.h"
#include "tiny_xlsx.h"

namespace {

// Lists real workbooks (two small ones, one with a million rows, one more) and starts a
// run; half way through the large one the window is drawn and the run cancelled.
bool DrawRunning(cellverter::TAppForm& form, const QTemporaryDir& folder, const QString& output) {
  using cellverter::testing_support::WriteTinyXlsx;
  const QString reports = folder.filePath("Reports");
  QDir().mkpath(reports);
  const QString big = reports + "/inventory 2024.xlsx";
  std::vector<std::vector<std::string>> rows(1000000);
  rows.back().assign(26, "x");
  WriteTinyXlsx(big.toStdString(), rows);
  QStringList names = {reports + "/sales-north.xlsx", reports + "/sales-south.xlsx", big,
                       reports + "/budget 2025.xlsx"};
  for (const QString& name : names) {
    if (name != big) WriteTinyXlsx(name.toStdString(), {{"Region", "Sales"}, {"North", "12"}});
  }
  form.findChild<QAction*>("DeleteAll1")->trigger();
  for (const QString& name : names) form.Ekle(name);
  form.findChild<QLineEdit*>("Edit1")->setText(folder.filePath("csv"));

  auto* bar = form.findChild<QProgressBar*>("ProgressBar1");
  bool drawn = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    // Two workbooks done and the third under way, far enough to show.
    if (drawn || bar->value() < bar->maximum() * 5 / 8) return;
    drawn = form.grab().save(output);
    form.findChild<QPushButton*>("ButtonCancel")->click();
  });
  poll.start(20);
  form.findChild<QPushButton*>("ButtonConvert")->click();  // returns when the run has ended
  return drawn;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PROGRAM OUTPUT.png [OUTPUT@2x.png]\n", argv[0]);
    return 2;
  }
  QApplication application(argc, argv);
  QTemporaryDir folder;
  const QString program = folder.filePath("cellverter");
  if (!QFile::copy(QString::fromLocal8Bit(argv[1]), program)) {
    std::fprintf(stderr, "cannot copy %s\n", argv[1]);
    return 1;
  }
  qputenv("HOME", folder.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", folder.filePath(".config").toLocal8Bit());

  cellverter::DesktopDialogs dialogs;
  cellverter::TAppForm form(dialogs, program);
  for (const char* name :
       {"/home/ana/Reports/2024/sales-north.xlsx", "/home/ana/Reports/2024/sales-south.xlsx",
        "/home/ana/Reports/2024/Inventory Q4.XLS", "/home/ana/Reports/archive/budget 2023.xlsx"}) {
    form.Ekle(name);
  }
  form.findChild<QLineEdit*>("Edit1")->setText("/home/ana/Reports/csv");
  form.show();
  int status = 0;
  QTimer::singleShot(300, [&] {
    form.findChild<QLineEdit*>("Edit1")->deselect();
    const QPixmap shot = form.grab();
    if (!shot.save(QString::fromLocal8Bit(argv[2]))) status = 1;
    if (argc > 3) {
      // Twice the size, drawn at twice the resolution rather than scaled up.
      QPixmap sharp(form.size() * 2);
      sharp.setDevicePixelRatio(2);
      sharp.fill(Qt::transparent);
      form.render(&sharp);
      if (!sharp.save(QString::fromLocal8Bit(argv[3]))) status = 1;
    }
    if (argc > 4 && !DrawRunning(form, folder, QString::fromLocal8Bit(argv[4]))) status = 1;
    QApplication::exit(status);
  });
  application.exec();
  return status;
}
