#include "about/about_box.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "feedback/qt_window_support.h"
#include "mouse.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

using testing_support::BoxAnswerer;
using testing_support::LanguageFixture;
using testing_support::TempDir;

const ::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::OffscreenApplication);

// The window as a user meets it, with the shell's page opener recording what it was asked.
class AboutWindow {
 public:
  AboutWindow() {
    box.SetUrlOpener([this](const QUrl& url) { opened.push_back(url.toString()); });
    box.show();
    box.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&box));
  }
  template <typename T>
  T* Find(const char* name) {
    T* widget = box.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  TAboutBox box;
  std::vector<QString> opened;
};

class AboutBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::SetProgramValues();
    LanguageFixture::Unload();
  }
  void TearDown() override { LanguageFixture::Unload(); }
};

TEST_F(AboutBoxTest, ShowsProductVersionAndTranslatedCaptions) {
  {
    AboutWindow window;
    EXPECT_EQ(window.box.windowTitle(), "About Cellverter");
    EXPECT_EQ(window.box.size(), QSize(446, 374));
    EXPECT_EQ(window.Find<QLabel>("Label2")->text(), "Cellverter 2.1");
    EXPECT_EQ(window.Find<QPushButton>("BitBtn1")->text(), "OK");
    EXPECT_EQ(window.Find<QPushButton>("BitBtn2")->text(), "Info");
    EXPECT_EQ(window.Find<QLabel>("Label5")->text(), CELLVERTER_TEST_MAKER_HOST);
    EXPECT_EQ(window.Find<QLabel>("Label5")->toolTip(), "http://" CELLVERTER_TEST_MAKER_HOST "/");
    EXPECT_FALSE(window.Find<QLabel>("Image1")->pixmap().isNull());
    EXPECT_FALSE(window.Find<QLabel>("Image2")->pixmap().isNull());
    EXPECT_FALSE(window.Find<QLabel>("ImageEgg")->pixmap().isNull());
    QWidget* egg = window.Find<QWidget>("PanelEgg");
    EXPECT_FALSE(egg->isVisible());
    EXPECT_EQ(egg->geometry(), QRect(61, 77, 324, 220));  // centred, truncated
    EXPECT_EQ(window.Find<QWidget>("Panel1")->geometry(), QRect(48, 42, 350, 291));
  }
  TempDir program;
  LanguageFixture(program.path())
      .LoadItalian(
          "{About %s}Informazioni su %s\r\n{Info}Altro\r\n{Acknowledgements...}Grazie...\r\n"
          "{How to uninstall...}Disinstallare...\r\n{License...}Licenza...\r\n");
  AboutWindow window;
  EXPECT_EQ(window.box.windowTitle(), "Informazioni su Cellverter");
  EXPECT_EQ(window.Find<QPushButton>("BitBtn1")->text(), "OK");
  EXPECT_EQ(window.Find<QPushButton>("BitBtn2")->text(), "Altro");
  QStringList items;
  for (QAction* action : window.Find<QMenu>("PopupMenu1")->actions()) items << action->text();
  EXPECT_EQ(items, (QStringList{"Grazie...", "Disinstallare...", "Licenza..."}));
}

TEST_F(AboutBoxTest, FallingLettersFollowTheWindowSize) {
  AboutWindow window;
  const MatrixRain& rain = window.box.rain();
  EXPECT_EQ(rain.columns(), window.box.frameGeometry().width() / 8);
  EXPECT_EQ(rain.dropCount(), 2 * rain.columns());

  // A window whose outer width is 452 pixels (the client area and the frame of a common
  // desktop; the offscreen platform draws no frame).
  window.box.setFixedSize(452, 380);
  QTRY_COMPARE(window.box.frameGeometry().width(), 452);
  EXPECT_EQ(rain.columns(), 56);
  EXPECT_EQ(rain.rows(), 31);
  EXPECT_EQ(rain.dropCount(), 112);

  // The ticks draw green letters on the black background around the content panel.
  const std::uint64_t before = rain.frameCount();
  QTRY_VERIFY(rain.frameCount() >= before + 6);
  const QImage shot = window.box.grab().toImage();
  const QRect panel = window.Find<QWidget>("Panel1")->geometry();
  int green = 0;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) {
      if (panel.contains(x, y)) continue;
      const QColor pixel = shot.pixelColor(x, y);
      if (pixel.green() > 0) {
        ++green;
        EXPECT_TRUE(pixel.green() >= pixel.red() && pixel.red() >= pixel.blue()) << x << "," << y;
      }
    }
  }
  EXPECT_GT(green, 20);
}

