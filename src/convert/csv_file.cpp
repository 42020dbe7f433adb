#include "convert/csv_file.h"

#include <sys/stat.h>

#include <cerrno>

#include "convert/output_path.h"
#include "platform/error.h"

namespace cellverter {
namespace {

constexpr size_t kFlushSize = 1 << 20;
// Names taken one after the other while publishing: only a folder filling up with names as
// fast as they are tried gets this far.
constexpr int kPublishAttempts = 1000;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

CsvFileWriter::CsvFileWriter(std::string csvFile, CsvEncoding encoding, int ansiCodePage,
                             LineEnding lineEnding, PendingFile::Durability durability)
    : csvFile_(std::move(csvFile)),
      encoder_(TextEncoder::Create(encoding, ansiCodePage)),
      byteOrderMark_(kCsvEncodings[static_cast<size_t>(encoding)].byteOrderMark),
      file_(PendingFile::Method::kUnnamed, durability) {
  encoder_->Append(lineEnding == LineEnding::kLf ? "\n" : "\r\n", lineEnd_);
}

CsvFileWriter::~CsvFileWriter() = default;

void CsvFileWriter::Fail(int errorNumber) {
  throw Error("Cannot create file \"" + csvFile_ + "\". " + SystemMessage(errorNumber),
              ErrorKind::kOutputFolder);
}

void CsvFileWriter::Start() {
  if (IsFolder(csvFile_)) Fail(EISDIR);
  started_ = true;
  buffer_.assign(byteOrderMark_);
}

void CsvFileWriter::Create() {
  if (!started_ || created_) return;
  // Beside the target, so that publishing stays within one file system.
  if (const int error = file_.Create(FolderOf(csvFile_))) Fail(error);
  created_ = true;
}

void CsvFileWriter::AddLine(std::string_view utf8Line) {
  if (!started_) Start();
  encoder_->Append(utf8Line, buffer_);
  buffer_ += lineEnd_;
  if (buffer_.size() >= kFlushSize) Flush();
}

void CsvFileWriter::Flush() {
  Create();
  if (const int error = file_.Write(buffer_)) Fail(error);
  buffer_.clear();
}

void CsvFileWriter::Finish() {
  if (!created_ || finishError_ != 0) return;
  finishError_ = file_.Write(buffer_);
  std::string().swap(buffer_);
}

std::string CsvFileWriter::Publish() {
  if (!started_) return {};
  if (finishError_ != 0) Fail(finishError_);
  Flush();
  std::string target = csvFile_;
  long long counter = 1;
  for (int attempt = 1;; ++attempt) {
    const int error = file_.Publish(target);
    if (error == 0) return target;
    const bool folder = IsFolder(target);
    if (error != EEXIST || folder || attempt == kPublishAttempts) {
      throw Error(
          "Cannot create file \"" + target + "\". " + SystemMessage(folder ? EISDIR : error),
          ErrorKind::kOutputFolder);
    }
    // Taken since the name was chosen: the next free numbered name, never one met before.
    target = NextUniqueFileName(csvFile_, counter);
  }
}

std::string WriteCsvFile(const std::vector<std::string>& lines, const std::string& csvFile,
                         CsvEncoding encoding, int ansiCodePage) {
  CsvFileWriter writer(csvFile, encoding, ansiCodePage);
  for (const std::string& line : lines) writer.AddLine(line);
  return writer.Publish();
}

}  // namespace cellverter
