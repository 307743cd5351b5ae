#include "watch.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "capture.h"
#include "failure.h"
#include "format.h"
#include "progress.h"
#include "ru3/ru3.h"
#include "session.h"
#include "summary.h"
#include "thin.h"

namespace ru3cli {

namespace {

constexpr int kExitInterrupted = 130;
constexpr const char* kReset = "\x1b[0m";
constexpr const char* kChannelColours[2] = {"\x1b[33m", "\x1b[36m"};  // yellow, cyan
constexpr const char* kWarning = "\x1b[31m";                          // red
constexpr char kChannelMarks[2] = {'*', 'o'};

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

std::string Fit(std::string text, int cols) {
  if (static_cast<int>(text.size()) > cols) text.resize(static_cast<std::size_t>(cols));
  return text;
}

// A channel's numbers in the few characters a terminal line has.
std::string CompactSummary(const Channel& channel, double sample_rate) {
  const ChannelSummary s = Summarise(channel.volts, sample_rate);
  std::string line = "CH" + std::to_string(channel.number) + " " + Quantity(channel.range, "V") + ": min " +
                     Decimal(s.min, 4) + " max " + Decimal(s.max, 4) + " mean " + Decimal(s.mean, 4) + " rms " +
                     Decimal(s.rms, 4) + " p-p " + Decimal(s.peak_to_peak, 4) + " V";
  line += s.frequency ? "  " + Engineering(*s.frequency, "Hz") + (s.may_alias ? " aliased?" : "") : std::string("  f ?");
  if (channel.clipped > 0) line += "  CLIPPED";
  return line;
}

// The terminal's size in characters, nullopt when it has none.
bool TerminalSize(int& cols, int& rows) {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return false;
  cols = size.ws_col;
  rows = size.ws_row;
  return true;
}

}  // namespace

std::vector<std::string> RenderFrame(const Record& record, int cols, int rows, bool colour, long frame) {
  cols = std::max(cols, 20);
  const int text_lines = 2 + static_cast<int>(record.channels.size());
  const int screen_rows = std::max(rows - text_lines, 3);
  // The screen: one cell per column and row; later channels draw over earlier ones.
  const auto R = static_cast<std::size_t>(screen_rows);
  const auto C = static_cast<std::size_t>(cols);
  std::vector<std::string> screen(R, std::string(C, ' '));
  std::vector<std::vector<int>> owner(R, std::vector<int>(C, -1));
  for (std::size_t r = 0; r < R; ++r) {
    for (std::size_t c = 0; c < C; ++c) {
      const bool grid_col = c % std::max<std::size_t>(C / 10, 1) == 0;
      const bool grid_row = r % std::max<std::size_t>(R / 8, 1) == 0;
      char mark = ' ';
      if (r == R / 2) mark = '-';
      if (c == C / 2) mark = '|';
      if (grid_col && grid_row && mark == ' ') mark = '.';
      screen[r][c] = mark;
    }
  }
  auto row_of = [&](double volts, double range) {
    const double y = (1.0 - volts / range) / 2.0 * (screen_rows - 1);
    return static_cast<std::size_t>(std::clamp(static_cast<int>(std::lround(y)), 0, screen_rows - 1));
  };
  for (const Channel& ch : record.channels) {
    const std::size_t n = ch.volts.size();
    if (n == 0 || ch.range <= 0) continue;
    const int index = ch.number == 2 ? 1 : 0;
    long previous = -1;  // row where the previous column ended, -1: none
    for (std::size_t c = 0; c < C; ++c) {
      const auto [a, b] = ColumnSpan(n, c, C);
      const Extent e = ExtentOf(ch.volts, a, b);
      if (!e.any) {
        // No samples in this column: leave it empty.
        previous = -1;
        continue;
      }
      std::size_t top = row_of(e.hi, ch.range);
      std::size_t bottom = row_of(e.lo, ch.range);
      // Join to the previous column so that steep edges stay visible.
      if (previous >= 0) {
        top = std::min(top, static_cast<std::size_t>(previous));
        bottom = std::max(bottom, static_cast<std::size_t>(previous));
      }
      for (std::size_t r = top; r <= bottom; ++r) {
        screen[r][c] = kChannelMarks[index];
        owner[r][c] = index;
      }
      const double last = ch.volts[b - 1];
      previous = std::isnan(last) ? -1 : static_cast<long>(row_of(last, ch.range));
    }
  }

  std::vector<std::string> lines;
  std::string heading = "RU3 watch  frame " + std::to_string(frame) + "  " + RateText(record.sample_rate) +
                        "  " + Count(static_cast<long>(record.length()), "sample") + "  trigger " +
                        record.trigger.source;
  if (record.trigger.channel != 0) heading += " at " + Engineering(record.trigger.level, "V");
  heading += "  Ctrl-C stops";
  lines.push_back(Fit(heading, cols));
  for (std::size_t r = 0; r < R; ++r) {
    std::string line;
    int current = -1;
    for (std::size_t c = 0; c < C; ++c) {
      const int who = owner[r][c];
      if (colour && who != current) {
        line += who < 0 ? kReset : kChannelColours[who];
        current = who;
      }
      line += screen[r][c];
    }
    if (colour && current >= 0) line += kReset;
    lines.push_back(line);
  }
  const double span = record.sample_rate > 0 ? static_cast<double>(record.length()) / record.sample_rate : 0;
  std::string axis = "time " + Engineering(span / 10, "s") + "/div";
  if (record.trigger.channel != 0) {
    axis +=
        ", trigger " +
        Engineering(record.sample_rate > 0 ? static_cast<double>(record.pre_samples) / record.sample_rate : 0, "s") +
        " from the left";
  }
  lines.push_back(Fit(axis, cols));
  for (const Channel& ch : record.channels) {
    const int index = ch.number == 2 ? 1 : 0;
    const std::string text =
        Fit(std::string(1, kChannelMarks[index]) + " " + CompactSummary(ch, record.sample_rate), cols);
    lines.push_back(colour ? (ch.clipped > 0 ? kWarning : kChannelColours[index]) + text + kReset : text);
  }
  // Smaller than the picture: keep the heading and as much as fits.
  if (static_cast<int>(lines.size()) > rows) lines.resize(static_cast<std::size_t>(std::max(rows, 1)));
  return lines;
}

void Watch(const Acquisition& acquisition, const WatchOptions& options) {
  InstallInterruptHandler();
  const bool terminal = ::isatty(STDOUT_FILENO) != 0;
  {
    // Settle the ranges first, then keep them: a range changing between a
    // record and its read-out would convert the record with the wrong range.
    Progress progress(::isatty(STDERR_FILENO) != 0);
    SettleRanges(acquisition, progress);
    // Timer-driven measuring tells no one when its first record has come, and
    // until then the channel buffers hold nothing measured: one record
    // measured block-style fills them first, so every frame shows a record.
    (void)Measure(acquisition, progress);
  }
  TerminalGuard terminal_guard(terminal);
  MeasuringGuard measuring;
  int cols = 80, rows = 24;
  for (long frame = 1; options.frames == 0 || frame <= options.frames; ++frame) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.interval_ms);
    while (std::chrono::steady_clock::now() < until && !Interrupted().load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (Interrupted().load()) break;
    const Record record = CurrentRecord(acquisition);
    std::string out;
    if (terminal) {
      // Follow the terminal's size; a new size starts from a clear screen.
      int now_cols = cols, now_rows = rows;
      if (TerminalSize(now_cols, now_rows) && (now_cols != cols || now_rows != rows || frame == 1)) {
        out += "\x1b[2J";
        cols = now_cols;
        rows = now_rows;
      }
      // Every line is placed and cleared on its own: nothing wraps, and no
      // line feed ever scrolls the terminal.
      const std::vector<std::string> lines = RenderFrame(record, cols, rows, true, frame);
      for (std::size_t i = 0; i < lines.size(); ++i) {
        out += "\x1b[" + std::to_string(i + 1) + ";1H\x1b[2K" + lines[i];
      }
    } else {
      for (const std::string& line : RenderFrame(record, 78, 24, false, frame)) out += line + "\n";
      out += "\n";
    }
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
  }
  if (Interrupted().load()) throw Failure("interrupted", kExitInterrupted);
}

}  // namespace ru3cli
