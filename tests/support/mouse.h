#pragma once

#include <QEvent>
#include <QPoint>
#include <QWidget>

namespace cellverter::testing_support {

// Sends one mouse event to `widget` at its local point, with the matching screen point, as
// the pointer would: a press holds its button, a move carries the held button, a release
// holds none.
void SendMouse(QWidget* widget, QEvent::Type type, QPoint local, Qt::MouseButton button);

}  // namespace cellverter::testing_support
