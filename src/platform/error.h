#pragma once

#include <stdexcept>
#include <string>

namespace cellverter {

// The one error type of the core. Its message is the text a user reads, so it names the
// file and the cause ("Cannot create file "x.csv". Permission denied").
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The system's text for an errno value, as strerror gives it.
std::string SystemMessage(int errorNumber);

}  // namespace cellverter
