#include "scoped_environment.h"

#include <stdlib.h>

#include <cstdlib>

namespace cellverter::testing_support {
namespace {

void Apply(const std::string& name, const char* value) {
  if (value) {
    ::setenv(name.c_str(), value, 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

}  // namespace

void ScopedEnvironment::Set(const std::string& name, const char* value) {
  if (saved_.count(name) == 0) {
    const char* old = std::getenv(name.c_str());
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  Apply(name, value);
}

void ScopedEnvironment::Restore() {
  for (const auto& [name, value] : saved_) Apply(name, value ? value->c_str() : nullptr);
  saved_.clear();
}

}  // namespace cellverter::testing_support
