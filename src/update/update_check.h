#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "update/update_store.h"

namespace cellverter {

// The record that the check thread fills and the user-interface thread takes over. No lock:
// the thread writes every other field before it sets Finished (release); the user-interface
// thread reads them only after it has seen Finished (acquire).
struct UpdateCheckState {
  bool CheckStarted = false;  // user-interface thread only
  std::atomic<bool> Finished{false};
  bool ShowNotice = false;    // the notice window is due
  std::string ServerVersion;  // the version the server named
  std::string DownloadURL;    // the address the notice opens
  int ShowUpdate = 1;         // the stored switch: 0 off, 1 on (other values: on, no notice)
  bool ErrorFlag = false;     // ErrorText is not empty; the reply is not used
  std::string ErrorText;      // entries separated by two carriage returns
  std::optional<UpdateStore> Store;
};

// What a run of the check needs from the program.
struct CheckSettings {
  std::string appTitle;                                   // "KORVANE - Cellverter"
  std::string appVersion;                                 // "2.1"
  std::filesystem::path configHome = UserConfigFolder();  // holds the update store's folder
  std::filesystem::path machineIdFile;                    // empty: the system's machine id
  // The current date in the user's short date format.
  std::function<std::string()> today;
  // The caption of the important message's box, already translated.
  std::string importantCaption = "IMPORTANT";
  // Shows the server's important message (plain text) with a warning icon and an OK
  // button, and returns when the user has closed it. Empty: the message is not shown.
  std::function<void(const std::string& caption, const std::string& text)> showImportant;
  long timeoutMs = 10000;
};

// The whole check on the calling thread: reads the store, asks the server at most five
// times a day (valid replies counted), records failures, stores the reply, shows the
// important message, decides on the notice, and sets Finished last.
void RunUpdateCheck(UpdateCheckState& state, const CheckSettings& settings);

// The check thread. It is detached: the program never waits for it at exit, and it keeps
// the state alive by its own reference while it runs.
class TChecker {
 public:
  static void Start(std::shared_ptr<UpdateCheckState> state, CheckSettings settings);
};

// The error record.
void AddCheckError(UpdateCheckState& state, std::string_view text);
void ClearCheckErrors(UpdateCheckState& state);

// Writes ShowUpdate ("0" or "1") through the open store; a failure is ignored, as with every
// write of the store.
void WriteShowUpdate(UpdateCheckState& state, int value);

// The form of the stored download address: the UTF-8 bytes XOR the high byte of a running
// 16-bit key, as upper-case hexadecimal digits. UnscrambleText gives "" for text that is not
// hexadecimal.
std::string ScrambleText(std::string_view text);
std::string UnscrambleText(std::string_view text);

// The text of the date of when in the short date format of an ICU or POSIX locale id, in the
// given time zone (empty: the system's).
std::string ShortDateText(std::chrono::system_clock::time_point when, std::string_view localeId,
                          std::string_view timeZone = {});
// Today in the user's short date format (the locale of LC_TIME, the system's time zone).
std::string TodayText();

// The address the notice opens for a download address from the server: the address itself
// when it is an http or https address with a host, else the maker's home page. Nothing else
// (a local file, a program, another scheme) is ever handed to the desktop.
std::string NoticeAddress(std::string_view downloadUrl);

}  // namespace cellverter
