#pragma once

#include <stdlib.h>

#include <map>
#include <optional>
#include <string>

namespace cellverter::testing_support {

// Sets environment variables for one test and puts every one back as it was afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment() { Restore(); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  // Sets `name` to `value`, or removes it for nullptr.
  void Set(const std::string& name, const char* value) {
    if (saved_.count(name) == 0) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    Apply(name, value);
  }

  void Restore() {
    for (const auto& [name, value] : saved_) Apply(name, value ? value->c_str() : nullptr);
    saved_.clear();
  }

 private:
  static void Apply(const std::string& name, const char* value) {
    if (value) {
      ::setenv(name.c_str(), value, 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace cellverter::testing_support
