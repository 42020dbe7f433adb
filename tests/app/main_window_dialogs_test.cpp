// The real dialogs behind the window's seam, answered by a timer as a user would.
#include "app/main_window_dialogs.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QTimer>
#include <QTreeView>

#include <functional>

#include "qt_application.h"

namespace cellverter {
namespace {

// Runs `answer` on the modal window as soon as it is up.
void WhenModalShows(std::function<void(QWidget*)> answer) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, answer] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      answer(modal);
    }
  });
  poll->start(5);
}

TEST(DesktopDialogsTest, MessageDialogWithCaptionsNamesTheButtonsInOrder) {
  testing_support::StartOffscreenApplication();
  DesktopDialogs dialogs;
  QStringList texts;
  QString title;
  WhenModalShows([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    texts << box->button(QMessageBox::Yes)->text() << box->button(QMessageBox::No)->text();
    box->button(QMessageBox::Yes)->click();
  });
  const auto answer = dialogs.MessageDialogWithCaptions(
      nullptr, "Anwendung neu starten?", QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
      "Bestätigung", {"Ja", "Nein"});
  EXPECT_EQ(answer, QMessageBox::Yes);
  EXPECT_EQ(title, "Bestätigung");
  EXPECT_EQ(texts, QStringList({"Ja", "Nein"}));
}

TEST(DesktopDialogsTest, MessageTextIsShownAsPlainText) {
  testing_support::StartOffscreenApplication();
  DesktopDialogs dialogs;
  Qt::TextFormat format = Qt::RichText;
  WhenModalShows([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    format = box->textFormat();
    box->accept();
  });
  dialogs.ShowMessage(nullptr, QMessageBox::Critical, "ERROR",
                      "Cannot open \"<b>report</b>.xlsx\". Not a workbook");
  EXPECT_EQ(format, Qt::PlainText);
}

TEST(DesktopDialogsTest, FolderDialogForSeveralFoldersLetsItsViewsSelectMany) {
  testing_support::StartOffscreenApplication();
  DesktopDialogs dialogs;
  QString title, accept;
  bool manyInEveryView = true;
  int views = 0;
  WhenModalShows([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    accept = dialog->labelText(QFileDialog::Accept);
    for (auto* view : dialog->findChildren<QAbstractItemView*>()) {
      if (qobject_cast<QListView*>(view) || qobject_cast<QTreeView*>(view)) {
        if (view->objectName() == "sidebar") continue;
        manyInEveryView &= view->selectionMode() == QAbstractItemView::ExtendedSelection;
        ++views;
      }
    }
    dialog->reject();
  });
  const QStringList chosen =
      dialogs.PickFolders(nullptr, "Select folder:", "Select", QDir::tempPath(), /*multiple=*/true);
  EXPECT_TRUE(chosen.isEmpty());
  EXPECT_EQ(title, "Select folder:");
  EXPECT_EQ(accept, "Select");
  EXPECT_GT(views, 0);
  EXPECT_TRUE(manyInEveryView);
}

}  // namespace
}  // namespace cellverter
