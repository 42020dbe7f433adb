#include "about/about_box.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <map>

#include "i18n/translate.h"
#include "platform/app_values.h"
#include "widgets/widget_support.h"

#ifndef CELLVERTER_MAKER_HOST
#define CELLVERTER_MAKER_HOST "cellverter.example.net"
#endif

static void InitAboutResources() { Q_INIT_RESOURCE(about); }

namespace cellverter {

namespace {

constexpr int kClientWidth = 446;
constexpr int kClientHeight = 374;
constexpr QSize kLogoSize(344, 105);
constexpr QSize kEggSize(320, 214);
constexpr int kEggStep = 5;  // pixels per egg tick

}  // namespace

// Draws the letters onto the window's backing image and collects the cells it touched.
// Glyphs are rendered once per letter and tint and then copied, which keeps a tick of a
// hundred drops well below a millisecond.
class TAboutBox::Canvas : public RainCanvas {
 public:
  explicit Canvas(QImage& image) : image_(image) {}

  void Begin() {
    painter_.begin(&image_);
    painter_.setCompositionMode(QPainter::CompositionMode_Source);
  }
  void End() { painter_.end(); }

  void EraseCell(int x, int y) override {
    painter_.fillRect(x, y, MatrixRain::kCharWidth, MatrixRain::kCharHeight, Qt::black);
  }

  void DrawLetter(char letter, int x, int y, RainColor color) override {
    painter_.drawImage(x, y, Glyph(letter, color));
  }

  // The font and the pixel ratio of the screen; glyphs are rendered again for them.
  void SetFont(const QFont& font, qreal ratio) {
    font_ = font;
    ratio_ = ratio;
    glyphs_.clear();
  }

 private:
  const QImage& Glyph(char letter, RainColor color) {
    const quint32 key = (static_cast<quint32>(static_cast<unsigned char>(letter)) << 24) |
                        (static_cast<quint32>(color.red) << 16) |
                        (static_cast<quint32>(color.green) << 8) | static_cast<quint32>(color.blue);
    auto found = glyphs_.find(key);
    if (found != glyphs_.end()) return found->second;
    QImage glyph(QSize(MatrixRain::kCharWidth, MatrixRain::kCharHeight) * ratio_,
                 QImage::Format_RGB32);
    glyph.setDevicePixelRatio(ratio_);
    glyph.fill(Qt::black);
    QPainter painter(&glyph);
    painter.setFont(font_);
    painter.setPen(QColor(color.red, color.green, color.blue));
    painter.drawText(QRect(0, 0, MatrixRain::kCharWidth, MatrixRain::kCharHeight),
                     Qt::AlignLeft | Qt::AlignTop, QString(QLatin1Char(letter)));
    painter.end();
    return glyphs_.emplace(key, std::move(glyph)).first->second;
  }

