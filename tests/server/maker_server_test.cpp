#include "maker_server.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace cellverter::maker {
namespace {

std::string Post(MakerServer& server, const std::string& path, const std::string& body,
                 int* status = nullptr) {
  httplib::Client client("127.0.0.1", std::stoi(server.Authority().substr(10)));
  auto result = client.Post(path, body, "application/x-www-form-urlencoded");
  if (!result) return "no reply";
  if (status != nullptr) *status = result->status;
  return result->body;
}

TEST(MakerServerTest, AnswersTheCheckWithSixTaggedLines) {
  ServerOptions options;
  options.currentVersion = "2.2";
  options.downloadUrl = "https://example.test/get";
  options.important = "Read me";
  MakerServer server(options);
  server.StartHttp();
  EXPECT_EQ(Post(server, "/php/check2.php", "cmd=check&appname=KORVANE+-+Cellverter&version=2.1"),
            "<version>2.2</version>\r\n<url>https://example.test/get</url>\r\n"
            "<product>KORVANE - Cellverter</product>\r\n<result>1</result>\r\n"
            "<checks>1</checks>\r\n<important>Read me</important>\r\n");
  EXPECT_EQ(
      Post(server, "/php/check2.php", "cmd=check&version=2.2"),
      "<version>2.2</version>\r\n<url>https://example.test/get</url>\r\n<product></product>\r\n"
      "<result>0</result>\r\n<checks>2</checks>\r\n<important>Read me</important>\r\n");
  EXPECT_EQ(Post(server, "/php/check2.php", "cmd=other"), "ERROR: unknown command\r\n");

  options.replyLines = 2;
  server.SetOptions(options);
  EXPECT_EQ(Post(server, "/php/check2.php", "cmd=check"),
            "<version>2.2</version>\r\n<url>https://example.test/get</url>\r\n");
  int status = 0;
  Post(server, "/php/other.php", "cmd=check", &status);
  EXPECT_EQ(status, 404);
}

TEST(MakerServerTest, StoresFeedbackPostsInOrder) {
  const testing_support::TempDir folder;
  ServerOptions options;
  options.feedbackFile = folder / "feedback.txt";
  MakerServer server(options);
  server.StartHttp();
  EXPECT_EQ(Post(server, "/php/feedback.php", "cmd=feedback&text=a%26b+c&mail="), "OK");
  EXPECT_EQ(Post(server, "/php/feedback.php", "cmd=nothing"), "ERROR: unknown command");
  EXPECT_EQ(testing_support::ReadBytes(options.feedbackFile),
            "cmd=feedback&text=a%26b+c&mail=\ncmd=nothing\n");
  ASSERT_EQ(server.Posts().size(), 2u);
  EXPECT_EQ(server.Posts()[0].fields, (std::vector<std::pair<std::string, std::string>>{
                                          {"cmd", "feedback"}, {"text", "a&b c"}, {"mail", ""}}));
}

TEST(MakerServerTest, DecodesFormsLikeABrowserSends) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(DecodeForm(""), Pairs{});
  EXPECT_EQ(DecodeForm("a=1&b=x%3Dy&c&d=%E6%97%A5+%zz"),
            (Pairs{{"a", "1"}, {"b", "x=y"}, {"c", ""}, {"d", "日 %zz"}}));
}

TEST(MakerServerTest, StopsPromptlyWhileAnAnswerIsDelayed) {
  ServerOptions options;
  options.delay = std::chrono::seconds(60);
  MakerServer server(options);
  server.StartHttp();
  std::thread client([&] { Post(server, "/php/check2.php", "cmd=check"); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (server.Posts().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const bool arrived = !server.Posts().empty();
  const auto stopping = std::chrono::steady_clock::now();
  server.Stop();
  const auto stopTook = std::chrono::steady_clock::now() - stopping;
  client.join();
  EXPECT_TRUE(arrived) << "the post never reached the server";
  // Stop must not sit out the 60 s delay; half of it is far beyond any slow machine.
  EXPECT_LT(stopTook, std::chrono::seconds(30));
}

}  // namespace
}  // namespace cellverter::maker
