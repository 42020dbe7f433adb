#include "qt_application.h"

#include <QApplication>

namespace cellverter::testing_support {

void StartOffscreenApplication() {
  if (QApplication::instance()) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "window_tests";
  static char* argv[] = {name, nullptr};
  (new QApplication(argc, argv))->setQuitOnLastWindowClosed(false);
}

}  // namespace cellverter::testing_support
