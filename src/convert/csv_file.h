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
// system has them). Publish() makes the file appear complete under its name; until then
// it has none, so a failure, an abandoned writer or a killed process leaves no
// half-written CSV behind. An existing file is never replaced: when the name was taken
// meanwhile the next free numbered name is used.
class CsvFileWriter {
 public:
  // `csvFile` is the path the caller chose (already unique); nothing is created until the
  // first line arrives. `ansiCodePage` matters only for CsvEncoding::Ansi.
  CsvFileWriter(std::string csvFile, CsvEncoding encoding, int ansiCodePage,
                LineEnding lineEnding = LineEnding::kCrLf);
  ~CsvFileWriter();
  CsvFileWriter(const CsvFileWriter&) = delete;
  CsvFileWriter& operator=(const CsvFileWriter&) = delete;

  void AddLine(std::string_view utf8Line);

  // Writes out what is buffered and lets go of the buffer, for a writer that waits to be
  // published while others work. A write error is thrown by Publish(), as it would have been
  // without this call.
  void Finish();

  // Flushes everything to disk and gives the file its final name, which it returns. With
  // no line added nothing is created and the result is empty.
  std::string Publish();

 private:
  void Open();
  void Flush();
  [[noreturn]] void Fail(int errorNumber);

  std::string csvFile_;
  std::unique_ptr<TextEncoder> encoder_;
  std::string_view byteOrderMark_;
  std::string lineEnd_;  // encoded
  std::string buffer_;
  PendingFile file_;
  bool open_ = false;
  int finishError_ = 0;  // the errno of Finish()'s write
};

// Writes `lines` to `csvFile` in one go (see CsvFileWriter); an empty list writes nothing.
// Returns the path written.
std::string WriteCsvFile(const std::vector<std::string>& lines, const std::string& csvFile,
                         CsvEncoding encoding, int ansiCodePage);

}  // namespace cellverter
