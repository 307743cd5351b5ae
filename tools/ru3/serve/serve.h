// `ru3 serve`: the instrument on the network. One process owns the
// instrument and serves a live scope page over HTTP and a SCPI port over a
// raw socket, on loopback unless told otherwise.
#pragma once

#include <string>

#include "../session.h"

namespace CLI {
class App;
}

namespace ru3serve {

struct ServeOptions {
  std::string listen = "127.0.0.1:8080";
  std::string scpi = "5025";  // [ADDR:]PORT; the page's address when no ADDR
  std::string token;
  std::string token_file;  // holds the token; readable by its owner only
  bool public_view = false;
  std::string web;
  bool no_full_pretrigger = false;
};

// Adds the serve command to the tool.
CLI::App* AddServeCommand(CLI::App& app, ServeOptions& options);

// Runs until SIGINT, SIGTERM, SIGHUP or SIGQUIT, then closes the instrument.
int RunServe(const ru3cli::GlobalOptions& global, const ServeOptions& options);

}  // namespace ru3serve
