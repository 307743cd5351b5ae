#include "capture.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "failure.h"
#include "progress.h"
#include "ru3/ru3.h"
#include "session.h"

namespace ru3cli {

namespace {

constexpr int kExitInterrupted = 130;
constexpr std::uint16_t kNoSample = 0x7FFF;
// The slowest clock the instrument makes: 400 kHz / 1024 / 65535.
constexpr double kLowestRate = 400000.0 / 1024.0 / 65535.0;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "a" or "a,b": the value for channel 1 and channel 2.
std::array<std::string, 2> PerChannel(const std::string& text) {
  const auto comma = text.find(',');
  if (comma == std::string::npos) return {text, text};
  return {text.substr(0, comma), text.substr(comma + 1)};
}

long ParseWhole(const std::string& option, const std::string& text) {
  const double value = ParseNumber(option, text);
  if (value != std::floor(value) || std::fabs(value) > 1e9) {
    throw Failure(option + " \"" + text + "\" is not a whole number", kExitUsage);
  }
  return static_cast<long>(value);
}

std::string Volts(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g V", v);
  return buffer;
}

std::vector<double> AvailableRanges() {
  std::array<double, 20> list{};
  Check(GetAvailableSensitivities(list.data()), "reading the input ranges");
  std::vector<double> ranges;
  for (double r : list) {
    if (r > 0) ranges.push_back(r);
  }
  std::sort(ranges.begin(), ranges.end());
  return ranges;
}

double RangeOf(int channel) {
  double range = 0;
  Check(GetSensitivity(static_cast<std::uint32_t>(channel), &range),
        "reading the range of channel " + std::to_string(channel));
  return range;
}

// Positions that received no sample hold the code 0x7FFF, which no sample
// can have (a sample's low four bits are 0): they become NaN, not a voltage.
void MarkMissing(const std::vector<std::uint16_t>& codes, std::vector<double>& volts) {
  for (std::size_t i = 0; i < codes.size() && i < volts.size(); ++i) {
    if (codes[i] == kNoSample) volts[i] = std::nan("");
  }
}

void CheckInterrupted() {
  if (Interrupted().load()) throw Failure("interrupted", kExitInterrupted);
}

extern "C" void OnInterrupt(int /*signal*/) { Interrupted().store(true); }

}  // namespace

double ParseNumber(const std::string& option, const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  if (text.empty() || end == begin || *end != '\0' || !std::isfinite(value)) {
    throw Failure(option + " \"" + text + "\" is not a number", kExitUsage);
  }
  return value;
}

void AddAcquisitionOptions(CLI::App& command, AcquisitionOptions& o) {
  command.add_option("--channels", o.channels, "channels to measure: 1, 2 or 12")->capture_default_str();
  command.add_option("--rate", o.rate, "sample rate in Hz (the instrument takes the nearest it can make)");
  command.add_option("--length", o.length, "record length in samples per channel");
  command.add_option("--pre", o.pre, "share of the record before the trigger, 0..1 (default 0.5)");
  command.add_option("--range", o.range, "input range in volts full scale, or auto; V1,V2 for each channel")
      ->capture_default_str();
  command.add_option("--coupling", o.coupling, "coupling code 0 or 1; C1,C2 for each channel");
  command.add_option("--trigger", o.trigger, "trigger source: ch1, ch2 or none")->capture_default_str();
  command.add_option("--level", o.level, "trigger level in volts (default 0)");
  command.add_option("--hysteresis", o.hysteresis, "trigger hysteresis in volts");
  command.add_option("--kind", o.kind, "trigger kind 0..3");
  command.add_option("--timeout", o.timeout, "trigger time-out in ms, or none (default 1000)");
}

Acquisition ParseAcquisition(const AcquisitionOptions& o) {
  Acquisition a;
  const std::string channels = Lower(o.channels);
  if (channels == "1") {
    a.channels = {1};
  } else if (channels == "2") {
    a.channels = {2};
  } else if (channels == "12" || channels == "1,2" || channels == "both") {
    a.channels = {1, 2};
  } else {
    throw Failure("--channels \"" + o.channels + "\": expected 1, 2 or 12", kExitUsage);
  }
  if (!o.rate.empty()) {
    const double rate = ParseNumber("--rate", o.rate);
    if (rate < kLowestRate) {
      throw Failure("--rate " + o.rate + ": the slowest sample rate is " + std::to_string(kLowestRate) + " Hz",
                    kExitUsage);
    }
    a.rate = rate;
  }
  if (!o.length.empty()) {
    a.length = ParseWhole("--length", o.length);
    if (*a.length < 1) throw Failure("--length " + o.length + ": a record has at least 1 sample", kExitUsage);
  }
  if (!o.pre.empty()) {
    a.pre_share = ParseNumber("--pre", o.pre);
    if (a.pre_share < 0 || a.pre_share > 1)
      throw Failure("--pre " + o.pre + ": expected a share from 0 to 1", kExitUsage);
  }
  const auto ranges = PerChannel(Lower(o.range));
  for (std::size_t i = 0; i < 2; ++i) {
    if (ranges[i] == "auto") continue;
    a.range[i] = ParseNumber("--range", ranges[i]);
    if (*a.range[i] <= 0) throw Failure("--range " + o.range + ": a range is a positive number of volts", kExitUsage);
  }
  if (!o.coupling.empty()) {
    const auto codes = PerChannel(o.coupling);
    for (std::size_t i = 0; i < 2; ++i) {
      const long code = ParseWhole("--coupling", codes[i]);
      if (code != 0 && code != 1) throw Failure("--coupling " + o.coupling + ": the codes are 0 and 1", kExitUsage);
      a.coupling[i] = static_cast<int>(code);
    }
  }
  const std::string trigger = Lower(o.trigger);
  if (trigger == "ch1" || trigger == "1") {
    a.trigger_source = 0;
  } else if (trigger == "ch2" || trigger == "2") {
    a.trigger_source = 1;
  } else if (trigger == "none" || trigger == "free") {
    a.trigger_source = 9;
  } else {
    throw Failure("--trigger \"" + o.trigger + "\": expected ch1, ch2 or none", kExitUsage);
  }
  if (!o.level.empty()) a.level = ParseNumber("--level", o.level);
  if (!o.hysteresis.empty()) {
    a.hysteresis = ParseNumber("--hysteresis", o.hysteresis);
    if (*a.hysteresis < 0) throw Failure("--hysteresis " + o.hysteresis + ": must not be negative", kExitUsage);
  }
  if (!o.kind.empty()) {
    const long kind = ParseWhole("--kind", o.kind);
    if (kind < 0 || kind > 3)
      throw Failure("--kind " + o.kind + ": the instrument has trigger kinds 0 to 3", kExitUsage);
    a.kind = static_cast<int>(kind);
  }
  if (!o.timeout.empty()) {
    if (Lower(o.timeout) == "none") {
      a.timeout_ms = -1;
    } else {
      a.timeout_ms = ParseWhole("--timeout", o.timeout);
      if (*a.timeout_ms < 0) throw Failure("--timeout " + o.timeout + ": milliseconds, or none", kExitUsage);
    }
  }
  return a;
}

void ApplyAcquisition(const Acquisition& a) {
  const std::uint32_t mode = a.channels.size() == 2    ? RU3_MODE_CH12
                             : a.channels.front() == 1 ? RU3_MODE_CH1
                                                       : RU3_MODE_CH2;
  Check(SetMeasureMode(mode), "setting the channels");
  if (a.rate) {
    const double max = GetMaxSampleFrequencyF();
    if (*a.rate > max) {
      throw Failure("--rate " + std::to_string(*a.rate) + " Hz: above the instrument's maximum of " +
                        std::to_string(static_cast<long>(max)) + " Hz",
                    kExitUsage);
    }
    double rate = *a.rate;
    Check(SetSampleFrequencyF(&rate), "setting the sample rate");
  }
  long length = GetRecordLength();
  if (a.length) {
    const long max = GetMaxRecordLength();
    if (*a.length > max) {
      throw Failure(
          "--length " + std::to_string(*a.length) + ": the longest record is " + std::to_string(max) + " samples",
          kExitUsage);
    }
    length = *a.length;
    Check(SetRecordLength(static_cast<std::uint32_t>(length)), "setting the record length");
  }
  const long pre = std::lround(a.pre_share * static_cast<double>(length));
  Check(SetPostSamples(static_cast<std::uint32_t>(length - pre)), "setting the post-trigger samples");

  const std::vector<double> available = AvailableRanges();
  for (int ch = 1; ch <= 2; ++ch) {
    const auto& wanted = a.range[static_cast<std::size_t>(ch - 1)];
    if (!wanted) {
      // Auto-ranging steps one range per measurement: start from the largest
      // range, which cannot be overdriven.
      double largest = available.back();
      Check(SetSensitivity(static_cast<std::uint32_t>(ch), &largest), "setting the range");
      Check(SetAutoRanging(static_cast<std::uint32_t>(ch), 1), "switching auto-ranging on");
      continue;
    }
    const auto match =
        std::find_if(available.begin(), available.end(), [&](double r) { return std::fabs(r - *wanted) <= 1e-9 * r; });
    if (match == available.end()) {
      std::string list;
      for (double r : available) list += (list.empty() ? "" : ", ") + Volts(r);
      throw Failure("--range " + Volts(*wanted) + ": the instrument has no such range (it has " + list + ")",
                    kExitUsage);
    }
    double range = *match;
    Check(SetAutoRanging(static_cast<std::uint32_t>(ch), 0), "switching auto-ranging off");
    Check(SetSensitivity(static_cast<std::uint32_t>(ch), &range), "setting the range of channel " + std::to_string(ch));
  }
  for (int ch = 1; ch <= 2; ++ch) {
    if (const auto coupling = a.coupling[static_cast<std::size_t>(ch - 1)]) {
      Check(SetCoupling(static_cast<std::uint32_t>(ch), static_cast<std::uint32_t>(*coupling)),
            "setting the coupling of channel " + std::to_string(ch));
    }
  }
  Check(SetTriggerSource(static_cast<std::uint32_t>(a.trigger_source)), "setting the trigger source");
  if (a.kind) Check(SetTriggerMode(static_cast<std::uint32_t>(*a.kind)), "setting the trigger kind");
  if (a.timeout_ms) {
    Check(SetTriggerTimeOut(*a.timeout_ms < 0 ? RU3_TIMEOUT_NONE : static_cast<std::uint32_t>(*a.timeout_ms)),
          "setting the trigger time-out");
  }
  ApplyTriggerLevel(a);
}

void ApplyTriggerLevel(const Acquisition& a) {
  const int ch = a.TriggerChannel();
  if (ch == 0) return;
  const double range = RangeOf(ch);
  if (!a.AutoRanging() && std::fabs(a.level) > range) {
    throw Failure(
        "--level " + Volts(a.level) + ": outside channel " + std::to_string(ch) + "'s range of \xC2\xB1" + Volts(range),
        kExitUsage);
  }
  const double level = std::clamp(a.level, -range, range);
  Check(SetTriggerLevel(static_cast<std::uint32_t>(ch), level), "setting the trigger level");
  if (a.hysteresis) {
    const std::uint16_t status = SetTriggerHys(static_cast<std::uint32_t>(ch), *a.hysteresis);
    if (status == RU3_BAD_VALUE) {
      throw Failure("--hysteresis " + Volts(*a.hysteresis) + ": the trigger band leaves channel " + std::to_string(ch) +
                        "'s range of \xC2\xB1" + Volts(range) + " at level " + Volts(level),
                    kExitUsage);
    }
    Check(status, "setting the trigger hysteresis");
  }
}

std::atomic<bool>& Interrupted() {
  static std::atomic<bool> interrupted{false};
  return interrupted;
}

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

Record CurrentRecord(const Acquisition& a) {
  Record record;
  record.sample_rate = GetSampleFrequencyF();
  const long length = GetRecordLength();
  record.pre_samples = length - GetPostSamples();
  for (int ch : a.channels) {
    Channel channel;
    channel.number = ch;
    // Reading the range also refreshes the library's conversion factor.
    channel.range = RangeOf(ch);
    channel.volts.resize(static_cast<std::size_t>(std::max(length, 0L)));
    record.channels.push_back(std::move(channel));
  }
  const auto n = static_cast<std::size_t>(std::max(length, 0L));
  std::array<std::vector<double>, 2> volts{std::vector<double>(n), std::vector<double>(n)};
  std::array<std::vector<std::uint16_t>, 2> codes{std::vector<std::uint16_t>(n), std::vector<std::uint16_t>(n)};
  Check(GetMeasurement(volts[0].data(), volts[1].data()), "reading the measurement");
  Check(GetMeasurementRaw(codes[0].data(), codes[1].data()), "reading the measurement");
  for (Channel& channel : record.channels) {
    const auto k = static_cast<std::size_t>(channel.number - 1);
    channel.volts = std::move(volts[k]);
    MarkMissing(codes[k], channel.volts);
  }
  record.trigger.channel = a.TriggerChannel();
  record.trigger.source = a.trigger_source == 0 ? "CH1" : a.trigger_source == 1 ? "CH2" : "none";
  if (record.trigger.channel != 0) {
    (void)GetTriggerLevel(static_cast<std::uint32_t>(record.trigger.channel), &record.trigger.level);
    (void)GetTriggerHys(static_cast<std::uint32_t>(record.trigger.channel), &record.trigger.hysteresis);
  }
  return record;
}

Record Measure(const Acquisition& a, Progress& progress) {
  using Clock = std::chrono::steady_clock;
  ApplyTriggerLevel(a);
  CheckInterrupted();
  Check(ADC_Start(), "starting the measurement");
  const auto start = Clock::now();
  const long timeout = GetTriggerTimeOut();
  auto last_force = start;
  bool forced = false;
  progress.Phase("measuring, waiting for the trigger");
  while (ADC_Ready() == 0) {
    if (Interrupted().load()) {
      (void)ADC_Abort();
      CheckInterrupted();
    }
    const auto now = Clock::now();
    // Block-style measuring leaves the time-out to the host: force the
    // trigger once it has passed, and again every second until done.
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
    if (timeout >= 0 && elapsed >= timeout && (!forced || now - last_force >= std::chrono::seconds(1))) {
      Check(ADC_ForceTrig(), "forcing the trigger");
      if (!forced) progress.Phase("measuring, trigger forced after the time-out");
      forced = true;
      last_force = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const long length = GetRecordLength();
  progress.Phase("reading " + std::to_string(length * static_cast<long>(a.channels.size())) + " samples");
  Record record;
  record.sample_rate = GetSampleFrequencyF();
  record.pre_samples = length - GetPostSamples();
  for (int ch : a.channels) {
    Channel channel;
    channel.number = ch;
    channel.range = RangeOf(ch);
    channel.volts.resize(static_cast<std::size_t>(length));
    // The first read fetches the record from the instrument.
    Check(ADC_GetDataVoltCh(static_cast<std::uint32_t>(ch), channel.volts.data()),
          "reading channel " + std::to_string(ch));
    std::vector<std::uint16_t> codes(static_cast<std::size_t>(length));
    Check(ADC_GetDataCh(static_cast<std::uint32_t>(ch), codes.data()), "reading channel " + std::to_string(ch));
    MarkMissing(codes, channel.volts);
    record.channels.push_back(std::move(channel));
  }
  progress.Clear();
  record.trigger.channel = a.TriggerChannel();
  record.trigger.source = a.trigger_source == 0 ? "CH1" : a.trigger_source == 1 ? "CH2" : "none";
  if (record.trigger.channel != 0) {
    (void)GetTriggerLevel(static_cast<std::uint32_t>(record.trigger.channel), &record.trigger.level);
    (void)GetTriggerHys(static_cast<std::uint32_t>(record.trigger.channel), &record.trigger.hysteresis);
  }
  CheckInterrupted();
  return record;
}

Record MeasureSettled(const Acquisition& a, Progress& progress) {
  if (!a.AutoRanging()) return Measure(a, progress);
  // Each measurement moves an auto-ranging channel by at most one range; two
  // measurements on the same ranges mean the ranges have settled. They run
  // free (no trigger): on a range far too large the signal would never leave
  // the trigger's hysteresis band, and every step would wait for the time-out.
  constexpr int kMostSteps = 12;
  Acquisition free_running = a;
  free_running.trigger_source = 9;
  Check(SetTriggerSource(9), "setting the trigger source");
  progress.Phase("auto-ranging");
  std::vector<double> previous;
  for (int step = 0; step < kMostSteps; ++step) {
    const Record record = Measure(free_running, progress);
    std::vector<double> ranges;
    for (const Channel& ch : record.channels) ranges.push_back(ch.range);
    if (ranges == previous) break;
    previous = ranges;
  }
  for (int ch = 1; ch <= 2; ++ch) {
    if (!a.range[static_cast<std::size_t>(ch - 1)]) {
      Check(SetAutoRanging(static_cast<std::uint32_t>(ch), 0), "switching auto-ranging off");
    }
  }
  Check(SetTriggerSource(static_cast<std::uint32_t>(a.trigger_source)), "setting the trigger source");
  return Measure(a, progress);
}

}  // namespace ru3cli
