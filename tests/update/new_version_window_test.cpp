#include "update/new_version_window.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "http/server_exchange.h"
#include "window_support.h"

namespace cellverter {
namespace {

using testing_support::SendMouse;
using testing_support::UrlRecorder;

const auto* const kQt =
    ::testing::AddGlobalTestEnvironment(new testing_support::OffscreenApplication);

class NewVersionWindowTest : public ::testing::Test {
 protected:
  NewVersionWindowTest() {
    main.resize(400, 300);
    main.show();
    QDesktopServices::setUrlHandler("http", &browser, "Open");
    QDesktopServices::setUrlHandler("https", &browser, "Open");
  }
  ~NewVersionWindowTest() override {
    QDesktopServices::unsetUrlHandler("http");
    QDesktopServices::unsetUrlHandler("https");
  }

  // A notice that has grown into view.
  std::unique_ptr<TNewVer> Shown(const std::string& url = "https://example.test/get") {
    auto notice = std::make_unique<TNewVer>("2.2", url, "Cellverter", &main);
    const QRect home = notice->geometry();
    EXPECT_TRUE(QTest::qWaitFor([&] { return notice->isVisible() && notice->geometry() == home; }));
    return notice;
  }

  template <class T>
  T* Child(TNewVer& notice, const char* name) {
    return notice.findChild<T*>(name);
  }

