#include "update/new_version_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include "i18n/translate.h"
#include "update/update_check.h"

namespace cellverter {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The close image: a red cross on a transparent ground, 32 x 32.
QIcon CloseIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(0xD3, 0x2F, 0x2F), 5, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(8, 8, 24, 24);
  painter.drawLine(24, 8, 8, 24);
  return QIcon(pixmap);
}

QFont PixelFont(int pixels, bool bold = false, bool underline = false) {
  QFont font("Tahoma");
  font.setPixelSize(pixels);
  font.setBold(bold);
  font.setUnderline(underline);
  return font;
}

// A rectangle of almost no size at the centre of rect: where the animations start and end.
QRect Centre(const QRect& rect) { return QRect(rect.center(), QSize(1, 1)); }

}  // namespace

TNewVer::TNewVer(const std::string& serverVersion, const std::string& downloadUrl,
                 const std::string& productName, QWidget* mainWindow)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool),
      mainWindow_(mainWindow),
      serverVersion_(serverVersion),
      downloadUrl_(downloadUrl),
      productName_(productName) {
  setObjectName("NewVer");
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedSize(kClientWidth, kClientHeight);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);
  setFont(PixelFont(11));
  setCursor(Qt::ArrowCursor);

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setLineWidth(1);
  Panel1->setGeometry(0, 0, kClientWidth, kClientHeight);

  Image1 = new QLabel(Panel1);
  Image1->setObjectName("Image1");
  Image1->setAlignment(Qt::AlignCenter);
  Image1->setGeometry(1 + 3, 1 + 3, 60, 60);

  Panel2 = new QFrame(Panel1);
  Panel2->setObjectName("Panel2");
  Panel2->setGeometry(1 + 66, 1, 230, 66);

  Label1 = new QLabel(Panel2);
  Label1->setObjectName("Label1");
  Label1->setTextFormat(Qt::PlainText);
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setFont(PixelFont(13, /*bold=*/true));
  Label1->setGeometry(3, 3, 230 - 6, 16);

  Label2 = new QLabel(Panel2);
  Label2->setObjectName("Label2");
  Label2->setTextFormat(Qt::PlainText);  // the version comes from the server
  Label2->setAlignment(Qt::AlignCenter);
  Label2->setWordWrap(true);
  Label2->setFont(PixelFont(13, false, /*underline=*/true));
  Label2->setCursor(Qt::PointingHandCursor);
  Label2->setGeometry(0, 3 + 16 + 3, 230, 66 - 22);

  Panel3 = new QFrame(Panel1);
  Panel3->setObjectName("Panel3");
  Panel3->setGeometry(1 + 66 + 230, 1, 22, 66);

  Button1 = new QPushButton(Panel3);
  Button1->setObjectName("Button1");
  Button1->setIcon(CloseIcon());
  Button1->setIconSize(QSize(16, 16));
  Button1->setCursor(Qt::PointingHandCursor);
  Button1->setGeometry(0, 0, 22, 22);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

  for (QObject* dragHandle :
       {static_cast<QObject*>(this), static_cast<QObject*>(Panel1), static_cast<QObject*>(Image1),
        static_cast<QObject*>(Label1), static_cast<QObject*>(Panel3), static_cast<QObject*>(Panel2),
        static_cast<QObject*>(Label2)}) {
    dragHandle->installEventFilter(this);
  }

  TimerStart = new QTimer(this);
  TimerStart->setObjectName("TimerStart");
  TimerStart->setInterval(1);
  connect(TimerStart, &QTimer::timeout, this, [this] { TimerStartTimer(); });
  TimerClose = new QTimer(this);
  TimerClose->setObjectName("TimerClose");
  TimerClose->setInterval(1000);
  connect(TimerClose, &QTimer::timeout, this, [this] { TimerCloseTimer(); });
  TimerLink = new QTimer(this);
  TimerLink->setObjectName("TimerLink");
  TimerLink->setInterval(100);
  connect(TimerLink, &QTimer::timeout, this, [this] { TimerLinkTimer(); });

  FormCreate();
  TimerStart->start();
  TimerClose->start();
  TimerLink->start();
}

