#include "feedback/feedback_form.h"

#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "feedback/qt_window_support.h"
#include "feedback/reply_server.h"
#include "http/local_maker.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

using testing_support::BoxAnswerer;
using testing_support::BoxSeen;
using testing_support::LanguageFixture;
using testing_support::LocalMaker;
using testing_support::RefusingAuthority;
using testing_support::ReplyServer;
using testing_support::TempDir;

const ::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::OffscreenApplication);

const QString kSentText = QStringLiteral("Your feedback is received.\n\nThank you!");
const QString kFailedText = QStringLiteral(
    "Something went wrong. Your feedback could not be delivered.\n\nPlease try again later.");

// The window as a user meets it: shown, active, driven through its widgets.
class FeedbackWindow {
 public:
  FeedbackWindow() {
    form.show();
    form.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
  }

  template <typename T>
  T* Find(const char* name) {
    T* widget = form.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QFrame* Panel(const char* name) { return Find<QFrame>(name); }
  QPlainTextEdit* memo() { return Find<QPlainTextEdit>("Memo1"); }
  QLineEdit* email() { return Find<QLineEdit>("Edit1"); }
  QPushButton* send() { return Find<QPushButton>("BitBtn1"); }

  void Fill(const char* panel, const QString& text, const QString& address) {
    if (panel != nullptr) {
      for (const QString& name : QString::fromLatin1(panel).split(QLatin1Char(','))) {
        QTest::mouseClick(Panel(name.toLatin1().constData()), Qt::LeftButton);
      }
    }
    memo()->setPlainText(text);
    email()->setText(address);
  }
  void Send() { QTest::mouseClick(send(), Qt::LeftButton); }

  TFeedbackForm form;
};

class FeedbackFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::SetProgramValues();
    LanguageFixture::Unload();
  }
  void TearDown() override { LanguageFixture::Unload(); }

  TempDir programFolder;
};

// ---- What reaches the maker's server ---------------------------------------------------

struct SentCase {
  const char* name;
  bool italian;         // panel captions translated
  const char* panel;    // clicked panel, or none
  const char* memo;     // as typed: "\n" between lines
  const char* address;  // as typed
  std::string body;     // the form body on the wire, byte for byte
};

class FeedbackSentTest : public FeedbackFormTest, public ::testing::WithParamInterface<SentCase> {};

