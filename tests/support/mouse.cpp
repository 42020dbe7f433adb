#include "mouse.h"

#include <QApplication>
#include <QMouseEvent>

namespace cellverter::testing_support {

void SendMouse(QWidget* widget, QEvent::Type type, QPoint local, Qt::MouseButton button) {
  const QPointF global = widget->mapToGlobal(QPointF(local));
  const Qt::MouseButtons held =
      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
  QMouseEvent event(type, QPointF(local), global, type == QEvent::MouseMove ? Qt::NoButton : button,
                    held, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

}  // namespace cellverter::testing_support
