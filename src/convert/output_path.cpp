#include "convert/output_path.h"

#include <sys/stat.h>

namespace cellverter {
namespace {

// Splits a path into folder (with its trailing "/"), base name and extension (from the
// last dot of the file name on).
struct PathParts {
  std::string folder;
  std::string base;
  std::string extension;
};

PathParts Split(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::string name = path.substr(nameStart);
  const size_t dot = name.rfind('.');
  PathParts parts;
  parts.folder = path.substr(0, nameStart);
  parts.base = dot == std::string::npos ? name : name.substr(0, dot);
  parts.extension = dot == std::string::npos ? "" : name.substr(dot);
  return parts;
}

bool NameTaken(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return !S_ISDIR(info.st_mode);
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string OutputPathFor(const std::string& destination, const std::string& workbookPath) {
  std::string result = destination;
  if (result.empty() || result.back() != '/') result += '/';
  const PathParts workbook = Split(workbookPath);
  return result + workbook.base + ".csv";
}

std::string OutputPathForSheet(const std::string& destination, const std::string& workbookPath,
                               const std::string& sheetName) {
  constexpr size_t kMaxFileNameBytes = 255;
  const std::string plain = OutputPathFor(destination, workbookPath);
  const std::string stem = plain.substr(0, plain.size() - 4) + " - ";  // without ".csv"
  const size_t nameStart = stem.rfind('/') + 1;
  const size_t used = stem.size() - nameStart + 4;
  const size_t room = used < kMaxFileNameBytes ? kMaxFileNameBytes - used : 0;
  std::string sheet;
  for (const char c : sheetName) {
    const auto byte = static_cast<unsigned char>(c);
    sheet += (c == '/' || byte < 0x20 || byte == 0x7F) ? '_' : c;
  }
  if (sheet.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(sheet[cut]) & 0xC0) == 0x80) --cut;
    sheet.resize(cut);
  }
  return stem + sheet + ".csv";
}

std::string NumberedFileName(const std::string& path, long long counter) {
  const PathParts parts = Split(path);
  return parts.folder + parts.base + " (" + std::to_string(counter) + ")" + parts.extension;
}

std::string UniqueFileName(const std::string& path) {
  long long counter = 1;
  return NameTaken(path) ? NextUniqueFileName(path, counter) : path;
}

std::string NextUniqueFileName(const std::string& path, long long& counter) {
  std::string candidate;
  do {
    candidate = NumberedFileName(path, ++counter);
  } while (NameTaken(candidate));
  return candidate;
}

}  // namespace cellverter
