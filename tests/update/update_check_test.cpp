#include "update/update_check.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "http/local_maker.h"
#include "http/server_exchange.h"
#include "temp_dir.h"
#include "update/installation.h"

namespace cellverter {
namespace {

using namespace std::chrono_literals;
using testing_support::LocalMaker;
using testing_support::Options;
using testing_support::TempDir;

const std::string kTitle = "KORVANE - Cellverter";

// 2024-01-05 12:00 UTC, a Friday.
const std::chrono::system_clock::time_point kFriday =
    std::chrono::sys_days(std::chrono::year(2024) / 1 / 5) + 12h;

std::string Check(const std::string& version, const std::string& url, const std::string& result,
                  const std::string& important = "") {
  return "<version>" + version + "</version>\r\n<url>" + url + "</url>\r\n<x></x>\r\n<result>" +
         result + "</result>\r\n<y></y>\r\n<important>" + important + "</important>\r\n";
}

// One installation: its config folder and machine id, and the server it talks to.
class UpdateCheckTest : public ::testing::Test {
 public:
  UpdateCheckTest() {
    std::ofstream(config.path() / "machine-id") << "0123456789abcdef0123456789abcdef\n";
    settings.appTitle = kTitle;
    settings.appVersion = "2.1";
    settings.configHome = config.path();
    settings.machineIdFile = config.path() / "machine-id";
    settings.today = [this] { return ShortDateText(now, dateLocale, "UTC"); };
    settings.showImportant = [this](const std::string& caption, const std::string& text) {
      shown.push_back(caption + "|" + text);
    };
    settings.timeoutMs = 3000;
  }

  std::unique_ptr<UpdateCheckState> Run() {
    auto state = std::make_unique<UpdateCheckState>();
    RunUpdateCheck(*state, settings);
    EXPECT_TRUE(state->Finished.load());
    return state;
  }

  UpdateStore Store() { return UpdateStore::Open(config.path(), ApplicationKey(kTitle)); }

