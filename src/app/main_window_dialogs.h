#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace cellverter {

// Everything the main window asks of the desktop beyond its own widgets: dialogs, boxes,
// the beep, the browser and starting a program. Tests put scripted answers behind it.
class WindowDialogs {
 public:
  virtual ~WindowDialogs() = default;

  // The file-open dialog: several files may be chosen. `filters` are Qt name filters,
  // the first one selected. Empty when cancelled.
  virtual QStringList OpenFiles(QWidget* parent, const QString& startFolder,
                                const QStringList& filters) = 0;

  // A folder-picking dialog titled `title` whose confirm button reads `acceptLabel`,
  // opened at `startFolder`. Several folders may be chosen when `multiple`. Empty when
  // cancelled.
  virtual QStringList PickFolders(QWidget* parent, const QString& title, const QString& acceptLabel,
                                  const QString& startFolder, bool multiple) = 0;

  // A modal box with one OK button. The text is always shown as plain text.
  virtual void ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                           const QString& text) = 0;

  // A modal question whose buttons carry the given captions, in the order of the
  // standard buttons (Yes before No); buttons beyond the captions keep their own text.
  virtual QMessageBox::StandardButton MessageDialogWithCaptions(
      QWidget* parent, const QString& message, QMessageBox::Icon type,
      QMessageBox::StandardButtons buttons, const QString& title, const QStringList& captions) = 0;

  virtual void Beep() = 0;
  virtual void OpenUrl(const QUrl& url) = 0;
  // Starts `executable` as a new, independent process without arguments.
  virtual void StartProgram(const QString& executable) = 0;
};

// The real dialogs of the desktop.
class DesktopDialogs : public WindowDialogs {
 public:
  QStringList OpenFiles(QWidget* parent, const QString& startFolder,
                        const QStringList& filters) override;
  QStringList PickFolders(QWidget* parent, const QString& title, const QString& acceptLabel,
                          const QString& startFolder, bool multiple) override;
  void ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                   const QString& text) override;
  QMessageBox::StandardButton MessageDialogWithCaptions(QWidget* parent, const QString& message,
                                                        QMessageBox::Icon type,
                                                        QMessageBox::StandardButtons buttons,
                                                        const QString& title,
                                                        const QStringList& captions) override;
  void Beep() override;
  void OpenUrl(const QUrl& url) override;
  void StartProgram(const QString& executable) override;
};

}  // namespace cellverter