TEST_F(AboutBoxTest, InfoMenuOpensUnderTheButtonAndTheClosingClickDoesNotReopenIt) {
  AboutWindow window;
  std::uint32_t now = 5000;
  window.box.SetTickClock([&] { return now; });
  auto* info = window.Find<QPushButton>("BitBtn2");
  auto* menu = window.Find<QMenu>("PopupMenu1");
  QSignalSpy shown(menu, &QMenu::aboutToShow);
  QPoint shownAt;
  // The menu runs its own loop; close it the way a click elsewhere does.
  QObject::connect(menu, &QMenu::aboutToShow, menu, [&] {
    QTimer::singleShot(20, menu, [&] {
      shownAt = menu->pos();
      menu->close();
    });
  });

  QTest::mouseClick(info, Qt::LeftButton);
  EXPECT_EQ(shown.count(), 1);
  EXPECT_EQ(shownAt, info->mapToGlobal(QPoint(0, info->height())));

  now += 60;  // the click that closed the menu lands on the button
  QTest::mouseClick(info, Qt::LeftButton);
  EXPECT_EQ(shown.count(), 1);

  now += 10;  // a click after a suppressed one opens it again
  QTest::mouseClick(info, Qt::LeftButton);
  EXPECT_EQ(shown.count(), 2);

  now += 100;  // 100 ms after it closed
  QTest::mouseClick(info, Qt::LeftButton);
  EXPECT_EQ(shown.count(), 3);
}

TEST_F(AboutBoxTest, PagesAndLicenseGoToTheShell) {
  AboutWindow window;
  window.Find<QAction>("Credits1")->trigger();
  window.Find<QAction>("Howtouninstall1")->trigger();
  QTest::mouseClick(window.Find<QLabel>("Label5"), Qt::LeftButton);
  window.Find<QAction>("LicensePrivacyPolicy1")->trigger();  // beside the test programs
  ASSERT_EQ(window.opened.size(), 4u);
  EXPECT_EQ(window.opened[0],
            "https://" CELLVERTER_TEST_MAKER_HOST "/blog/credits-and-acknowledgements/");
  EXPECT_EQ(window.opened[1],
            "http://" CELLVERTER_TEST_MAKER_HOST "/blog/how-to-uninstall-korvane-software/");
  EXPECT_EQ(window.opened[2], "http://" CELLVERTER_TEST_MAKER_HOST "/");
  EXPECT_EQ(window.opened[3],
            QUrl::fromLocalFile(QString(CELLVERTER_BIN_DIR) + "/license.txt").toString());
  EXPECT_TRUE(window.box.isVisible());
}

TEST_F(AboutBoxTest, MissingLicenseSaysFileNotFound) {
  TempDir program;
  for (const bool italian : {false, true}) {
    if (italian) {
      LanguageFixture(program.path())
          .LoadItalian("{File not found!}File non trovato!\r\n{License}Licenza\r\n");
    }
    AboutWindow window;
    window.box.SetProgramFolder(program.path());
    BoxAnswerer boxes;
    window.Find<QAction>("LicensePrivacyPolicy1")->trigger();
    EXPECT_TRUE(window.opened.empty());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.boxes()[0].title, italian ? "Licenza" : "License");
    EXPECT_EQ(boxes.boxes()[0].text, italian ? "File non trovato!" : "File not found!");
    EXPECT_EQ(boxes.boxes()[0].buttons, QStringList{"OK"});

    // Once the file is there, the editor gets it.
    std::ofstream(program.path() / "license.txt") << "terms";
    window.Find<QAction>("LicensePrivacyPolicy1")->trigger();
    ASSERT_EQ(window.opened.size(), 1u);
    EXPECT_EQ(window.opened[0],
              QUrl::fromLocalFile(QString::fromStdString((program.path() / "license.txt").string()))
                  .toString());
    std::filesystem::remove(program.path() / "license.txt");
  }
}

