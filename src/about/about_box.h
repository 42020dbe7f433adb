#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <memory>

#include "about/about_rules.h"

class QLabel;
class QMenu;
class QAction;
class QPushButton;
class QTimer;
class QFrame;

namespace cellverter {

// The about window: logo, icon, product and version, OK and an Info menu with the maker's
// pages and the licence, a hidden picture behind the icon, and letters falling on a black
// background. Modal; the main window creates one per opening:
//   TAboutBox box(mainWindow); box.exec();
class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);
  ~TAboutBox() override;

  // Seams for tests and embedders. The opener receives every web page and the licence
  // file (default: the desktop's handler); the program folder is where license.txt is
  // looked for (default: the executable's folder); the clock drives the menu re-open rule.
  void SetUrlOpener(std::function<void(const QUrl&)> opener);
  void SetProgramFolder(std::filesystem::path folder);
  void SetTickClock(TickClock clock);

  const MatrixRain& rain() const { return rain_; }

  // Handlers, one per user event.
  void BitBtn1Click();
  void BitBtn2Click();
  void Credits1Click();
  void Howtouninstall1Click();
  void LicensePrivacyPolicy1Click();
  void Label5Click();
  void Image1DblClick();
  void ImageEggDblClick();
  void TimerEggTimer();
  void tmTimerTimer();
  void HighDPIImageYukle();
  // The window moved to a screen of another density: pictures and letters drawn anew.
  void FormAfterMonitorDpiChanged();

  // Pops `menu` up under `button`, unless it is the click that just closed that menu.
  void DropDownMenuUnderButton(QPushButton* button, QMenu* menu);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  class Canvas;

  void FormCreate();
  void StartAnimation();
  void SetUpGrid();
  void FormMouseDown(QMouseEvent* event);
  void FormMouseMove(QMouseEvent* event);
  void FormMouseUp(QMouseEvent* event);
  void OpenUrl(const QUrl& url);

  QWidget* Panel1 = nullptr;
  QLabel* Image2 = nullptr;
  QFrame* Bevel1 = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* Label2 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QLabel* Label5 = nullptr;
  QWidget* PanelEgg = nullptr;
  QLabel* ImageEgg = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* Credits1 = nullptr;
  QAction* Howtouninstall1 = nullptr;
  QAction* LicensePrivacyPolicy1 = nullptr;
  QTimer* tmTimer = nullptr;
  QTimer* TimerEgg = nullptr;

  MatrixRain rain_;
  QImage outCanvas_;  // the letters, kept between ticks so that repaints cost a blit
  std::unique_ptr<Canvas> canvas_;
  DropDownMenuState dropDown_;
  bool dragging_ = false;
  QPoint dragFrom_;  // the pointer's last screen position during a drag
  std::function<void(const QUrl&)> opener_;
  std::filesystem::path programFolder_;
};

}  // namespace cellverter
