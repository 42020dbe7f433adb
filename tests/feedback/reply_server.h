#pragma once

#include <httplib.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "maker_server.h"

namespace cellverter::testing_support {

// A loopback server whose feedback script answers a reply chosen by the test, byte for
// byte, over https or http. The maker's reference server always says "OK"; this one shows
// what the window makes of every other answer.
class ReplyServer {
 public:
  // Plain http.
  explicit ReplyServer(std::string reply) : server_(std::make_unique<httplib::Server>()) {
    Start(std::move(reply));
  }
  // https with the given certificate.
  ReplyServer(std::string reply, const maker::CertificateFiles& files)
      : server_(
            std::make_unique<httplib::SSLServer>(files.certificate.c_str(), files.key.c_str())) {
    Start(std::move(reply));
  }
  ~ReplyServer() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
  }
  ReplyServer(const ReplyServer&) = delete;
  ReplyServer& operator=(const ReplyServer&) = delete;

  std::string Authority() const { return "127.0.0.1:" + std::to_string(port_); }

  std::vector<std::string> Bodies() const {
    std::lock_guard lock(mutex_);
    return bodies_;
  }

 private:
  void Start(std::string reply) {
    server_->Post("/php/feedback.php",
                  [this, reply](const httplib::Request& request, httplib::Response& response) {
                    {
                      std::lock_guard lock(mutex_);
                      bodies_.push_back(request.body);
                    }
                    response.set_content(reply, "text/plain; charset=utf-8");
                  });
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot listen on loopback");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> bodies_;
};

}  // namespace cellverter::testing_support
