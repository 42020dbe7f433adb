#include "update/update_store.h"

#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>

#include "platform/error.h"
#include "platform/ini_document.h"
#include "platform/pending_file.h"

namespace cellverter {
namespace {

constexpr std::string_view kSection = "Settings";

// The document in the file; an empty one when the file does not exist yet.
IniDocument ReadDocument(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return {};
    throw Error("Cannot read file \"" + file.string() + "\". " + SystemMessage(errno));
  }
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw Error("Cannot read file \"" + file.string() + "\".");
  return IniDocument::Parse(text);
}

void WriteFileAtomically(const std::filesystem::path& file, const std::string& content) {
  // The values are the user's own: a new file is readable by its owner alone.
  PendingFile temporary(PendingFile::Method::kHiddenName);
  if (const int error = temporary.Create(file.parent_path().string(), 0600); error != 0) {
    throw Error("Cannot create file \"" + file.string() + "\". " + SystemMessage(error));
  }
  int error = temporary.Write(content);
  if (error == 0) error = temporary.Replace(file.string());
  if (error != 0) {
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
  return ReadDocument(file_).Value(kSection, name);
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
  IniDocument document = ReadDocument(file_);
  document.SetValue(kSection, name, value);
  WriteFileAtomically(file_, document.Serialize(IniDocument::Layout::kAsRead));
}

}  // namespace cellverter
