#include "convert/csv_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "convert/output_path.h"
#include "platform/error.h"

namespace cellverter {
namespace {

constexpr size_t kFlushSize = 1 << 20;

// Gives `from` the name `to` unless `to` exists. Returns 0 or the errno of the failure.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) ==
      0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // Filesystems without RENAME_NOREPLACE: a hard link fails just as atomically on a taken name.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  return errno;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace

CsvFileWriter::CsvFileWriter(std::string csvFile, CsvEncoding encoding, int ansiCodePage)
    : csvFile_(std::move(csvFile)),
      encoder_(TextEncoder::Create(encoding, ansiCodePage)),
      byteOrderMark_(kCsvEncodings[static_cast<size_t>(encoding)].byteOrderMark) {
  encoder_->Append("\r\n", crlf_);
}

CsvFileWriter::~CsvFileWriter() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(tempPath_.c_str());
  }
}

void CsvFileWriter::Fail(int errorNumber) {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(tempPath_.c_str());
    fd_ = -1;
  }
  throw Error("Cannot create file \"" + csvFile_ + "\". " + SystemMessage(errorNumber));
}

void CsvFileWriter::Open() {
  struct stat info {};
  if (::stat(csvFile_.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) Fail(EISDIR);
  // Hidden and beside the target, so publishing is a rename within one filesystem.
  const size_t slash = csvFile_.rfind('/');
  const std::string name = slash == std::string::npos ? csvFile_ : csvFile_.substr(slash + 1);
  tempPath_ = FolderOf(csvFile_) + "." + name + ".XXXXXX";
  fd_ = ::mkostemp(tempPath_.data(), O_CLOEXEC);
  if (fd_ < 0) Fail(errno);
  // mkstemp creates 0600; give the file the mode a plain creation would have.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_, 0666 & ~mask);
  buffer_.assign(byteOrderMark_);
}

void CsvFileWriter::AddLine(std::string_view utf8Line) {
  if (fd_ < 0) Open();
  anyLine_ = true;
  encoder_->Append(utf8Line, buffer_);
  buffer_ += crlf_;
  if (buffer_.size() >= kFlushSize) Flush();
}

void CsvFileWriter::Flush() {
  size_t written = 0;
  while (written < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + written, buffer_.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    written += static_cast<size_t>(n);
  }
  buffer_.clear();
}

std::string CsvFileWriter::Publish() {
  if (!anyLine_) return {};
  Flush();
  if (::fdatasync(fd_) != 0 && errno != EINVAL) Fail(errno);
  if (::close(fd_) != 0) {
    fd_ = -1;
    const int error = errno;
    ::unlink(tempPath_.c_str());
    throw Error("Cannot create file \"" + csvFile_ + "\". " + SystemMessage(error));
  }
  fd_ = -1;
  std::string target = csvFile_;
  while (true) {
    const int error = RenameNoReplace(tempPath_, target);
    if (error == 0) return target;
    struct stat info {};
    const bool folder = ::stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (error != EEXIST || folder) {
      ::unlink(tempPath_.c_str());
      throw Error("Cannot create file \"" + target + "\". " +
                  SystemMessage(folder ? EISDIR : error));
    }
    // Taken since the name was chosen: the batch run's numbering picks the next free one.
    target = UniqueFileName(csvFile_);
  }
}

std::string WriteCsvFile(const std::vector<std::string>& lines, const std::string& csvFile,
                         CsvEncoding encoding, int ansiCodePage) {
  CsvFileWriter writer(csvFile, encoding, ansiCodePage);
  for (const std::string& line : lines) writer.AddLine(line);
  return writer.Publish();
}

}  // namespace cellverter
