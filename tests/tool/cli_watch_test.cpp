// ru3 watch in a terminal and without one, and Ctrl-C ending watch and the
// output holds with the instrument closed.
#include "support/cli_runner.h"

namespace {

using namespace cli_test;

// ---- watch, dac, motor ----------------------------------------------------------

TEST_F(Cli, WatchDrawsFramesUntilItsCount) {
  const Result r = Run({kSignals, "watch", "--frames", "2", "--interval", "50"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("frame 1"), std::string::npos);
  EXPECT_NE(r.out.find("frame 2"), std::string::npos);
  EXPECT_EQ(r.out.find("frame 3"), std::string::npos);
  // Not a terminal: no cursor movement or colours in the output.
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  // Auto-ranging: the smallest range that holds the 1.5 V peak.
  EXPECT_NE(r.out.find("* CH1 2 V: min -1.5"), std::string::npos) << r.out;
  for (const std::string& line : Lines(r.out)) EXPECT_LE(line.size(), 78u) << line;
}

// Before the first timer-driven record the buffers hold nothing measured:
// the first frame still shows a measured record, never codes of 0.
TEST_F(Cli, WatchShowsOnlyMeasuredRecords) {
  const Result r = Run({"--simulate=ch1=dc,0.3", "watch", "--channels", "1", "--range", "2", "--timeout", "100",
                        "--frames", "1", "--interval", "10"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("min 0.2998"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("CLIPPED"), std::string::npos) << r.out;
}

// A terminal: watch hides the cursor while it draws in place, and gives the
// cursor back however it ends.
TEST_F(Cli, WatchInATerminalRedrawsInPlaceAndRestoresTheCursor) {
  int master = -1;
  winsize size{};
  size.ws_row = 30;
  size.ws_col = 100;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) _exit(126);
    ::unsetenv("RU3_SIMULATOR");
    const std::string tool = ToolPath();
    ::execl(tool.c_str(), tool.c_str(), kSignals.c_str(), "watch", "--interval", "20", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string screen;
  auto pump = [&](int timeout_ms) {
    pollfd fd{master, POLLIN, 0};
    if (::poll(&fd, 1, timeout_ms) <= 0) return true;
    char buffer[65536];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) return false;
    screen.append(buffer, static_cast<std::size_t>(n));
    return true;
  };
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (screen.find("frame 3") == std::string::npos && std::chrono::steady_clock::now() < until && pump(100)) {
  }
  ASSERT_NE(screen.find("frame 3"), std::string::npos) << screen;
  ::kill(pid, SIGINT);
  while (pump(1000)) {
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
  EXPECT_EQ(screen.find("\x1b[?25l"), 0u);                        // cursor hidden first
  EXPECT_NE(screen.find("\x1b[1;1H\x1b[2K"), std::string::npos);  // redrawn from the top, lines cleared
  EXPECT_NE(screen.find("\x1b[33m*"), std::string::npos);         // channel 1 in yellow
  const auto restored = screen.rfind("\x1b[0m\x1b[?25h");         // attributes and cursor back
  ASSERT_NE(restored, std::string::npos);
  EXPECT_EQ(screen.find("frame", restored), std::string::npos);  // nothing drawn after that
}

TEST_F(Cli, CtrlCEndsWatchAndHoldWithTheInstrumentClosed) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{kSignals, "watch", "--interval", "20"},
                                               std::vector<std::string>{"--simulate", "dac", "3", "0"}}) {
    SCOPED_TRACE(args[1]);
    const std::string trace = (dir / (args[1] + ".trace")).string();
    fs::remove(trace);
    Child child(args, {{"RU3_PORT_TRACE", trace}}, dir);
    if (args[1] == "watch") {
      ASSERT_TRUE(child.WaitForOutput("frame 2", std::chrono::seconds(30)));
    } else {
      ASSERT_TRUE(child.WaitForOutput("holding until Ctrl-C", std::chrono::seconds(30), true));
    }
    child.Signal(SIGINT);
    const Result r = child.Finish();
    // Ctrl-C interrupts a watch; it is how a hold is meant to end.
    EXPECT_EQ(r.status, args[1] == "watch" ? 130 : 0) << r.err;
    // ExitInstrument ran: the trace ends with the outputs reset on closing.
    const std::vector<std::string> lines = Lines(Decode(args[1] + ".trace"));
    ASSERT_GT(lines.size(), 4u);
    const std::string last = lines[lines.size() - 3];
    EXPECT_NE(last.find("motor outputs: first off, second off"), std::string::npos) << last;
    EXPECT_NE(lines[lines.size() - 4].find("DAC output 2 := code 2048"), std::string::npos) << lines[lines.size() - 4];
  }
}

// A terminal multiplexer at 80x24 shows what a user sees: the frame fits,
// nothing scrolls, a resize is followed, Ctrl-C ends it with status 130.
class Tmux {
 public:
  explicit Tmux(const fs::path& dir) : socket_("ru3-test-" + std::to_string(::getpid())), dir_(dir) {}
  ~Tmux() { (void)Run("kill-server"); }
  Tmux(const Tmux&) = delete;
  Tmux& operator=(const Tmux&) = delete;