void TNewVer::FormCreate() {
  QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_MessageBoxInformation);
  Image1->setPixmap(icon.pixmap(QSize(48, 48)));

  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  home_ = QRect(screen.x() + screen.width() - kClientWidth - 5, screen.y() + 5, kClientWidth,
                kClientHeight);
  move(home_.topLeft());

  Label1->setText(Q(Translate("UPDATE AVAILABLE")));
  Label2->setText(Q(Translate("Click to download") + " " + productName_ + " " + serverVersion_));
}

void TNewVer::Animate(const QRect& from, const QRect& to, bool hideAtEnd) {
  if (animation_ != nullptr) animation_->stop();
  delete animation_;
  // A frameless window may be smaller than its fixed size only while it animates.
  setMinimumSize(1, 1);
  setMaximumSize(kClientWidth, kClientHeight);
  animation_ = new QPropertyAnimation(this, "geometry", this);
  animation_->setDuration(kAnimationMs);
  animation_->setStartValue(from);
  animation_->setEndValue(to);
  connect(animation_, &QPropertyAnimation::finished, this, [this, hideAtEnd] {
    if (hideAtEnd) {
      close();
      setGeometry(home_);  // closed at its place, should anybody show it again
    }
    setFixedSize(kClientWidth, kClientHeight);
  });
  animation_->start();
}

void TNewVer::TimerStartTimer() {
  TimerStart->stop();
  // Grow from the centre outwards, then hand the keyboard back to the main window.
  setMinimumSize(1, 1);
  setGeometry(Centre(home_));
  show();
  Animate(Centre(home_), home_, /*hideAtEnd=*/false);
  if (mainWindow_) mainWindow_->activateWindow();  // a refusal changes nothing here
}

void TNewVer::TimerCloseTimer() {
  --countdown_;
  if (countdown_ > 0) return;
  TimerClose->stop();
  Animate(geometry(), Centre(geometry()), /*hideAtEnd=*/true);
}

void TNewVer::TimerLinkTimer() {
  const QPoint point = Label2->mapFromGlobal(QCursor::pos());
  QPalette palette = Label2->palette();
  const QPalette& standard = QApplication::palette();
  palette.setColor(QPalette::WindowText, Label2->rect().contains(point)
                                             ? standard.color(QPalette::Highlight)
                                             : standard.color(QPalette::WindowText));
  Label2->setPalette(palette);
}

void TNewVer::Label2Click() {
  QDesktopServices::openUrl(QUrl(Q(NoticeAddress(downloadUrl_)), QUrl::StrictMode));
  close();
}

void TNewVer::Button1Click() { close(); }

void TNewVer::closeEvent(QCloseEvent* event) {
  // Closed for good: the notice is not shown again during this run.
  TimerStart->stop();
  TimerClose->stop();
  TimerLink->stop();
  dragging_ = false;
  event->accept();
}

bool TNewVer::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
      type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick) {
    return QWidget::eventFilter(watched, event);
  }
  auto* mouse = static_cast<QMouseEvent*>(event);
  if (watched == Label2) {
    // The link opens the address and never drags.
    if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton &&
        Label2->rect().contains(mouse->position().toPoint())) {
      Label2Click();
    }
    return true;
  }
  if (watched == Panel2) return true;  // the link's panel does not drag either
  if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
    FormMouseDown(mouse);
  } else if (type == QEvent::MouseMove) {
    FormMouseMove(mouse);
  } else {
    FormMouseUp();
  }
  return true;
}

void TNewVer::FormMouseDown(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) return;
  dragging_ = true;
  lastCursor_ = event->globalPosition().toPoint();
}

void TNewVer::FormMouseMove(QMouseEvent* event) {
  if (!dragging_) return;
  const QPoint cursor = event->globalPosition().toPoint();
  move(pos() + (cursor - lastCursor_));
  home_.moveTopLeft(pos());
  lastCursor_ = cursor;
}

void TNewVer::FormMouseUp() { dragging_ = false; }

}  // namespace cellverter
