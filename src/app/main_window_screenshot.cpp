// Draws the main window with a few listed workbooks into PNG files for the documentation,
// at 1x and 2x. Usage: cellverter-window-screenshot PROGRAM OUTPUT.png [OUTPUT@2x.png]
// PROGRAM is the built cellverter executable; it is copied into a temporary folder so that
// the window's settings.ini lands there.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/main_window.h"
#include "app/main_window_dialogs.h"

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
    QApplication::exit(status);
  });
  application.exec();
  return status;
}