  QMainWindow main;
  UrlRecorder browser;
};

TEST_F(NewVersionWindowTest, StandsNearTheTopRightCornerWithItsTexts) {
  TNewVer notice("2.2 <b>beta</b>", "https://example.test/get", "Cellverter", &main);
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(notice.geometry(), QRect(screen.right() + 1 - 320 - 5, screen.top() + 5,
                                     TNewVer::kClientWidth, TNewVer::kClientHeight));
  EXPECT_TRUE(notice.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(notice.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(notice.isVisible());  // shown by its first timer tick
  EXPECT_EQ(Child<QLabel>(notice, "Label1")->text(), "UPDATE AVAILABLE");
  auto* link = Child<QLabel>(notice, "Label2");
  EXPECT_EQ(link->text(), "Click to download Cellverter 2.2 <b>beta</b>");
  EXPECT_EQ(link->textFormat(), Qt::PlainText);
  EXPECT_TRUE(link->font().underline());
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(Child<QPushButton>(notice, "Button1")->size(), QSize(22, 22));
  for (const char* name : {"TimerStart", "TimerClose", "TimerLink"}) {
    auto* timer = Child<QTimer>(notice, name);
    ASSERT_NE(timer, nullptr) << name;
    EXPECT_TRUE(timer->isActive()) << name;
  }
}

TEST_F(NewVersionWindowTest, GrowsIntoViewAndLeavesTheFocusToTheMainWindow) {
  main.activateWindow();
  auto notice = Shown();
  EXPECT_FALSE(Child<QTimer>(*notice, "TimerStart")->isActive());
  EXPECT_EQ(notice->size(), QSize(TNewVer::kClientWidth, TNewVer::kClientHeight));
  EXPECT_TRUE(notice->testAttribute(Qt::WA_ShowWithoutActivating));
  EXPECT_NE(QApplication::activeWindow(), notice.get());
}

TEST_F(NewVersionWindowTest, ClosesByItselfOnTheEleventhSecondEvenWhileDragged) {
  auto notice = Shown();
  auto* heading = Child<QLabel>(*notice, "Label1");
  SendMouse(heading, QEvent::MouseButtonPress, {10, 5}, Qt::LeftButton);  // a drag is under way
  for (int second = 1; second <= 10; ++second) notice->TimerCloseTimer();
  EXPECT_TRUE(notice->isVisible());
  notice->TimerCloseTimer();
  EXPECT_FALSE(Child<QTimer>(*notice, "TimerClose")->isActive());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !notice->isVisible(); }));
  EXPECT_FALSE(Child<QTimer>(*notice, "TimerLink")->isActive());
}

TEST_F(NewVersionWindowTest, LinkChangesColourUnderThePointer) {
  auto notice = Shown();
  auto* link = Child<QLabel>(*notice, "Label2");
  const QColor highlight = QApplication::palette().color(QPalette::Highlight);
  const QColor text = QApplication::palette().color(QPalette::WindowText);
  ASSERT_NE(highlight, text);
  QCursor::setPos(link->mapToGlobal(link->rect().center()));
  notice->TimerLinkTimer();
  EXPECT_EQ(link->palette().color(QPalette::WindowText), highlight);
  QCursor::setPos(notice->mapToGlobal(QPoint(-20, -20)));
  notice->TimerLinkTimer();
  EXPECT_EQ(link->palette().color(QPalette::WindowText), text);
}

// {the notice's address, whether it is a web address (else the maker's home page opens)}
class NoticeLinkTest : public NewVersionWindowTest,
                       public ::testing::WithParamInterface<std::pair<std::string, bool>> {};

TEST_P(NoticeLinkTest, OpensOnlyWebAddressesAndCloses) {
  const auto& [url, isWebAddress] = GetParam();
  auto notice = Shown(url);
  auto* link = Child<QLabel>(*notice, "Label2");
  const QPoint before = notice->pos();
  SendMouse(link, QEvent::MouseButtonPress, link->rect().center(), Qt::LeftButton);
  SendMouse(link, QEvent::MouseMove, link->rect().center() + QPoint(30, 10), Qt::LeftButton);
  SendMouse(link, QEvent::MouseButtonRelease, link->rect().center(), Qt::LeftButton);
  EXPECT_EQ(notice->pos(), before);  // the link does not drag
  ASSERT_EQ(browser.opened.size(), 1u);
  EXPECT_EQ(browser.opened[0].toString().toStdString(), isWebAddress ? url : MakerHomePage());
  EXPECT_FALSE(notice->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Addresses, NoticeLinkTest,
                         ::testing::Values(std::pair{"https://example.test/get?v=2.2", true},
                                           std::pair{"", false},
                                           std::pair{"file:///usr/bin/xterm", false},
                                           std::pair{"/usr/bin/xterm", false}));

TEST_F(NewVersionWindowTest, CloseButtonCloses) {
  auto notice = Shown();
  QTest::mouseClick(Child<QPushButton>(*notice, "Button1"), Qt::LeftButton);
  EXPECT_FALSE(notice->isVisible());
  EXPECT_TRUE(browser.opened.empty());
}

struct DragCase {
  const char* handle;
  Qt::MouseButton button;
  bool moves;
};

class NoticeDragTest : public NewVersionWindowTest,
                       public ::testing::WithParamInterface<DragCase> {};

TEST_P(NoticeDragTest, DragsWithAnyButtonButTheRightOneAndNotByTheLinkPanel) {
  const DragCase& c = GetParam();
  auto notice = Shown();
  QWidget* handle = Child<QWidget>(*notice, c.handle);
  ASSERT_NE(handle, nullptr);
  const QPoint start = notice->pos();
  SendMouse(handle, QEvent::MouseButtonPress, {2, 2}, c.button);
  SendMouse(handle, QEvent::MouseMove, {2 - 40, 2 + 25}, c.button);
  EXPECT_EQ(notice->pos(), c.moves ? start + QPoint(-40, 25) : start);
  SendMouse(handle, QEvent::MouseButtonRelease, {2 - 40, 2 + 25}, c.button);
  const QPoint afterRelease = notice->pos();
  SendMouse(handle, QEvent::MouseMove, {2 - 80, 2 + 60}, Qt::NoButton);
  EXPECT_EQ(notice->pos(), afterRelease);  // released: moving no longer drags
  EXPECT_TRUE(notice->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Handles, NoticeDragTest,
                         ::testing::Values(DragCase{"Label1", Qt::LeftButton, true},
                                           DragCase{"Image1", Qt::MiddleButton, true},
                                           DragCase{"Panel3", Qt::LeftButton, true},
                                           DragCase{"Panel1", Qt::LeftButton, true},
                                           DragCase{"Label1", Qt::RightButton, false},
                                           DragCase{"Panel2", Qt::LeftButton, false}));

}  // namespace
}  // namespace cellverter
