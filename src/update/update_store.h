#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/user_folders.h"

namespace cellverter {

// The update check's values kept between runs: string values in section "Settings" of
// "update.ini" in a per-user folder named by the application key. Every write rewrites the
// file at once and atomically (a reader sees the old file or the new one, never a part).
class UpdateStore {
 public:
  // Opens the store in configHome/applicationKey, creating the folder when it is missing.
  // Throws Error when the key is empty or the folder cannot be made.
  static UpdateStore Open(const std::filesystem::path& configHome, std::string_view applicationKey);

  // The value, or nothing when it is missing. Throws Error when the file cannot be read.
  std::optional<std::string> Read(std::string_view name) const;
  // The value as text, "" when missing or unreadable.
  std::string ReadText(std::string_view name) const;
  // The value as a decimal integer ([+-]digits, 32-bit); fallback when missing, unreadable
  // or not such a number.
  int ReadInteger(std::string_view name, int fallback) const;
  // Sets the value, keeping everything else in the file. Throws Error when it cannot; a value
  // may not hold a line break.
  void Write(std::string_view name, std::string_view value);

  const std::filesystem::path& file() const { return file_; }

 private:
  explicit UpdateStore(std::filesystem::path file) : file_(std::move(file)) {}
  std::filesystem::path file_;
};

// A whole decimal 32-bit integer, optionally signed; nothing for anything else.
std::optional<int> ParseInteger(std::string_view text);

}  // namespace cellverter
