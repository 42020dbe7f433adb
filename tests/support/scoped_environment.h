#pragma once

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
  void Set(const std::string& name, const char* value);
  void Restore();

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace cellverter::testing_support
