#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qt_application.h"

namespace cellverter::testing_support {

// Stands in for the desktop's browser: QDesktopServices hands http(s) addresses to it.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }
};

// Presses OK on every message box that opens while it lives, keeping what it showed.
class BoxAnswerer {
 public:
  struct Seen {
    QMessageBox::Icon icon;
    QString title;
    QString text;
    Qt::TextFormat format;
  };
  // beforeClose runs while the box is still open.
  explicit BoxAnswerer(std::function<void()> beforeClose = {})
      : beforeClose_(std::move(beforeClose)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      seen.push_back({box->icon(), box->windowTitle(), box->text(), box->textFormat()});
      if (beforeClose_) beforeClose_();
      box->button(QMessageBox::Ok)->click();
    });
    timer_.start(20);
  }
  std::vector<Seen> seen;

 private:
  std::function<void()> beforeClose_;
  QTimer timer_;
};

// Sends a mouse event to widget at its local point, with the matching global point.
inline void SendMouse(QWidget* widget, QEvent::Type type, QPoint local, Qt::MouseButton button) {
  const QPointF global = widget->mapToGlobal(QPointF(local));
  Qt::MouseButtons held =
      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
  QMouseEvent event(type, QPointF(local), global, type == QEvent::MouseMove ? Qt::NoButton : button,
                    held, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

}  // namespace cellverter::testing_support
