#include "feedback/feedback_rules.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <exception>
#include <memory>

#include "http/server_exchange.h"

namespace cellverter {

namespace {

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};

// Compiled once; PCRE2 code is safe to share between threads for matching.
const pcre2_code* EmailPattern() {
  static const std::unique_ptr<pcre2_code, CodeDeleter> code = [] {
    static constexpr char kPattern[] =
        R"(^[a-zA-Z0-9_.+-]+@[a-zA-Z0-9-]+\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+$)";
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    // DOLLAR_ENDONLY: "$" must not accept "a@b.cd\n".
    return std::unique_ptr<pcre2_code, CodeDeleter>(
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kPattern), PCRE2_ZERO_TERMINATED,
                      PCRE2_DOLLAR_ENDONLY, &errorCode, &errorOffset, nullptr));
  }();
  return code.get();
}

bool IsControlOrBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

bool IsValidEmail(std::string_view address) {
  const pcre2_code* code = EmailPattern();
  if (code == nullptr) return false;
  std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> match(
      pcre2_match_data_create_from_pattern(code, nullptr), &pcre2_match_data_free);
  if (!match) return false;
  const int result = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(address.data()), address.size(),
                                 0, 0, match.get(), nullptr);
  return result >= 0;
}

std::string TrimControls(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsControlOrBlank(text[begin])) ++begin;
  while (end > begin && IsControlOrBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string ChoiceText(std::string_view english, std::string_view caption) {
  std::string text(english);
  if (caption != english) {
    text.append(" (").append(caption).append(")");
  }
  return text;
}

std::string FeedbackText(FeedbackChoice choice, std::string_view likeText,
                         std::string_view dislikeText, std::string_view memoText) {
  std::string feedback;
  if (choice == FeedbackChoice::kLike) feedback.append(likeText).push_back('\r');
  if (choice == FeedbackChoice::kDislike) feedback.append(dislikeText).push_back('\r');
  feedback += TrimControls(memoText);
  return feedback;
}

std::vector<std::string> FeedbackFields(std::string_view appTitle, std::string_view appVersion,
                                        std::string_view feedback, std::string_view address) {
  std::vector<std::string> fields = OpeningFields("feedback", appTitle, appVersion);
  fields.push_back("feedback=" + std::string(feedback));
  if (!address.empty()) fields.push_back("email=" + std::string(address));
  return fields;
}

bool IsDeliveredReply(std::string_view reply) { return TrimControls(reply) == "OK"; }

FeedbackAddresses MakerFeedbackAddresses() {
  return {MakerAddress("https", kFeedbackPath), MakerAddress("http", kFeedbackPath)};
}

bool DeliverFeedback(const std::vector<std::string>& fields, const FeedbackAddresses& addresses) {
  std::string reply;
  try {
    reply = PostRequest(addresses.secure, fields, kFeedbackTimeoutMs);
  } catch (const std::exception&) {
    try {
      reply = PostRequest(addresses.plain, fields, kFeedbackTimeoutMs);
    } catch (const std::exception&) {
      return false;
    }
  }
  return IsDeliveredReply(reply);
}

}  // namespace cellverter
