#include "update/update_ui.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QMainWindow>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "http/local_maker.h"
#include "platform/app_values.h"
#include "scoped_environment.h"
#include "temp_dir.h"
#include "update/installation.h"
#include "update/new_version_window.h"
#include "window_support.h"

namespace cellverter {
namespace {

using testing_support::BoxAnswerer;
using testing_support::LocalMaker;
using testing_support::Options;
using testing_support::TempDir;

// The main window's side: the item as it creates it, the timer, the program's values and a
// configuration folder of its own.
class UpdateCheckUiTest : public ::testing::Test {
 protected:
  UpdateCheckUiTest() {
    environment.Set("XDG_CONFIG_HOME", config.path().c_str());
    App().appTitle = "KORVANE - Cellverter";
    App().appVersion = "2.1";
    App().productName = "Cellverter";
    item = new QAction("Update Notifications", &main);
    item->setCheckable(true);
    item->setChecked(true);
    item->setEnabled(false);
    timer.setInterval(1000);
    timer.start();
    QDesktopServices::setUrlHandler("https", &browser, "Open");
  }
  ~UpdateCheckUiTest() override { QDesktopServices::unsetUrlHandler("https"); }

  UpdateStore Store() { return UpdateStore::Open(config.path(), ApplicationKey(App().appTitle)); }

  // Ticks as TimerChecker would, only faster, until a tick has taken the result over.
  void TickUntilTakenOver(UpdateCheckUi& ui) {
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          ui.TimerCheckerTimer(&timer);
          return !timer.isActive();
        },
        15000));
  }

  TempDir config;
  testing_support::ScopedEnvironment environment;
  QMainWindow main;
  QAction* item = nullptr;
  QTimer timer;
  testing_support::UrlRecorder browser;
};

TEST_F(UpdateCheckUiTest, SwitchedOffCheckEnablesTheItemWithoutMark) {
  LocalMaker maker(Options([](auto& o) { o.currentVersion = "2.2"; }));
  Store().Write("ShowUpdate", "0");
  UpdateCheckUi ui(&main, item);
  ui.TimerCheckerTimer(&timer);  // the first tick only starts the thread
  EXPECT_TRUE(timer.isActive());
  EXPECT_FALSE(item->isEnabled());
  TickUntilTakenOver(ui);
  EXPECT_TRUE(item->isEnabled());
  EXPECT_FALSE(item->isChecked());
  EXPECT_EQ(ui.notice(), nullptr);
  EXPECT_TRUE(maker.https.Posts().empty());
}

TEST_F(UpdateCheckUiTest, NewVersionOpensTheNoticeAndTheItemSwitchesTheCheck) {
  LocalMaker maker(Options([](auto& o) {
    o.currentVersion = "2.2";
    o.downloadUrl = "https://example.test/get";
  }));
  UpdateCheckUi ui(&main, item);
  QObject::connect(item, &QAction::triggered, [&] { ui.UpdateNotifications1Click(); });
  TickUntilTakenOver(ui);
  EXPECT_EQ(maker.https.Posts().size(), 1u);
  EXPECT_TRUE(item->isEnabled());
  EXPECT_TRUE(item->isChecked());
  ASSERT_NE(ui.notice(), nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ui.notice()->isVisible(); }));
  EXPECT_EQ(ui.notice()->findChild<QLabel*>("Label2")->text(), "Click to download Cellverter 2.2");

  item->trigger();
  EXPECT_FALSE(item->isChecked());
  EXPECT_EQ(Store().Read("ShowUpdate"), "0");
  item->trigger();
  EXPECT_EQ(Store().Read("ShowUpdate"), "1");
}

TEST_F(UpdateCheckUiTest, ImportantMessageIsShownPlainBeforeTheNotice) {
  LocalMaker maker(Options([](auto& o) {
    o.currentVersion = "2.2";
    o.important = "Version <b>2.2</b> fixes a fault.";
  }));
  UpdateCheckUi ui(&main, item);
  bool noticeWhileBoxOpen = true;
  BoxAnswerer answerer([&] {
    ui.TimerCheckerTimer(&timer);  // the check is not finished while the box is open
    noticeWhileBoxOpen = ui.notice() != nullptr || !timer.isActive();
  });
  TickUntilTakenOver(ui);
  ASSERT_EQ(answerer.boxes().size(), 1u);
  EXPECT_EQ(answerer.boxes()[0].icon, QMessageBox::Warning);
  EXPECT_EQ(answerer.boxes()[0].title, "IMPORTANT");
  EXPECT_EQ(answerer.boxes()[0].text, "Version <b>2.2</b> fixes a fault.");
  EXPECT_EQ(answerer.boxes()[0].format, Qt::PlainText);
  EXPECT_FALSE(noticeWhileBoxOpen);
  EXPECT_NE(ui.notice(), nullptr);
}

TEST_F(UpdateCheckUiTest, LeavingWhileTheCheckWaitsDoesNotWaitForIt) {
  // The server answers only after 30 s; the window side goes away long before.
  LocalMaker maker(Options([](auto& o) { o.delay = std::chrono::seconds(30); }));
  {
    UpdateCheckUi ui(&main, item);
    ui.TimerCheckerTimer(&timer);
    EXPECT_TRUE(QTest::qWaitFor([&] { return maker.https.Posts().size() == 1; }, 10000));
  }
  EXPECT_FALSE(item->isEnabled());  // nothing was taken over
}

}  // namespace
}  // namespace cellverter
