// Draws the Conversion Options dialog into a PNG file for the documentation:
//   cellverter-options-screenshot docs/conversion-options.png
// Run it under xvfb-run (or any display) so that fonts render as on a desktop.
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "app/conversion_options_form.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
    return 2;
  }
  QApplication application(argc, argv);
  cellverter::CsvOptions shown;
  shown.values = cellverter::CellValues::kRaw;
  shown.trim = true;
  shown.lineEnding = cellverter::LineEnding::kLf;
  cellverter::TConversionOptionsForm form(shown);
  form.show();
  int status = 1;
  QTimer::singleShot(300, [&] {
    status = form.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
    QApplication::exit(status);
  });
  application.exec();
  return status;
}
