#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace cellverter::maker {

// A small stand-in for the maker's web server, on loopback only. "/php/check2.php" answers
// the update check with six reply lines:
//   1 <version>current version</version>   2 <url>download address</url>
//   3 <product>appname sent</product>      4 <result>1 when the version sent differs, else
//   0</result> 5 <checks>number of checks served</checks>   6 <important>message</important>
// A post whose cmd is not "check" gets "ERROR: unknown command". "/php/feedback.php" stores
// the post (memory, and a file when given) and answers "OK".
struct ServerOptions {
  std::string currentVersion = "2.1";
  std::string downloadUrl;
  std::string important;

  // Ways to misbehave, for the client's tests.
  bool notFound = false;               // 404 with an HTML page, on every path
  bool movedPermanently = false;       // 301 to the same path over https, on every path
  std::chrono::milliseconds delay{0};  // wait this long before answering
  int replyLines = -1;                 // answer only the first N reply lines (-1: all)
  std::string fixedReply;              // when not empty: the check's reply, byte for byte
  std::string contentType = "text/plain; charset=utf-8";

  std::filesystem::path feedbackFile;  // feedback posts are appended here when not empty
};

// One post as it arrived: fields decoded in wire order, and the headers that matter.
struct ReceivedPost {
  std::string path;
  std::vector<std::pair<std::string, std::string>> fields;
  std::string body;
  std::string contentType;
  std::string connection;
  std::string userAgent;

  // The value of the first field named name, "" when none.
  std::string Field(const std::string& name) const;
};

// A PEM certificate for 127.0.0.1 and localhost and its key, valid for a day.
struct CertificateFiles {
  std::filesystem::path certificate;
  std::filesystem::path key;
};
CertificateFiles WriteSelfSignedCertificate(const std::filesystem::path& folder);

// Decodes an application/x-www-form-urlencoded body, keeping the order of the pairs.
std::vector<std::pair<std::string, std::string>> DecodeForm(const std::string& body);

class MakerServer {
 public:
  explicit MakerServer(ServerOptions options = {});
  ~MakerServer();
  MakerServer(const MakerServer&) = delete;
  MakerServer& operator=(const MakerServer&) = delete;

  // Listens on 127.0.0.1 at the given port (0: any free one) and returns the port.
  // Throws std::runtime_error when it cannot.
  int StartHttp(int port = 0);
  int StartHttps(const CertificateFiles& files, int port = 0);
  void Stop();

  std::string Authority() const;  // "127.0.0.1:port"
  void SetOptions(ServerOptions options);
  std::vector<ReceivedPost> Posts() const;

 private:
  int Start(std::unique_ptr<httplib::Server> server, int port);
  void Install();
  bool WaitDelay();

  mutable std::mutex mutex_;
  std::condition_variable stopping_;
  bool stopped_ = false;
  ServerOptions options_;
  std::vector<ReceivedPost> posts_;
  int checksServed_ = 0;
  int port_ = 0;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
};

}  // namespace cellverter::maker
