// Listening sockets and the capped accept loop shared by the page and the
// SCPI port.
#include "connections.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "../failure.h"

namespace ru3serve {

Listening::Listening(const std::string& what, const std::string& address, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;  // IPv4 or IPv6, as the address says
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
    throw ru3cli::Failure(what + ": cannot resolve the address " + address, ru3cli::kExitUsage);
  }
  fd_ = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  // Only SO_REUSEADDR (a restart binds while old connections linger); never
  // SO_REUSEPORT, which would let a second server share the port quietly.
  if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const bool bound =
      fd_ >= 0 && ::bind(fd_, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd_, 64) == 0;
  const int error = errno;
  ::freeaddrinfo(found);
  if (!bound) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw ru3cli::Failure(what + " " + address + ":" + service + ": " + std::strerror(error));
  }
}

Listening::~Listening() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

std::string ClientAddress(const sockaddr_storage& peer) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (peer.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
  } else if (peer.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, text, sizeof text);
  }
  return text;
}

}  // namespace

Acceptor::Acceptor(const Listening& listening, ConnectionLimits limits, Handler handler)
    : listen_fd_(listening.fd()), limits_(limits), handler_(std::move(handler)) {
  if (::pipe2(wake_, O_CLOEXEC) != 0) throw ru3cli::Failure("no pipe for the accept loop");
  thread_ = std::thread([this] { Loop(); });
}

Acceptor::~Acceptor() { Stop(); }

void Acceptor::Stop() {
  if (stopping_.exchange(true)) return;
  (void)!::write(wake_[1], "x", 1);
  thread_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : clients_) ::shutdown(fd, SHUT_RDWR);
  }
  for (Worker& worker : workers_) worker.thread.join();
  workers_.clear();
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void Acceptor::Loop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    if (fd >= 0) Admit(fd, ClientAddress(peer));
  }
}

void Acceptor::Admit(int fd, const std::string& client) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Threads of connections that have ended are joined as new ones come.
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
  std::size_t& mine = per_client_[client];
  if (clients_.size() >= limits_.most || mine >= limits_.most_per_client) {
    if (mine == 0) per_client_.erase(client);
    ::close(fd);  // refused: the client sees the connection end at once
    return;
  }
  ++mine;
  clients_.insert(fd);
  auto done = std::make_shared<std::atomic<bool>>(false);
  workers_.push_back({std::thread([this, fd, client, done] {
                        try {
                          handler_(fd, client);
                        } catch (...) {  // out of memory: this connection ends, the server goes on
                        }
                        std::lock_guard<std::mutex> lock(mutex_);
                        clients_.erase(fd);
                        if (--per_client_[client] == 0) per_client_.erase(client);
                        ::close(fd);
                        *done = true;
                      }),
                      done});
}

bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count() + 1, 60000)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n > 0) return true;  // ready, or an error the next call reports
  }
}

bool SendAll(int fd, std::string_view data, std::chrono::milliseconds timeout) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    if (!WaitFor(fd, POLLOUT, std::chrono::steady_clock::now() + timeout)) return false;
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace ru3serve
