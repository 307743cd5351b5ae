#include "watch.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "progress.h"
#include "ru3/ru3.h"
#include "session.h"

namespace ru3cli {

namespace {

constexpr const char* kReset = "\x1b[0m";
constexpr const char* kChannelColours[2] = {"\x1b[33m", "\x1b[36m"};  // yellow, cyan
constexpr char kChannelMarks[2] = {'*', 'o'};

std::string Engineering(double value, const char* unit) {
  char buffer[48];
  const double a = std::fabs(value);
  if (a != 0 && a < 1e-3) {
    std::snprintf(buffer, sizeof buffer, "%.4g u%s", value * 1e6, unit);
  } else if (a != 0 && a < 1) {
    std::snprintf(buffer, sizeof buffer, "%.4g m%s", value * 1e3, unit);
  } else if (a >= 1e3) {
    std::snprintf(buffer, sizeof buffer, "%.4g k%s", value / 1e3, unit);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.4g %s", value, unit);
  }
  return buffer;
}

// Restores the cursor and attributes however the watch ends.
class TerminalGuard {
 public:
  explicit TerminalGuard(bool active) : active_(active) {
    if (active_) std::fputs("\x1b[?25l\x1b[2J", stdout);
  }
  ~TerminalGuard() {
    if (active_) std::fputs("\x1b[0m\x1b[?25h\n", stdout);
    std::fflush(stdout);
  }
  TerminalGuard(const TerminalGuard&) = delete;
  TerminalGuard& operator=(const TerminalGuard&) = delete;

