#include "update/update_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/error.h"

namespace cellverter {
namespace {

constexpr std::string_view kSection = "[Settings]";

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

bool IsSectionLine(std::string_view line) { return Trim(line).starts_with('['); }

// The lines of the file; none when it does not exist yet.
std::vector<std::string> ReadLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return lines;
    throw Error("Cannot read file \"" + file.string() + "\". " + SystemMessage(errno));
  }
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (in.bad()) throw Error("Cannot read file \"" + file.string() + "\".");
  return lines;
}

struct Location {
  std::optional<size_t> value;       // the line that holds the name in the section
  std::optional<size_t> sectionEnd;  // the index after the section's last line
};

Location Find(const std::vector<std::string>& lines, std::string_view name) {
  Location location;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (IsSectionLine(lines[i])) {
      // Only the first "[Settings]" counts, as a registry key has one such subkey.
      inSection = !location.sectionEnd && SameName(Trim(lines[i]), kSection);
      if (inSection) location.sectionEnd = i + 1;
      continue;
    }
    if (!inSection) continue;
    location.sectionEnd = i + 1;
    size_t equals = lines[i].find('=');
    if (equals != std::string::npos &&
        SameName(Trim(std::string_view(lines[i]).substr(0, equals)), name)) {
      location.value = i;
    }
  }
  return location;
}

void WriteFileAtomically(const std::filesystem::path& file, const std::string& content) {
  std::string temp = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(temp.data());
  if (fd < 0) throw Error("Cannot create file \"" + file.string() + "\". " + SystemMessage(errno));
  bool ok = true;
  size_t written = 0;
  while (ok && written < content.size()) {
    ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) written += static_cast<size_t>(n);
  }
  int error = ok ? 0 : errno;
  if (ok && ::fdatasync(fd) != 0) ok = false, error = errno;
  if (::close(fd) != 0 && ok) ok = false, error = errno;
  if (ok && ::rename(temp.c_str(), file.c_str()) != 0) ok = false, error = errno;
  if (!ok) {
    ::unlink(temp.c_str());
    throw Error("Cannot write file \"" + file.string() + "\". " + SystemMessage(error));
  }
}

}  // namespace

std::optional<int> ParseInteger(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

UpdateStore UpdateStore::Open(const std::filesystem::path& configHome,
                              std::string_view applicationKey) {
  if (applicationKey.empty()) throw Error("The update store has no name.");
  std::filesystem::path folder = configHome / std::string(applicationKey);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder)) {
    throw Error("Cannot create folder \"" + folder.string() + "\". " +
                (error ? error.message() : SystemMessage(ENOTDIR)));
  }
  return UpdateStore(folder / "update.ini");
}

std::optional<std::string> UpdateStore::Read(std::string_view name) const {
  std::vector<std::string> lines = ReadLines(file_);
  std::optional<size_t> at = Find(lines, name).value;
  if (!at) return std::nullopt;
  std::string_view line = lines[*at];
  return std::string(Trim(line.substr(line.find('=') + 1)));
}

std::string UpdateStore::ReadText(std::string_view name) const {
  try {
    return Read(name).value_or("");
  } catch (const Error&) {
    return {};
  }
}

int UpdateStore::ReadInteger(std::string_view name, int fallback) const {
  try {
    std::optional<std::string> text = Read(name);
    if (!text) return fallback;
    return ParseInteger(*text).value_or(fallback);
  } catch (const Error&) {
    return fallback;
  }
}

void UpdateStore::Write(std::string_view name, std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos) {
    throw Error("A value of the update store cannot hold a line break.");
  }
  std::vector<std::string> lines = ReadLines(file_);
  Location location = Find(lines, name);
  std::string line = std::string(name) + "=" + std::string(value);
  if (location.value) {
    // The name keeps the spelling it has in the file.
    std::string_view old = lines[*location.value];
    lines[*location.value] =
        std::string(Trim(old.substr(0, old.find('=')))) + "=" + std::string(value);
  } else if (!location.sectionEnd) {
    lines.emplace_back(kSection);
    lines.push_back(line);
  } else {
    // Next to the section's last value, before the blank lines that end it.
    size_t insertAt = *location.sectionEnd;
    while (insertAt > 0 && Trim(lines[insertAt - 1]).empty()) --insertAt;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
  }
  std::string content;
  for (const std::string& l : lines) content += l + "\n";
  WriteFileAtomically(file_, content);
}

}  // namespace cellverter
