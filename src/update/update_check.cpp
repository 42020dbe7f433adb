#include "update/update_check.h"

#include <cxxabi.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <clocale>
#include <cstdlib>
#include <thread>
#include <typeinfo>

#include "http/server_exchange.h"
#include "platform/error.h"
#include "update/installation.h"

namespace cellverter {
namespace {

// The address scrambling's constants.
constexpr uint16_t kK0 = 0x6B2F;
constexpr uint16_t kC1 = 52845;
constexpr uint16_t kC2 = 22719;

constexpr int kRepliesPerDay = 5;

uint16_t NextKey(uint16_t key, uint8_t scrambled) {
  return static_cast<uint16_t>((static_cast<uint32_t>(key) + scrambled) * kC1 + kC2);
}

std::string_view TrimSpace(std::string_view text) {
  auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
  };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

// The name of an exception's type as a user would read it ("Error", "std::bad_alloc").
std::string TypeName(const std::type_info& type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled != nullptr ? demangled : type.name();
  std::free(demangled);
  if (name.starts_with("cellverter::")) name = name.substr(12);
  return name;
}

std::string Line(const std::vector<std::string>& lines, size_t number) {
  return number <= lines.size() ? lines[number - 1] : std::string();
}

// Steps from the field list to the use of the reply; failures inside are recorded by the
// caller under their type's name.
void ExchangeAndUse(UpdateCheckState& state, const CheckSettings& settings, const std::string& guid,
                    const std::string& lastCheck, int count, const std::string& today) {
  FieldList fields = OpeningFields("check", settings.appTitle, settings.appVersion);
  fields.push_back("os=" + OSDescription());
  try {
    fields.push_back("local=" + CurrentLocaleName());
  } catch (...) {
    AddCheckError(state, "Error: LocaleName2 problem!");
  }
  fields.push_back("guid=" + guid);

  std::string reply;
  try {
    reply = PostRequest(MakerAddress("https", kCheckPath), fields, settings.timeoutMs);
  } catch (const std::exception& httpsError) {
    AddCheckError(state, std::string("HTTPS Response:\r") + httpsError.what());
    try {
      reply = PostRequest(MakerAddress("http", kCheckPath), fields, settings.timeoutMs);
      ClearCheckErrors(state);
    } catch (const std::exception& httpError) {
      AddCheckError(state, std::string("HTTP Response:\r") + httpError.what());
    }
  }

  const std::vector<std::string> lines = SplitReplyLines(reply);
  if (reply.starts_with("ERROR")) AddCheckError(state, "INVALIDSERVERRESPONSE");
  if (!state.ErrorFlag) {
    std::string status = TagValue(Line(lines, 4), "result");
    if (status != "0" && status != "1") AddCheckError(state, "INVALIDSERVERRESPONSE");
  }
  if (state.ErrorFlag) return;

  // A valid reply: count it, store it, show what it says.
  count = lastCheck == today ? count + 1 : 1;
  auto write = [&](std::string_view name, std::string_view value) {
    if (!state.Store) return;
    try {
      state.Store->Write(name, value);
    } catch (const Error&) {
      // A store that cannot be written costs only the memory of this check.
    }
  };
  write("LastUpdateCheck", today);
  write("LastUpdateCheckCount", std::to_string(count));
  if (lines.size() >= 1) {
    state.ServerVersion = TagValue(lines[0], "version");
    write("CurrentVersion", state.ServerVersion);
  }
  if (lines.size() >= 2) {
    state.DownloadURL = TagValue(lines[1], "url");
    write("CurrentURL", ScrambleText(state.DownloadURL));
  }
  std::string message = lines.size() >= 6 ? TagValue(lines[5], "important") : std::string();
  if (!TrimSpace(message).empty() && settings.showImportant) {
    settings.showImportant(settings.importantCaption, message);
  }
  if (state.ServerVersion != settings.appVersion) {
    std::string digits = state.ServerVersion;
    std::erase(digits, '.');
    if (ParseInteger(digits).has_value() && state.ShowUpdate == 1 && count < kRepliesPerDay) {
      state.ShowNotice = true;
    }
  }
}

}  // namespace

void AddCheckError(UpdateCheckState& state, std::string_view text) {
  if (TrimSpace(text).empty()) return;
  state.ErrorFlag = true;
  if (state.ErrorText.empty()) {
    state.ErrorText = text;
  } else {
    state.ErrorText += "\r\r";
    state.ErrorText += text;
  }
}

void ClearCheckErrors(UpdateCheckState& state) {
  state.ErrorFlag = false;
  state.ErrorText.clear();
}

void WriteShowUpdate(UpdateCheckState& state, int value) {
  if (!state.Store) return;
  try {
    state.Store->Write("ShowUpdate", std::to_string(value));
  } catch (const Error&) {
    // Settings writes never interrupt the user; the switch then lasts for this run only.
  }
}

std::string ScrambleText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  uint16_t key = kK0;
  for (char c : text) {
    auto scrambled = static_cast<uint8_t>(static_cast<uint8_t>(c) ^ (key >> 8));
    key = NextKey(key, scrambled);
    result += kHex[scrambled >> 4];
    result += kHex[scrambled & 15];
  }
  return result;
}

