// The raw-socket SCPI port: accepts connections, reads newline-terminated
// program messages of bounded length and answers them through one
// ScpiSession per connection, each on its own thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine.h"

namespace ru3serve {

class ScpiListener {
 public:
  // Binds address:port at once; throws ru3cli::Failure when it cannot.
  ScpiListener(Engine& engine, const std::string& address, int port, std::string token);
  ~ScpiListener();  // Stop()
  ScpiListener(const ScpiListener&) = delete;
  ScpiListener& operator=(const ScpiListener&) = delete;

  // Closes the port and every connection, and waits for their threads.
  void Stop();

 private:
  void Accept();
  void Serve(int fd, std::atomic<bool>& done);

  Engine& engine_;
  std::string token_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};  // a pipe that ends the accept loop
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::set<int> clients_;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Worker> workers_;
  std::thread acceptor_;
};

}  // namespace ru3serve
