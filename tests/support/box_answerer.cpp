#include "box_answerer.h"

#include <QAbstractButton>
#include <QApplication>

#include <utility>

namespace cellverter::testing_support {

BoxAnswerer::BoxAnswerer(std::function<void()> beforeClose) : beforeClose_(std::move(beforeClose)) {
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    BoxSeen seen{box->icon(), box->windowTitle(), box->text(), box->textFormat(), {}};
    for (QAbstractButton* button : box->buttons()) seen.buttons << button->text();
    boxes_.push_back(seen);
    if (beforeClose_) beforeClose_();
    box->buttons().value(0)->click();
  });
  timer_.start(5);
}

}  // namespace cellverter::testing_support
