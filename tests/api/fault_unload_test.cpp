// Unloading libru3.so while its timer measures: a host that calls
// DoMeasure(-1) and then dlclose without ExitInstrument must not leave a
// timer running into unmapped code. Runs in a child process (this test
// program again, with a filter and a marker in the environment), so a crash
// there is a failed test here, not a dead test run.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kChildMarker = "RU3_UNLOAD_CHILD";

std::string SelfPath() {
  std::vector<char> buf(PATH_MAX);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  return n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n)) : std::string();
}

// libru3.so is built beside the test program.
std::string LibraryPath() {
  const std::string self = SelfPath();
  return self.substr(0, self.rfind('/') + 1) + "libru3.so";
}

using InitFn = std::uint16_t (*)(std::uint32_t);
using DoMeasureFn = std::uint16_t (*)(std::int32_t);
using ExitFn = std::uint16_t (*)();

// The child's body: load, open on the simulator, measure continuously,
// unload while measuring, then live on for a while.
TEST(FaultUnloadChild, UnloadWhileMeasuring) {
  if (std::getenv(kChildMarker) == nullptr) GTEST_SKIP() << "runs only as the child of LibraryUnload";
  for (int round = 0; round < 3; ++round) {
    void* lib = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto init = reinterpret_cast<InitFn>(dlsym(lib, "InitInstrument"));
    auto measure = reinterpret_cast<DoMeasureFn>(dlsym(lib, "DoMeasure"));
    ASSERT_NE(init, nullptr);
    ASSERT_NE(measure, nullptr);
    ASSERT_EQ(init(0), 0);
    ASSERT_EQ(measure(-1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(dlclose(lib), 0);
    // A timer left behind would run into unmapped code now.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

TEST(FaultUnload, LibraryUnloadWhileTimerMeasuresIsClean) {
  if (std::getenv(kChildMarker) != nullptr) GTEST_SKIP();
  const std::string self = SelfPath();
  ASSERT_FALSE(self.empty());
  std::vector<std::string> args = {self, "--gtest_filter=FaultUnloadChild.UnloadWhileMeasuring"};
  std::vector<std::string> env = {std::string(kChildMarker) + "=1", "RU3_SIMULATOR=bus_ns=200"};
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("RU3_SIMULATOR=", 0) != 0 && entry.rfind("GTEST_", 0) != 0) env.push_back(entry);
  }
  std::vector<char*> argv;
  std::vector<char*> envp;
  for (auto& a : args) argv.push_back(a.data());
  for (auto& e : env) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "child died of signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
