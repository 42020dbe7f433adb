// Draws the new-version notice into a PNG file for the documentation:
//   cellverter-notice-screenshot docs/notice.png src/app/icons/cellverter.svg
#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <iostream>

#include "update/new_version_window.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::cerr << "usage: cellverter-notice-screenshot OUTPUT.png [ICON]\n";
    return 2;
  }
  QApplication app(argc, argv);
  if (argc == 3) QApplication::setWindowIcon(QIcon(QString::fromLocal8Bit(argv[2])));
  cellverter::TNewVer notice("2.2", "https://example.test/download", "Cellverter", nullptr);
  int result = 1;
  // Past the grow animation, well before the notice closes by itself.
  QTimer::singleShot(600, [&] {
    result = notice.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return result;
}
