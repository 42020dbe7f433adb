#include "cli/interrupt.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace cellverter {

InterruptWatcher::InterruptWatcher(std::function<void()> endAtOnce)
    : endAtOnce_(std::move(endAtOnce)) {
  sigemptyset(&signals_);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals_, signal);
  ::pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
  thread_ = std::thread([this] { Watch(); });
}

InterruptWatcher::~InterruptWatcher() {
  // Wakes the watcher with a signal meant for it alone; done_ tells it from a real one.
  done_ = true;
  ::pthread_kill(thread_.native_handle(), SIGHUP);
  thread_.join();
}

void InterruptWatcher::Watch() {
  for (bool first = true;;) {
    int signal = 0;
    if (::sigwait(&signals_, &signal) != 0) continue;
    if (done_) return;
    if (first) {
      interrupted_ = true;
      first = false;
    } else {
      endAtOnce_();
    }
  }
}

std::set<int> OpenDescriptors() {
  std::set<int> open;
  DIR* list = ::opendir("/proc/self/fd");
  if (list == nullptr) return open;
  while (const dirent* entry = ::readdir(list)) {
    if (entry->d_name[0] == '.') continue;
    const int fd = std::atoi(entry->d_name);
    if (fd != ::dirfd(list)) open.insert(fd);
  }
  ::closedir(list);
  return open;
}

void RemoveUnfinishedFiles(const std::string& folder, const std::set<int>& inherited) {
  struct stat folderInfo {};
  if (::stat(folder.c_str(), &folderInfo) != 0) return;
  for (const int fd : OpenDescriptors()) {
    if (inherited.count(fd) != 0) continue;
    const int flags = ::fcntl(fd, F_GETFL);
    struct stat info {};
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY || ::fstat(fd, &info) != 0 ||
        !S_ISREG(info.st_mode) || info.st_nlink == 0) {
      continue;
    }
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path - 1);
    if (length <= 0) continue;
    const std::string name(path, static_cast<size_t>(length));
    const size_t slash = name.rfind('/');
    if (slash == std::string::npos) continue;
    // Only a name in the folder that still is this very file.
    struct stat parent {};
    struct stat named {};
    if (::stat(name.substr(0, slash == 0 ? 1 : slash).c_str(), &parent) != 0 ||
        parent.st_dev != folderInfo.st_dev || parent.st_ino != folderInfo.st_ino ||
        ::lstat(name.c_str(), &named) != 0 || named.st_dev != info.st_dev ||
        named.st_ino != info.st_ino) {
      continue;
    }
    ::unlink(name.c_str());
  }
}

}  // namespace cellverter
