// The page's connections, in front of the HTTP library: our own accept loop
// (capped in all and per client), a deadline for the whole request head and
// its size, and checks on the raw head (Host, body size and encoding,
// ranges) before the library parses a byte. Only then does the library's
// request handling run, over a stream that keeps the deadlines.
#pragma once

#include <httplib.h>

#include <string>
#include <vector>

#include "connections.h"

namespace ru3serve {

// The HTTP library's routing and answering, without its sockets.
class Router : public httplib::Server {
 public:
  bool Process(httplib::Stream& stream, bool close_connection, bool& connection_closed) {
    return process_request(stream, close_connection, connection_closed, nullptr);
  }
};

struct HeadRules {
  std::vector<std::string> hosts;  // Host names accepted, in lower case ("[::1]"); empty: any
  std::size_t most_body = 64 * 1024;
};

// Headers on every answer: the page is never framed by another site and
// never sniffed into another type.
const httplib::Headers& SecurityHeaders();

// 0 when the raw request head (request line and header lines, ending in an
// empty line) may go on to the library, else the HTTP status that refuses
// it, with the reason in `why`.
int CheckHead(std::string_view head, const HeadRules& rules, std::string& why);

class HttpFront {
 public:
  HttpFront(Router& router, const Listening& listening, HeadRules rules);
  // Closes every connection and waits for their threads.
  void Stop() { acceptor_.Stop(); }

 private:
  void Serve(int fd);

  Router& router_;
  HeadRules rules_;
  Acceptor acceptor_;
};

}  // namespace ru3serve
