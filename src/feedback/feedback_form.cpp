#include "feedback/feedback_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <functional>
#include <thread>
#include <utility>

#include "i18n/translate.h"
#include "platform/app_values.h"
#include "widgets/widget_support.h"

static void InitFeedbackResources() { Q_INIT_RESOURCE(feedback); }

namespace cellverter {

namespace {

constexpr int kMemoMaxLength = 10000;
constexpr int kEmailMaxLength = 100;

// A message box with one translated OK button; its text is always shown as plain text.
void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text) {
  QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
  box.setTextFormat(Qt::PlainText);
  box.addButton(Tr("OK"), QMessageBox::AcceptRole);
  box.exec();
}

// The two sentences of a message, separated as the program's messages are.
QString TwoSentences(const char* first, const char* second) {
  return Tr(first) + QStringLiteral("\n\n") + Tr(second);
}

}  // namespace

// One of the two clickable choice panels: a face at its left edge and a centred caption.
class ChoicePanel : public QFrame {
 public:
  ChoicePanel(const QString& faceResource, const QString& faceName, QWidget* parent)
      : QFrame(parent), face_(new QLabel(this)), caption_(new QLabel(this)) {
    setAutoFillBackground(true);
    setLineWidth(1);
    setCursor(Qt::PointingHandCursor);
    // Reached by Tab like every other control; Space or Enter chooses it.
    setFocusPolicy(Qt::StrongFocus);
    face_->setObjectName(faceName);
    face_->setGeometry(4, 4, 32, 32);
    face_->setPixmap(SvgPixmap(faceResource, QSize(32, 32), devicePixelRatioF()));
    caption_->setAlignment(Qt::AlignCenter);
    caption_->setFont(FontOf("Tahoma", 16));
    caption_->setAttribute(Qt::WA_TransparentForMouseEvents);
    SetSelected(false);
  }

  void SetCaption(const QString& text) { caption_->setText(text); }
  QString caption() const { return caption_->text(); }
  void SetOnClick(std::function<void()> onClick) { onClick_ = std::move(onClick); }

  // plain: button face, window text, raised; selected: highlight colours, lowered.
  void SetSelected(bool selected) {
    QPalette colours = palette();
    const QPalette& system = QApplication::palette();
    colours.setColor(QPalette::Window,
                     system.color(selected ? QPalette::Highlight : QPalette::Button));
    colours.setColor(QPalette::WindowText,
                     system.color(selected ? QPalette::HighlightedText : QPalette::WindowText));
    setPalette(colours);
    setFrameStyle(QFrame::Panel | (selected ? QFrame::Sunken : QFrame::Raised));
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QFrame::resizeEvent(event);
    caption_->setGeometry(contentsRect());
    face_->raise();
  }
  void keyPressEvent(QKeyEvent* event) override {
    const int key = event->key();
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) && onClick_) {
      onClick_();
      return;
    }
    QFrame::keyPressEvent(event);
  }
  void paintEvent(QPaintEvent* event) override {
    QFrame::paintEvent(event);
    if (!hasFocus()) return;
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = contentsRect().adjusted(2, 2, -2, -2);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        onClick_) {
      onClick_();
    }
    QFrame::mouseReleaseEvent(event);
  }

 private:
  QLabel* face_;
  QLabel* caption_;
  std::function<void()> onClick_;
};

