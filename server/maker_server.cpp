#include "maker_server.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace cellverter::maker {
namespace {

constexpr char kCheckPath[] = "/php/check2.php";
constexpr char kFeedbackPath[] = "/php/feedback.php";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string FormDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void WritePem(const std::filesystem::path& path, bool (*write)(FILE*, void*), void* object) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot write " + path.string());
  bool ok = write(file, object);
  ok = std::fclose(file) == 0 && ok;
  if (!ok) throw std::runtime_error("cannot write " + path.string());
}

// The server's listening socket. httplib's stop() closes it only once the listening thread
// has begun to listen: a stop that comes before is lost, and the thread then waits in
// accept() for ever. Stop() therefore takes the socket itself.
struct ListeningSocket : httplib::Server {
  static std::atomic<socket_t>& Of(httplib::Server& server) {
    return server.*(&ListeningSocket::svr_sock_);
  }
};

}  // namespace

std::string ReceivedPost::Field(const std::string& name) const {
  for (const auto& [key, value] : fields) {
    if (key == name) return value;
  }
  return {};
}

std::vector<std::pair<std::string, std::string>> DecodeForm(const std::string& body) {
  std::vector<std::pair<std::string, std::string>> pairs;
  if (body.empty()) return pairs;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    std::string_view pair(body.data() + start, end - start);
    size_t equals = pair.find('=');
    if (equals == std::string_view::npos) {
      pairs.emplace_back(FormDecode(pair), "");
    } else {
      pairs.emplace_back(FormDecode(pair.substr(0, equals)), FormDecode(pair.substr(equals + 1)));
    }
    start = end + 1;
  }
  return pairs;
}

CertificateFiles WriteSelfSignedCertificate(const std::filesystem::path& folder) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
  if (!key || !cert) throw std::runtime_error("cannot make a key");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), static_cast<long>(std::time(nullptr)));
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert.get(), cert.get(), nullptr, nullptr, 0);
  for (auto [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                            std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (extension == nullptr) throw std::runtime_error("cannot make a certificate extension");
    X509_add_ext(cert.get(), extension, -1);
    X509_EXTENSION_free(extension);
  }
  if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
    throw std::runtime_error("cannot sign the certificate");
  }
  CertificateFiles files{folder / "maker-cert.pem", folder / "maker-key.pem"};
  WritePem(
      files.certificate,
      [](FILE* f, void* x) { return PEM_write_X509(f, static_cast<X509*>(x)) == 1; }, cert.get());
  WritePem(
      files.key,
      [](FILE* f, void* k) {
        return PEM_write_PrivateKey(f, static_cast<EVP_PKEY*>(k), nullptr, nullptr, 0, nullptr,
                                    nullptr) == 1;
      },
      key.get());
  return files;
}

MakerServer::MakerServer(ServerOptions options) : options_(std::move(options)) {}

MakerServer::~MakerServer() { Stop(); }

int MakerServer::StartHttp(int port) { return Start(std::make_unique<httplib::Server>(), port); }

int MakerServer::StartHttps(const CertificateFiles& files, int port) {
  auto server = std::make_unique<httplib::SSLServer>(files.certificate.c_str(), files.key.c_str());
  if (!server->is_valid()) throw std::runtime_error("the certificate or its key is unusable");
  return Start(std::move(server), port);
}

int MakerServer::Start(std::unique_ptr<httplib::Server> server, int port) {
  if (server_) throw std::runtime_error("the server is already listening");
  server_ = std::move(server);
  Install();
  if (port == 0) {
    port_ = server_->bind_to_any_port("127.0.0.1");
  } else {
    port_ = server_->bind_to_port("127.0.0.1", port) ? port : -1;
  }
  if (port_ <= 0) {
    server_.reset();
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return port_;
}

void MakerServer::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  stopping_.notify_all();
  // With no socket left the listening loop does not begin, and shutdown() ends an accept()
  // it already waits in; either way it finds the socket gone and returns.
  socket_t listening = INVALID_SOCKET;
  if (server_) listening = ListeningSocket::Of(*server_).exchange(INVALID_SOCKET);
  if (listening != INVALID_SOCKET) ::shutdown(listening, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  // Closed only now, so that its number cannot be given to another socket while the thread
  // may still be about to call accept() on it.
  if (listening != INVALID_SOCKET) ::close(listening);
}

std::string MakerServer::Authority() const { return "127.0.0.1:" + std::to_string(port_); }

void MakerServer::SetOptions(ServerOptions options) {
  std::lock_guard lock(mutex_);
  options_ = std::move(options);
}

std::vector<ReceivedPost> MakerServer::Posts() const {
  std::lock_guard lock(mutex_);
  return posts_;
}

bool MakerServer::WaitDelay() {
  std::unique_lock lock(mutex_);
  return !stopping_.wait_for(lock, options_.delay, [this] { return stopped_; });
}

void MakerServer::Install() {
  auto handle = [this](const httplib::Request& request, httplib::Response& response) {
    ServerOptions options;
    ReceivedPost post{request.path,
                      DecodeForm(request.body),
                      request.body,
                      request.get_header_value("Content-Type"),
                      request.get_header_value("Connection"),
                      request.get_header_value("User-Agent")};
    int checks = 0;
    {
      std::lock_guard lock(mutex_);
      options = options_;
      posts_.push_back(post);
      if (request.path == kCheckPath) checks = ++checksServed_;
    }
    if (options.delay.count() > 0 && !WaitDelay()) return;

    if (options.notFound) {
      response.status = 404;
      response.set_content("<html><body><h1>404 Not Found</h1></body></html>", "text/html");
      return;
    }
    if (options.movedPermanently) {
      response.status = 301;
      response.set_header("Location", "https://" + Authority() + request.path);
      response.set_content("<html><body>Moved Permanently</body></html>", "text/html");
      return;
    }
    if (request.path == kCheckPath) {
      std::string reply = options.fixedReply;
      if (reply.empty() && post.Field("cmd") != "check") reply = "ERROR: unknown command\r\n";
      if (reply.empty()) {
        const std::string lines[] = {
            "<version>" + options.currentVersion + "</version>",
            "<url>" + options.downloadUrl + "</url>",
            "<product>" + post.Field("appname") + "</product>",
            std::string("<result>") +
                (post.Field("version") != options.currentVersion ? "1" : "0") + "</result>",
            "<checks>" + std::to_string(checks) + "</checks>",
            "<important>" + options.important + "</important>"};
        int count = options.replyLines < 0 ? 6 : std::min(options.replyLines, 6);
        for (int i = 0; i < count; ++i) reply += lines[i] + "\r\n";
      }
      response.set_content(reply, options.contentType);
    } else if (request.path == kFeedbackPath) {
      if (!options.feedbackFile.empty()) {
        std::lock_guard lock(mutex_);
        std::ofstream(options.feedbackFile, std::ios::app | std::ios::binary)
            << request.body << '\n';
      }
      response.set_content(post.Field("cmd") == "feedback" ? "OK" : "ERROR: unknown command",
                           options.contentType);
    } else {
      response.status = 404;
      response.set_content("<html><body><h1>404 Not Found</h1></body></html>", "text/html");
    }
  };
  server_->Post(R"(/.*)", handle);
  server_->Get(R"(/.*)", handle);
}

}  // namespace cellverter::maker
