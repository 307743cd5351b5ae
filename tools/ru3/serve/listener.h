// The raw-socket SCPI port: accepts connections (capped in all and per
// client), reads newline-terminated program messages of bounded length and
// answers them through one ScpiSession per connection, each on its own
// thread. Sessions that do not give the token within a few seconds, and
// idle ones, are closed.
#pragma once

#include <chrono>
#include <string>

#include "connections.h"
#include "engine.h"

namespace ru3serve {

class ScpiListener {
 public:
  // Serves on a socket already listening.
  ScpiListener(Engine& engine, const Listening& listening, std::string token);
  ~ScpiListener() = default;  // the acceptor stops and waits for every session
  ScpiListener(const ScpiListener&) = delete;
  ScpiListener& operator=(const ScpiListener&) = delete;

  // Closes every connection and waits for their threads.
  void Stop() { acceptor_.Stop(); }

 private:
  void Serve(int fd);

  Engine& engine_;
  std::string token_;
  Acceptor acceptor_;
};

}  // namespace ru3serve
