#include "app/main_window_dialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QTreeView>

namespace cellverter {

QStringList DesktopDialogs::OpenFiles(QWidget* parent, const QString& startFolder,
                                      const QStringList& filters) {
  QFileDialog dialog(parent);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The patterns spell out both letter cases; the names alone read better.
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setNameFilters(filters);
  if (!filters.isEmpty()) dialog.selectNameFilter(filters.front());
  dialog.setDefaultSuffix("xls");
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (!startFolder.isEmpty()) dialog.setDirectory(startFolder);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QStringList DesktopDialogs::PickFolders(QWidget* parent, const QString& title,
                                        const QString& acceptLabel, const QString& startFolder,
                                        bool multiple) {
  QFileDialog dialog(parent, title);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  dialog.setLabelText(QFileDialog::Accept, acceptLabel);
  if (multiple) {
    // Qt's folder mode picks one folder; its own (non-native) dialog lets the views
    // select several, which selectedFiles() then returns in view order.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    for (auto* view : dialog.findChildren<QListView*>()) {
      view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    for (auto* view : dialog.findChildren<QTreeView*>()) {
      view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
  }
  if (!startFolder.isEmpty()) {
    dialog.setDirectory(startFolder);
    dialog.selectFile(startFolder);
  }
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

void DesktopDialogs::ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                 const QString& text) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

QMessageBox::StandardButton DesktopDialogs::MessageDialogWithCaptions(
    QWidget* parent, const QString& message, QMessageBox::Icon type,
    QMessageBox::StandardButtons buttons, const QString& title, const QStringList& captions) {
  // A window that stays on top would hide the dialog; lift that while it is shown.
  QWidget* window = parent ? parent->window() : nullptr;
  const bool onTop = window && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
  if (onTop) {
    window->setWindowFlag(Qt::WindowStaysOnTopHint, false);
    window->show();
  }
  QMessageBox box(type, title, message, buttons, parent);
  box.setTextFormat(Qt::PlainText);
  qsizetype next = 0;
  for (unsigned flag = QMessageBox::FirstButton; flag <= QMessageBox::LastButton; flag <<= 1) {
    if (!(buttons & flag)) continue;
    if (next >= captions.size()) break;
    if (QAbstractButton* button = box.button(static_cast<QMessageBox::StandardButton>(flag))) {
      button->setText(captions[next++]);
    }
  }
  const auto answer = static_cast<QMessageBox::StandardButton>(box.exec());
  if (onTop) {
    window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    window->show();
  }
  return answer;
}

void DesktopDialogs::Beep() { QApplication::beep(); }

void DesktopDialogs::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

void DesktopDialogs::StartProgram(const QString& executable) {
  QProcess::startDetached(executable, {});
}

}  // namespace cellverter
