#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <string>

class QFrame;
class QLabel;
class QPropertyAnimation;
class QPushButton;
class QTimer;

namespace cellverter {

// The new-version notice: a small borderless window on top, near the top-right corner of the
// primary screen, with the program's icon, "UPDATE AVAILABLE", a link "Click to download
// <product> <version>" and a close button. It grows into view, hands the focus back to the
// main window, and shrinks away by itself about eleven seconds after it was created. It can
// be dragged with any button but the right one (not by the link, its panel or the button).
class TNewVer : public QWidget {
  Q_OBJECT

 public:
  // downloadUrl: the address from the server; anything but an http(s) address opens the
  // maker's home page instead.
  TNewVer(const std::string& serverVersion, const std::string& downloadUrl,
          const std::string& productName, QWidget* mainWindow);

  static constexpr int kClientWidth = 320;
  static constexpr int kClientHeight = 68;
  static constexpr int kAnimationMs = 100;

  // Handlers, public so that the timers' wiring and the tests reach the same code.
  void TimerStartTimer();
  void TimerCloseTimer();
  void TimerLinkTimer();
  void Label2Click();
  void Button1Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void FormMouseDown(QMouseEvent* event);
  void FormMouseMove(QMouseEvent* event);
  void FormMouseUp();
  void Animate(const QRect& from, const QRect& to, bool hideAtEnd);

  QPointer<QWidget> mainWindow_;
  std::string serverVersion_;
  std::string downloadUrl_;
  std::string productName_;

  QFrame* Panel1 = nullptr;
  QLabel* Image1 = nullptr;
  QFrame* Panel2 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QFrame* Panel3 = nullptr;
  QPushButton* Button1 = nullptr;
  QTimer* TimerStart = nullptr;
  QTimer* TimerClose = nullptr;
  QTimer* TimerLink = nullptr;
  QPropertyAnimation* animation_ = nullptr;

  int countdown_ = 11;  // seconds until the notice closes by itself
  bool dragging_ = false;
  QPoint lastCursor_;
  QRect home_;  // where the notice stands when fully shown
};

}  // namespace cellverter
