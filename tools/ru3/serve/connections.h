// The sockets of both faces of `ru3 serve`: listening sockets bound before
// any thread starts, and an accept loop that caps connections in all and per
// client address, runs each connection on its own thread and, on Stop, shuts
// every client socket so no connection outlives the server.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ru3serve {

// A bound, listening TCP socket (SO_REUSEADDR only: a port another process
// holds is refused). Throws ru3cli::Failure (exit 1) naming `what`.
class Listening {
 public:
  Listening(const std::string& what, const std::string& address, int port);
  ~Listening();
  Listening(const Listening&) = delete;
  Listening& operator=(const Listening&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

struct ConnectionLimits {
  std::size_t most = 64;             // connections in all
  std::size_t most_per_client = 16;  // from one client address
};

class Acceptor {
 public:
  // Runs handler(fd, client address) on a thread of its own for every
  // connection admitted; the fd is closed when the handler returns.
  using Handler = std::function<void(int fd, const std::string& client)>;
  Acceptor(const Listening& listening, ConnectionLimits limits, Handler handler);
  ~Acceptor();  // Stop()
  Acceptor(const Acceptor&) = delete;
  Acceptor& operator=(const Acceptor&) = delete;

  // Stops accepting, shuts every connection's socket and waits for the
  // handlers (each sees its socket end).
  void Stop();
  bool stopping() const { return stopping_; }

 private:
  void Loop();
  void Admit(int fd, const std::string& client);

  int listen_fd_;
  ConnectionLimits limits_;
  Handler handler_;
  int wake_[2] = {-1, -1};  // a pipe that ends the accept loop
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::set<int> clients_;
  std::map<std::string, std::size_t> per_client_;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Worker> workers_;
  std::thread thread_;
};

// Waits until fd is readable (POLLIN) or writable (POLLOUT), at most until
// `deadline`; false on time-out or error.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline);

// Sends all of `data`, each part within `timeout`; false when the client has
// gone or does not read.
bool SendAll(int fd, std::string_view data, std::chrono::milliseconds timeout);

}  // namespace ru3serve
