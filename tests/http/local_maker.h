#pragma once

#include <filesystem>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include "http/server_exchange.h"
#include "maker_server.h"
#include "scoped_environment.h"
#include "temp_dir.h"

namespace cellverter::testing_support {

// "127.0.0.1:PORT" of a port that nobody listens on: connections are refused.
inline std::string RefusingAuthority() {
  int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(socket);
  return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

// Server options changed from their defaults by change(options).
template <class Change>
maker::ServerOptions Options(Change change) {
  maker::ServerOptions options;
  change(options);
  return options;
}

// The maker's server twice on loopback, over https (certificate made now) and over http,
// with the program's addresses pointed at them for the lifetime of this object.
class LocalMaker {
 public:
  explicit LocalMaker(maker::ServerOptions httpsOptions = {}, maker::ServerOptions httpOptions = {})
      : https(std::move(httpsOptions)), http(std::move(httpOptions)) {
    // Loopback traffic must never be handed to a proxy of the environment.
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) {
      environment.Set(name, nullptr);
    }
    certificate = maker::WriteSelfSignedCertificate(folder.path());
    https.StartHttps(certificate);
    http.StartHttp();
    SetMakerServerForTesting(https.Authority(), http.Authority(), certificate.certificate);
  }
  // A check thread that outlives the servers must still find nothing but loopback.
  ~LocalMaker() { SetMakerServerForTesting(RefusingAuthority(), RefusingAuthority(), ""); }

  ScopedEnvironment environment;
  TempDir folder;
  maker::CertificateFiles certificate;
  maker::MakerServer https;
  maker::MakerServer http;
};

}  // namespace cellverter::testing_support
