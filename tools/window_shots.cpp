// Draws the feedback and about windows into PNG files for the documentation.
//   frame_window_shots FEEDBACK.png ABOUT.png [HIDDEN-PICTURE.png]
// Run it under xvfb-run (or any display) so that fonts render as on a desktop.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "about/about_box.h"
#include "feedback/feedback_form.h"
#include "platform/app_values.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s FEEDBACK.png ABOUT.png [HIDDEN-PICTURE.png]\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  cellverter::App() = {"KORVANE", "Cellverter", "KORVANE - Cellverter", "2.1"};

  cellverter::TFeedbackForm feedback;
  feedback.show();
  feedback.Image1Click();
  feedback.findChild<QPlainTextEdit*>("Memo1")->setPlainText(
      "Converted 240 workbooks overnight with the automatic run.\n"
      "Dates and currencies came out exactly as Excel shows them.");
  feedback.findChild<QLineEdit*>("Edit1")->setText("jane.doe@example.com");
  QTest::qWait(300);
  const bool feedbackSaved = feedback.grab().save(QString::fromLocal8Bit(argv[1]));

  cellverter::TAboutBox about;
  about.show();
  QTest::qWait(3000);  // sixty ticks of falling letters
  bool aboutSaved = about.grab().save(QString::fromLocal8Bit(argv[2]));
  if (argc == 4) {
    about.Image1DblClick();
    QTest::qWait(1500);  // the content panel slides away
    aboutSaved = aboutSaved && about.grab().save(QString::fromLocal8Bit(argv[3]));
  }

  if (!feedbackSaved || !aboutSaved) {
    std::fprintf(stderr, "cannot write the pictures\n");
    return 1;
  }
  return 0;
}
