#include "http/server_exchange.h"

#include <gtest/gtest.h>

#include "http/local_maker.h"
#include "platform/error.h"

namespace cellverter {
namespace {

using testing_support::LocalMaker;
using testing_support::Options;

struct BodyCase {
  FieldList fields;
  std::string body;
};

class FormBodyTest : public ::testing::TestWithParam<BodyCase> {};

TEST_P(FormBodyTest, EncodesLikeAnHtmlForm) {
  EXPECT_EQ(EncodeFormBody(GetParam().fields), GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormBodyTest,
    ::testing::Values(BodyCase{{}, ""}, BodyCase{{"cmd=check"}, "cmd=check"},
                      BodyCase{{"appname=KORVANE - Cellverter", "version=2.1"},
                               "appname=KORVANE+-+Cellverter&version=2.1"},
                      BodyCase{{"v=a&b=c"}, "v=a%26b%3Dc"},           // split at the first "=" only
                      BodyCase{{"local=", "guid="}, "local=&guid="},  // empty values keep their "="
                      BodyCase{{"t=x~y*z'(!)/?:@+%"}, "t=x%7Ey%2Az%27%28%21%29%2F%3F%3A%40%2B%25"},
                      BodyCase{{"name=Ünïcødé ü"}, "name=%C3%9Cn%C3%AFc%C3%B8d%C3%A9+%C3%BC"},
                      BodyCase{{"line=a\r\nb\tc"}, "line=a%0D%0Ab%09c"},
                      BodyCase{{"my name=A-Z_a.z0"}, "my+name=A-Z_a.z0"}));

struct TagCase {
  std::string line;
  std::string tag;
  std::string value;
};

class TagValueTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(TagValueTest, TakesTheValueOfAnExactlyTaggedLine) {
  EXPECT_EQ(TagValue(GetParam().line, GetParam().tag), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Cases, TagValueTest,
                         ::testing::Values(TagCase{"<version>2.2</version>", "version", "2.2"},
                                           TagCase{"<version>2.2</version>", "VERSION", "2.2"},
                                           TagCase{"<Version>2.2</Version>", "version", ""},
                                           TagCase{"<Version>2.2</Version>", "Version", ""},
                                           TagCase{"<url></url>", "url", ""},
                                           TagCase{" <url>x</url>", "url", ""},
                                           TagCase{"<url>x</url> ", "url", ""},
                                           TagCase{"<url>a<b>c</url>", "url", "a<b>c"},
                                           TagCase{"<url>&amp;</url>", "url", "&amp;"},
                                           TagCase{"<url>x</urlx>", "url", ""},
                                           TagCase{"<url>", "url", ""},
                                           TagCase{"<url></url>", "", ""}, TagCase{"", "url", ""},
                                           TagCase{"<result>1</result>", "version", ""}));

struct LinesCase {
  std::string reply;
  std::vector<std::string> lines;
};

class ReplyLinesTest : public ::testing::TestWithParam<LinesCase> {};

TEST_P(ReplyLinesTest, SplitsAtEveryKindOfLineBreak) {
  EXPECT_EQ(SplitReplyLines(GetParam().reply), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplyLinesTest,
                         ::testing::Values(LinesCase{"", {}}, LinesCase{"one", {"one"}},
                                           LinesCase{"one\r\n", {"one"}},
                                           LinesCase{"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
                                           LinesCase{"a\r\n\r\nb\r\n", {"a", "", "b"}},
                                           LinesCase{"a\n\rb", {"a", "", "b"}},
                                           LinesCase{"\n", {""}}, LinesCase{"a\r\r\n", {"a", ""}}));

TEST(OpeningFieldsTest, StartEveryRequestWithCommandTitleAndVersion) {
  EXPECT_EQ(OpeningFields("check", "KORVANE - Cellverter", "2.1"),
            (FieldList{"cmd=check", "appname=KORVANE - Cellverter", "version=2.1"}));
}

TEST(MakerAddressTest, PutsTheSchemeBeforeTheHostAndPath) {
  SetMakerServerForTesting("", "", "");  // the default: the maker's host
  EXPECT_EQ(MakerAddress("https", kCheckPath),
            "https://" CELLVERTER_TEST_MAKER_HOST "/php/check2.php");
  EXPECT_EQ(MakerAddress("http", kFeedbackPath),
            "http://" CELLVERTER_TEST_MAKER_HOST "/php/feedback.php");
  EXPECT_EQ(MakerHomePage(), "http://" CELLVERTER_TEST_MAKER_HOST);
  SetMakerServerForTesting("127.0.0.1:1", "127.0.0.1:2", "");
  EXPECT_EQ(MakerAddress("https", kCheckPath), "https://127.0.0.1:1/php/check2.php");
  EXPECT_EQ(MakerAddress("http", kCheckPath), "http://127.0.0.1:2/php/check2.php");
  SetMakerServerForTesting(testing_support::RefusingAuthority(),
                           testing_support::RefusingAuthority(), "");
}

const FieldList kAwkwardFields = {"cmd=check",         "appname=KORVANE - Cellverter",
                                  "version=2.1",       "note=a&b=c d+e%",
                                  "name=Zoë Ærø 日本", "empty="};

void ExpectFieldsArrived(const maker::ReceivedPost& post) {
  ASSERT_EQ(post.fields.size(), kAwkwardFields.size());
  for (size_t i = 0; i < kAwkwardFields.size(); ++i) {
    const std::string& line = kAwkwardFields[i];
    size_t equals = line.find('=');
    EXPECT_EQ(post.fields[i].first, line.substr(0, equals));
    EXPECT_EQ(post.fields[i].second, line.substr(equals + 1));
  }
}

TEST(PostRequestTest, SecureAttemptPostsTheFormAndReturnsTheReply) {
  LocalMaker maker(Options([](auto& o) {
    o.currentVersion = "2.2";
    o.downloadUrl = "https://example.test/get";
  }));
  // The scheme is recognised whatever its case.
  std::string reply =
      PostRequest("HTTPS://" + maker.https.Authority() + "/php/check2.php", kAwkwardFields, 5000);
  ASSERT_EQ(maker.https.Posts().size(), 1u);
  EXPECT_EQ(reply,
            "<version>2.2</version>\r\n<url>https://example.test/get</url>\r\n"
            "<product>KORVANE - Cellverter</product>\r\n<result>1</result>\r\n"
            "<checks>1</checks>\r\n<important></important>\r\n");
  const maker::ReceivedPost post = maker.https.Posts()[0];
  EXPECT_EQ(post.path, "/php/check2.php");
  ExpectFieldsArrived(post);
  EXPECT_EQ(post.contentType, "application/x-www-form-urlencoded; charset=utf-8");
  EXPECT_EQ(post.connection, "close");
  EXPECT_EQ(post.userAgent, "");
  EXPECT_TRUE(maker.http.Posts().empty());
}

TEST(PostRequestTest, PlainAttemptPostsTheFormWithoutHeadersOfItsOwn) {
  LocalMaker maker;
  std::string reply = PostRequest(MakerAddress("http", kFeedbackPath),
                                  {"cmd=feedback", "opinion=I like it!"}, 5000);
  EXPECT_EQ(reply, "OK");
  ASSERT_EQ(maker.http.Posts().size(), 1u);
  const maker::ReceivedPost post = maker.http.Posts()[0];
  EXPECT_EQ(post.Field("opinion"), "I like it!");
  EXPECT_EQ(post.contentType, "application/x-www-form-urlencoded");
  EXPECT_EQ(post.connection, "");
  EXPECT_EQ(post.userAgent, "");

  LocalMaker again;
  PostRequest(MakerAddress("http", kCheckPath), kAwkwardFields, 5000);
  ASSERT_EQ(again.http.Posts().size(), 1u);
  ExpectFieldsArrived(again.http.Posts()[0]);
}

TEST(PostRequestTest, SecureErrorStatusIsAReply) {
  LocalMaker maker(Options([](auto& o) { o.notFound = true; }));
  EXPECT_EQ(PostRequest(MakerAddress("https", kCheckPath), {"cmd=check"}, 5000),
            "<html><body><h1>404 Not Found</h1></body></html>");
}

TEST(PostRequestTest, PlainErrorStatusFailsWithTheStatusLine) {
  LocalMaker maker({}, Options([](auto& o) { o.notFound = true; }));
  try {
    PostRequest(MakerAddress("http", kCheckPath), {"cmd=check"}, 5000);
    FAIL() << "a 404 over http is no reply";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), "HTTP/1.1 404 Not Found");
  }
}

TEST(PostRequestTest, PlainRedirectIsAFailureAndIsNotFollowed) {
  LocalMaker maker({}, Options([](auto& o) { o.movedPermanently = true; }));
  try {
    PostRequest(MakerAddress("http", kCheckPath), {"cmd=check"}, 5000);
    FAIL() << "a 301 over http is no reply";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), "HTTP/1.1 301 Moved Permanently");
  }
  EXPECT_EQ(maker.http.Posts().size(), 1u);
  EXPECT_TRUE(maker.https.Posts().empty());
}

TEST(PostRequestTest, SecureRedirectsAreFollowedAtMostFiveTimes) {
  // The server sends every request to itself again: one post and five redirects, then failure.
  LocalMaker maker(Options([](auto& o) { o.movedPermanently = true; }));
  EXPECT_THROW(PostRequest(MakerAddress("https", kCheckPath), {"cmd=check"}, 5000), Error);
  EXPECT_EQ(maker.https.Posts().size(), 6u);
}

TEST(PostRequestTest, RefusedConnectionFailsWithTheClientsMessage) {
  SetMakerServerForTesting(testing_support::RefusingAuthority(),
                           testing_support::RefusingAuthority(), "");
  for (const char* scheme : {"https", "http"}) {
    try {
      PostRequest(MakerAddress(scheme, kCheckPath), {"cmd=check"}, 2000);
      ADD_FAILURE() << scheme << " reached a port where nobody listens";
    } catch (const Error& error) {
      EXPECT_NE(std::string(error.what()).find("onnect"), std::string::npos) << error.what();
    }
  }
  SetMakerServerForTesting(testing_support::RefusingAuthority(),
                           testing_support::RefusingAuthority(), "");
}

TEST(PostRequestTest, SilentServerTimesOut) {
  // The server would answer after 20 s; a reply would mean the time-out was not applied.
  maker::ServerOptions slow = Options([](auto& o) { o.delay = std::chrono::seconds(20); });
  LocalMaker maker(slow, slow);
  for (const char* scheme : {"https", "http"}) {
    try {
      PostRequest(MakerAddress(scheme, kCheckPath), {"cmd=check"}, 1000);
      ADD_FAILURE() << scheme << " waited for the slow reply";
    } catch (const Error& error) {
      std::string message = error.what();
      EXPECT_TRUE(message.find("timed out") != std::string::npos ||
                  message.find("timeout") != std::string::npos)
          << message;
    }
  }
}

TEST(PostRequestTest, UntrustedCertificateFails) {
  LocalMaker maker;
  SetMakerServerForTesting(maker.https.Authority(), maker.http.Authority(), "");
  EXPECT_THROW(PostRequest(MakerAddress("https", kCheckPath), {"cmd=check"}, 5000), Error);
  EXPECT_TRUE(maker.https.Posts().empty());
}

TEST(PostRequestTest, DecodesTheReplyByItsDeclaredCharset) {
  struct Case {
    std::string contentType;
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {{"text/plain; charset=iso-8859-1", "caf\xE9", "café"},
                        {"text/plain; charset=\"windows-1251\"", "\xCF\xF0\xE8", "При"},
                        {"text/plain", "café", "café"},
                        {"text/plain; charset=no-such-charset", "café", "café"}};
  for (const Case& c : cases) {
    maker::ServerOptions options = Options([&](auto& o) {
      o.fixedReply = c.bytes;
      o.contentType = c.contentType;
    });
    LocalMaker maker(options, options);
    EXPECT_EQ(PostRequest(MakerAddress("https", kCheckPath), {"cmd=check"}, 5000), c.text)
        << c.contentType;
    EXPECT_EQ(PostRequest(MakerAddress("http", kCheckPath), {"cmd=check"}, 5000), c.text)
        << c.contentType;
  }
}

}  // namespace
}  // namespace cellverter
