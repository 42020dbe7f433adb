#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cellverter {

// The rules of the feedback window, free of widgets so that tests reach them directly.

// True when the whole address matches
// ^[a-zA-Z0-9_.+-]+@[a-zA-Z0-9-]+\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+$ (case-sensitive, ASCII
// letters only). The end anchor takes no trailing line break.
bool IsValidEmail(std::string_view address);

// The text without its leading and trailing characters of codes up to 32.
std::string TrimControls(std::string_view text);

// Which of the two choice panels is selected; at most one is.
enum class FeedbackChoice { kNone, kLike, kDislike };

// The panel's English text, followed by " (" + caption + ")" when the shown (translated)
// caption differs from it: "I like it!" or "I like it! (Mi piace)".
std::string ChoiceText(std::string_view english, std::string_view caption);

// The feedback field: the chosen panel's text and a CR when a panel is selected, then the
// memo text trimmed of control characters and blanks at both ends. `memoText` holds the
// memo's lines joined by CR LF.
std::string FeedbackText(FeedbackChoice choice, std::string_view likeText,
                         std::string_view dislikeText, std::string_view memoText);

// The request fields in wire order: cmd, appname, version, feedback and, only for a
// non-empty address, email.
std::vector<std::string> FeedbackFields(std::string_view appTitle, std::string_view appVersion,
                                        std::string_view feedback, std::string_view address);

// The server took the feedback only when its reply, trimmed, is exactly "OK".
bool IsDeliveredReply(std::string_view reply);

// The two addresses one feedback goes to: the secure one first, the plain one only after
// the secure attempt failed.
struct FeedbackAddresses {
  std::string secure;
  std::string plain;
};

// https:// and http:// + the maker's host + "/php/feedback.php".
FeedbackAddresses MakerFeedbackAddresses();

// Every time-out of a feedback attempt, in milliseconds.
inline constexpr int kFeedbackTimeoutMs = 3000;

// Posts the fields by the secure-first rule and tells whether the server took them. No
// failure leaves it: a failed attempt counts as an empty reply.
bool DeliverFeedback(const std::vector<std::string>& fields, const FeedbackAddresses& addresses);

}  // namespace cellverter
