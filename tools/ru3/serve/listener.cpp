// The SCPI port's sockets. Lines are bounded (kMostLine): a longer one is
// dropped whole with an error in the session's queue, and reading goes on at
// the next line feed. A client that stops reading its answers is dropped
// after the send time-out, so it never holds the server.
#include "listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "../failure.h"
#include "scpi.h"

namespace ru3serve {
namespace {

constexpr std::size_t kMostLine = 16384;
constexpr std::size_t kMostSessions = 32;

bool SendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

ScpiListener::ScpiListener(Engine& engine, const std::string& address, int port, std::string token)
    : engine_(engine), token_(std::move(token)) {
  addrinfo hints{};
  hints.ai_family = 0;  // IPv4 or IPv6, as the address says
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
    throw ru3cli::Failure("SCPI port: cannot resolve the address " + address, ru3cli::kExitUsage);
  }
  listen_fd_ = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const bool bound = listen_fd_ >= 0 && ::bind(listen_fd_, found->ai_addr, found->ai_addrlen) == 0 &&
                     ::listen(listen_fd_, 16) == 0;
  const int error = errno;
  ::freeaddrinfo(found);
  if (!bound) {
    if (listen_fd_ >= 0) ::close(listen_fd_);
    throw ru3cli::Failure("SCPI port " + address + ":" + service + ": " + std::strerror(error));
  }
  if (::pipe2(wake_, O_CLOEXEC) != 0) throw ru3cli::Failure("SCPI port: no pipe");
  acceptor_ = std::thread([this] { Accept(); });
}

ScpiListener::~ScpiListener() { Stop(); }

void ScpiListener::Stop() {
  if (stopping_.exchange(true)) return;
  (void)!::write(wake_[1], "x", 1);
  acceptor_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : clients_) ::shutdown(fd, SHUT_RDWR);
  }
  for (Worker& worker : workers_) worker.thread.join();
  ::close(listen_fd_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void ScpiListener::Accept() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (clients_.size() >= kMostSessions) {
      ::close(fd);
      continue;
    }
    timeval send_timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
    clients_.insert(fd);
    // Threads of connections that have ended are joined as new ones come.
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (it->done->load()) {
        it->thread.join();
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back({std::thread([this, fd, done] { Serve(fd, *done); }), done});
  }
}

void ScpiListener::Serve(int fd, std::atomic<bool>& done) {
  ScpiSession session(engine_, token_);
  std::string line;
  bool dropping = false;  // inside a line that was too long
  char buffer[4096];
  while (!stopping_.load()) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    bool open = true;
    for (ssize_t i = 0; i < n && open; ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        if (!dropping) {
          std::string response;
          try {
            response = session.Execute(line);
          } catch (const std::exception& error) {  // out of memory: the session goes on
            session.Push(-200, error.what());
          }
          open = response.empty() || SendAll(fd, response);
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
  std::lock_guard<std::mutex> lock(mutex_);
  clients_.erase(fd);
  ::close(fd);
  done = true;
}

}  // namespace ru3serve
