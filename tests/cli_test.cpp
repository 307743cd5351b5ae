// The ru3 command-line tool, run as a subprocess against the simulator: CSV
// columns and values against the simulated signals, plot files of the size
// asked for, bad input refused with one message and no file left behind,
// watch ended by Ctrl-C with the instrument closed, and the port-trace decoder
// on traces of the real library and on hand-made ones.
//
// The tool is found beside this test program (the build puts it there), or
// where RU3_CLI says.
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

namespace {

namespace fs = std::filesystem;

std::string ToolPath() {
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

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
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
const std::string kSignals = "--simulate=ch1=sine,1.5,1000;ch2=dc,0.25,0";

// ---- capture: CSV ------------------------------------------------------------

TEST_F(Cli, CaptureWritesTheSimulatedSignalsAsCsv) {
  const Result r = Run({kSignals, "capture", "--rate", "100000", "--length", "1000", "--pre", "0.2", "--range", "2,0.4",
                        "-o", "capture.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(ReadFile(dir / "capture.csv"));
  ASSERT_EQ(lines.size(), 1001u);

  // The header names the units, the rate and each channel's range.
  const std::vector<std::string> header = Fields(lines[0]);
  ASSERT_EQ(header.size(), 3u);
  EXPECT_NE(header[0].find("time (s"), std::string::npos) << header[0];
  EXPECT_NE(header[0].find("100000 Hz"), std::string::npos) << header[0];
  EXPECT_NE(header[1].find("CH1 (V"), std::string::npos) << header[1];
  EXPECT_NE(header[1].find("range 2 V"), std::string::npos) << header[1];
  EXPECT_NE(header[2].find("range 0.4 V"), std::string::npos) << header[2];

  int samples = 0;
  double ch1_min = 10, ch1_max = -10;
  std::optional<std::size_t> trigger_row;
  bool after_gap = false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = Fields(lines[i]);
    ASSERT_EQ(f.size(), 3u) << lines[i];
    // Time runs in sample periods from -200 periods (the pre-trigger share).
    const double t = std::stod(f[0]);
    EXPECT_NEAR(t, (static_cast<double>(i) - 1 - 200) * 1e-5, 1e-12) << lines[i];
    if (t == 0) trigger_row = i;
    if (f[1].empty()) {
      // A position without a sample is empty in both channels. (The trigger
      // came before the memory held the whole pre-trigger share.)
      EXPECT_TRUE(f[2].empty()) << lines[i];
      after_gap = true;
      continue;
    }
    if (after_gap) {
      // A short read begins with the memory cell before the first sample.
      after_gap = false;
      continue;
    }
    ++samples;
    const double v1 = std::stod(f[1]);
    const double v2 = std::stod(f[2]);
    // Numbers carry every digit: each is a whole number of 12-bit steps.
    EXPECT_DOUBLE_EQ(std::round(v1 * 2048 / 2), v1 * 2048 / 2) << lines[i];
    EXPECT_DOUBLE_EQ(std::round(v2 * 2048 / 0.4), v2 * 2048 / 0.4) << lines[i];
    EXPECT_NEAR(v2, 0.25, 0.01) << lines[i];
    ch1_min = std::min(ch1_min, v1);
    ch1_max = std::max(ch1_max, v1);
  }
  EXPECT_GT(samples, 750);
  EXPECT_NEAR(ch1_max, 1.5, 0.03);
  EXPECT_NEAR(ch1_min, -1.5, 0.03);
  // Triggered on channel 1 rising through 0 V: the trigger sample is near 0
  // and the signal rises after it.
  ASSERT_TRUE(trigger_row);
  const double at = std::stod(Fields(lines[*trigger_row])[1]);
  const double later = std::stod(Fields(lines[*trigger_row + 10])[1]);
  EXPECT_NEAR(at, 0.0, 0.1);
  EXPECT_GT(later, at + 0.5);
  // The summary names each channel's frequency.
  EXPECT_NE(r.out.find("CH1 (range 2 V)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("frequency 1 kHz"), std::string::npos) << r.out;
}

TEST_F(Cli, CaptureToStandardOutputKeepsTheSummaryOnStandardError) {
  const Result r = Run({kSignals, "capture", "--channels", "2", "--range", "auto", "--length", "100"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 101u);
  EXPECT_EQ(Fields(lines[0]).size(), 2u) << lines[0];
  // Auto-ranging settles on the smallest range that holds 0.25 V.
  EXPECT_NE(lines[0].find("CH2 (V; range 0.4 V"), std::string::npos) << lines[0];
  EXPECT_NE(r.err.find("CH2 (range 0.4 V)"), std::string::npos) << r.err;
  EXPECT_TRUE(Files().empty());
}

TEST_F(Cli, CountSavesEachCaptureOrTheirMean) {
  Result r = Run({kSignals, "capture", "--range", "2,0.4", "--length", "64", "--count", "3", "-o", "run.csv", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Files(), (std::vector<std::string>{"run-1.csv", "run-2.csv", "run-3.csv"}));

  fs::remove_all(dir);
  fs::create_directories(dir);
  r = Run({kSignals, "capture", "--range", "2,0.4", "--length", "64", "--count", "3", "--average", "-o", "mean.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Files(), (std::vector<std::string>{"mean.csv"}));
  const std::vector<std::string> lines = Lines(ReadFile(dir / "mean.csv"));
  EXPECT_NE(lines[0].find("mean of 3"), std::string::npos) << lines[0];
  EXPECT_NE(r.out.find("mean of 3"), std::string::npos) << r.out;
}

TEST_F(Cli, SummaryMeasuresEachSignalShape) {
  struct Case {
    std::string signal;  // channel 1 of the simulator
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"ch1=sine,1.5,1000", {"p-p 3 V", "rms 1.06", "frequency 1 kHz"}},
      {"ch1=square,0.5,250", {"min -0.5 V", "max 0.5 V", "rms 0.5 V", "frequency 250 Hz"}},
      {"ch1=triangle,1,2000", {"rms 0.57", "frequency 2 kHz"}},
      {"ch1=dc,0.3,0", {"mean 0.29", "p-p 0 V", "frequency unknown"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signal);
    const Result r = Run({"--simulate=" + c.signal, "capture", "--channels", "1", "--trigger", "none", "--rate",
                          "100000", "--length", "4000", "--pre", "0", "--range", "2", "-o", "s.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& text : c.expected) EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  }
}

TEST_F(Cli, TimeOutForcesTheTriggerAndProgressSaysSo) {
  // A 1 V sine never reaches a 1.9 V level: the trigger is forced after the time-out.
  const Result r = Run({kSignals, "capture", "--range", "2", "--level", "1.9", "--timeout", "700", "--rate", "20000",
                        "--length", "1000", "--progress", "-o", "forced.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("measuring, trigger forced after the time-out"), std::string::npos) << r.err;
  // The progress line is cleared before the summary.
  EXPECT_NE(r.err.find("\r\x1b[K"), std::string::npos);
  EXPECT_NE(r.out.find("trigger CH1 at 1.9"), std::string::npos) << r.out;
  EXPECT_EQ(Lines(ReadFile(dir / "forced.csv")).size(), 1001u);
}

TEST_F(Cli, InterruptedCaptureLeavesNoFile) {
  Child child({kSignals, "capture", "--range", "2", "--level", "1.9", "--timeout", "none", "--progress", "-o",
               "never.csv", "--plot", "never.png"},
              {}, dir);
  ASSERT_TRUE(child.WaitForOutput("waiting for the trigger", std::chrono::seconds(30), true));
  child.Signal(SIGINT);
  const Result r = child.Finish();
  EXPECT_EQ(r.status, 130);
  EXPECT_NE(r.err.find("ru3: interrupted"), std::string::npos) << r.err;
  EXPECT_TRUE(Files().empty());
}

TEST_F(Cli, OutputsThroughLinksPipesAndWithTheUsualPermissions) {
  // A symbolic link keeps pointing at the file, which gets the record.
  std::ofstream(dir / "real.csv") << "old\n";
  fs::create_symlink("real.csv", dir / "link.csv");
  ASSERT_EQ(Run({kSignals, "capture", "--length", "10", "--range", "2,0.4", "-o", "link.csv", "-q"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
  EXPECT_EQ(Lines(ReadFile(dir / "real.csv")).size(), 11u);

  // A new file gets the permissions the umask allows, not a temporary's.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat info {};
  ASSERT_EQ(::stat((dir / "real.csv").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);

  // A pipe is written in place, not replaced by a file.
  const fs::path fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string piped;
  std::thread reader([&] { piped = ReadFile(fifo); });
  const Result r = Run({kSignals, "capture", "--length", "10", "--range", "2,0.4", "-o", "pipe", "-q"});
  reader.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(Lines(piped).size(), 11u);
}

// ---- capture: plots -----------------------------------------------------------

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

TEST_F(Cli, PlotsArePngAndSvgOfTheSizeAskedFor) {
  struct Case {
    std::string file;
    std::string size;
    int width, height;
  };
  for (const Case& c : {Case{"scope.png", "640x480", 640, 480}, Case{"scope.svg", "1200x500", 1200, 500},
                        Case{"default.PNG", "", 1000, 600}}) {
    SCOPED_TRACE(c.file);
    std::vector<std::string> args = {kSignals, "capture", "-o", "data.csv", "--plot", c.file, "--length", "300"};
    if (!c.size.empty()) args.insert(args.end(), {"--size", c.size});
    const Result r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string bytes = ReadFile(dir / c.file);
    if (c.file.find(".svg") != std::string::npos) {
      const auto root = bytes.find("<svg");
      ASSERT_NE(root, std::string::npos);
      const std::string tag = bytes.substr(root, bytes.find('>', root) - root);
      EXPECT_NE(tag.find("width=\"" + std::to_string(c.width) + "px\""), std::string::npos) << tag;
      EXPECT_NE(tag.find("height=\"" + std::to_string(c.height) + "px\""), std::string::npos) << tag;
      // Both traces are drawn, in two different colours.
      EXPECT_NE(bytes.find("rgb(100%,84%,0%)"), std::string::npos);
      EXPECT_NE(bytes.find("rgb(0%,82%,100%)"), std::string::npos);
    } else {
      ASSERT_GT(bytes.size(), 24u);
      EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
      EXPECT_EQ(bytes.substr(12, 4), "IHDR");
      EXPECT_EQ(BigEndian32(bytes, 16), static_cast<std::uint32_t>(c.width));
      EXPECT_EQ(BigEndian32(bytes, 20), static_cast<std::uint32_t>(c.height));
      EXPECT_EQ(bytes.substr(bytes.size() - 8, 4), "IEND");
    }
  }
}

// ---- bad input ------------------------------------------------------------------

TEST_F(Cli, BadInputGivesOneMessageAndLeavesNoFile) {
  std::ofstream(dir / "old.csv") << "kept\n";
  std::ofstream(dir / "junk.trace") << "O 0378 F7\nhello world\n";
  struct Case {
    std::vector<std::string> args;
    std::string message;  // part of the one line on standard error
  };
  const std::vector<Case> cases = {
      {{"capture", "--bogus"}, "--bogus"},
      {{"frobnicate"}, "frobnicate"},
      {{"--simulate", "capture", "--rate", "fast", "-o", "x.csv"}, "--rate \"fast\" is not a number"},
      {{"--simulate", "capture", "--rate", "1e6", "-o", "x.csv"}, "above the instrument's maximum of 200000 Hz"},
      {{"--simulate", "capture", "--range", "3", "-o", "old.csv"}, "no such range"},
      {{"--simulate", "capture", "--range", "auto,-1", "-o", "x.csv"}, "--range"},
      {{"--simulate", "capture", "--length", "40000", "-o", "x.csv"}, "the longest record is 32760"},
      {{"--simulate", "capture", "--length", "0", "-o", "x.csv"}, "--length"},
      {{"--simulate", "capture", "--trigger", "ch3", "-o", "x.csv"}, "--trigger"},
      {{"--simulate", "capture", "--range", "2", "--level", "5", "-o", "x.csv"}, "outside channel 1's range"},
      {{"--simulate", "capture", "--kind", "5", "-o", "x.csv"}, "--kind"},
      {{"--simulate", "capture", "--count", "0", "-o", "x.csv"}, "--count 0"},
      {{"--simulate", "capture", "--coupling", "2", "-o", "x.csv"}, "--coupling"},
      {{"--simulate", "capture", "-o", "missing/dir/x.csv"}, "cannot write missing/dir/x.csv"},
      {{"--simulate", "capture", "-o", "x.csv", "--plot", "x.jpg"}, ".png or .svg"},
      {{"--simulate", "capture", "-o", "x.csv", "--plot", "x.png", "--size", "10x10"}, "--size"},
      {{"--simulate", "--unit", "5", "dac", "0", "0"}, "--unit 5"},
      {{"--simulate", "dac", "12", "0", "--for", "0"}, "-10 to +10 V"},
      {{"--simulate", "dac", "one", "0", "--for", "0"}, "is not a number"},
      {{"--simulate", "motor", "on", "maybe", "--for", "0"}, "expected on or off"},
      {{"trace", "absent.trace"}, "cannot read absent.trace"},
      {{"trace", "junk.trace"}, "junk.trace:2: not a port-trace line"},
      {{"--simulate=port=none", "capture", "-o", "x.csv"}, "no instrument found"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const Result r = Run(c.args);
    EXPECT_NE(r.status, 0);
    const std::vector<std::string> err = Lines(r.err);
    ASSERT_EQ(err.size(), 1u) << r.err;
    EXPECT_EQ(err[0].rfind("ru3: ", 0), 0u) << err[0];
    EXPECT_NE(err[0].find(c.message), std::string::npos) << err[0];
    EXPECT_TRUE(r.out.empty()) << r.out;
    // Nothing new in the directory, not even a temporary, and the old file
    // is as it was.
    EXPECT_EQ(Files(), (std::vector<std::string>{"junk.trace", "old.csv"}));
    EXPECT_EQ(ReadFile(dir / "old.csv"), "kept\n");
  }
}

TEST_F(Cli, ExitStatusTellsUsageFromMissingInstrument) {
  EXPECT_EQ(Run({"capture", "--rate", "x"}).status, 2);
  const Result none = Run({"--simulate=port=none", "info"});
  EXPECT_EQ(none.status, 3);
  // The reason names the port that was tried and what it answered.
  EXPECT_NE(none.err.find("port 0x378 (LPT1): the EEPROM signature reads FF, not AA"), std::string::npos) << none.err;
  EXPECT_EQ(Run({"--help"}).status, 0);
}

// ---- info ----------------------------------------------------------------------------

TEST_F(Cli, InfoSaysWhatAndWhereTheInstrumentIs) {
  struct Case {
    std::string config;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"--simulate",
       {"200 kHz variant", "simulator, LPT1 at base address 0x378", "serial number      10001",
        "calibration date   2021-06-14", "max sample rate    200000 Hz", "32760 samples",
        "80, 40, 20, 8, 4, 2, 0.8, 0.4, 0.2, 0.1 V", "12 bits"}},
      {"--simulate=ports=0x3BC,0x278,0;port=LPT2;serial=4242;caldate=2019-02-03T04:05;variant=0x11",
       {"400 kHz variant", "LPT2 at base address 0x278", "serial number      4242", "2019-02-03",
        "max sample rate    400000 Hz"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    const Result r = Run({c.config, "info"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& text : c.expected) EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  }
  // Locating the port leaves no temporary trace behind.
  EXPECT_TRUE(Files().empty());
}

// ---- trace ----------------------------------------------------------------------------

TEST_F(Cli, TraceOfInitInstrumentNamesTheEepromReadsAndTheClock) {
  const Result r = Run({"--simulate=serial=12345", "info"}, {{"RU3_PORT_TRACE", (dir / "init.trace").string()}});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string decoded = Decode("init.trace");
  for (const char* text : {
           "EEPROM read at address 1 (0x01), 1 byte: AA (signature: instrument present)",
           "EEPROM read at address 5 (0x05), 1 byte: 10 (variant: 200 kHz)",
           "sample clock: prescaler 1, divider 2 (counter 3 := FFFF): 200000 Hz",
           "EEPROM read at address 0 (0x00), 256 bytes: signature AA, variant 10, serial number 12345",
           "input relays := 77",
           "trim converters of channel 1",
           "converter 2 loaded: gain code",
           "DAC output 1 := code 2048 (+0.000 V)",
           "motor outputs: first off, second off (register 10 := 0) [unit 4]",
           "port 0378: ",
           "signature AA (instrument)",
       }) {
    EXPECT_NE(decoded.find(text), std::string::npos) << text << "\n" << decoded;
  }
  // The EEPROM read comes before the clock is programmed.
  EXPECT_LT(decoded.find("at address 1 (0x01)"), decoded.find("sample clock"));
}

TEST_F(Cli, TraceOfAPortWithoutInstrumentShowsTheFailedSignature) {
  const Result r = Run({"--simulate=port=none", "info"}, {{"RU3_PORT_TRACE", (dir / "none.trace").string()}});
  EXPECT_EQ(r.status, 3);
  const std::string decoded = Decode("none.trace");
  EXPECT_NE(decoded.find("EEPROM read at address 1 (0x01), 1 byte, not acknowledged: FF (signature wrong: no "
                         "instrument on this port)"),
            std::string::npos)
      << decoded;
  EXPECT_NE(decoded.find("signature FF (no instrument)"), std::string::npos) << decoded;
  // Nothing is read from the memory after a wrong signature.
  EXPECT_EQ(decoded.find("at address 5"), std::string::npos) << decoded;
}

TEST_F(Cli, TraceOfACaptureShowsArmingTriggerAndSampleReads) {
  const Result r = Run({kSignals, "capture", "--range", "2,0.4", "--length", "200", "--pre", "0.25", "--rate", "50000",
                        "--level", "0.5", "-o", "c.csv", "-q"},
                       {{"RU3_PORT_TRACE", (dir / "capture.trace").string()}});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string decoded = Decode("capture.trace");
  for (const char* text : {
           "sample clock: prescaler 1, divider 8 (counter 3 := FFF9): 50000 Hz",
           "post-trigger samples: 150",
           "trigger source: channel 1 (register 10 := 0)",
           "trigger kind: kind 0 (register 11 := 4)",
           "trigger levels: counter 2 := ",
           "level code 159",  // 0.5 V of 2 V: 127 + 32
           "arm: acquisition started",
           "write pointer: newest sample at",
           "read channel 1: ",
           "read channel 2: ",
       }) {
    EXPECT_NE(decoded.find(text), std::string::npos) << text << "\n" << decoded;
  }
}

TEST_F(Cli, TraceOfTheAuxiliaryOutputsShowsCodesAndUnit) {
  const std::string trace = (dir / "aux.trace").string();
  ASSERT_EQ(Run({"--simulate", "dac", "5", "-2.5", "--for", "0"}, {{"RU3_PORT_TRACE", trace}}).status, 0);
  ASSERT_EQ(Run({"--simulate", "--unit", "2", "motor", "on", "off", "--for", "0"}, {{"RU3_PORT_TRACE", trace}}).status,
            0);
  const std::string decoded = Decode("aux.trace");
  EXPECT_NE(decoded.find("DAC output 1 := code 3072 (+5.000 V)"), std::string::npos) << decoded;
  EXPECT_NE(decoded.find("DAC output 2 := code 1536 (-2.500 V)"), std::string::npos) << decoded;
  // Motors live on unit 4 whatever unit is selected; the first is switched on.
  EXPECT_NE(decoded.find("motor outputs: first on, second off (register 10 := 1) [unit 4]"), std::string::npos)
      << decoded;
}

// Writes port traces the way the driver's register protocol drives the port.
class TraceWriter {
 public:
  explicit TraceWriter(bool slow = false, std::uint8_t unit_bits = 0x30) : n_(slow ? 2 : 1), unit_(unit_bits) {}

  void Write(int reg, int value) {
    Cycle(reg, value);
    Out(0, Byte(15));
  }
  // A register read whose instrument answers `value`.
  void Read(int reg, int value) {
    Cycle(15, reg);
    Repeat([&] { Out(0, Byte(15) | 0x80); });
    Repeat([&] { In(1, ((value >> 4) << 3) | 0x87); });
    Repeat([&] { Out(0, Byte(15) & 0x7F); });
    Repeat([&] { In(1, ((value & 15) << 3) | 0x07); });
    Out(0, Byte(15));
  }
  void Latch16(int strobe, int word) {
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) {
        const int d = (word >> (4 * i + 3 - j)) & 1;
        Write(5, j + 4 * d);
        Write(strobe, 1 << i);
        Write(strobe, 0);
      }
    }
  }
  void Line(const std::string& text) { text_ += text + "\n"; }
  const std::string& text() const { return text_; }

 private:
  int Byte(int nibble) const { return 0xC0 | unit_ | nibble; }
  template <typename F>
  void Repeat(F f) {
    for (int i = 0; i < n_; ++i) f();
  }
  void Cycle(int reg, int value) {
    Repeat([&] { Out(0, Byte(reg)); });
    Repeat([&] { Out(2, 0x0C); });
    Repeat([&] { Out(2, 0x04); });
    Repeat([&] { Out(0, Byte(value)); });
    Repeat([&] { Out(2, 0x06); });
    Repeat([&] { Out(2, 0x04); });
  }
  void Out(int offset, int value) { Access('O', offset, value); }
  void In(int offset, int value) { Access('I', offset, value); }
  void Access(char kind, int offset, int value) {
    char line[32];
    std::snprintf(line, sizeof line, "%c %04X %02X\n", kind, 0x278 + offset, value & 0xFF);
    text_ += line;
  }

  int n_;
  int unit_;
  std::string text_;
};

TEST_F(Cli, TraceDecodesHandWrittenRegisterTraffic) {
  struct Case {
    std::string name;
    bool slow;
    std::uint8_t unit;
    std::function<void(TraceWriter&)> write;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"plain writes, registers shown",
       false,
       0x30,
       [](TraceWriter& t) { t.Write(7, 9); },
       {"register 7 := 9", "clock select: register 7 := 9"}},
      {"slow port repeats every access",
       true,
       0x30,
       [](TraceWriter& t) { t.Write(13, 7); },
       {"acquisition mode: register 13 := 7", "1 register writes"}},
      {"unit bits of unit 3",
       false,
       0x10,
       [](TraceWriter& t) { t.Write(11, 5); },
       {"trigger kind: kind 3 (register 11 := 5) [unit 3]"}},
      {"read of high then low nibble", false, 0x30, [](TraceWriter& t) { t.Read(0, 0xA5); }, {"register 0 reads A5"}},
      {"slow read keeps the last of each pair",
       true,
       0x30,
       [](TraceWriter& t) { t.Read(0, 0x3C); },
       {"register 0 reads 3C"}},
      {"write pointer at the wrap",
       false,
       0x30,
       [](TraceWriter& t) {
         t.Read(1, 0xFF);
         t.Read(0, 0xFE);
       },
       {"write pointer: newest sample at 32766"}},
      {"status register",
       false,
       0x30,
       [](TraceWriter& t) { t.Read(2, 0x41); },
       {"status 41: complete, triggered on channel 1, memory wrapped"}},
      {"post-trigger counter",
       false,
       0x30,
       [](TraceWriter& t) {
         t.Latch16(4, 0xFDFF);
         t.Write(12, 1);
       },
       {"post-trigger samples: 256 (counter 4 := FDFF)"}},
      {"sample clock of 30 kHz",
       false,
       0x30,
       [](TraceWriter& t) {
         t.Latch16(3, 0xFFFF - 11);
         t.Write(14, 0);
         t.Write(1, 1);
         t.Write(1, 0);
       },
       {"sample clock: prescaler 1, divider 13 (counter 3 := FFF4): 30769.2 Hz"}},
      {"broken-off counter load",
       false,
       0x30,
       [](TraceWriter& t) {
         t.Write(5, 4);
         t.Write(2, 1);
         t.Write(2, 0);
       },
       {"counter 2 load incomplete (1 of 16 bits)"}},
      {"comments and blank lines",
       false,
       0x30,
       [](TraceWriter& t) {
         t.Line("# a note from the user");
         t.Line("");
         t.Write(10, 1);
       },
       {"trigger source: channel 2 (register 10 := 1)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TraceWriter writer(c.slow, c.unit);
    c.write(writer);
    std::ofstream(dir / "hand.trace") << writer.text();
    const std::string decoded = Decode("hand.trace", {"--registers"});
    for (const std::string& text : c.expected) {
      EXPECT_NE(decoded.find(text), std::string::npos) << text << "\n" << decoded;
    }
  }
}

TEST_F(Cli, TraceFoldsRepeatsAndReadsStandardInput) {
  TraceWriter writer;
  for (int i = 0; i < 5; ++i) writer.Read(2, 0x80);
  writer.Read(2, 0x01);
  std::ofstream(dir / "polls.trace") << writer.text();
  const std::string decoded = Decode("polls.trace");
  EXPECT_NE(decoded.find("status 80: busy  (x5, to line"), std::string::npos) << decoded;
  EXPECT_NE(decoded.find("status 01: complete, triggered on channel 1"), std::string::npos) << decoded;
}

// ---- watch, dac, motor ----------------------------------------------------------

TEST_F(Cli, WatchDrawsFramesUntilItsCount) {
  const Result r = Run({kSignals, "watch", "--frames", "2", "--interval", "50"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("frame 1"), std::string::npos);
  EXPECT_NE(r.out.find("frame 2"), std::string::npos);
  EXPECT_EQ(r.out.find("frame 3"), std::string::npos);
  // Not a terminal: no cursor movement or colours in the output.
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  // Auto-ranging: 1.5 V peak fills more than a third of the 4 V range.
  EXPECT_NE(r.out.find("CH1 (range 4 V)"), std::string::npos) << r.out;
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
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(screen.find("\x1b[?25l"), 0u);                 // cursor hidden first
  EXPECT_NE(screen.find("\x1b[H"), std::string::npos);     // redrawn from the top
  EXPECT_NE(screen.find("\x1b[33m*"), std::string::npos);  // channel 1 in yellow
  const auto restored = screen.rfind("\x1b[0m\x1b[?25h");  // attributes and cursor back
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
    EXPECT_EQ(r.status, 0) << r.err;
    // ExitInstrument ran: the trace ends with the outputs reset on closing.
    const std::vector<std::string> lines = Lines(Decode(args[1] + ".trace"));
    ASSERT_GT(lines.size(), 4u);
    const std::string last = lines[lines.size() - 3];
    EXPECT_NE(last.find("motor outputs: first off, second off"), std::string::npos) << last;
    EXPECT_NE(lines[lines.size() - 4].find("DAC output 2 := code 2048"), std::string::npos) << lines[lines.size() - 4];
  }
}

}  // namespace
