#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>

namespace cellverter {

// Takes SIGINT, SIGTERM and SIGHUP for the whole run. They are blocked in every thread and
// waited for by one thread of its own (sigwait), so nothing runs in a signal handler and
// the reactions may lock, print and remove files. The first one sets Interrupted() (the run
// stops at the next row); a second one calls `endAtOnce`, which must not return (it ends the
// program). Create it before any other thread, so that they inherit the blocked signals.
class InterruptWatcher {
 public:
  explicit InterruptWatcher(std::function<void()> endAtOnce);
  ~InterruptWatcher();
  InterruptWatcher(const InterruptWatcher&) = delete;
  InterruptWatcher& operator=(const InterruptWatcher&) = delete;

  const std::atomic<bool>& Interrupted() const { return interrupted_; }

 private:
  void Watch();

  sigset_t signals_{};
  std::function<void()> endAtOnce_;
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// The descriptors open now: those the program inherited, which it must never take for its
// own unfinished files.
std::set<int> OpenDescriptors();

// Removes the regular files that this process holds open for writing in `folder`, but for
// the descriptors in `inherited`: the files of CSV files under way. A writer closes its file
// before the run reports it, so none of them has been listed as written. Files without a
// name (unnamed temporary files) go with the process.
void RemoveUnfinishedFiles(const std::string& folder, const std::set<int>& inherited);

}  // namespace cellverter
