// The serve command: its options, the token rule (a token is needed on any
// address but loopback, or when one is given; it comes from the command
// line, a file or the environment), and the process's life: both ports are
// bound before any thread starts, the stop signals are blocked in every
// thread and awaited here, so Ctrl-C, SIGTERM, SIGHUP (the terminal closed)
// and SIGQUIT stop the faces and close the instrument in order.
#include "serve.h"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "../failure.h"
#include "connections.h"
#include "engine.h"
#include "listener.h"
#include "page.h"

#ifndef RU3_WEB_DIR
#define RU3_WEB_DIR ""
#endif

namespace ru3serve {
namespace {

struct Endpoint {
  std::string address;
  int port = 0;
};

// "ADDR:PORT", "[v6]:PORT" or, with a default address, "PORT".
Endpoint ParseEndpoint(const std::string& option, const std::string& text, const std::string& default_address) {
  Endpoint end;
  std::string port = text;
  const auto colon = text.rfind(':');
  if (colon != std::string::npos) {
    end.address = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (end.address.size() >= 2 && end.address.front() == '[' && end.address.back() == ']') {
      end.address = end.address.substr(1, end.address.size() - 2);
    }
  } else if (!default_address.empty()) {
    end.address = default_address;
  }
  char* rest = nullptr;
  const long number = std::strtol(port.c_str(), &rest, 10);
  if (end.address.empty() || port.empty() || *rest != '\0' || number < 1 || number > 65535) {
    throw ru3cli::Failure(option + " \"" + text + "\": expected ADDRESS:PORT, e.g. 127.0.0.1:8080", ru3cli::kExitUsage);
  }
  end.port = static_cast<int>(number);
  return end;
}

bool Loopback(const std::string& address) {
  if (address == "localhost") return true;
  in_addr v4{};
  if (::inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return ::inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::string NewToken() {
  std::random_device random;
  std::string token;
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 32; ++i) token += kHex[random() & 15];
  return token;
}

// The page's files: --web, else installed with the program (share/ru3/web),
// else the source tree it was built from.
std::string WebDir(const std::string& given) {
  if (!given.empty()) return given;
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string bin(self, static_cast<std::size_t>(n));
    bin = bin.substr(0, bin.rfind('/'));
    const std::string dir = bin + "/../share/ru3/web";
    if (::access((dir + "/node_modules/uplot/dist/uPlot.iife.min.js").c_str(), R_OK) == 0) return dir;
  }
  return RU3_WEB_DIR;
}

constexpr const char* kTokenVariable = "RU3_SERVE_TOKEN";

// The token from --token, else --token-file (which no one else may read),
// else the environment; empty when none is given.
std::string GivenToken(const ServeOptions& options) {
  if (!options.token.empty()) return options.token;
  if (!options.token_file.empty()) {
    const std::string& path = options.token_file;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      throw ru3cli::Failure("--token-file " + path + ": " + std::strerror(errno), ru3cli::kExitUsage);
    }
    if (info.st_mode & 077) {
      throw ru3cli::Failure("--token-file " + path + ": readable by other users (chmod 600 it)", ru3cli::kExitUsage);
    }
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    std::string token = text.str();
    while (!token.empty() && std::isspace(static_cast<unsigned char>(token.back()))) token.pop_back();
    if (!in || token.empty()) throw ru3cli::Failure("--token-file " + path + ": no token in it", ru3cli::kExitUsage);
    return token;
  }
  const char* variable = std::getenv(kTokenVariable);
  return variable ? variable : "";
}

}  // namespace

CLI::App* AddServeCommand(CLI::App& app, ServeOptions& options) {
  CLI::App* serve = app.add_subcommand("serve", "serve the instrument: a live scope page and a SCPI port");
  serve->add_option("--listen", options.listen, "the page's ADDRESS:PORT")->capture_default_str();
  serve->add_option("--scpi", options.scpi, "the SCPI port, [ADDRESS:]PORT")->capture_default_str();
  serve->add_option("--token", options.token,
                    "the token clients give (default: made up when needed); other users see it in the "
                    "process list: prefer --token-file or RU3_SERVE_TOKEN");
  serve->add_option("--token-file", options.token_file,
                    "a file holding the token (readable by its owner only); else the environment "
                    "variable RU3_SERVE_TOKEN gives it")
      ->excludes(serve->get_option("--token"));
  serve->add_flag("--public-view", options.public_view, "viewers of the page need no token");
  serve->add_option("--web", options.web, "directory of the page's files");
  serve->add_flag("--no-full-pretrigger", options.no_full_pretrigger,
                  "let the trigger fire before the pre-trigger part is sampled (records then start with no samples)");
  return serve;
}

int RunServe(const ru3cli::GlobalOptions& global, const ServeOptions& options) {
  const Endpoint page_at = ParseEndpoint("--listen", options.listen, "");
  const Endpoint scpi_at = ParseEndpoint("--scpi", options.scpi, page_at.address);
  std::string token = GivenToken(options);
  if (token.empty() && (!Loopback(page_at.address) || !Loopback(scpi_at.address))) token = NewToken();
  if (token.size() > 256) throw ru3cli::Failure("--token: at most 256 characters", ru3cli::kExitUsage);

  // Both ports first: a port that is taken ends the start (exit 1) before
  // the instrument is opened or any thread runs.
  const Listening page_listening("the page's port", page_at.address, page_at.port);
  const Listening scpi_listening("the SCPI port", scpi_at.address, scpi_at.port);

  // Every thread started from here on inherits the blocked signals; only
  // sigwait below receives them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stop_signals, stop);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  Engine engine(global, !options.no_full_pretrigger);
  PageOptions page;
  page.address = page_at.address;
  page.port = page_at.port;
  page.token = token;
  page.public_view = options.public_view;
  page.web_dir = WebDir(options.web);
  PageServer page_server(engine, page, page_listening);
  ScpiListener scpi(engine, scpi_listening, token);

  const std::string host = page_at.address.find(':') != std::string::npos ? "[" + page_at.address + "]" : page_at.address;
  std::printf("ru3 serve: scope page at http://%s:%d/%s\n", host.c_str(), page_at.port,
              token.empty() ? "" : ("?token=" + token).c_str());
  std::printf("ru3 serve: SCPI on %s port %d%s\n", scpi_at.address.c_str(), scpi_at.port,
              token.empty() ? "" : " (send :SYSTem:TOKen \"TOKEN\" first)");
  if (!token.empty()) std::printf("ru3 serve: token %s\n", token.c_str());
  std::printf("ru3 serve: Ctrl-C stops\n");
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stop_signals, &signal);
  const char* why = signal == SIGINT    ? "interrupted"
                    : signal == SIGHUP  ? "hung up"
                    : signal == SIGQUIT ? "quit"
                                        : "terminated";
  std::fprintf(stderr, "ru3 serve: %s, closing the instrument\n", why);
  engine.Stop();  // wakes sessions waiting for a record
  scpi.Stop();
  page_server.Stop();
  return ru3cli::kExitOk;  // the engine closes the instrument as it goes
}

}  // namespace ru3serve
