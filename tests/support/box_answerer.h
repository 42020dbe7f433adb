#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <vector>

namespace cellverter::testing_support {

// What a message box showed.
struct BoxSeen {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title;
  QString text;
  Qt::TextFormat format = Qt::AutoText;
  QStringList buttons;
};

// Answers every message box that opens while it lives by pressing its first button, and
// keeps what each box showed: the real boxes run, the test reads them. `beforeClose` runs
// while a box is still open.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(std::function<void()> beforeClose = {});
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  const std::vector<BoxSeen>& boxes() const { return boxes_; }

 private:
  std::function<void()> beforeClose_;
  std::vector<BoxSeen> boxes_;
  QTimer timer_;
};

}  // namespace cellverter::testing_support