  TempDir config;
  CheckSettings settings;
  std::chrono::system_clock::time_point now = kFriday;
  std::string dateLocale = "en_US";
  std::vector<std::string> shown;
};

TEST_F(UpdateCheckTest, SendsTheFieldsAndStoresAValidReply) {
  LocalMaker maker(Options([](auto& o) {
    o.currentVersion = "2.2";
    o.downloadUrl = "https://example.test/get?v=2.2";
  }));
  auto state = Run();
  EXPECT_EQ(state->ErrorText, "");
  EXPECT_TRUE(state->ShowNotice);
  EXPECT_EQ(state->ServerVersion, "2.2");
  EXPECT_EQ(state->DownloadURL, "https://example.test/get?v=2.2");

  ASSERT_EQ(maker.https.Posts().size(), 1u);
  EXPECT_TRUE(maker.http.Posts().empty());
  const auto fields = maker.https.Posts()[0].fields;
  ASSERT_EQ(fields.size(), 6u);
  const std::pair<std::string, std::string> expected[] = {
      {"cmd", "check"},
      {"appname", kTitle},
      {"version", "2.1"},
      {"os", OSDescription()},
      {"local", CurrentLocaleName()},
      {"guid", MachineGuidFromFile(config.path() / "machine-id")}};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(fields[i], expected[i]);

  UpdateStore store = Store();
  EXPECT_EQ(store.Read("LastUpdateCheck"), "1/5/24");
  EXPECT_EQ(store.Read("LastUpdateCheckCount"), "1");
  EXPECT_EQ(store.Read("CurrentVersion"), "2.2");
  EXPECT_EQ(store.Read("CurrentURL"), ScrambleText("https://example.test/get?v=2.2"));
  EXPECT_EQ(store.Read("ShowUpdate"), std::nullopt);  // written only by the menu item
  EXPECT_TRUE(shown.empty());

  // The next run knows the address from the store before it asks anybody.
  store.Write("ShowUpdate", "0");
  auto next = Run();
  EXPECT_EQ(next->DownloadURL, "https://example.test/get?v=2.2");
  EXPECT_EQ(maker.https.Posts().size(), 1u);
}

TEST_F(UpdateCheckTest, AtMostFiveValidRepliesADayAndNoticesWithTheFirstFour) {
  LocalMaker maker(Options([](auto& o) { o.currentVersion = "2.2"; }));
  std::vector<bool> notices;
  for (int run = 0; run < 6; ++run) notices.push_back(Run()->ShowNotice);
  EXPECT_EQ(notices, (std::vector<bool>{true, true, true, true, false, false}));
  EXPECT_EQ(maker.https.Posts().size(), 5u);
  EXPECT_EQ(Store().Read("LastUpdateCheckCount"), "5");

  now += 24h;  // a new day starts the count again
  auto saturday = Run();
  EXPECT_TRUE(saturday->ShowNotice);
  EXPECT_EQ(maker.https.Posts().size(), 6u);
  EXPECT_EQ(Store().Read("LastUpdateCheck"), "1/6/24");
  EXPECT_EQ(Store().Read("LastUpdateCheckCount"), "1");
}

TEST_F(UpdateCheckTest, YesterdaysHighCountStartsAfresh) {
  LocalMaker maker(Options([](auto& o) { o.currentVersion = "2.2"; }));
  Store().Write("LastUpdateCheck", "1/4/24");
  Store().Write("LastUpdateCheckCount", "9");
  EXPECT_TRUE(Run()->ShowNotice);
  EXPECT_EQ(Store().Read("LastUpdateCheckCount"), "1");
}

TEST_F(UpdateCheckTest, AnotherDateFormatCountsAsANewDay) {
  LocalMaker maker(Options([](auto& o) { o.currentVersion = "2.2"; }));
  for (int run = 0; run < 5; ++run) Run();
  EXPECT_EQ(maker.https.Posts().size(), 5u);
  dateLocale = "de_DE";
  EXPECT_TRUE(Run()->ShowNotice);
  EXPECT_EQ(maker.https.Posts().size(), 6u);
  EXPECT_EQ(Store().Read("LastUpdateCheck"), "05.01.24");
  EXPECT_EQ(Store().Read("LastUpdateCheckCount"), "1");
}

TEST_F(UpdateCheckTest, SwitchedOffSendsNothing) {
  LocalMaker maker(Options([](auto& o) { o.currentVersion = "2.2"; }));
  for (const char* value : {"0", "+0", "00"}) {
    Store().Write("ShowUpdate", value);
    auto state = Run();
    EXPECT_EQ(state->ShowUpdate, 0);
    EXPECT_FALSE(state->ShowNotice);
  }
  EXPECT_TRUE(maker.https.Posts().empty());
  EXPECT_TRUE(maker.http.Posts().empty());

  // A hand-written value other than 0 and 1 lets the check run but never shows the notice.
  Store().Write("ShowUpdate", "7");
  auto state = Run();
  EXPECT_EQ(state->ShowUpdate, 7);
  EXPECT_FALSE(state->ShowNotice);
  EXPECT_EQ(maker.https.Posts().size(), 1u);
  // A value that is no number reads as on.
  Store().Write("ShowUpdate", "off");
  EXPECT_EQ(Run()->ShowUpdate, 1);
}

struct ReplyCase {
  std::string name;
  std::string reply;
  std::string appVersion;
  bool valid;
  bool notice;
  std::string message;  // what the box showed, "" for none
};

class ReplyTest : public UpdateCheckTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTest, UsesLinesOneTwoFourAndSix) {
  const ReplyCase& c = GetParam();
  LocalMaker maker(Options([&](auto& o) { o.fixedReply = c.reply; }));
  Store().Write("CurrentURL", ScrambleText("https://old.test/"));
  settings.appVersion = c.appVersion;
  auto state = Run();
  EXPECT_EQ(state->ErrorFlag, !c.valid);
  EXPECT_EQ(state->ErrorText, c.valid ? "" : "INVALIDSERVERRESPONSE");
  EXPECT_EQ(state->ShowNotice, c.notice);
  EXPECT_EQ(shown, c.message.empty() ? std::vector<std::string>{}
                                     : std::vector<std::string>{"IMPORTANT|" + c.message});
  EXPECT_EQ(Store().Read("LastUpdateCheckCount"),
            c.valid ? std::optional<std::string>("1") : std::nullopt);
  if (!c.valid) {
    EXPECT_EQ(state->DownloadURL, "https://old.test/");
    EXPECT_EQ(Store().Read("CurrentVersion"), std::nullopt);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyTest,
    ::testing::Values(
        ReplyCase{"NewerVersion", Check("2.10", "u", "1"), "2.9", true, true, ""},
        ReplyCase{"OlderVersion", Check("1.0", "u", "0"), "2.9", true, true, ""},
        ReplyCase{"SameVersion", Check("2.9", "u", "0"), "2.9", true, false, ""},
        ReplyCase{"EmptyVersion", Check("", "u", "1"), "2.9", true, false, ""},
        ReplyCase{"TextVersion", Check("2.1 beta", "u", "1"), "2.9", true, false, ""},
        ReplyCase{"NegativeVersion", Check("-3.0", "u", "1"), "2.9", true, true, ""},
        ReplyCase{"HugeVersion", Check("99999.99999", "u", "1"), "2.9", true, false, ""},
        ReplyCase{"ErrorReply", "ERROR: unknown application\r\n" + Check("2.2", "u", "1"), "2.1",
                  false, false, ""},
        ReplyCase{"ErrorExactCaseOnly", "Error\r\n<url></url>\r\n\r\n<result>1</result>", "2.1",
                  true, false, ""},
        ReplyCase{"ThreeLines", "<version>2.2</version>\r\n<url>u</url>\r\n<x></x>\r\n", "2.1",
                  false, false, ""},
        ReplyCase{"FourLines", "<version>2.2</version>\r\n<url>u</url>\r\n\r\n<result>1</result>",
                  "2.1", true, true, ""},
        ReplyCase{"ResultTwo", Check("2.2", "u", "2"), "2.1", false, false, ""},
        ReplyCase{"ResultSpaced", Check("2.2", "u", " 1"), "2.1", false, false, ""},
        ReplyCase{"BlankLine", "\r\n", "2.1", false, false, ""},
        ReplyCase{"ImportantSpaces", Check("2.2", "u", "1", "   "), "2.1", true, true, ""},
        ReplyCase{"Important", Check("2.2", "u", "1", " Please <b>update</b> "), "2.1", true, true,
                  " Please <b>update</b> "}),
    [](const ::testing::TestParamInfo<ReplyCase>& c) { return c.param.name; });

TEST_F(UpdateCheckTest, PlainAttemptAfterASecureFailureIsUsedAsIfNothingFailed) {
  LocalMaker maker({}, Options([](auto& o) {
                     o.currentVersion = "2.2";
                     o.downloadUrl = "http://example.test/";
                   }));
  SetMakerServerForTesting(testing_support::RefusingAuthority(), maker.http.Authority(), "");
  auto state = Run();
  EXPECT_FALSE(state->ErrorFlag);
  EXPECT_EQ(state->ErrorText, "");
  EXPECT_TRUE(state->ShowNotice);
  EXPECT_EQ(state->DownloadURL, "http://example.test/");
  EXPECT_EQ(maker.http.Posts().size(), 1u);
}

TEST_F(UpdateCheckTest, BothAttemptsFailingAreRecordedAndNothingIsStored) {
  LocalMaker maker({}, Options([](auto& o) { o.movedPermanently = true; }));
  SetMakerServerForTesting(testing_support::RefusingAuthority(), maker.http.Authority(), "");
  auto state = Run();
  EXPECT_TRUE(state->ErrorFlag);
  const std::string& text = state->ErrorText;
  EXPECT_TRUE(text.starts_with("HTTPS Response:\r")) << text;
  EXPECT_TRUE(text.ends_with("\r\rHTTP Response:\rHTTP/1.1 301 Moved Permanently")) << text;
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_FALSE(state->ShowNotice);
  EXPECT_FALSE(std::filesystem::exists(Store().file()));
}

TEST_F(UpdateCheckTest, SecureErrorPageIsTheReplyAndNoPlainAttemptFollows) {
  LocalMaker maker(Options([](auto& o) { o.notFound = true; }));
  auto state = Run();
  EXPECT_EQ(state->ErrorText, "INVALIDSERVERRESPONSE");
  EXPECT_EQ(maker.https.Posts().size(), 1u);
  EXPECT_TRUE(maker.http.Posts().empty());
}

TEST_F(UpdateCheckTest, MissingMachineIdSendsAnEmptyGuidWithoutError) {
  LocalMaker maker(Options([](auto& o) { o.currentVersion = "2.2"; }));
  settings.machineIdFile = config.path() / "no-such-file";
  auto state = Run();
  EXPECT_EQ(state->ErrorText, "");
  EXPECT_TRUE(state->ShowNotice);
  ASSERT_EQ(maker.https.Posts().size(), 1u);
  EXPECT_EQ(maker.https.Posts()[0].body.substr(maker.https.Posts()[0].body.rfind('&')), "&guid=");
}

TEST_F(UpdateCheckTest, RecordedProblemsBlockTheReply) {
  struct Case {
    std::string name;
    std::function<void(UpdateCheckTest&)> spoil;
    std::string recorded;
  };
  const Case cases[] = {
      {"machine id",
       [](UpdateCheckTest& t) {
         std::ofstream(t.config.path() / "machine-id") << "not a machine id\n";
       },
       "Error: GUID generate problem!"},
      {"store",
       [](UpdateCheckTest& t) {
         t.settings.configHome = t.config.path() / "machine-id";  // a file, not a folder
       },
       "Error: Registry open problem!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateCheckTest& self = *this;
    std::ofstream(config.path() / "machine-id") << "0123456789abcdef0123456789abcdef\n";
    settings.configHome = config.path();
    LocalMaker maker(Options([](auto& o) { o.currentVersion = "2.2"; }));
    c.spoil(self);
    auto state = Run();
    EXPECT_EQ(state->ErrorText, c.recorded);
    EXPECT_FALSE(state->ShowNotice);
    EXPECT_EQ(state->ServerVersion, "");
    EXPECT_EQ(maker.https.Posts().size(), 1u);  // the request still goes out
  }
  settings.configHome = config.path();
  EXPECT_FALSE(std::filesystem::exists(Store().file()));
}

TEST(CheckErrorTest, JoinsEntriesWithTwoCarriageReturns) {
  UpdateCheckState state;
  AddCheckError(state, " \t\r\n ");
  EXPECT_FALSE(state.ErrorFlag);
  EXPECT_EQ(state.ErrorText, "");
  AddCheckError(state, " first ");
  AddCheckError(state, "");
  AddCheckError(state, "HTTPS Response:\rrefused");
  EXPECT_TRUE(state.ErrorFlag);
  EXPECT_EQ(state.ErrorText, " first \r\rHTTPS Response:\rrefused");
  ClearCheckErrors(state);
  EXPECT_FALSE(state.ErrorFlag);
  EXPECT_EQ(state.ErrorText, "");
}

class ScrambleTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ScrambleTest, RoundTripsAnyText) {
  const std::string& text = GetParam();
  std::string scrambled = ScrambleText(text);
  EXPECT_EQ(scrambled.size(), 2 * text.size());
  EXPECT_EQ(scrambled.find_first_not_of("0123456789ABCDEF"), std::string::npos) << scrambled;
  EXPECT_EQ(UnscrambleText(scrambled), text);
  std::string lower = scrambled;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(UnscrambleText(lower), text);
}

INSTANTIATE_TEST_SUITE_P(Texts, ScrambleTest,
                         ::testing::Values("", "A", "https://example.test/download?x=1&y=2",
                                           "http://zoë.example/日本/", std::string("\0\xff", 2)));

TEST(ScrambleConstantsTest, KeepItsOutputAndReadOddText) {
  // Stored addresses from earlier runs must still read: the constants never change.
  EXPECT_EQ(ScrambleText("A"), "2A");
  EXPECT_EQ(ScrambleText("AA"), "2AEA");  // the running key scrambles equal bytes differently
  EXPECT_EQ(ScrambleText("https://x"), "034D82978EBE7CA573");
  EXPECT_EQ(UnscrambleText("2AEA7"), "AA");  // an unpaired last digit is ignored
  EXPECT_EQ(UnscrambleText("2AZZ"), "");
  EXPECT_EQ(UnscrambleText(" 2AEA"), "");
}

// {locale, the date as it writes it}
class ShortDateTest : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(ShortDateTest, FollowsTheLocalesShortFormat) {
  EXPECT_EQ(ShortDateText(kFriday, GetParam().first, "UTC"), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Locales, ShortDateTest,
                         ::testing::Values(std::pair{"en_US", "1/5/24"}, std::pair{"C", "1/5/24"},
                                           std::pair{"de_DE.UTF-8", "05.01.24"},
                                           std::pair{"en_GB", "05/01/2024"},
                                           std::pair{"ja_JP", "2024/01/05"}));

TEST(ShortDateTimeZoneTest, TheDayIsTheOneOfTheTimeZone) {
  EXPECT_EQ(ShortDateText(kFriday + 11h + 30min, "en_US", "Asia/Tokyo"), "1/6/24");
  EXPECT_FALSE(TodayText().empty());
}

// A web address opens as given; anything else opens the maker's home page.
class NoticeAddressTest : public ::testing::TestWithParam<std::pair<std::string, bool>> {};

TEST_P(NoticeAddressTest, OpensOnlyWebAddresses) {
  const auto& [url, isWebAddress] = GetParam();
  EXPECT_EQ(NoticeAddress(url), isWebAddress ? url : MakerHomePage());
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, NoticeAddressTest,
    ::testing::Values(std::pair{"https://example.test/get", true},
                      std::pair{"HTTP://example.test", true}, std::pair{"", false},
                      std::pair{"file:///etc/passwd", false}, std::pair{"/usr/bin/xterm", false},
                      std::pair{"javascript:alert(1)", false},
                      std::pair{"ftp://example.test/x", false}, std::pair{"https://", false},
                      std::pair{"https:///path", false}, std::pair{"https://exa mple.test", false},
                      std::pair{"https://example.test/\n--x", false},
                      std::pair{"httpsx://example.test", false}));

TEST(CheckerThreadTest, RunsDetachedAndFreesTheStateWhenDone) {
  TempDir config;
  SetMakerServerForTesting(testing_support::RefusingAuthority(),
                           testing_support::RefusingAuthority(), "");
  auto state = std::make_shared<UpdateCheckState>();
  std::weak_ptr<UpdateCheckState> watch = state;
  CheckSettings settings;
  settings.appTitle = kTitle;
  settings.appVersion = "2.1";
  settings.configHome = config.path();
  settings.today = [] { return std::string("1/5/24"); };
  TChecker::Start(std::move(state), settings);
  for (int i = 0; i < 1000 && !watch.expired(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(watch.expired());
  SetMakerServerForTesting(testing_support::RefusingAuthority(),
                           testing_support::RefusingAuthority(), "");
}

}  // namespace
}  // namespace cellverter
