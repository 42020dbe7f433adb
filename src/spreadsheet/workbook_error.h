#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/workbook_names.h"

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

// Why a file that no reader recognises is refused: it says what is read.
inline const std::string kNotAWorkbookCause =
    "it is not a workbook (the formats read are " + WorkbookExtensionsText() + ")";

[[noreturn]] inline void ThrowWorkbookError(std::string_view path, std::string_view cause,
                                            ErrorKind kind) {
  throw Error(WorkbookErrorMessage(path, cause), kind);
}

// What a reader's inner layers (container, XML, records, decryption) throw without knowing
// the file's name; the reader turns it into an Error naming the file, of the same kind. The
// text is the cause.
class WorkbookFault : public std::runtime_error {
 public:
  WorkbookFault(const std::string& cause, ErrorKind kind)
      : std::runtime_error(cause), kind_(kind) {}
  ErrorKind Kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

// The one signal of damage inside the readers.
class WorkbookDamaged : public WorkbookFault {
 public:
  explicit WorkbookDamaged(const std::string& detail)
      : WorkbookFault("the file is damaged (" + detail + ")", ErrorKind::kDamaged) {}
};

// Throws WorkbookDamaged from out of line: a check on a hot path stays small enough to inline.
[[noreturn, gnu::cold, gnu::noinline]] inline void ThrowDamaged(const char* detail) {
  throw WorkbookDamaged(detail);
}

// Runs `open` (a reader's opening of `path`) and turns what its inner layers throw into an
// Error naming the file: their text is the cause.
template <typename Open>
auto WithWorkbookErrors(std::string_view path, Open&& open) -> decltype(open()) {
  try {
    return open();
  } catch (const Error&) {
    throw;
  } catch (const WorkbookFault& fault) {
    ThrowWorkbookError(path, fault.what(), fault.Kind());
  } catch (const std::bad_alloc&) {
    ThrowWorkbookError(path, "there is not enough memory to read it", ErrorKind::kOther);
  } catch (const std::exception& e) {
    ThrowWorkbookError(path, e.what(), ErrorKind::kOther);
  }
}

}  // namespace cellverter
