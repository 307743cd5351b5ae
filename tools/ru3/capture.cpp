#include "capture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>

#include "failure.h"
#include "format.h"
#include "progress.h"
#include "ru3/ru3.h"
#include "session.h"

namespace ru3cli {

namespace {

constexpr int kExitInterrupted = 130;
// Sample words at the ends of the converter's scale: the input was beyond
// the range (the low four bits of a sample are 0).
constexpr std::uint16_t kLowestWord = 0x0000;
constexpr std::uint16_t kHighestWord = 0xFFF0;

// Settling: the share of a range a peak may fill, the shortest and longest
// settling capture, the longest time one may take (longer records are
// settled on their first 2 s), and the lowest rate it runs at when the
// record's own rate allows the time.
constexpr double kFill = 0.9;
constexpr long kSettleMinSamples = 100;
constexpr long kSettleMaxSamples = 2000;
constexpr double kSettleWindow = 2.0;  // s
constexpr double kSettleMinRate = 4000;

void CheckInterrupted() {
  if (Interrupted().load()) throw Failure("interrupted", kExitInterrupted);
}

extern "C" void OnInterrupt(int /*signal*/) { Interrupted().store(true); }

// Positions that received no sample hold RU3_NO_SAMPLE, which no sample
// can have: they become NaN, not a voltage. Samples at the ends of the scale
// are counted as clipped.
void TakeCodes(const std::vector<std::uint16_t>& codes, Channel& channel) {
  channel.clipped = 0;
  for (std::size_t i = 0; i < codes.size() && i < channel.volts.size(); ++i) {
    if (codes[i] == RU3_NO_SAMPLE) {
      channel.volts[i] = std::nan("");
    } else if (codes[i] == kLowestWord || codes[i] >= kHighestWord) {
      ++channel.clipped;
    }
  }
}

Channel ReadChannel(int ch, long length) {
  Channel channel;
  channel.number = ch;
  channel.range = RangeOf(ch);
  std::vector<std::uint16_t> codes;
  Check(ReadSamples(ch, static_cast<std::size_t>(length), channel, codes), "reading channel " + std::to_string(ch));
  return channel;
}

// Polls until the measurement is done, every millisecond, running `turn`
// at each poll; an interruption aborts the measurement.
template <typename Turn>
void AwaitRecord(Turn turn) {
  while (ADC_Ready() == 0) {
    if (Interrupted().load()) {
      (void)ADC_Abort();
      CheckInterrupted();
    }
    turn();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// What the record cannot tell of itself: its trigger and the rate asked for.
void Describe(const Acquisition& a, Record& record) {
  record.trigger.channel = a.TriggerChannel();
  record.trigger.source = record.trigger.channel == 0 ? "none" : "CH" + std::to_string(record.trigger.channel);
  if (record.trigger.channel != 0) {
    (void)GetTriggerLevel(static_cast<std::uint32_t>(record.trigger.channel), &record.trigger.level);
    (void)GetTriggerHys(static_cast<std::uint32_t>(record.trigger.channel), &record.trigger.hysteresis);
  }
  if (a.rate) record.asked_rate = *a.rate;
  record.largest_range = AvailableRanges().back();
}

void SetRange(int ch, double volts) {
  Check(SetSensitivity(static_cast<std::uint32_t>(ch), &volts), "setting the range of channel " + std::to_string(ch));
}

struct Peak {
  double volts = 0;  // largest magnitude of a sample
  bool clipped = false;
};

// One short free-running capture with the settling timing set; the peak of
// each of `channels`.
std::array<Peak, 2> PeakCapture(const std::vector<int>& channels, long length) {
  Check(ADC_Start(), "starting the measurement");
  AwaitRecord([] {});
  std::array<Peak, 2> peaks{};
  for (int ch : channels) {
    const Channel channel = ReadChannel(ch, length);
    Peak& peak = peaks[static_cast<std::size_t>(ch - 1)];
    for (double v : channel.volts) {
      if (!std::isnan(v)) peak.volts = std::max(peak.volts, std::fabs(v));
    }
    peak.clipped = channel.clipped > 0;
  }
  return peaks;
}

// The smallest range that a peak fills to at most kFill, given how closely
// the peak is known.
double RangeFor(double peak, double uncertainty, const std::vector<double>& ranges) {
  for (double r : ranges) {
    if (peak + uncertainty <= kFill * r) return r;
  }
  return ranges.back();
}

}  // namespace

std::uint16_t ReadSamples(int ch, std::size_t length, Channel& channel, std::vector<std::uint16_t>& codes) {
  channel.volts.resize(length);
  codes.resize(length);
  const auto input = static_cast<std::uint32_t>(ch);
  std::uint16_t status = ADC_GetDataVoltCh(input, channel.volts.data());
  if (status == RU3_OK) status = ADC_GetDataCh(input, codes.data());
  if (status == RU3_OK) TakeCodes(codes, channel);
  return status;
}

bool TriggerForcing::Due(Clock::time_point now, long timeout_ms) const {
  return timeout_ms >= 0 && now - armed_at_ >= std::chrono::milliseconds(timeout_ms) &&
         (!forced_ || now - forced_at_ >= std::chrono::seconds(1));
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

// The one place the tool reads a timer-driven record and what it was
// measured with (rate, pre-trigger samples, ranges, trigger).
RU3RecordInfo RecordFacts() {
  RU3RecordInfo info{};
  info.size = sizeof info;
  Check(Ext_GetRecordInfo(&info), "reading the record's facts");
  return info;
}

Record CurrentRecord(const Acquisition& a) {
  Record record;
  const long length = std::max<long>(GetRecordLength(), 0);
  const auto n = static_cast<std::size_t>(length);
  std::array<std::vector<double>, 2> volts{std::vector<double>(n), std::vector<double>(n)};
  std::array<std::vector<std::uint16_t>, 2> codes{std::vector<std::uint16_t>(n), std::vector<std::uint16_t>(n)};
  // Reading the ranges first also refreshes the library's conversion factors.
  std::vector<double> ranges;
  for (int ch : a.channels) ranges.push_back(RangeOf(ch));
  Check(GetMeasurement(volts[0].data(), volts[1].data()), "reading the measurement");
  Check(GetMeasurementRaw(codes[0].data(), codes[1].data()), "reading the measurement");
  // The record's own facts, not the settings of now (one lock, one record).
  const RU3RecordInfo facts = RecordFacts();
  record.sample_rate = facts.sample_rate;
  record.pre_samples = facts.trigger_position;
  for (std::size_t i = 0; i < a.channels.size(); ++i) {
    Channel channel;
    channel.number = a.channels[i];
    channel.range = facts.sequence != 0 ? facts.range[channel.number - 1] : ranges[i];
    const auto k = static_cast<std::size_t>(channel.number - 1);
    channel.volts = std::move(volts[k]);
    TakeCodes(codes[k], channel);
    record.channels.push_back(std::move(channel));
  }
  Describe(a, record);
  record.trigger.forced = record.trigger.channel != 0 && facts.forced != 0;
  return record;
}

Record Measure(const Acquisition& a, Progress& progress) {
  ApplyTriggerLevel(a);
  CheckInterrupted();
  Check(ADC_Start(), "starting the measurement");
  TriggerForcing forcing;
  forcing.Arm(TriggerForcing::Clock::now());
  const long timeout = GetTriggerTimeOut();
  progress.Phase(a.TriggerChannel() != 0 ? "measuring, waiting for the trigger" : "measuring");
  AwaitRecord([&] {
    const auto now = TriggerForcing::Clock::now();
    if (a.TriggerChannel() != 0 && forcing.Due(now, timeout)) {
      Check(ADC_ForceTrig(), "forcing the trigger");
      if (!forcing.forced()) progress.Phase("measuring, trigger forced after the time-out");
      forcing.Forced(now);
    }
  });
  const long length = GetRecordLength();
  progress.Phase("reading " + std::to_string(length * static_cast<long>(a.channels.size())) + " samples");
  Record record;
  for (int ch : a.channels) record.channels.push_back(ReadChannel(ch, length));
  // The facts of the record just fetched: forced only if the trigger did not
  // come (a force sent as it came leaves it triggered).
  const RU3RecordInfo facts = RecordFacts();
  record.sample_rate = facts.sample_rate;
  record.pre_samples = facts.trigger_position;
  for (Channel& channel : record.channels) channel.range = facts.range[channel.number - 1];
  progress.Clear();
  Describe(a, record);
  record.trigger.forced = a.TriggerChannel() != 0 && facts.forced != 0;
  record.trigger.timeout_ms = timeout;
  CheckInterrupted();
  return record;
}

void SettleRanges(const Acquisition& a, Progress& progress) {
  const std::vector<int> settle = a.AutoRanged();
  if (settle.empty()) return;
  const std::vector<double> ranges = AvailableRanges();
  const double largest = ranges.back();
  // The library's own auto-ranging would step a range again at each arming.
  for (int ch : settle) Check(SetAutoRanging(static_cast<std::uint32_t>(ch), 0), "switching auto-ranging off");

  // Free-running, over the record's own duration (the slowest signal the
  // record shows has a period as long as the record): at the record's rate
  // or faster while that takes at most kSettleMaxSamples, else at the rate
  // at which they span it. The channels to settle are measured even when
  // the record leaves one out (a trigger channel).
  const double max_rate = GetMaxSampleFrequencyF();
  Acquisition record_timing = a;
  record_timing.rate = GetSampleFrequencyF();
  record_timing.length = GetRecordLength();
  const double window =
      std::min(static_cast<double>(*record_timing.length) / *record_timing.rate, kSettleWindow);
  Acquisition timing = a;
  timing.channels = settle;
  // The record's rate is one the clock makes, and so are the bounds.
  double rate = std::min(std::max(*record_timing.rate, kSettleMinRate), max_rate);
  if (window * rate > kSettleMaxSamples) rate = NearestRate(kSettleMaxSamples / window, max_rate);
  timing.rate = rate;
  const long samples =
      std::clamp(std::lround(window * rate), kSettleMinSamples, kSettleMaxSamples + kSettleMaxSamples / 10);
  timing.length = samples;
  timing.pre_share = 0;
  ApplyTiming(timing);
  Check(SetTriggerSource(RU3_TRIG_NONE), "setting the trigger source");

  progress.Phase("settling the ranges: capture 1 of 2, on the " + Quantity(largest, "V") + " range");
  for (int ch : settle) SetRange(ch, largest);
  const std::array<Peak, 2> coarse = PeakCapture(settle, samples);
  // A 12-bit step of the largest range, twice, is how well the first peak is known.
  const double coarse_step = 2 * 2 * largest / 4096;
  std::array<double, 2> chosen{largest, largest};
  bool confirm = false;
  for (int ch : settle) {
    const Peak& p = coarse[static_cast<std::size_t>(ch - 1)];
    double& r = chosen[static_cast<std::size_t>(ch - 1)];
    r = p.clipped ? largest : RangeFor(p.volts, coarse_step, ranges);
    confirm = confirm || r < largest;
  }
  if (confirm) {
    progress.Phase("settling the ranges: capture 2 of 2, confirming");
    for (int ch : settle) SetRange(ch, chosen[static_cast<std::size_t>(ch - 1)]);
    const std::array<Peak, 2> fine = PeakCapture(settle, samples);
    for (int ch : settle) {
      const Peak& p = fine[static_cast<std::size_t>(ch - 1)];
      double& r = chosen[static_cast<std::size_t>(ch - 1)];
      if (r >= largest) continue;
      if (p.clipped) {
        // More than the first capture saw: the next range up.
        r = *std::upper_bound(ranges.begin(), ranges.end(), r);
      } else {
        r = RangeFor(p.volts, 0, ranges);
      }
    }
  }
  for (int ch : settle) SetRange(ch, chosen[static_cast<std::size_t>(ch - 1)]);
  progress.Clear();
  ApplyTiming(record_timing);
  Check(SetTriggerSource(static_cast<std::uint32_t>(a.trigger_source)), "setting the trigger source");
  ApplyTriggerLevel(a);
}

Record MeasureSettled(const Acquisition& a, Progress& progress) {
  SettleRanges(a, progress);
  return Measure(a, progress);
}

}  // namespace ru3cli
