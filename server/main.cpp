// cellverter-maker-server: the maker's two endpoints on loopback, for trying the program and
// its tests against a server that really answers. See server/README.md.
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include <unistd.h>

#include "maker_server.h"

namespace {

constexpr char kUsage[] =
    "usage: cellverter-maker-server [--http PORT] [--https PORT] [--cert FILE --key FILE]\n"
    "         [--version TEXT] [--url ADDRESS] [--important TEXT] [--feedback-file FILE]\n"
    "         [--not-found] [--moved] [--delay-ms N] [--lines N] [--reply TEXT]\n"
    "Listens on 127.0.0.1 only. --https without --cert makes a certificate for the run.\n";

int Number(std::string_view option, const char* text) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || value < 0 || value > 1000000000) {
    std::cerr << "cellverter-maker-server: " << option << " needs a number\n" << kUsage;
    std::exit(2);
  }
  return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
  using cellverter::maker::MakerServer;
  cellverter::maker::ServerOptions options;
  cellverter::maker::CertificateFiles files;
  int httpPort = -1;
  int httpsPort = -1;
  for (int i = 1; i < argc; ++i) {
    std::string_view option = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::cerr << "cellverter-maker-server: " << option << " needs a value\n" << kUsage;
        std::exit(2);
      }
      return argv[++i];
    };
    if (option == "--http")
      httpPort = Number(option, value());
    else if (option == "--https")
      httpsPort = Number(option, value());
    else if (option == "--cert")
      files.certificate = value();
    else if (option == "--key")
      files.key = value();
    else if (option == "--version")
      options.currentVersion = value();
    else if (option == "--url")
      options.downloadUrl = value();
    else if (option == "--important")
      options.important = value();
    else if (option == "--feedback-file")
      options.feedbackFile = value();
    else if (option == "--not-found")
      options.notFound = true;
    else if (option == "--moved")
      options.movedPermanently = true;
    else if (option == "--delay-ms")
      options.delay = std::chrono::milliseconds(Number(option, value()));
    else if (option == "--lines")
      options.replyLines = Number(option, value());
    else if (option == "--reply")
      options.fixedReply = value();
    else {
      std::cerr << kUsage;
      return option == "--help" ? 0 : 2;
    }
  }
  if (httpPort < 0 && httpsPort < 0) httpPort = 8080;

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // the server threads inherit the mask

  try {
    MakerServer http(options);
    MakerServer https(options);
    if (httpPort >= 0) {
      std::cout << "http://127.0.0.1:" << http.StartHttp(httpPort) << std::endl;
    }
    if (httpsPort >= 0) {
      if (files.certificate.empty()) {
        char folder[] = "/tmp/cellverter-maker-XXXXXX";
        if (mkdtemp(folder) == nullptr) throw std::runtime_error("cannot make a folder");
        files = cellverter::maker::WriteSelfSignedCertificate(folder);
        std::cout << "certificate " << files.certificate.string() << std::endl;
      }
      std::cout << "https://127.0.0.1:" << https.StartHttps(files, httpsPort) << std::endl;
    }
    int received = 0;
    sigwait(&signals, &received);
  } catch (const std::exception& error) {
    std::cerr << "cellverter-maker-server: " << error.what() << '\n';
    return 1;
  }
  return 0;
}
