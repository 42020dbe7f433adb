#include "feedback/feedback_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cellverter {
namespace {

struct EmailCase {
  std::string address;
  bool valid;
};

class IsValidEmailTest : public ::testing::TestWithParam<EmailCase> {};

TEST_P(IsValidEmailTest, MatchesTheWholeAddress) {
  EXPECT_EQ(IsValidEmail(GetParam().address), GetParam().valid) << GetParam().address;
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, IsValidEmailTest,
    ::testing::Values(EmailCase{"jane@example.com", true},
                      EmailCase{"jane.doe+csv_2@mail.example.co.uk", true},  // three labels
                      EmailCase{"Jane-Doe@Example-Mail.COM", true}, EmailCase{"a@b.c", true},
                      EmailCase{"jane@example.com.", false},        // ends with a dot
                      EmailCase{"jos\xC3\xA9@example.com", false},  // letter outside ASCII
                      EmailCase{"jane@ex\xC3\xA4mple.com", false},
                      EmailCase{"jane@localhost", false},  // no dot after the at sign
                      EmailCase{"", false}, EmailCase{"@example.com", false},
                      EmailCase{"jane@@example.com", false},
                      EmailCase{"jane doe@example.com", false},
                      EmailCase{"jane@exa_mple.com", false}, EmailCase{"jane@.example.com", false},
                      // "$" must not take a final line break, nor a match stop at a NUL byte
                      EmailCase{"jane@example.com\n", false},
                      EmailCase{std::string("jane@example.com\0x", 18), false},
                      EmailCase{" jane@example.com", false}));

TEST(TrimControlsTest, RemovesCodesUpTo32AtBothEndsOnly) {
  EXPECT_EQ(TrimControls(" \t\r\n\x01Great  tool\r\n\x1f "), "Great  tool");
  EXPECT_EQ(TrimControls("\r\n \t"), "");
  EXPECT_EQ(TrimControls("line 1\r\nline 2"), "line 1\r\nline 2");
  // DEL and non-ASCII letters are text, not blanks.
  EXPECT_EQ(TrimControls("\x7f"
                         "caf\xC3\xA9 "),
            "\x7f"
            "caf\xC3\xA9");
}

struct FeedbackTextCase {
  const char* name;
  FeedbackChoice choice;
  std::string likeCaption;
  std::string memo;
  std::string expected;
};

class FeedbackTextTest : public ::testing::TestWithParam<FeedbackTextCase> {};

TEST_P(FeedbackTextTest, BuildsTheFeedbackField) {
  const FeedbackTextCase& c = GetParam();
  const std::string like = ChoiceText("I like it!", c.likeCaption);
  const std::string dislike = ChoiceText("I dislike it!", "I dislike it!");
  EXPECT_EQ(FeedbackText(c.choice, like, dislike, c.memo), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FeedbackTextTest,
    ::testing::Values(FeedbackTextCase{"Like", FeedbackChoice::kLike, "I like it!", "Great tool",
                                       "I like it!\rGreat tool"},
                      FeedbackTextCase{"TranslatedLike", FeedbackChoice::kLike, "Mi piace",
                                       "Great tool", "I like it! (Mi piace)\rGreat tool"},
                      FeedbackTextCase{"Dislike", FeedbackChoice::kDislike, "Mi piace",
                                       "\r\nToo slow \r\n", "I dislike it!\rToo slow"},
                      FeedbackTextCase{"NoPanelNoLeadingCr", FeedbackChoice::kNone, "Mi piace",
                                       "  first\r\n\r\nsecond\t", "first\r\n\r\nsecond"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(FeedbackFieldsTest, OpeningFieldsThenFeedbackAndEmailOnlyWhenGiven) {
  EXPECT_EQ(FeedbackFields("KORVANE - Cellverter", "2.1", "I like it!\rGood", "jane@example.com"),
            (std::vector<std::string>{"cmd=feedback", "appname=KORVANE - Cellverter", "version=2.1",
                                      "feedback=I like it!\rGood", "email=jane@example.com"}));
  EXPECT_EQ(FeedbackFields("KORVANE - Cellverter", "2.1", "Good", ""),
            (std::vector<std::string>{"cmd=feedback", "appname=KORVANE - Cellverter", "version=2.1",
                                      "feedback=Good"}));
}

struct ReplyCase {
  std::string reply;
  bool delivered;
};

class IsDeliveredReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(IsDeliveredReplyTest, OnlyTrimmedOkCounts) {
  EXPECT_EQ(IsDeliveredReply(GetParam().reply), GetParam().delivered) << GetParam().reply;
}

INSTANTIATE_TEST_SUITE_P(Replies, IsDeliveredReplyTest,
                         ::testing::Values(ReplyCase{"OK", true}, ReplyCase{"OK\r\n", true},
                                           ReplyCase{" \tOK\n", true}, ReplyCase{"ok", false},
                                           ReplyCase{"OK.", false}, ReplyCase{"", false},
                                           ReplyCase{"OK\r\nOK", false},
                                           ReplyCase{"ERROR: unknown command", false},
                                           ReplyCase{"<html>OK</html>", false}));

}  // namespace
}  // namespace cellverter
