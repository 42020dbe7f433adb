#pragma once

#include <QPointer>

#include <memory>

#include "update/update_check.h"

class QAction;
class QObject;
class QTimer;
class QWidget;

namespace cellverter {

class TNewVer;

// The user-interface ends of the update check, owned by the main window: the ticks of its
// TimerChecker (start the check thread, later take its result over) and its menu item
// "Update Notifications". The check thread is never waited for; it may outlive this object.
class UpdateCheckUi {
 public:
  // updateNotificationsItem: checkable, checked and disabled until the check has finished.
  UpdateCheckUi(QWidget* mainWindow, QAction* updateNotificationsItem);
  ~UpdateCheckUi();
  UpdateCheckUi(const UpdateCheckUi&) = delete;
  UpdateCheckUi& operator=(const UpdateCheckUi&) = delete;

  // One tick of TimerChecker (1000 ms): the first starts the check, the first after the
  // check has finished stops the timer, enables the item, clears its mark when the check is
  // switched off and opens the notice when one is due.
  void TimerCheckerTimer(QTimer* timerChecker);
  // The item's QAction::triggered handler: the item has already turned its mark over; the
  // new state is stored and takes effect at the next start.
  void UpdateNotifications1Click();

  // The check's state; read it only after Finished.
  const UpdateCheckState& state() const { return *state_; }
  // The notice window once it was opened, else null.
  TNewVer* notice() const;

 private:
  struct Gate;

  QPointer<QWidget> mainWindow_;
  QPointer<QAction> item_;
  std::shared_ptr<UpdateCheckState> state_;
  std::shared_ptr<Gate> gate_;
  QPointer<TNewVer> notice_;
};

}  // namespace cellverter
