#include "sources/source_rules.h"

#include <algorithm>

#include "platform/workbook_names.h"

namespace cellverter {

bool Destekleniyormu(std::string_view dosyaadi) {
  const size_t last = dosyaadi.find_last_of(".\\:/");
  if (last == std::string_view::npos || dosyaadi[last] != '.') return false;
  std::string extension(dosyaadi.substr(last));
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return std::ranges::find(kWorkbookExtensions, extension) != std::end(kWorkbookExtensions);
}

std::string FolderPartOfPath(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  // The root, like a drive's "C:\", keeps its separator, and so does a doubled one.
  if (slash == 0 || path[slash - 1] == '/') return std::string(path.substr(0, slash + 1));
  return std::string(path.substr(0, slash));
}

}  // namespace cellverter
