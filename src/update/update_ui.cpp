#include "update/update_ui.h"

#include <QAction>
#include <QMessageBox>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <future>
#include <mutex>

#include "i18n/translate.h"
#include "platform/app_values.h"
#include "update/new_version_window.h"

namespace cellverter {

// Where the check thread hands the important message to the user-interface thread. The
// context object lives on the user-interface thread; once this object's owner is gone the
// thread finds no context and shows nothing.
struct UpdateCheckUi::Gate {
  std::mutex mutex;
  QObject* context = nullptr;  // guarded by mutex
  QPointer<QWidget> parent;
};

UpdateCheckUi::UpdateCheckUi(QWidget* mainWindow, QAction* updateNotificationsItem)
    : mainWindow_(mainWindow),
      item_(updateNotificationsItem),
      state_(std::make_shared<UpdateCheckState>()),
      gate_(std::make_shared<Gate>()) {
  gate_->context = new QObject;
  gate_->parent = mainWindow;
}

UpdateCheckUi::~UpdateCheckUi() {
  {
    std::lock_guard lock(gate_->mutex);
    delete gate_->context;  // drops a request that is still queued: its waiter is released
    gate_->context = nullptr;
  }
  delete notice_.data();
}

TNewVer* UpdateCheckUi::notice() const { return notice_.data(); }

void UpdateCheckUi::TimerCheckerTimer(QTimer* timerChecker) {
  if (!state_->CheckStarted) {
    state_->CheckStarted = true;
    CheckSettings settings;
    settings.appTitle = App().appTitle;
    settings.appVersion = App().appVersion;
    settings.today = [] { return TodayText(); };
    settings.importantCaption = Translate("IMPORTANT");
    settings.showImportant = [gate = gate_](const std::string& caption, const std::string& text) {
      auto closed = std::make_shared<std::promise<void>>();
      std::future<void> waited = closed->get_future();
      {
        std::lock_guard lock(gate->mutex);
        if (gate->context == nullptr) return;
        QMetaObject::invokeMethod(
            gate->context,
            [closed, parent = gate->parent, caption, text] {
              QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption),
                              QString::fromStdString(text), QMessageBox::Ok, parent.data());
              box.setObjectName("ImportantMessage");
              box.setTextFormat(Qt::PlainText);  // the server's text is never markup
              box.exec();
              closed->set_value();
            },
            Qt::QueuedConnection);
      }
      // A request dropped unshown releases the promise, which ends the wait as well.
      waited.wait();
    };
    TChecker::Start(state_, std::move(settings));
    return;
  }
  if (!state_->Finished.load(std::memory_order_acquire)) return;
  if (timerChecker != nullptr) timerChecker->stop();
  if (item_) {
    item_->setEnabled(true);
    if (state_->ShowUpdate == 0) item_->setChecked(false);
  }
  if (state_->ShowNotice && !notice_) {
    notice_ = new TNewVer(state_->ServerVersion, state_->DownloadURL, App().productName,
                          mainWindow_.data());
  }
}

void UpdateCheckUi::UpdateNotifications1Click() {
  if (!item_) return;
  WriteShowUpdate(*state_, item_->isChecked() ? 1 : 0);
}

}  // namespace cellverter
