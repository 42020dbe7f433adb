#pragma once

#include <QObject>
#include <QUrl>

#include <vector>

#include "box_answerer.h"
#include "mouse.h"
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

}  // namespace cellverter::testing_support
