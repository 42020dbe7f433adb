#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <exception>
#include <functional>
#include <string>

namespace cellverter::testing_support {

// Runs `body` in a forked child and returns the text it returned, or how the child ended
// otherwise. The child gets SIGALRM after `seconds`, so a body that blocks or loops for
// ever fails its test instead of hanging it.
inline std::string RunInBoundedChild(const std::function<std::string()>& body,
                                     unsigned seconds = 60) {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child < 0) return "no fork";
  if (child == 0) {
    ::close(pipeEnds[0]);
    ::alarm(seconds);
    std::string text;
    try {
      text = body();
    } catch (const std::exception& e) {
      text = std::string("exception: ") + e.what();
    }
    for (size_t done = 0; done < text.size();) {
      const ssize_t n = ::write(pipeEnds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(pipeEnds[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  ::close(pipeEnds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    return WTERMSIG(status) == SIGALRM ? "still running after " + std::to_string(seconds) + " s"
                                       : "killed by signal " + std::to_string(WTERMSIG(status));
  }
  return text;
}

}  // namespace cellverter::testing_support
