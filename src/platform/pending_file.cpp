#include "platform/pending_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace cellverter {
namespace {

// The umask, read without changing it: umask() can only read by setting, and a worker
// thread creating a file in between would get the wrong mode (or keep it for good).
mode_t CurrentUmask() {
  const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char text[4096];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n > 0) {
      text[n] = '\0';
      if (const char* field = std::strstr(text, "\nUmask:")) {
        return static_cast<mode_t>(std::strtoul(field + 7, nullptr, 8) & 0777);
      }
    }
  }
  static std::mutex mutex;  // kernels before 4.7 do not show it
  const std::lock_guard lock(mutex);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

std::string ProcPathOf(int fd) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  return path;
}

// Gives `from` the name `to` unless `to` exists. Returns 0 or the errno of the failure.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) ==
      0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // Without RENAME_NOREPLACE a hard link fails just as atomically on a taken name.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

}  // namespace

PendingFile::~PendingFile() {
  if (!published_) Discard();
}

void PendingFile::Discard() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  if (!hiddenPath_.empty()) ::unlink(std::exchange(hiddenPath_, {}).c_str());
}

int PendingFile::Create(const std::string& folder, unsigned mode) {
  const std::string where = folder.empty() ? "." : folder;
  mode &= ~CurrentUmask();
  if (method_ == Method::kUnnamed) {
    const int error = CreateUnnamed(where, mode);
    // These say the file system (or kernel) has no unnamed files; anything else is real.
    if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL) return error;
  }
  return CreateHidden(where, mode);
}

int PendingFile::CreateUnnamed(const std::string& folder, unsigned mode) {
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd_ < 0) return errno;
  // Publishing links the file through /proc, which works without privileges; a system
  // without /proc could not name the file at the end, so it gets a hidden name now.
  struct stat info {};
  if (::stat(ProcPathOf(fd_).c_str(), &info) != 0) {
    ::close(std::exchange(fd_, -1));
    return EOPNOTSUPP;
  }
  return 0;
}

int PendingFile::CreateHidden(const std::string& folder, unsigned mode) {
  std::string path = folder;
  if (path.back() != '/') path += '/';
  path += ".cellverter-XXXXXX";
  fd_ = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd_ < 0) return errno;
  hiddenPath_ = std::move(path);
  // mkostemp creates 0600.
  if (::fchmod(fd_, mode) != 0) {
    const int error = errno;
    Discard();
    return error;
  }
  return 0;
}

int PendingFile::Write(std::string_view bytes) {
  if (fd_ < 0) return EBADF;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

int PendingFile::Sync() {
  if (synced_) return 0;
  if (durability_ == Durability::kDurable && ::fdatasync(fd_) != 0 && errno != EINVAL) {
    return errno;
  }
  synced_ = true;
  // A hidden file is renamed by its name, so it is closed first: a late write error that
  // close reports must stop it from appearing.
  if (!hiddenPath_.empty() && ::close(std::exchange(fd_, -1)) != 0) return errno;
  return 0;
}

int PendingFile::Publish(const std::string& path) {
  if (published_ || (fd_ < 0 && hiddenPath_.empty())) return EBADF;
  auto fail = [this](int error) {
    Discard();
    return error;
  };
  if (const int error = Sync(); error != 0) return fail(error);
  if (hiddenPath_.empty()) {
    if (::linkat(AT_FDCWD, ProcPathOf(fd_).c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) !=
        0) {
      return errno == EEXIST ? EEXIST : fail(errno);
    }
    published_ = true;
    // The data are on disk already, so a late close error loses nothing.
    ::close(std::exchange(fd_, -1));
    return 0;
  }
  const int error = RenameNoReplace(hiddenPath_, path);
  if (error == EEXIST) return EEXIST;
  if (error != 0) return fail(error);
  published_ = true;
  hiddenPath_.clear();
  return 0;
}

int PendingFile::Replace(const std::string& path) {
  if (published_ || hiddenPath_.empty()) return hiddenPath_.empty() ? EINVAL : EBADF;
  auto fail = [this](int error) {
    Discard();
    return error;
  };
  struct stat existing {};
  if (!synced_ && ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    ::fchmod(fd_, existing.st_mode & 07777);
  }
  if (const int error = Sync(); error != 0) return fail(error);
  if (::rename(hiddenPath_.c_str(), path.c_str()) != 0) return fail(errno);
  published_ = true;
  hiddenPath_.clear();

  // Make the rename itself durable; a failure here loses nothing that was written.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    ::fsync(folderFd);
    ::close(folderFd);
  }
  return 0;
}

}  // namespace cellverter