TEST_P(FeedbackSentTest, PostsTheFieldsInOrderAndClosesOnOk) {
  const SentCase& c = GetParam();
  if (c.italian) {
    LanguageFixture(programFolder.path())
        .LoadItalian("{I like it!}Mi piace\r\n{I dislike it!}Non mi piace\r\n");
  }
  LocalMaker maker;
  BoxAnswerer boxes;
  FeedbackWindow window;
  window.Fill(c.panel, QString::fromUtf8(c.memo), QString::fromUtf8(c.address));
  window.Send();

  const auto posts = maker.https.Posts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].path, "/php/feedback.php");
  EXPECT_EQ(posts[0].body, c.body);
  EXPECT_TRUE(maker.http.Posts().empty()) << "https answered, so http must not be tried";

  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Information);
  EXPECT_EQ(boxes.boxes()[0].title, "Success");
  EXPECT_EQ(boxes.boxes()[0].text, kSentText);
  EXPECT_FALSE(window.form.isVisible());
  EXPECT_EQ(window.form.result(), QDialog::Accepted);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FeedbackSentTest,
    ::testing::Values(SentCase{"TranslatedPanelAndTrimmedAddress", true, "Panel4", "Great tool",
                               "  jane.doe@mail.example.com \t",
                               "cmd=feedback&appname=KORVANE+-+Cellverter&version=2.1"
                               "&feedback=I+like+it%21+%28Mi+piace%29%0DGreat+tool"
                               "&email=jane.doe%40mail.example.com"},
                      SentCase{"NoPanelNoAddress", false, nullptr,
                               "  \n first line\nsecond & last = 100%\n\n", "",
                               "cmd=feedback&appname=KORVANE+-+Cellverter&version=2.1"
                               "&feedback=first+line%0D%0Asecond+%26+last+%3D+100%25"},
                      SentCase{
                          "UntranslatedDislikeAndSpacesOnlyAddress", false, "Panel5",
                          "Zu langsam f\xC3\xBCr gro\xC3\x9F"
                          "e Dateien",
                          "   ",
                          "cmd=feedback&appname=KORVANE+-+Cellverter&version=2.1"
                          "&feedback=I+dislike+it%21%0DZu+langsam+f%C3%BCr+gro%C3%9Fe+Dateien"},
                      SentCase{"TranslatedDislikeWinsAfterLike", true, "Panel4,Panel5", "x", "",
                               "cmd=feedback&appname=KORVANE+-+Cellverter&version=2.1"
                               "&feedback=I+dislike+it%21+%28Non+mi+piace%29%0Dx"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// ---- Addresses ----------------------------------------------------------------------

struct AddressCase {
  const char* name;
  const char* address;
  bool sent;
};

class FeedbackAddressTest : public FeedbackFormTest,
                            public ::testing::WithParamInterface<AddressCase> {};

TEST_P(FeedbackAddressTest, RejectedAddressKeepsEverythingAndSendsNothing) {
  LocalMaker maker;
  BoxAnswerer boxes;
  FeedbackWindow window;
  const QString address = QString::fromUtf8(GetParam().address);
  window.Fill("Panel4", "Nice", address);
  window.Send();

  ASSERT_EQ(boxes.boxes().size(), 1u);
  if (GetParam().sent) {
    EXPECT_EQ(maker.https.Posts().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].title, "Success");
    return;
  }
  EXPECT_TRUE(maker.https.Posts().empty());
  EXPECT_TRUE(maker.http.Posts().empty());
  EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes.boxes()[0].title, "Failure");
  EXPECT_EQ(boxes.boxes()[0].text, "Invalid e-mail address!");
  EXPECT_EQ(boxes.boxes()[0].buttons, QStringList{"OK"});
  EXPECT_TRUE(window.form.isVisible());
  // The focus went to the address before the box; the window gives it back on activation.
  EXPECT_EQ(window.form.focusWidget(), window.email());
  EXPECT_EQ(window.email()->text(), address);
  EXPECT_EQ(window.memo()->toPlainText(), "Nice");
  EXPECT_EQ(window.form.choice(), FeedbackChoice::kLike);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, FeedbackAddressTest,
    ::testing::Values(AddressCase{"ThreeLabels", "ann@mail.example.org", true},
                      AddressCase{"EndsWithDot", "ann@example.org.", false},
                      AddressCase{"NoDotAfterAt", "ann@example", false},
                      AddressCase{"NonAsciiLetter", "\xC3\xA1nn@example.org", false},
                      AddressCase{"InnerSpace", "ann example@example.org", false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(FeedbackFormTest, BlankTextOnlyBeepsAndFocusesTheText) {
  LocalMaker maker;
  BoxAnswerer boxes;
  FeedbackWindow window;
  window.Fill("Panel4", " \n\t\n  ", "not an address");
  window.email()->setFocus();
  window.Send();
  QTest::qWait(50);

  EXPECT_TRUE(maker.https.Posts().empty());
  EXPECT_TRUE(maker.http.Posts().empty());
  EXPECT_TRUE(boxes.boxes().empty()) << "the address is not even looked at";
  EXPECT_TRUE(window.form.isVisible());
  EXPECT_EQ(QApplication::focusWidget(), window.memo());
}

// ---- Replies and the secure-first rule -------------------------------------------------

struct ReplyCase {
  const char* name;
  std::string reply;
  bool delivered;
};

class FeedbackReplyTest : public FeedbackFormTest,
                          public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(FeedbackReplyTest, OnlyTrimmedOkIsSuccessAndFailureKeepsTheInput) {
  const ReplyCase& c = GetParam();
  LocalMaker maker;  // for its certificate; its own servers get nothing
  ReplyServer server(c.reply, maker.certificate);
  SetMakerServerForTesting(server.Authority(), RefusingAuthority(),
                           maker.certificate.certificate.string());
  BoxAnswerer boxes;
  FeedbackWindow window;
  window.Fill("Panel5", "Crashes on\nbig files", "bob@example.net");
  window.Send();

  ASSERT_EQ(server.Bodies().size(), 1u);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  const BoxSeen& box = boxes.boxes()[0];
  if (c.delivered) {
    EXPECT_EQ(box.title, "Success");
    EXPECT_EQ(box.text, kSentText);
    EXPECT_FALSE(window.form.isVisible());
  } else {
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.title, "Failure");
    EXPECT_EQ(box.text, kFailedText);
    EXPECT_TRUE(window.form.isVisible());
    EXPECT_EQ(window.form.choice(), FeedbackChoice::kDislike);
    EXPECT_EQ(window.memo()->toPlainText(), "Crashes on\nbig files");
    EXPECT_EQ(window.email()->text(), "bob@example.net");
  }
  EXPECT_TRUE(maker.https.Posts().empty());
  EXPECT_TRUE(maker.http.Posts().empty());
}

INSTANTIATE_TEST_SUITE_P(Replies, FeedbackReplyTest,
                         ::testing::Values(ReplyCase{"Ok", "OK", true},
                                           ReplyCase{"OkAndLineBreak", "OK\r\n", true},
                                           ReplyCase{"LowerCase", "ok", false},
                                           ReplyCase{"OkAndFullStop", "OK.", false},
                                           ReplyCase{"Empty", "", false}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(FeedbackFormTest, FailingHttpsFallsBackToHttpOnce) {
  LocalMaker maker;
  SetMakerServerForTesting(RefusingAuthority(), maker.http.Authority(), "");
  BoxAnswerer boxes;
  FeedbackWindow window;
  window.Fill(nullptr, "Works", "");
  window.Send();

  ASSERT_EQ(maker.http.Posts().size(), 1u);
  EXPECT_EQ(maker.http.Posts()[0].Field("feedback"), "Works");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].title, "Success");
}

TEST_F(FeedbackFormTest, HttpsErrorPageIsTheReplyWithoutHttpAttempt) {
  maker::ServerOptions notFound;
  notFound.notFound = true;
  LocalMaker maker(notFound);
  BoxAnswerer boxes;
  FeedbackWindow window;
  window.Fill(nullptr, "Hello", "");
  window.Send();

  EXPECT_EQ(maker.https.Posts().size(), 1u);
  EXPECT_TRUE(maker.http.Posts().empty());
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, kFailedText);
}

TEST_F(FeedbackFormTest, BothAttemptsFailingShowsFailureAndKeepsTheWindow) {
  LocalMaker maker;
  SetMakerServerForTesting(RefusingAuthority(), RefusingAuthority(), "");
  BoxAnswerer boxes;
  FeedbackWindow window;
  window.Fill("Panel4", "Hello", "a@b.cd");
  window.Send();

  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].title, "Failure");
  EXPECT_EQ(boxes.boxes()[0].text, kFailedText);
  EXPECT_TRUE(window.form.isVisible());
  EXPECT_EQ(window.memo()->toPlainText(), "Hello");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // The user can try again once the server is back.
  SetMakerServerForTesting(maker.https.Authority(), maker.http.Authority(),
                           maker.certificate.certificate.string());
  window.Send();
  ASSERT_EQ(boxes.boxes().size(), 2u);
  EXPECT_EQ(boxes.boxes()[1].title, "Success");
  EXPECT_EQ(maker.https.Posts().size(), 1u);
}

