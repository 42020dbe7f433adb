#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "convert/csv_encoding.h"
#include "convert/csv_record.h"
#include "platform/pending_file.h"

namespace cellverter {

// Writes the lines of one CSV file as they are built: each line is encoded, followed by
// CR LF (or LF), and streamed into a PendingFile beside the target (an unnamed file where the file
// system has them), created once the first MiB is buffered or at Publish(): creating a file
// waits on the file system's journal, which a small file pays together with its flush to
// disk. Publish() makes the file appear complete under its name; until then
// it has none, so a failure, an abandoned writer or a killed process leaves no
// half-written CSV behind. An existing file is never replaced: when the name was taken
// meanwhile the next free numbered name is used.
class CsvFileWriter {
 public:
  // `csvFile` is the path the caller chose (already unique); a folder of that name fails the
  // first line. `ansiCodePage` matters only for CsvEncoding::Ansi.
  CsvFileWriter(std::string csvFile, CsvEncoding encoding, int ansiCodePage,
                LineEnding lineEnding = LineEnding::kCrLf,
                PendingFile::Durability durability = PendingFile::Durability::kDurable);
  ~CsvFileWriter();
  CsvFileWriter(const CsvFileWriter&) = delete;
  CsvFileWriter& operator=(const CsvFileWriter&) = delete;

  void AddLine(std::string_view utf8Line);

  // Creates the pending file now if lines were added and it has none yet, so that a caller
  // publishing several files knows each can be created before it names the first.
  void Create();

  // For a writer that waits to be published while others work: a file already created gets
  // what is buffered and the buffer is let go (a small one stays in memory, uncreated). A
  // write error is thrown by Publish(), as it would have been without this call.
  void Finish();

  // Flushes everything to disk and gives the file its final name, which it returns. With
  // no line added nothing is created and the result is empty.
  std::string Publish();

 private:
  void Start();
  void Flush();
  [[noreturn]] void Fail(int errorNumber);

  std::string csvFile_;
  std::unique_ptr<TextEncoder> encoder_;
  std::string_view byteOrderMark_;
  std::string lineEnd_;  // encoded
  std::string buffer_;
  PendingFile file_;
  bool started_ = false;  // a line was added
  bool created_ = false;  // file_ exists
  int finishError_ = 0;   // the errno of Finish()'s write
};

// Writes `lines` to `csvFile` in one go (see CsvFileWriter); an empty list writes nothing.
// Returns the path written.
std::string WriteCsvFile(const std::vector<std::string>& lines, const std::string& csvFile,
                         CsvEncoding encoding, int ansiCodePage);

}  // namespace cellverter