std::string UnscrambleText(std::string_view text) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string result;
  uint16_t key = kK0;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    int high = digit(text[i]);
    int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return {};
    auto scrambled = static_cast<uint8_t>(high * 16 + low);
    result += static_cast<char>(scrambled ^ (key >> 8));
    key = NextKey(key, scrambled);
  }
  return result;
}

std::string ShortDateText(std::chrono::system_clock::time_point when, std::string_view localeId,
                          std::string_view timeZone) {
  std::string id(localeId.substr(0, localeId.find_first_of(".@")));
  if (id.empty() || id == "C" || id == "POSIX") id = "en_US_POSIX";
  std::unique_ptr<icu::DateFormat> format(
      icu::DateFormat::createDateInstance(icu::DateFormat::kShort, icu::Locale(id.c_str())));
  if (!format) return {};
  if (!timeZone.empty()) {
    format->adoptTimeZone(
        icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(std::string(timeZone))));
  }
  auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
  icu::UnicodeString text;
  format->format(static_cast<UDate>(milliseconds), text);
  std::string result;
  text.toUTF8String(result);
  return result;
}

std::string TodayText() {
  const char* locale = std::setlocale(LC_TIME, nullptr);
  return ShortDateText(std::chrono::system_clock::now(), locale != nullptr ? locale : "C");
}

std::string NoticeAddress(std::string_view downloadUrl) {
  std::string lower(downloadUrl.substr(0, 8));
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t schemeLength = lower.starts_with("https://") ? 8 : lower.starts_with("http://") ? 7 : 0;
  bool safe =
      schemeLength > 0 && downloadUrl.size() > schemeLength && downloadUrl[schemeLength] != '/';
  for (char c : downloadUrl) {
    // Spaces and control characters have no place in an address handed to the desktop.
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) safe = false;
  }
  return safe ? std::string(downloadUrl) : MakerHomePage();
}

void RunUpdateCheck(UpdateCheckState& state, const CheckSettings& settings) {
  state.Finished.store(false, std::memory_order_relaxed);
  ClearCheckErrors(state);

  std::string key;
  try {
    key = ApplicationKey(settings.appTitle);
  } catch (...) {
    AddCheckError(state, "Error: MD5 generate problem!");
  }
  std::string guid;
  try {
    guid = settings.machineIdFile.empty() ? ReadMachineGuid()
                                          : MachineGuidFromFile(settings.machineIdFile);
  } catch (...) {
    AddCheckError(state, "Error: GUID generate problem!");
  }
  try {
    state.Store = UpdateStore::Open(settings.configHome, key);
  } catch (...) {
    AddCheckError(state, "Error: Registry open problem!");
  }

  std::string lastCheck;
  int count = 0;
  if (state.Store) {
    lastCheck = state.Store->ReadText("LastUpdateCheck");
    count = state.Store->ReadInteger("LastUpdateCheckCount", 0);
    std::string scrambled = state.Store->ReadText("CurrentURL");
    if (!scrambled.empty()) state.DownloadURL = UnscrambleText(scrambled);
    state.ShowUpdate = state.Store->ReadInteger("ShowUpdate", 1);
  } else {
    state.ShowUpdate = 1;
  }

  if (state.ShowUpdate != 0) {
    const std::string today = settings.today ? settings.today() : TodayText();
    if (!(lastCheck == today && count >= kRepliesPerDay)) {
      try {
        ExchangeAndUse(state, settings, guid, lastCheck, count, today);
      } catch (const std::exception& error) {
        AddCheckError(state, TypeName(typeid(error)) + " Error:\r" + error.what());
      } catch (...) {
        AddCheckError(state, "Unknown Error:\rAn unexpected failure ended the update check.");
      }
    }
  }
  state.Finished.store(true, std::memory_order_release);
}

void TChecker::Start(std::shared_ptr<UpdateCheckState> state, CheckSettings settings) {
  std::thread([state = std::move(state), settings = std::move(settings)] {
    try {
      RunUpdateCheck(*state, settings);
    } catch (...) {
      // Reading the store and the identifiers does not throw; should anything else, the
      // user-interface thread must still see the check end.
      state->Finished.store(true, std::memory_order_release);
    }
  }).detach();
}

}  // namespace cellverter
