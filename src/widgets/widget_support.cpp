#include "widgets/widget_support.h"

#include <QPainter>
#include <QSvgRenderer>

#include "i18n/translate.h"

namespace cellverter {

QString Tr(const char* key) { return QString::fromStdString(Translate(key)); }

QFont FontOf(const char* family, int pixelSize, bool bold) {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(pixelSize);
  if (bold) font.setBold(true);
  return font;
}

QPixmap SvgPixmap(const QString& resource, QSize size, qreal ratio) {
  QPixmap pixmap(size * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(resource);
  QPainter painter(&pixmap);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  return pixmap;
}

}  // namespace cellverter
