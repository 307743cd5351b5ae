// The SCPI port's sessions. Lines are bounded (kMostLine): a longer one is
// dropped whole with an error in the session's queue, and reading goes on at
// the next line feed. Answers go out as they are made, so a line of many
// queries never piles up a reply; a client that stops reading is dropped
// after the send time-out, so it never holds the server.
#include "listener.h"

#include <poll.h>
#include <sys/socket.h>

#include "scpi.h"

namespace ru3serve {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMostLine = 16384;
constexpr ConnectionLimits kLimits{32, 8};
constexpr auto kTokenTime = std::chrono::seconds(5);  // to give the token in
constexpr auto kIdleTime = std::chrono::seconds(300);  // without a byte from the client
constexpr auto kSendTime = std::chrono::seconds(10);
constexpr std::size_t kSendChunk = 64 * 1024;  // answers gathered before sending

}  // namespace

ScpiListener::ScpiListener(Engine& engine, const Listening& listening, std::string token)
    : engine_(engine),
      token_(std::move(token)),
      acceptor_(listening, kLimits, [this](int fd, const std::string&) { Serve(fd); }) {}

void ScpiListener::Serve(int fd) {
  ScpiSession session(engine_, token_);
  const auto token_deadline = Clock::now() + kTokenTime;
  std::string line, out;
  bool dropping = false;  // inside a line that was too long
  const auto flush = [&](std::size_t at_least) {
    if (out.size() < at_least) return true;
    const bool sent = SendAll(fd, out, kSendTime);
    out.clear();
    return sent;
  };
  const ScpiSession::Send send = [&](std::string_view part) {
    out += part;
    return flush(kSendChunk);
  };
  char buffer[4096];
  while (!acceptor_.stopping()) {
    const auto deadline = session.authorised ? Clock::now() + kIdleTime : token_deadline;
    if (!WaitFor(fd, POLLIN, deadline)) break;  // silent too long, or no token in time
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    bool open = true;
    for (ssize_t i = 0; i < n && open; ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        if (!dropping) {
          try {
            open = session.Execute(line, send) && flush(1);
          } catch (const std::exception& error) {  // out of memory: the session goes on
            out.clear();
            session.Push(-200, error.what());
          }
        }
        line.clear();
        dropping = false;
      } else if (!dropping) {
        line += c;
        if (line.size() > kMostLine) {
          session.Overrun();
          line.clear();
          dropping = true;
        }
      }
    }
    if (!open) break;
  }
}

}  // namespace ru3serve
