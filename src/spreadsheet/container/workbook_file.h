#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/error.h"
#include "spreadsheet/workbook_error.h"

namespace cellverter {

// Opens a workbook for reading and returns the descriptor; `size` gets its length. Only a
// regular file is kept: opening or reading a FIFO, socket or device named like a workbook
// could wait for ever, so such a file is refused as not being a workbook. Throws the
// workbook errors ("the file does not exist", "it is a folder, not a workbook", "it is not
// an Excel workbook", or the system's text). Every reader opens its file through this.
inline int OpenWorkbookFile(const std::string& path, uint64_t* size = nullptr) {
  // O_NONBLOCK: a FIFO without a writer would block the open itself.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat info {};
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) ThrowWorkbookError(path, "the file does not exist", ErrorKind::kNotFound);
    // A socket cannot be opened at all: say what it is rather than why open failed.
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
      ThrowWorkbookError(path, kNotAWorkbookCause, ErrorKind::kNotAWorkbook);
    }
    ThrowWorkbookError(path, SystemMessage(error), ErrorKind::kInputOutput);
  }
  const char* refusal = nullptr;
  int error = 0;
  if (::fstat(fd, &info) != 0) {
    error = errno;
  } else if (S_ISDIR(info.st_mode)) {
    refusal = "it is a folder, not a workbook";
  } else if (!S_ISREG(info.st_mode)) {
    refusal = kNotAWorkbookCause.c_str();
  } else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    error = errno;
  }
  if (refusal != nullptr || error != 0) {
    ::close(fd);
    ThrowWorkbookError(path, refusal != nullptr ? refusal : SystemMessage(error),
                       refusal != nullptr ? ErrorKind::kNotAWorkbook : ErrorKind::kInputOutput);
  }
  if (size != nullptr) *size = static_cast<uint64_t>(info.st_size);
  return fd;
}

}  // namespace cellverter
