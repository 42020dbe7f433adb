#pragma once

#include <QDialog>

#include "feedback/feedback_rules.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace cellverter {

class ChoicePanel;

// The feedback window: "I like it!" / "I dislike it!", a free text and an optional e-mail
// address, posted to the maker's server. Modal; the main window creates one per opening:
//   TFeedbackForm form(mainWindow); form.exec();
class TFeedbackForm : public QDialog {
  Q_OBJECT

 public:
  explicit TFeedbackForm(QWidget* parent = nullptr);
  ~TFeedbackForm() override;

  // Where the feedback goes (default: the maker's host); tests point it at a local server.
  void SetAddresses(FeedbackAddresses addresses);

  FeedbackChoice choice() const { return choice_; }
  bool sending() const { return sending_; }

  // Handlers, one per user event.
  void Image1Click();
  void Image2Click();
  void BitBtn1Click();

 public slots:
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void ShowChoice();
  // Runs the two attempts on a worker thread; the window keeps painting meanwhile.
  bool Deliver(const std::vector<std::string>& fields);

  QFrame* Panel3 = nullptr;
  ChoicePanel* Panel4 = nullptr;
  ChoicePanel* Panel5 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QFrame* Panel1 = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QFrame* Panel2 = nullptr;
  QPushButton* BitBtn1 = nullptr;

  FeedbackChoice choice_ = FeedbackChoice::kNone;
  FeedbackAddresses addresses_;
  bool sending_ = false;
};

}  // namespace cellverter
