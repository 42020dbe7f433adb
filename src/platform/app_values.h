#pragma once

#include <string>

namespace cellverter {

// The process-wide values that the main window fixes while it is created, from the
// program's own version information, and that every window reads afterwards.
struct AppValues {
  std::string companyName;  // "KORVANE"
  std::string productName;  // "Cellverter"
  std::string appTitle;     // company + " - " + product: the caption, the name sent to the server
  std::string appVersion;   // major.minor of the file version: "2.1"
};

inline AppValues& App() {
  static AppValues values;
  return values;
}

}  // namespace cellverter
