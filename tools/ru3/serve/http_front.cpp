// The page's connections: heads read whole within a deadline and a size,
// checked raw, then handed to the HTTP library with the bytes read so far.
#include "http_front.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <nlohmann/json.hpp>

namespace ru3serve {
namespace {

using Clock = std::chrono::steady_clock;
constexpr ConnectionLimits kLimits{64, 16};
constexpr std::size_t kMostHead = 8192;  // request line and headers
constexpr auto kHeadTime = std::chrono::seconds(5);  // for a whole head, idle keep-alive time included
constexpr auto kBodyTime = std::chrono::seconds(10);  // for the rest of a request
constexpr auto kSendTime = std::chrono::seconds(5);  // for each part of an answer
constexpr int kMostRequests = 100;  // on one connection

// A connection as the library's stream: the bytes read ahead (the head
// being checked) come first; reads wait at most until the deadline.
class Connection : public httplib::Stream {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  std::string ahead;
  std::size_t used = 0;  // of `ahead`, by the library
  Clock::time_point deadline;

  bool is_readable() const override { return used < ahead.size() || WaitFor(fd_, POLLIN, deadline); }
  bool is_writable() const override { return WaitFor(fd_, POLLOUT, Clock::now() + kSendTime); }
  ssize_t read(char* ptr, size_t size) override {
    if (used < ahead.size()) {
      const std::size_t n = std::min(size, ahead.size() - used);
      std::memcpy(ptr, ahead.data() + used, n);
      used += n;
      return static_cast<ssize_t>(n);
    }
    if (!WaitFor(fd_, POLLIN, deadline)) return -1;
    return ::recv(fd_, ptr, size, 0);
  }
  ssize_t write(const char* ptr, size_t size) override {
    return SendAll(fd_, std::string_view(ptr, size), kSendTime) ? static_cast<ssize_t>(size) : -1;
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(::getpeername, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(::getsockname, ip, port); }
  socket_t socket() const override { return fd_; }

  // Drops what the library has read.
  void Compact() {
    ahead.erase(0, used);
    used = 0;
  }

 private:
  void Address(int (*get)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    char text[INET6_ADDRSTRLEN] = "";
    port = 0;
    if (get(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) return;
    if (address.ss_family == AF_INET) {
      const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
      ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
      port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
      const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
      ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
      port = ntohs(v6.sin6_port);
    }
    ip = text;
  }

  int fd_;
};

enum class Head { kWhole, kGone, kSlow, kTooLong };

// Reads until `ahead` holds a whole head (its size in `size`).
Head ReadHead(int fd, Connection& connection, std::size_t& size) {
  std::string& ahead = connection.ahead;
  for (;;) {
    const std::size_t end = ahead.find("\r\n\r\n");
    if (end != std::string::npos && end + 4 <= kMostHead) {
      size = end + 4;
      return Head::kWhole;
    }
    if (ahead.size() >= kMostHead) return Head::kTooLong;
    if (!WaitFor(fd, POLLIN, connection.deadline)) return ahead.empty() ? Head::kGone : Head::kSlow;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, kMostHead + 4 - ahead.size()), 0);
    if (n <= 0) return Head::kGone;
    ahead.append(buffer, static_cast<std::size_t>(n));
  }
}

const char* Reason(int status) {
  switch (status) {
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 416: return "Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    default: return "Error";
  }
}

// Ends a connection gently: what the client still sends is read and dropped
// for a moment after our side is shut, so the last answer is not lost to a
// reset.
void EndGently(int fd) {
  ::shutdown(fd, SHUT_WR);
  const auto until = Clock::now() + std::chrono::seconds(1);
  char sink[16384];
  for (int i = 0; i < 64 && WaitFor(fd, POLLIN, until); ++i) {
    if (::recv(fd, sink, sizeof sink, 0) <= 0) break;
  }
}

// Answers a refused request; the connection ends after it.
void Refuse(int fd, int status, const std::string& why) {
  const std::string body = nlohmann::json{{"error", why}}.dump();
  std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
                       "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nConnection: close\r\n";
  for (const auto& [name, value] : SecurityHeaders()) answer += name + ": " + value + "\r\n";
  answer += "\r\n" + body;
  (void)SendAll(fd, answer, kSendTime);
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "name" or "name:port", the name matched as sent (no %-decoding): a name
// that merely begins like a loopback one ("[::1].example") is not one.
bool HostAllowed(std::string_view host, const std::vector<std::string>& names) {
  std::string_view name = host, port;
  if (host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    name = host.substr(0, close + 1);
    port = host.substr(close + 1);
  } else if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
    name = host.substr(0, colon);
    port = host.substr(colon);
  }
  if (!port.empty()) {
    if (port.front() != ':' || port.size() < 2 || port.size() > 6) return false;
    for (char c : port.substr(1)) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
  }
  return std::find(names.begin(), names.end(), Lower(name)) != names.end();
}

}  // namespace

const httplib::Headers& SecurityHeaders() {
  static const httplib::Headers headers = {{"X-Frame-Options", "DENY"},
                                           {"Content-Security-Policy", "frame-ancestors 'none'"},
                                           {"X-Content-Type-Options", "nosniff"}};
  return headers;
}

int CheckHead(std::string_view head, const HeadRules& rules, std::string& why) {
  const std::size_t line_end = head.find("\r\n");
  const std::string_view request = head.substr(0, line_end);
  const std::string method(request.substr(0, request.find(' ')));
  int hosts = 0, lengths = 0;
  unsigned long long length = 0;
  for (std::size_t at = line_end + 2; at + 2 < head.size();) {
    const std::size_t end = head.find("\r\n", at);
    const std::string_view line = head.substr(at, end - at);
    at = end + 2;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return why = "malformed header line", 400;
    const std::string name = Lower(line.substr(0, colon));
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (name == "host") {
      if (++hosts > 1) return why = "more than one Host", 400;
      if (!rules.hosts.empty() && (value.empty() || !HostAllowed(value, rules.hosts))) {
        return why = "unknown Host", 403;
      }
    } else if (name == "content-encoding") {
      return why = "no Content-Encoding on requests", 415;
    } else if (name == "transfer-encoding") {
      return why = "send the body with a Content-Length", 411;
    } else if (name == "content-length") {
      char* rest = nullptr;
      const std::string digits(value);
      length = std::strtoull(digits.c_str(), &rest, 10);
      if (++lengths > 1 || digits.empty() || *rest != '\0' || !std::isdigit(static_cast<unsigned char>(digits[0]))) {
        return why = "malformed Content-Length", 400;
      }
      if (length > rules.most_body) return why = "at most " + std::to_string(rules.most_body) + " bytes of body", 413;
    } else if (name == "range" && value.find(',') != std::string_view::npos) {
      return why = "one range at a time", 416;
    }
  }
  if (lengths == 0 && (method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE")) {
    return why = "send the body with a Content-Length", 411;
  }
  return 0;
}

HttpFront::HttpFront(Router& router, const Listening& listening, HeadRules rules)
    : router_(router),
      rules_(std::move(rules)),
      acceptor_(listening, kLimits, [this](int fd, const std::string&) { Serve(fd); }) {}

void HttpFront::Serve(int fd) {
  Connection connection(fd);
  for (int served = 0; served < kMostRequests && !acceptor_.stopping(); ++served) {
    connection.Compact();
    connection.deadline = Clock::now() + kHeadTime;
    std::size_t size = 0;
    const Head head = ReadHead(fd, connection, size);
    if (head == Head::kGone) return;
    if (head == Head::kSlow) {
      Refuse(fd, 408, "the request head came too slowly");
      break;
    }
    if (head == Head::kTooLong) {
      if (connection.ahead.find("\r\n") == std::string::npos) Refuse(fd, 414, "the URI is too long");
      else Refuse(fd, 431, "the head is too long");
      break;
    }
    std::string why;
    if (const int status = CheckHead(std::string_view(connection.ahead).substr(0, size), rules_, why)) {
      Refuse(fd, status, why);
      break;
    }
    connection.deadline = Clock::now() + kBodyTime;
    bool closed = false;
    if (!router_.Process(connection, served + 1 == kMostRequests || acceptor_.stopping(), closed) || closed) break;
  }
  if (!acceptor_.stopping()) EndGently(fd);
}

}  // namespace ru3serve
