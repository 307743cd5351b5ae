// Running the ru3 tool as a subprocess in the tool tests: its exit status,
// standard output and error, a fresh working directory per test, and the
// simulator with known signals.
//
// The tool is found beside the test program (the build puts it there), or
// where RU3_CLI says.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace cli_test {

namespace fs = std::filesystem;

inline std::string ToolPath() {
  if (const char* path = std::getenv("RU3_CLI")) return path;
  return (fs::read_symlink("/proc/self/exe").parent_path() / "ru3").string();
}

struct Result {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// A running ru3 with its standard output and error on pipes.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env, const fs::path& cwd) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::close(out[0]);
      ::close(err[0]);
      const int null = ::open("/dev/null", O_RDONLY);
      ::dup2(null, 0);
      if (::chdir(cwd.c_str()) != 0) _exit(126);
      ::unsetenv("RU3_SIMULATOR");
      ::unsetenv("RU3_PORT_TRACE");
      for (const auto& [key, value] : env) ::setenv(key.c_str(), value.c_str(), 1);
      std::vector<char*> argv;
      const std::string tool = ToolPath();
      argv.push_back(const_cast<char*>(tool.c_str()));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(tool.c_str(), argv.data());
      _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
  }

  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) ::close(out_fd_);
    if (err_fd_ >= 0) ::close(err_fd_);
  }

  // Reads until standard output (or error) holds `text` or the time is up.
  bool WaitForOutput(const std::string& text, std::chrono::seconds limit, bool error = false) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while ((error ? result_.err : result_.out).find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > until || !Pump(100)) return false;
    }
    return true;
  }

  void Signal(int signal) { ::kill(pid_, signal); }

  Result Finish() {
    while (Pump(1000)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result_;
  }

 private:
  // Moves what is available from the pipes; false once both are closed.
  bool Pump(int timeout_ms) {
    std::array<pollfd, 2> fds{pollfd{out_fd_, POLLIN, 0}, pollfd{err_fd_, POLLIN, 0}};
    if (out_fd_ < 0 && err_fd_ < 0) return false;
    if (::poll(fds.data(), 2, timeout_ms) <= 0) return true;
    for (std::size_t i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fds[i].fd);
        (i == 0 ? out_fd_ : err_fd_) = -1;
      } else {
        (i == 0 ? result_.out : result_.err).append(buffer, static_cast<std::size_t>(n));
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1, err_fd_ = -1;
  bool reaped_ = false;
  Result result_;
};

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, ',')) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.emplace_back();
  return fields;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() / ("ru3-cli-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  Result Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
    return Child(args, env, dir).Finish();
  }

  // The file names in the working directory, hidden ones included.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Decodes a trace file with the tool.
  std::string Decode(const std::string& trace, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"trace", trace};
    args.insert(args.end(), extra.begin(), extra.end());
    const Result r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  fs::path dir;
};

// A simulator with a known signal on each channel: a 1 kHz sine of 1.5 V on
// channel 1 and a steady 0.25 V on channel 2.
inline const std::string kSignals = "--simulate=ch1=sine,1.5,1000;ch2=dc,0.25,0";

}  // namespace cli_test
