// The page's face of `ru3 serve`: HTTP (cpp-httplib) serving the scope page
// from memory, the record stream (long-polled binary frames), the settings,
// run control and saving the record shown as CSV or PNG. One browser
// controls at a time; the others watch its changes.
#pragma once

#include <memory>
#include <string>

#include "connections.h"
#include "engine.h"

namespace ru3serve {

struct PageOptions {
  std::string address = "127.0.0.1";
  int port = 8080;
  std::string token;         // empty: none asked for
  bool public_view = false;  // viewers need no token
  std::string web_dir;       // the page's files
};

class PageServer {
 public:
  // Loads the page and serves it on a socket already listening; throws
  // ru3cli::Failure.
  PageServer(Engine& engine, PageOptions options, const Listening& listening);
  ~PageServer();  // Stop()
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ru3serve
