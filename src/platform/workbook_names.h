#pragma once

#include <string>
#include <string_view>

namespace cellverter {

// The name extensions of the workbooks read, in the order they are named to users: the
// source list and the folder scan take these names, and the readers say so when a file is
// none of them.
inline constexpr std::string_view kWorkbookExtensions[] = {".xlsx", ".xlsm", ".xlsb", ".xltx",
                                                           ".xltm", ".xls",  ".ods",  ".fods"};

// ".xlsx, .xlsm, ... and .fods".
inline std::string WorkbookExtensionsText() {
  std::string text;
  const size_t count = std::size(kWorkbookExtensions);
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) text += i + 1 == count ? " and " : ", ";
    text += kWorkbookExtensions[i];
  }
  return text;
}

}  // namespace cellverter
