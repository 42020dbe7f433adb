#include "platform/error.h"

#include <cstring>

namespace cellverter {

std::string SystemMessage(int errorNumber) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
  return text;
}

}  // namespace cellverter