TEST_F(AboutBoxTest, HiddenPictureSlidesInAndTheContentComesBack) {
  AboutWindow window;
  auto* icon = window.Find<QLabel>("Image1");
  auto* picture = window.Find<QLabel>("ImageEgg");
  QWidget* panel = window.Find<QWidget>("Panel1");
  QWidget* egg = window.Find<QWidget>("PanelEgg");
  auto* timer = window.Find<QTimer>("TimerEgg");

  QTest::mouseDClick(icon, Qt::LeftButton);
  EXPECT_TRUE(egg->isVisible());
  EXPECT_TRUE(timer->isActive());
  QTRY_VERIFY(panel->x() > 48);

  // While the panel slides, double-clicks on the picture or the icon change nothing.
  QTest::mouseDClick(picture, Qt::LeftButton);
  EXPECT_TRUE(egg->isVisible());
  const int sliding = panel->x();
  QTest::mouseDClick(icon, Qt::LeftButton);
  EXPECT_GE(panel->x(), sliding);

  QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), 5000);
  EXPECT_GT(panel->x(), window.box.width());
  EXPECT_LE(panel->x(), window.box.width() + 5);
  EXPECT_EQ(panel->y(), 42);

  QTest::mouseDClick(picture, Qt::LeftButton);
  EXPECT_FALSE(egg->isVisible());
  EXPECT_EQ(panel->pos(), QPoint(48, 42));
}

class AboutEscapeTest : public AboutBoxTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(AboutEscapeTest, EscapeOnEitherButtonCloses) {
  AboutWindow window;
  auto* button = window.Find<QPushButton>(GetParam());
  button->setFocus();
  QTest::keyClick(button, Qt::Key_Escape);
  EXPECT_FALSE(window.box.isVisible());
}

INSTANTIATE_TEST_SUITE_P(Buttons, AboutEscapeTest, ::testing::Values("BitBtn1", "BitBtn2"),
                         [](const auto& testCase) { return std::string(testCase.param); });

TEST_F(AboutBoxTest, OkCloses) {
  AboutWindow window;
  QTest::mouseClick(window.Find<QPushButton>("BitBtn1"), Qt::LeftButton);
  EXPECT_FALSE(window.box.isVisible());
}

// Sends one mouse event at a screen position.
void Mouse(QWidget* widget, QEvent::Type type, QPoint screen, Qt::MouseButton button) {
  testing_support::SendMouse(widget, type, widget->mapFromGlobal(screen), button);
}

TEST_F(AboutBoxTest, BodyDragsTheWindowButButtonsAndRightButtonDoNot) {
  AboutWindow window;
  auto* label = window.Find<QLabel>("Label2");
  auto* logo = window.Find<QLabel>("Image2");
  auto* ok = window.Find<QPushButton>("BitBtn1");
  const QPoint start = window.box.pos();
  const QPoint grip = label->mapToGlobal(QPoint(5, 5));

  Mouse(label, QEvent::MouseButtonPress, grip, Qt::LeftButton);
  Mouse(label, QEvent::MouseMove, grip + QPoint(30, 20), Qt::NoButton);
  Mouse(label, QEvent::MouseMove, grip + QPoint(40, 15), Qt::NoButton);
  QTRY_COMPARE(window.box.pos(), start + QPoint(40, 15));
  // A drag that started with the left button ends on any button's release.
  Mouse(label, QEvent::MouseButtonRelease, grip + QPoint(40, 15), Qt::RightButton);
  Mouse(label, QEvent::MouseMove, grip + QPoint(90, 90), Qt::NoButton);
  QTest::qWait(20);
  EXPECT_EQ(window.box.pos(), start + QPoint(40, 15));

  const QPoint moved = window.box.pos();
  const QPoint onLogo = logo->mapToGlobal(QPoint(5, 5));
  Mouse(logo, QEvent::MouseButtonPress, onLogo, Qt::RightButton);
  Mouse(logo, QEvent::MouseMove, onLogo + QPoint(25, 25), Qt::NoButton);
  const QPoint onOk = ok->mapToGlobal(QPoint(5, 5));
  Mouse(ok, QEvent::MouseButtonPress, onOk, Qt::LeftButton);
  Mouse(ok, QEvent::MouseMove, onOk + QPoint(25, 25), Qt::NoButton);
  QTest::qWait(20);
  EXPECT_EQ(window.box.pos(), moved);
  EXPECT_TRUE(window.box.isVisible());
}

}  // namespace
}  // namespace cellverter