 private:
  bool active_;
};

// Switches timer-driven measuring off however the watch ends.
class MeasuringGuard {
 public:
  MeasuringGuard() { Check(DoMeasure(-1), "starting continuous measuring"); }
  ~MeasuringGuard() { (void)DoMeasure(0); }
  MeasuringGuard(const MeasuringGuard&) = delete;
  MeasuringGuard& operator=(const MeasuringGuard&) = delete;
};

}  // namespace

std::string SummaryLine(const Channel& channel, double sample_rate) {
  const ChannelSummary s = Summarise(channel.volts, sample_rate);
  char buffer[256];
  std::snprintf(buffer, sizeof buffer,
                "CH%d (range %g V): min %.4g V, max %.4g V, mean %.4g V, rms %.4g V, p-p %.4g V, ", channel.number,
                channel.range, s.min, s.max, s.mean, s.rms, s.peak_to_peak);
  std::string line =
      buffer + (s.frequency ? "frequency " + Engineering(*s.frequency, "Hz") : std::string("frequency unknown"));
  if (s.missing > 0) line += " (" + std::to_string(s.missing) + " positions without a sample)";
  return line;
}

std::string RenderFrame(const Record& record, int cols, int rows, bool colour, long frame) {
  cols = std::max(cols, 20);
  rows = std::max(rows, 8);
  // The screen: one cell per column and row; later channels draw over earlier ones.
  std::vector<std::string> screen(static_cast<std::size_t>(rows), std::string(static_cast<std::size_t>(cols), ' '));
  std::vector<std::vector<int>> owner(static_cast<std::size_t>(rows),
                                      std::vector<int>(static_cast<std::size_t>(cols), -1));
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      const bool grid_col = c % std::max(cols / 10, 1) == 0;
      const bool grid_row = r % std::max(rows / 8, 1) == 0;
      char mark = ' ';
      if (r == rows / 2) mark = '-';
      if (c == cols / 2) mark = '|';
      if (grid_col && grid_row && mark == ' ') mark = '.';
      screen[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = mark;
    }
  }
  auto row_of = [&](double volts, double range) {
    const double y = (1.0 - volts / range) / 2.0 * (rows - 1);
    return std::clamp(static_cast<int>(std::lround(y)), 0, rows - 1);
  };
  for (std::size_t k = 0; k < record.channels.size(); ++k) {
    const Channel& ch = record.channels[k];
    const std::size_t n = ch.volts.size();
    if (n == 0 || ch.range <= 0) continue;
    const int index = ch.number == 2 ? 1 : 0;
    int previous = -1;
    for (int c = 0; c < cols; ++c) {
      const std::size_t a = n * static_cast<std::size_t>(c) / static_cast<std::size_t>(cols);
      const std::size_t b = std::max(a + 1, n * static_cast<std::size_t>(c + 1) / static_cast<std::size_t>(cols));
      double lo = 0, hi = 0;
      bool any = false;
      for (std::size_t i = a; i < std::min(b, n); ++i) {
        const double v = ch.volts[i];
        if (std::isnan(v)) continue;
        lo = any ? std::min(lo, v) : v;
        hi = any ? std::max(hi, v) : v;
        any = true;
      }
      if (!any) {
        // No samples in this column: leave it empty.
        previous = -1;
        continue;
      }
      int top = row_of(hi, ch.range);
      int bottom = row_of(lo, ch.range);
      // Join to the previous column so that steep edges stay visible.
      if (previous >= 0) {
        top = std::min(top, previous);
        bottom = std::max(bottom, previous);
      }
      for (int r = top; r <= bottom; ++r) {
        screen[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = kChannelMarks[index];
        owner[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = index;
      }
      const double last = ch.volts[std::min(b, n) - 1];
      previous = std::isnan(last) ? -1 : row_of(last, ch.range);
    }
  }
  std::string out;
  char heading[256];
  std::snprintf(heading, sizeof heading, "RU3 watch  %g Hz  %zu samples  trigger %s", record.sample_rate,
                record.length(), record.trigger.source.c_str());
  out += heading;
  if (record.trigger.channel != 0) out += " at " + Engineering(record.trigger.level, "V");
  out += "  frame " + std::to_string(frame) + "  (Ctrl-C stops)\n";
  for (int r = 0; r < rows; ++r) {
    int current = -1;
    for (int c = 0; c < cols; ++c) {
      const int who = owner[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
      if (colour && who != current) {
        out += who < 0 ? kReset : kChannelColours[who];
        current = who;
      }
      out += screen[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
    }
    if (colour && current >= 0) out += kReset;
    out += '\n';
  }
  const double span = record.sample_rate > 0 ? static_cast<double>(record.length()) / record.sample_rate : 0;
  out += "time: " + Engineering(span / 10, "s") + "/div, trigger at " +
         Engineering(record.sample_rate > 0 ? static_cast<double>(record.pre_samples) / record.sample_rate : 0, "s") +
         " from the left\n";
  for (const Channel& ch : record.channels) {
    const int index = ch.number == 2 ? 1 : 0;
    if (colour) out += kChannelColours[index];
    out += std::string(1, kChannelMarks[index]) + " " + SummaryLine(ch, record.sample_rate);
    if (colour) out += kReset;
    out += '\n';
  }
  return out;
}

void Watch(const Acquisition& acquisition, const WatchOptions& options) {
  InstallInterruptHandler();
  const bool terminal = ::isatty(STDOUT_FILENO) != 0;
  int cols = 78, rows = 16;
  winsize size{};
  if (terminal && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    cols = size.ws_col - 1;
    rows = std::max(8, static_cast<int>(size.ws_row) - 4 - static_cast<int>(acquisition.channels.size()));
  }
  if (acquisition.AutoRanging()) {
    // Settle the ranges first, then keep them: the library's auto-ranging
    // would change a range between a record and its read-out, and the record
    // would be converted with the wrong range.
    Progress progress(::isatty(STDERR_FILENO) != 0);
    (void)MeasureSettled(acquisition, progress);
  }
  TerminalGuard terminal_guard(terminal);
  MeasuringGuard measuring;
  std::array<double, 2> ranges{0, 0};
  for (long frame = 1; options.frames == 0 || frame <= options.frames; ++frame) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.interval_ms);
    while (std::chrono::steady_clock::now() < until && !Interrupted().load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (Interrupted().load()) break;
    const Record record = CurrentRecord(acquisition);
    // Auto-ranging moves the ranges: keep the trigger level where it was asked.
    const std::array<double, 2> now{record.channels[0].range,
                                    record.channels.size() > 1 ? record.channels[1].range : 0.0};
    if (now != ranges) {
      ApplyTriggerLevel(acquisition);
      ranges = now;
    }
    const std::string text = RenderFrame(record, cols, rows, terminal, frame);
    if (terminal) {
      std::fputs("\x1b[H", stdout);
      std::fputs(text.c_str(), stdout);
      std::fputs("\x1b[J", stdout);
    } else {
      std::fputs(text.c_str(), stdout);
      std::fputs("\n", stdout);
    }
    std::fflush(stdout);
  }
}

}  // namespace ru3cli
