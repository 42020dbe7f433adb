#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace cellverter {

// What went wrong, for callers that act on it (the command-line tool's exit status, say);
// the message stays the text a user reads.
enum class ErrorKind : uint8_t {
  kOther,
  kNotFound,            // the workbook does not exist
  kNotAWorkbook,        // a folder, a device, or content no reader knows
  kPasswordProtected,   // no password given opens it, or the one given is wrong
  kUnsupportedVersion,  // a workbook format that is not read (no reader refuses one now)
  kDamaged,             // the file breaks its format beyond what a repair mends
  kNoSuchSheet,         // a worksheet asked for is not in the workbook
  kInputOutput,         // the system refused to read or write (permissions, disk errors)
  kOutputFolder,        // the destination folder could not be made or written
};

// The one error type of the core. Its message is the text a user reads, so it names the
// file and the cause ("Cannot create file "x.csv". Permission denied").
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message, ErrorKind kind = ErrorKind::kOther)
      : std::runtime_error(message), kind_(kind) {}
  explicit Error(const char* message, ErrorKind kind = ErrorKind::kOther)
      : std::runtime_error(message), kind_(kind) {}

  ErrorKind Kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

// The system's text for an errno value, as strerror gives it.
std::string SystemMessage(int errorNumber);

}  // namespace cellverter
