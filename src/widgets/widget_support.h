#pragma once

#include <QFont>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace cellverter {

// The translated text of a key (i18n/translate.h) as a QString.
QString Tr(const char* key);

// A font of `family` at a size in pixels, so that it looks the same at every screen density.
QFont FontOf(const char* family, int pixelSize, bool bold = false);

// An SVG picture rendered for the screen's pixel density, so it stays sharp at 2x.
QPixmap SvgPixmap(const QString& resource, QSize size, qreal ratio);

}  // namespace cellverter