TFeedbackForm::TFeedbackForm(QWidget* parent) : QDialog(parent) {
  InitFeedbackResources();
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFont(FontOf("Tahoma", 11));
  setFixedSize(525, 326);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  Panel3 = new QFrame(this);
  Panel3->setObjectName("Panel3");
  Panel3->setFixedHeight(46);
  Panel4 = new ChoicePanel(":/feedback/smile.svg", "Image1", Panel3);
  Panel4->setObjectName("Panel4");
  Panel4->setGeometry(3, 3, 257, 40);
  Panel4->SetOnClick([this] { Image1Click(); });
  Panel5 = new ChoicePanel(":/feedback/sad.svg", "Image2", Panel3);
  Panel5->setObjectName("Panel5");
  Panel5->setGeometry(525 - 3 - 256, 3, 256, 40);
  Panel5->SetOnClick([this] { Image2Click(); });
  layout->addWidget(Panel3);

  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Label1->setFont(FontOf("Tahoma", 16));
  Label1->setContentsMargins(8, 6, 8, 2);
  layout->addWidget(Label1);

  Label2 = new QLabel(this);
  Label2->setObjectName("Label2");
  Label2->setFont(FontOf("Tahoma", 13, true));
  Label2->setContentsMargins(8, 2, 8, 4);
  layout->addWidget(Label2);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setFont(FontOf("Tahoma", 13));
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setTabChangesFocus(true);
  auto* memoBox = new QHBoxLayout;
  memoBox->setContentsMargins(6, 0, 6, 0);
  memoBox->addWidget(Memo1);
  layout->addLayout(memoBox, 1);
  // A limit like a native memo's: typing stops and a paste is cut at the limit.
  connect(Memo1->document(), &QTextDocument::contentsChange, this,
          [this](int position, int /*removed*/, int added) {
            const int excess = Memo1->document()->characterCount() - 1 - kMemoMaxLength;
            if (excess <= 0 || added <= 0) return;
            int from = position + added - std::min(excess, added);
            // Never leave half of a surrogate pair behind.
            if (from > 0 && Memo1->document()->characterAt(from - 1).isHighSurrogate()) --from;
            QTextCursor cursor(Memo1->document());
            cursor.setPosition(from);
            cursor.setPosition(position + added, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
          });

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFixedHeight(30);
  auto* emailBox = new QHBoxLayout(Panel1);
  emailBox->setContentsMargins(6, 3, 6, 3);
  Label3 = new QLabel(Panel1);
  Label3->setObjectName("Label3");
  Label3->setFont(FontOf("Tahoma", 13));
  Label3->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  Edit1 = new QLineEdit(Panel1);
  Edit1->setObjectName("Edit1");
  Edit1->setFont(FontOf("Tahoma", 13));
  Edit1->setMaxLength(kEmailMaxLength);
  emailBox->addWidget(Label3);
  emailBox->addWidget(Edit1, 1);
  layout->addWidget(Panel1);

  Panel2 = new QFrame(this);
  Panel2->setObjectName("Panel2");
  Panel2->setFixedHeight(39);
  auto* buttonBox = new QHBoxLayout(Panel2);
  buttonBox->setContentsMargins(6, 3, 6, 3);
  BitBtn1 = new QPushButton(Panel2);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setFixedSize(172, 33);
  BitBtn1->setFont(FontOf("Tahoma", 16));
  BitBtn1->setAutoDefault(false);
  BitBtn1->setIcon(QIcon(SvgPixmap(":/feedback/feedback.svg", QSize(24, 24), devicePixelRatioF())));
  BitBtn1->setIconSize(QSize(24, 24));
  buttonBox->addStretch(1);
  buttonBox->addWidget(BitBtn1);
  layout->addWidget(Panel2);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });

  // Esc closes the window from the memo, the button and the e-mail field alike.
  for (QWidget* widget : {static_cast<QWidget*>(Memo1), static_cast<QWidget*>(BitBtn1),
                          static_cast<QWidget*>(Edit1)}) {
    widget->installEventFilter(this);
  }

  FormCreate();

  if (QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

TFeedbackForm::~TFeedbackForm() = default;

void TFeedbackForm::FormCreate() {
  setWindowTitle(QString::fromStdString(App().productName) + QLatin1Char(' ') + Tr("feedback"));
  Label1->setText(Tr("We would really appreciate your feedback."));
  Label2->setText(Tr("What did you like or dislike?"));
  Label3->setText(Tr("Include my e-mail:"));
  BitBtn1->setText(Tr("Send"));
  Panel4->SetCaption(Tr("I like it!"));
  Panel5->SetCaption(Tr("I dislike it!"));
}

void TFeedbackForm::SetAddresses(FeedbackAddresses addresses) { addresses_ = std::move(addresses); }

void TFeedbackForm::ShowChoice() {
  Panel4->SetSelected(choice_ == FeedbackChoice::kLike);
  Panel5->SetSelected(choice_ == FeedbackChoice::kDislike);
}

void TFeedbackForm::Image1Click() {
  choice_ = FeedbackChoice::kLike;
  ShowChoice();
}

void TFeedbackForm::Image2Click() {
  choice_ = FeedbackChoice::kDislike;
  ShowChoice();
}

void TFeedbackForm::BitBtn1Click() {
  if (sending_) return;
  const std::string likeText = ChoiceText("I like it!", Panel4->caption().toStdString());
  const std::string dislikeText = ChoiceText("I dislike it!", Panel5->caption().toStdString());
  // The memo's lines joined by CR LF, as the server has always received them.
  QString memo = Memo1->toPlainText();
  memo.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  const std::string memoText = memo.toStdString();
  if (TrimControls(memoText).empty()) {
    Memo1->setFocus();
    QApplication::beep();
    return;
  }
  const std::string feedback = FeedbackText(choice_, likeText, dislikeText, memoText);

  const std::string address = TrimControls(Edit1->text().toStdString());
  if (!address.empty() && !IsValidEmail(address)) {
    Edit1->setFocus();
    ShowBox(this, QMessageBox::Critical, Tr("Failure"), Tr("Invalid e-mail address!"));
    return;
  }

  bool delivered = false;
  QApplication::setOverrideCursor(Qt::BusyCursor);
  try {
    delivered = Deliver(FeedbackFields(App().appTitle, App().appVersion, feedback, address));
  } catch (const std::exception&) {
    delivered = false;
  }
  QApplication::restoreOverrideCursor();

  if (delivered) {
    ShowBox(this, QMessageBox::Information, Tr("Success"),
            TwoSentences("Your feedback is received.", "Thank you!"));
    accept();
  } else {
    ShowBox(this, QMessageBox::Critical, Tr("Failure"),
            TwoSentences("Something went wrong. Your feedback could not be delivered.",
                         "Please try again later."));
  }
}

bool TFeedbackForm::Deliver(const std::vector<std::string>& fields) {
  const FeedbackAddresses addresses =
      addresses_.secure.empty() ? MakerFeedbackAddresses() : addresses_;
  bool delivered = false;
  QEventLoop loop;
  sending_ = true;
  // The attempts block for up to 4 x 3000 ms; the window keeps painting meanwhile, but
  // takes no input until the answer is in.
  std::thread worker([&] {
    delivered = DeliverFeedback(fields, addresses);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  sending_ = false;
  return delivered;
}

void TFeedbackForm::reject() {
  if (!sending_) QDialog::reject();
}

void TFeedbackForm::closeEvent(QCloseEvent* event) {
  if (sending_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

bool TFeedbackForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    reject();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace cellverter