  QImage& image_;
  QPainter painter_;
  QFont font_;
  qreal ratio_ = 1.0;
  std::map<quint32, QImage> glyphs_;
};

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent),
      canvas_(std::make_unique<Canvas>(outCanvas_)),
      opener_([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      programFolder_(QCoreApplication::applicationDirPath().toStdString()) {
  InitAboutResources();
  // A small tool-window caption with only the close box.
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  black.setColor(QPalette::WindowText, Qt::white);
  setPalette(black);
  setFont(FontOf("Tahoma", 12));

  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  Panel1->setGeometry(48, 42, 350, 291);
  Panel1->setAutoFillBackground(true);
  Panel1->setFont(FontOf("Tahoma", 16));

  Image2 = new QLabel(Panel1);
  Image2->setObjectName("Image2");
  Image2->setGeometry(CentredOffset(350, kLogoSize.width()), 0, kLogoSize.width(),
                      kLogoSize.height());
  Image2->setScaledContents(true);

  Bevel1 = new QFrame(Panel1);
  Bevel1->setObjectName("Bevel1");
  Bevel1->setGeometry(9, 122, 34, 34);
  Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Bevel1->setAttribute(Qt::WA_TransparentForMouseEvents);
  Image1 = new QLabel(Panel1);
  Image1->setObjectName("Image1");
  Image1->setGeometry(10, 123, 32, 32);
  Image1->setAlignment(Qt::AlignCenter);

  Label2 = new QLabel(Panel1);
  Label2->setObjectName("Label2");
  Label2->setGeometry(49, 122, 290, 40);
  Label2->setWordWrap(true);
  Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  // Dark buttons, so that their white text reads on the black panel.
  const QString buttonStyle = QStringLiteral(
      "QPushButton { color: white; background: #1c1f1d; border: 1px solid #4c5a50;"
      " border-radius: 3px; padding: 0 10px; }"
      "QPushButton:hover { background: #26302a; border-color: #3df07a; }"
      "QPushButton:focus { border-color: #3df07a; }"
      "QPushButton:pressed { background: #0f2a18; }"
      "QPushButton::menu-indicator { image: none; }");
  BitBtn1 = new QPushButton(Panel1);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(49, 224, 122, 33);
  BitBtn2 = new QPushButton(Panel1);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setGeometry(177, 224, 122, 33);
  BitBtn2->setLayoutDirection(Qt::RightToLeft);  // the arrow at the right side
  for (QPushButton* button : {BitBtn1, BitBtn2}) {
    button->setStyleSheet(buttonStyle);
    button->setAutoDefault(false);
    button->installEventFilter(this);
  }
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });

  Label5 = new QLabel(Panel1);
  Label5->setObjectName("Label5");
  QFont linkFont = FontOf("MS Sans Serif", 13);
  linkFont.setUnderline(true);
  Label5->setFont(linkFont);
  Label5->setAlignment(Qt::AlignCenter);
  Label5->setCursor(Qt::PointingHandCursor);
  QPalette lime = Label5->palette();
  lime.setColor(QPalette::WindowText, QColor(0, 255, 0));
  Label5->setPalette(lime);
  Label5->setText(QStringLiteral(CELLVERTER_MAKER_HOST));
  Label5->setToolTip(QString::fromStdString(HomePageAddress(CELLVERTER_MAKER_HOST)));
  Label5->setGeometry(0, 291 - 22, 350, 22);
  Label5->installEventFilter(this);

  PanelEgg = new QWidget(this);
  PanelEgg->setObjectName("PanelEgg");
  PanelEgg->resize(324, 220);
  PanelEgg->hide();
  ImageEgg = new QLabel(PanelEgg);
  ImageEgg->setObjectName("ImageEgg");
  ImageEgg->setGeometry(2, 3, kEggSize.width(), kEggSize.height());
  ImageEgg->setScaledContents(true);
  Panel1->raise();  // the content panel hides the picture until it slides away

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  Credits1 = PopupMenu1->addAction(QString());
  Credits1->setObjectName("Credits1");
  Howtouninstall1 = PopupMenu1->addAction(QString());
  Howtouninstall1->setObjectName("Howtouninstall1");
  LicensePrivacyPolicy1 = PopupMenu1->addAction(QString());
  LicensePrivacyPolicy1->setObjectName("LicensePrivacyPolicy1");
  connect(Credits1, &QAction::triggered, this, [this] { Credits1Click(); });
  connect(Howtouninstall1, &QAction::triggered, this, [this] { Howtouninstall1Click(); });
  connect(LicensePrivacyPolicy1, &QAction::triggered, this,
          [this] { LicensePrivacyPolicy1Click(); });

  tmTimer = new QTimer(this);
  tmTimer->setObjectName("tmTimer");
  connect(tmTimer, &QTimer::timeout, this, [this] { tmTimerTimer(); });
  TimerEgg = new QTimer(this);
  TimerEgg->setObjectName("TimerEgg");
  TimerEgg->setInterval(5);
  TimerEgg->setTimerType(Qt::PreciseTimer);
  connect(TimerEgg, &QTimer::timeout, this, [this] { TimerEggTimer(); });

  Image1->installEventFilter(this);
  ImageEgg->installEventFilter(this);

  FormCreate();

  if (QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::FormCreate() {
  StartAnimation();
  const std::string product = App().productName;
  setWindowTitle(QString::fromStdString(TranslateFormat("About %s", {product})));
  QIcon icon = QApplication::windowIcon();
  Image1->setPixmap(icon.isNull()
                        ? SvgPixmap(":/about/cellverter.svg", QSize(32, 32), devicePixelRatioF())
                        : icon.pixmap(QSize(32, 32), devicePixelRatioF()));
  Label2->setText(QString::fromStdString(product + " " + App().appVersion));
  BitBtn1->setText(Tr("OK"));
  BitBtn2->setText(Tr("Info"));
  Credits1->setText(Tr("Acknowledgements..."));
  Howtouninstall1->setText(Tr("How to uninstall..."));
  LicensePrivacyPolicy1->setText(Tr("License..."));
  HighDPIImageYukle();
  PanelEgg->move(CentredOffset(width(), PanelEgg->width()),
                 CentredOffset(height(), PanelEgg->height()));
}

void TAboutBox::SetUrlOpener(std::function<void(const QUrl&)> opener) {
  opener_ = std::move(opener);
}

void TAboutBox::SetProgramFolder(std::filesystem::path folder) {
  programFolder_ = std::move(folder);
}

void TAboutBox::SetTickClock(TickClock clock) { dropDown_ = DropDownMenuState(std::move(clock)); }

void TAboutBox::OpenUrl(const QUrl& url) {
  if (opener_) opener_(url);
}

// ---- Buttons, menu, pages ----------------------------------------------------------

void TAboutBox::BitBtn1Click() { close(); }

void TAboutBox::BitBtn2Click() { DropDownMenuUnderButton(BitBtn2, PopupMenu1); }

void TAboutBox::DropDownMenuUnderButton(QPushButton* button, QMenu* menu) {
  if (!dropDown_.ShouldShow(button, menu)) return;
  menu->exec(button->mapToGlobal(QPoint(0, button->height())));
  dropDown_.Closed(button, menu);
}

void TAboutBox::Credits1Click() {
  OpenUrl(QUrl(QString::fromStdString(CreditsAddress(CELLVERTER_MAKER_HOST))));
}

void TAboutBox::Howtouninstall1Click() {
  OpenUrl(QUrl(QString::fromStdString(UninstallAddress(CELLVERTER_MAKER_HOST))));
}

void TAboutBox::Label5Click() {
  OpenUrl(QUrl(QString::fromStdString(HomePageAddress(CELLVERTER_MAKER_HOST))));
}

void TAboutBox::LicensePrivacyPolicy1Click() {
  if (LicenseExists(programFolder_)) {
    // The desktop's handler for a text file is the user's text editor.
    OpenUrl(QUrl::fromLocalFile(QString::fromStdString(LicensePath(programFolder_).string())));
    return;
  }
  QMessageBox box(QMessageBox::Critical, Tr("License"), Tr("File not found!"),
                  QMessageBox::NoButton, this);
  box.setTextFormat(Qt::PlainText);
  box.addButton(Tr("OK"), QMessageBox::AcceptRole);
  box.exec();
}

// ---- The hidden picture -------------------------------------------------------------

void TAboutBox::Image1DblClick() {
  if (TimerEgg->isActive()) return;
  PanelEgg->show();
  TimerEgg->start();
}

void TAboutBox::TimerEggTimer() {
  Panel1->move(Panel1->x() + kEggStep, Panel1->y());
  if (Panel1->x() > width()) TimerEgg->stop();
}

void TAboutBox::ImageEggDblClick() {
  if (TimerEgg->isActive()) return;
  PanelEgg->hide();
  Panel1->move(CentredOffset(width(), Panel1->width()), Panel1->y());
}

void TAboutBox::FormAfterMonitorDpiChanged() {
  HighDPIImageYukle();
  SetUpGrid();
}

void TAboutBox::HighDPIImageYukle() {
  const qreal ratio = devicePixelRatioF();
  Image2->setPixmap(SvgPixmap(":/about/korvane-logo-big-ai-black.svg", kLogoSize, ratio));
  ImageEgg->setPixmap(SvgPixmap(":/about/cat.svg", kEggSize, ratio));
  BitBtn2->setIcon(QIcon(SvgPixmap(":/about/arrow.svg", QSize(16, 16), ratio)));
  BitBtn2->setIconSize(QSize(16, 16));
}

// ---- Falling letters ----------------------------------------------------------------

void TAboutBox::StartAnimation() {
  SetUpGrid();
  tmTimer->start(50);
}

void TAboutBox::SetUpGrid() {
  const QSize outer = frameGeometry().size();
  // Device pixels, so that letters stay sharp on a high-density screen.
  const qreal ratio = devicePixelRatioF();
  outCanvas_ = QImage(size().expandedTo(QSize(1, 1)) * ratio, QImage::Format_RGB32);
  outCanvas_.setDevicePixelRatio(ratio);
  outCanvas_.fill(Qt::black);
  canvas_->SetFont(FontOf("Tahoma", MatrixRain::kCharHeight), ratio);
  rain_.SetUp(outer.width(), outer.height());
  update();
}

void TAboutBox::tmTimerTimer() {
  canvas_->Begin();
  rain_.Tick(*canvas_);
  canvas_->End();
  // Only the background around the content panel shows the letters.
  QRegion visible(rect());
  if (Panel1->isVisible()) visible -= Panel1->geometry();
  if (PanelEgg->isVisible()) visible -= PanelEgg->geometry();
  update(visible);
}

void TAboutBox::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  for (const QRect& area : event->region()) {
    painter.fillRect(area, Qt::black);
    const qreal ratio = outCanvas_.devicePixelRatio();
    painter.drawImage(
        QRectF(area), outCanvas_,
        QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio));
  }
}