// While the server takes its time the window paints, shows the busy cursor, and cannot
// be closed under the running request.
TEST_F(FeedbackFormTest, WindowPaintsAndStaysOpenWhileTheRequestWaits) {
  maker::ServerOptions slow;
  slow.delay = std::chrono::milliseconds(1500);
  LocalMaker maker(slow);
  BoxAnswerer boxes;
  FeedbackWindow window;
  window.Fill("Panel4", "Patience", "");

  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  window.form.installEventFilter(&counter);

  bool sawBusyCursor = false;
  bool stayedOpen = false;
  int paintsBefore = -1;
  QTimer probe;
  int step = 0;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!window.form.sending()) return;
    if (step == 0) {
      sawBusyCursor = QApplication::overrideCursor() != nullptr &&
                      QApplication::overrideCursor()->shape() == Qt::BusyCursor;
      paintsBefore = counter.paints;
      window.form.update();
      window.form.close();
      window.form.reject();
    } else if (step == 1) {
      stayedOpen = window.form.isVisible();
    }
    ++step;
  });
  probe.start(100);
  window.Send();
  probe.stop();

  EXPECT_TRUE(sawBusyCursor);
  EXPECT_TRUE(stayedOpen);
  EXPECT_GT(counter.paints, paintsBefore) << "no paint while the request was waiting";
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].title, "Success");
  EXPECT_EQ(window.form.result(), QDialog::Accepted);
}

// ---- Keys, captions, limits, panels -------------------------------------------------------

class FeedbackEscapeTest : public FeedbackFormTest,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(FeedbackEscapeTest, EscapeClosesTheWindow) {
  FeedbackWindow window;
  window.Fill("Panel4", "typed", "a@b.cd");
  auto* widget = window.Find<QWidget>(GetParam());
  widget->setFocus();
  QTest::keyClick(widget, Qt::Key_Escape);
  EXPECT_FALSE(window.form.isVisible());
  EXPECT_EQ(window.form.result(), QDialog::Rejected);
}

INSTANTIATE_TEST_SUITE_P(Widgets, FeedbackEscapeTest,
                         ::testing::Values("Memo1", "BitBtn1", "Edit1", "Panel4"),
                         [](const auto& testCase) { return std::string(testCase.param); });