  int Run(const std::string& args) const {
    return std::system(("tmux -L " + socket_ + " " + args + " >/dev/null 2>&1").c_str());
  }
  std::vector<std::string> Screen() const {
    const fs::path file = dir_ / "pane.txt";
    const std::string command = "tmux -L " + socket_ + " capture-pane -p -t w > '" + file.string() + "'";
    (void)std::system(command.c_str());
    return Lines(ReadFile(file));
  }
  // Waits until the screen's first line holds `text`, or 30 s.
  std::vector<std::string> WaitFor(const std::string& text, std::size_t line = 0) const {
    std::vector<std::string> screen;
    for (int i = 0; i < 300; ++i) {
      screen = Screen();
      if (screen.size() > line && screen[line].find(text) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return screen;
  }

 private:
  std::string socket_;
  fs::path dir_;
};

TEST_F(Cli, WatchFitsATerminalFollowsItsSizeAndEndsWith130) {
  if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  Tmux tmux(dir);
  const std::string command = "env -u RU3_SIMULATOR '" + ToolPath() + "' '" + kSignals +
                              "' watch --interval 50; echo status \\$? > '" + (dir / "status").string() + "'; sleep 30";
  ASSERT_EQ(tmux.Run("new-session -d -s w -x 80 -y 24 \"" + command + "\""), 0);
  std::vector<std::string> screen = tmux.WaitFor("frame 3");
  ASSERT_EQ(screen.size(), 24u);
  EXPECT_EQ(screen[0].rfind("RU3 watch  frame", 0), 0u) << screen[0];
  for (const std::string& line : screen) EXPECT_LE(line.size(), 80u) << line;
  EXPECT_EQ(screen[22].rfind("* CH1 2 V", 0), 0u) << screen[22];
  EXPECT_EQ(screen[23].rfind("o CH2 0.4 V", 0), 0u) << screen[23];
  // The centre line of the screen spans the whole width.
  EXPECT_TRUE(std::any_of(screen.begin(), screen.end(), [](const std::string& l) {
    return l.size() == 80 && std::count(l.begin(), l.end(), '-') > 40;
  }));

  ASSERT_EQ(tmux.Run("resize-window -t w -x 100 -y 30"), 0);
  screen = tmux.WaitFor("o CH2", 29);
  ASSERT_EQ(screen.size(), 30u);
  EXPECT_EQ(screen[0].rfind("RU3 watch  frame", 0), 0u) << screen[0];
  EXPECT_EQ(screen[28].rfind("* CH1", 0), 0u) << screen[28];
  EXPECT_TRUE(std::any_of(screen.begin(), screen.end(), [](const std::string& l) { return l.size() == 100; }));

  ASSERT_EQ(tmux.Run("send-keys -t w C-c"), 0);
  for (int i = 0; i < 300 && !fs::exists(dir / "status"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ReadFile(dir / "status"), "status 130\n");
}

}  // namespace