void TAboutBox::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  SetUpGrid();
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The outer size is known once the window is on screen; a move to a screen of another
  // density renders the pictures again.
  SetUpGrid();
  if (QWindow* window = windowHandle()) {
    connect(window, &QWindow::screenChanged, this, &TAboutBox::FormAfterMonitorDpiChanged,
            Qt::UniqueConnection);
  }
}

// ---- Keys, double-clicks and dragging ---------------------------------------------------

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
      if ((watched == BitBtn1 || watched == BitBtn2) &&
          static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
      }
      break;
    case QEvent::MouseButtonDblClick:
      if (watched == Image1) Image1DblClick();
      if (watched == ImageEgg) ImageEggDblClick();
      break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
      // The link takes its own presses, so they never reach the window as a drag.
      if (watched == Label5) return true;
      break;
    case QEvent::MouseButtonRelease:
      if (watched == Label5) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            Label5->rect().contains(mouse->position().toPoint())) {
          Label5Click();
        }
        return true;
      }
      break;
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

// The pictures and labels leave their mouse events to their parents, so the window's own
// handlers serve them too.
void TAboutBox::mousePressEvent(QMouseEvent* event) { FormMouseDown(event); }
void TAboutBox::mouseMoveEvent(QMouseEvent* event) { FormMouseMove(event); }
void TAboutBox::mouseReleaseEvent(QMouseEvent* event) { FormMouseUp(event); }

void TAboutBox::FormMouseDown(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) return;
  dragFrom_ = event->globalPosition().toPoint();
  dragging_ = true;
}

void TAboutBox::FormMouseMove(QMouseEvent* event) {
  if (!dragging_) return;
  const QPoint to = event->globalPosition().toPoint();
  move(pos() + to - dragFrom_);
  dragFrom_ = to;
}

void TAboutBox::FormMouseUp(QMouseEvent* /*event*/) { dragging_ = false; }

}  // namespace cellverter
