#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace cellverter {

// Every failure to open or read a workbook reads the same way:
//   Cannot open "<path>": <cause>.
// `cause` starts in lower case and carries no final period, e.g. "the file is damaged (the
// sheet XML is malformed)".
inline std::string WorkbookErrorMessage(std::string_view path, std::string_view cause) {
  std::string message = "Cannot open \"";
  message += path;
  message += "\": ";
  message += cause;
  message += '.';
  return message;
}

[[noreturn]] inline void ThrowWorkbookError(std::string_view path, std::string_view cause) {
  throw Error(WorkbookErrorMessage(path, cause));
}

// Runs `open` (a reader's opening of `path`) and turns what its inner layers throw into an
// Error naming the file: their text is the cause.
template <typename Open>
auto WithWorkbookErrors(std::string_view path, Open&& open) -> decltype(open()) {
  try {
    return open();
  } catch (const Error&) {
    throw;
  } catch (const std::bad_alloc&) {
    ThrowWorkbookError(path, "there is not enough memory to read it");
  } catch (const std::exception& e) {
    ThrowWorkbookError(path, e.what());
  }
}

// What a reader's inner layers (container, XML, records) throw without knowing the file's
// name; the reader turns it into an Error naming the file. The text is the cause.
class WorkbookDamaged : public std::runtime_error {
 public:
  explicit WorkbookDamaged(const std::string& detail)
      : std::runtime_error("the file is damaged (" + detail + ")") {}
};

}  // namespace cellverter