// Every control is reached by Tab, in the order of the window; Space chooses a panel.
TEST_F(FeedbackFormTest, TabReachesEveryControlAndSpaceChoosesAPanel) {
  FeedbackWindow window;
  const std::vector<QWidget*> controls = {window.Panel("Panel4"), window.Panel("Panel5"),
                                          window.memo(), window.email(), window.send()};
  controls.front()->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), controls.front());
  std::vector<QWidget*> reached = {QApplication::focusWidget()};
  for (std::size_t i = 1; i < controls.size() + 1; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    reached.push_back(QApplication::focusWidget());
  }
  std::vector<QWidget*> expected = controls;
  expected.push_back(controls.front());  // and round again
  EXPECT_EQ(reached, expected);

  QTest::keyClick(window.Panel("Panel5"), Qt::Key_Space);
  EXPECT_EQ(window.form.choice(), FeedbackChoice::kDislike);
  QTest::keyClick(window.Panel("Panel4"), Qt::Key_Return);
  EXPECT_EQ(window.form.choice(), FeedbackChoice::kLike);
}

TEST_F(FeedbackFormTest, CaptionsComeFromTheLanguageFile) {
  LanguageFixture(programFolder.path())
      .LoadItalian(
          "{feedback}commenti\r\n"
          "{We would really appreciate your feedback.}Ci piacerebbe la tua opinione.\r\n"
          "{What did you like or dislike?}Cosa ti piace?\r\n"
          "{Include my e-mail:}La mia e-mail:\r\n"
          "{Send}Invia\r\n{I like it!}Mi piace\r\n{I dislike it!}Non mi piace\r\n");
  FeedbackWindow window;
  EXPECT_EQ(window.form.windowTitle(), "Cellverter commenti");
  EXPECT_EQ(window.Find<QLabel>("Label1")->text(), "Ci piacerebbe la tua opinione.");
  EXPECT_EQ(window.Find<QLabel>("Label2")->text(), "Cosa ti piace?");
  EXPECT_EQ(window.Find<QLabel>("Label3")->text(), "La mia e-mail:");
  EXPECT_EQ(window.send()->text(), "Invia");
  QStringList texts;
  for (const QLabel* label : window.Panel("Panel4")->findChildren<QLabel*>()) {
    texts << label->text();
  }
  for (const QLabel* label : window.Panel("Panel5")->findChildren<QLabel*>()) {
    texts << label->text();
  }
  EXPECT_TRUE(texts.contains("Mi piace"));
  EXPECT_TRUE(texts.contains("Non mi piace"));
}

TEST_F(FeedbackFormTest, LayoutAndLimits) {
  FeedbackWindow window;
  EXPECT_EQ(window.form.windowTitle(), "Cellverter feedback");
  EXPECT_EQ(window.form.size(), QSize(525, 326));
  EXPECT_EQ(window.Panel("Panel4")->size(), QSize(257, 40));
  EXPECT_EQ(window.Panel("Panel5")->size(), QSize(256, 40));
  EXPECT_EQ(window.send()->size(), QSize(172, 33));
  EXPECT_EQ(window.email()->maxLength(), 100);

  // A paste past the limit is cut, and typing at the limit adds nothing.
  window.memo()->setPlainText(QString(9990, QLatin1Char('a')));
  window.memo()->moveCursor(QTextCursor::End);
  window.memo()->insertPlainText(QString(20, QLatin1Char('b')));
  EXPECT_EQ(window.memo()->toPlainText(),
            QString(9990, QLatin1Char('a')) + QString(10, QLatin1Char('b')));
  QTest::keyClicks(window.memo(), "cc");
  EXPECT_EQ(window.memo()->toPlainText().size(), 10000);
}

TEST_F(FeedbackFormTest, PanelsSwitchAndNeverGoBackToNeither) {
  FeedbackWindow window;
  QFrame* like = window.Panel("Panel4");
  QFrame* dislike = window.Panel("Panel5");
  const QPalette system = QApplication::palette();
  auto looksSelected = [&](QFrame* panel) {
    return panel->palette().color(QPalette::Window) == system.color(QPalette::Highlight) &&
           panel->frameShadow() == QFrame::Sunken;
  };
  auto looksPlain = [&](QFrame* panel) {
    return panel->palette().color(QPalette::Window) == system.color(QPalette::Button) &&
           panel->frameShadow() == QFrame::Raised;
  };
  EXPECT_TRUE(looksPlain(like) && looksPlain(dislike));
  EXPECT_EQ(window.form.choice(), FeedbackChoice::kNone);

  QTest::mouseClick(like->findChild<QLabel*>("Image1"), Qt::LeftButton);  // the face
  EXPECT_TRUE(looksSelected(like) && looksPlain(dislike));
  QTest::mouseClick(dislike, Qt::LeftButton);
  EXPECT_TRUE(looksPlain(like) && looksSelected(dislike));
  QTest::mouseClick(dislike, Qt::LeftButton);
  EXPECT_TRUE(looksPlain(like) && looksSelected(dislike));
  EXPECT_EQ(window.form.choice(), FeedbackChoice::kDislike);
}

}  // namespace
}  // namespace cellverter
