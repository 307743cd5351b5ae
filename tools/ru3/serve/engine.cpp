// The measuring thread of `ru3 serve` and the settings it applies for the
// page and the SCPI sessions. Keys of Apply:
//   ch1.on ch2.on            bool        channel measured
//   ch1.range ch2.range      V | auto    full scale, or auto-ranging
//   ch1.coupling ...         dc|ac|0|1
//   rate (Hz)  length (samples)  pre (share 0..1 before the trigger)
//   trigger.source ch1|ch2|none   trigger.level V   trigger.hysteresis V
//   trigger.kind 0..3        trigger.timeout ms | none
//   dac1 dac2 V (-10..10)    motor1 motor2 bool
//   state run|stop|single|force
//   autoscale (any value)    settle the ranges by auto-ranging, then keep them
#include "engine.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <future>

#include "../capture.h"
#include "../failure.h"
#include "../progress.h"
#include "ru3/ru3.h"

namespace ru3serve {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kFramesKept = 8;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

Error Bad(int code, std::string message) { return Error{code, std::move(message)}; }

// A number from a Value; words are refused.
bool Number(const Value& value, double& out) {
  if (const double* number = std::get_if<double>(&value)) {
    out = *number;
    return std::isfinite(out);
  }
  return false;
}

bool Word(const Value& value, std::string& out) {
  if (const std::string* word = std::get_if<std::string>(&value)) {
    out = Lower(*word);
    return true;
  }
  return false;
}

// on/off/true/false/1/0, or a number (non-zero is on).
bool Boolean(const Value& value, bool& out) {
  double number = 0;
  if (Number(value, number)) {
    out = number != 0;
    return true;
  }
  std::string word;
  if (!Word(value, word)) return false;
  if (word == "on" || word == "true" || word == "1") out = true;
  else if (word == "off" || word == "false" || word == "0") out = false;
  else return false;
  return true;
}

Error StatusError(std::uint16_t status, const std::string& what) {
  if (status == RU3_OK) return {};
  if (status == RU3_BAD_VALUE) return Bad(-222, what + ": out of range");
  return Bad(-200, what + ": the instrument refused (status " + std::to_string(status) + ")");
}

int ChannelOfKey(const std::string& key) { return key.size() > 2 && key[2] == '2' ? 2 : 1; }

}  // namespace

const Frame::Trace* Frame::TraceOf(int channel) const {
  for (const Trace& trace : traces) {
    if (trace.number == channel) return &trace;
  }
  return nullptr;
}

ru3cli::Record Frame::ToRecord() const {
  ru3cli::Record record;
  record.sample_rate = rate;
  record.pre_samples = pre_samples;
  for (const Trace& trace : traces) record.channels.push_back({trace.number, trace.range, trace.volts});
  record.trigger.channel = ru3cli::TriggerChannelOf(settings.source);
  record.trigger.source = record.trigger.channel == 0 ? "none" : "CH" + std::to_string(record.trigger.channel);
  record.trigger.level = settings.level;
  record.trigger.hysteresis = settings.hysteresis;
  record.trigger.kind = settings.kind;
  return record;
}

Engine::Engine(const ru3cli::GlobalOptions& options) {
  session_ = std::make_unique<ru3cli::Session>(options);
  ranges_ = ru3cli::AvailableRanges();
  max_rate_ = GetMaxSampleFrequencyF();
  max_length_ = GetMaxRecordLength();
  ru3cli::Check(GetSerialNumber(&serial_), "reading the serial number");
  ru3cli::Check(SetMeasureMode(RU3_MODE_CH12), "setting the channels");
  ReadBack();
  // Start on ranges that fit the signals, so that the trigger fires.
  (void)ApplyHere("autoscale", 1.0);
  initial_ = settings_;
  thread_ = std::thread([this] { Loop(); });
}

Engine::~Engine() {
  Stop();
  session_->Close();
}

void Engine::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  if (!thread_.joinable()) return;
  thread_.join();
  (void)ADC_Abort();
}

void Engine::Call(std::function<void()> work) {
  std::packaged_task<void()> task(std::move(work));
  std::future<void> done = task.get_future();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) return;
    work_.emplace_back([&task] { task(); });
  }
  changed_.notify_all();
  done.get();
}

Error Engine::Apply(const std::string& key, const Value& value) {
  Error error{-200, "the server is stopping"};
  Call([&] { error = ApplyHere(key, value); });
  return error;
}

void Engine::Reset() {
  Call([this] {
    const Settings& s = initial_;
    (void)ApplyHere("state", std::string("stop"));
    for (int ch = 1; ch <= 2; ++ch) {
      const std::string prefix = "ch" + std::to_string(ch) + ".";
      const auto k = static_cast<std::size_t>(ch - 1);
      (void)ApplyHere(prefix + "on", s.on[k] ? 1.0 : 0.0);
      (void)ApplyHere(prefix + "range", s.autorange[k] ? Value(std::string("auto")) : Value(s.range[k]));
      (void)ApplyHere(prefix + "coupling", static_cast<double>(s.coupling[k]));
      (void)ApplyHere("dac" + std::to_string(ch), 0.0);
      (void)ApplyHere("motor" + std::to_string(ch), 0.0);
    }
    (void)ApplyHere("rate", s.rate);
    (void)ApplyHere("length", static_cast<double>(s.length));
    (void)ApplyHere("pre", s.pre);
    (void)ApplyHere("trigger.source", static_cast<double>(s.source));
    (void)ApplyHere("trigger.kind", static_cast<double>(s.kind));
    (void)ApplyHere("trigger.level", s.level);
    (void)ApplyHere("trigger.hysteresis", s.hysteresis);
    (void)ApplyHere("trigger.timeout", static_cast<double>(s.timeout_ms));
    (void)ApplyHere("state", std::string("run"));
  });
}

Error Engine::ApplyHere(const std::string& key, const Value& value) {
  double number = 0;
  std::string word;
  bool flag = false;
  Settings s = Current();
  const int trigger_channel = s.source == RU3_TRIG_CH2 ? 2 : 1;
  Error error;

  if (key == "state") {
    if (!Word(value, word)) return Bad(-104, "state: run, stop, single or force");
    if (word == "force") {
      if (armed_) (void)ADC_ForceTrig();
      return {};
    }
    if (word != "run" && word != "stop" && word != "single") return Bad(-224, "state: run, stop, single or force");
    if (armed_ && (word == "stop" || word == "single")) {
      (void)ADC_Abort();
      armed_ = false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.state = word;
    changed_.notify_all();
    return {};
  } else if (key == "autoscale") {
    // The tool's auto-ranging: a short free-running capture on the largest
    // range gives each channel's peak (the trigger channel's too), a second
    // on the range that holds it confirms it; the record's timing and
    // trigger (its share before the trigger, its level: clamped into the
    // range chosen) are set again, then one measurement on the trigger.
    ru3cli::Acquisition a;
    for (int ch = 1; ch <= 2; ++ch) {
      if (s.on[static_cast<std::size_t>(ch - 1)]) a.channels.push_back(ch);
      double largest = ranges_.back();
      (void)SetSensitivity(static_cast<std::uint32_t>(ch), &largest);
      (void)SetAutoRanging(static_cast<std::uint32_t>(ch), 1);
    }
    a.trigger_source = s.source;
    a.pre_share = s.pre;
    a.level = s.level;
    try {
      ru3cli::Progress quiet(false);
      (void)ru3cli::MeasureSettled(a, quiet);
    } catch (const std::exception& failure) {
      error = Bad(-200, std::string("autoscale: ") + failure.what());
    }
    for (std::uint32_t ch = 1; ch <= 2; ++ch) (void)SetAutoRanging(ch, 0);
  } else if (key == "ch1.on" || key == "ch2.on") {
    if (!Boolean(value, flag)) return Bad(-104, key + ": on or off");
    const auto k = static_cast<std::size_t>(ChannelOfKey(key) - 1);
    std::array<bool, 2> on = s.on;
    on[k] = flag;
    if (!on[0] && !on[1]) return Bad(-221, "at least one channel stays on");
    const std::uint32_t mode = on[0] && on[1] ? RU3_MODE_CH12 : on[0] ? RU3_MODE_CH1 : RU3_MODE_CH2;
    error = StatusError(SetMeasureMode(mode), "channels");
  } else if (key == "ch1.range" || key == "ch2.range") {
    const auto ch = static_cast<std::uint32_t>(ChannelOfKey(key));
    if (Word(value, word)) {
      if (word != "auto") return Bad(-224, key + ": volts or auto");
      error = StatusError(SetAutoRanging(ch, 1), "auto-ranging");
    } else if (Number(value, number)) {
      if (number <= 0 || number > ranges_.back() * 1.0001) return Bad(-222, key + ": 0 to the largest range");
      // The smallest range that holds the value asked for.
      const auto fit = std::find_if(ranges_.begin(), ranges_.end(), [&](double r) { return r >= number * 0.9999; });
      double range = fit == ranges_.end() ? ranges_.back() : *fit;
      error = StatusError(SetAutoRanging(ch, 0), "auto-ranging");
      if (!error) error = StatusError(SetSensitivity(ch, &range), key);
    } else {
      return Bad(-104, key + ": volts or auto");
    }
  } else if (key == "ch1.coupling" || key == "ch2.coupling") {
    int code = -1;
    if (Word(value, word)) code = word == "dc" ? RU3_COUPLING_DC : word == "ac" ? RU3_COUPLING_AC : -1;
    else if (Number(value, number) && (number == RU3_COUPLING_DC || number == RU3_COUPLING_AC))
      code = static_cast<int>(number);
    if (code < 0) return Bad(-224, key + ": dc or ac");
    error = StatusError(SetCoupling(static_cast<std::uint32_t>(ChannelOfKey(key)), static_cast<std::uint32_t>(code)),
                        key);
  } else if (key == "rate") {
    if (!Number(value, number)) return Bad(-104, "rate: a number in Hz");
    if (number <= 0 || number > max_rate_) return Bad(-222, "rate: above 0, at most the maximum rate");
    error = StatusError(SetSampleFrequencyF(&number), "rate");
  } else if (key == "length" || key == "pre") {
    if (!Number(value, number)) return Bad(-104, key + ": a number");
    long length = s.length;
    double pre = s.pre;
    if (key == "length") {
      if (number < 16 || number > static_cast<double>(max_length_) || number != std::floor(number)) {
        return Bad(-222, "length: a whole number of samples, 16 to " + std::to_string(max_length_));
      }
      length = static_cast<long>(number);
    } else {
      if (number < 0 || number > 1) return Bad(-222, "pre: a share from 0 to 1");
      pre = number;
    }
    const long pre_samples = std::lround(pre * static_cast<double>(length));
    error = StatusError(SetRecordLength(static_cast<std::uint32_t>(length)), "length");
    if (!error) error = StatusError(SetPostSamples(static_cast<std::uint32_t>(length - pre_samples)), "pre");
    if (!error) {
      std::lock_guard<std::mutex> lock(mutex_);
      settings_.pre = pre;
    }
  } else if (key == "trigger.source") {
    int source = -1;
    if (Word(value, word))
      source = word == "ch1" ? RU3_TRIG_CH1 : word == "ch2" ? RU3_TRIG_CH2 : word == "none" ? RU3_TRIG_NONE : -1;
    else if (Number(value, number) && (number == RU3_TRIG_CH1 || number == RU3_TRIG_CH2 || number == RU3_TRIG_NONE))
      source = static_cast<int>(number);
    if (source < 0) return Bad(-224, "trigger source: ch1, ch2 or none");
    error = StatusError(SetTriggerSource(static_cast<std::uint32_t>(source)), "trigger source");
    // The level follows to the new channel, limited to its range.
    if (!error && source != RU3_TRIG_NONE) {
      const int ch = ru3cli::TriggerChannelOf(source);
      const double range = s.range[static_cast<std::size_t>(ch - 1)];
      (void)SetTriggerLevel(static_cast<std::uint32_t>(ch), std::clamp(s.level, -range, range));
      (void)SetTriggerModeCh(static_cast<std::uint32_t>(ch), static_cast<std::uint32_t>(s.kind));
    }
  } else if (key == "trigger.level") {
    if (!Number(value, number)) return Bad(-104, "trigger level: volts");
    const double range = s.range[static_cast<std::size_t>(trigger_channel - 1)];
    if (std::fabs(number) > range * 1.0000001) return Bad(-222, "trigger level: beyond the channel's range");
    error = StatusError(SetTriggerLevel(static_cast<std::uint32_t>(trigger_channel), std::clamp(number, -range, range)),
                        "trigger level");
  } else if (key == "trigger.hysteresis") {
    if (!Number(value, number)) return Bad(-104, "trigger hysteresis: volts");
    if (number < 0) return Bad(-222, "trigger hysteresis: not negative");
    error = StatusError(SetTriggerHys(static_cast<std::uint32_t>(trigger_channel), number), "trigger hysteresis");
  } else if (key == "trigger.kind") {
    if (!Number(value, number) || number != std::floor(number)) return Bad(-104, "trigger kind: 0 to 3");
    if (number < RU3_KIND_RISING || number > RU3_KIND_EITHER) return Bad(-222, "trigger kind: 0 to 3");
    error = StatusError(SetTriggerMode(static_cast<std::uint32_t>(number)), "trigger kind");
  } else if (key == "trigger.timeout") {
    std::uint32_t ms = RU3_TIMEOUT_NONE;
    if (Word(value, word)) {
      if (word != "none" && word != "inf" && word != "infinity") return Bad(-224, "time-out: ms or none");
    } else if (Number(value, number) && number == -1) {
    } else if (Number(value, number) && number >= 0 && number <= 3600000 && number == std::floor(number)) {
      ms = static_cast<std::uint32_t>(number);
    } else {
      return Bad(-222, "time-out: 0 to 3600000 ms, or none");
    }
    error = StatusError(SetTriggerTimeOut(ms), "time-out");
  } else if (key == "dac1" || key == "dac2") {
    if (!Number(value, number)) return Bad(-104, key + ": volts");
    if (number < -10 || number > 10) return Bad(-222, key + ": -10 to +10 V");
    std::array<double, 2> dac = s.dac;
    dac[key == "dac2" ? 1 : 0] = number;
    error = StatusError(SetDAC7394(dac[0], dac[1]), "DAC");
    if (!error) {
      std::lock_guard<std::mutex> lock(mutex_);
      settings_.dac = dac;
    }
    return error;  // the outputs leave the acquisition alone
  } else if (key == "motor1" || key == "motor2") {
    if (!Boolean(value, flag)) return Bad(-104, key + ": on or off");
    std::array<bool, 2> motor = s.motor;
    motor[key == "motor2" ? 1 : 0] = flag;
    error = StatusError(SetMotorOn(motor[0] ? 1 : 0, motor[1] ? 1 : 0), "motor outputs");
    if (!error) {
      std::lock_guard<std::mutex> lock(mutex_);
      settings_.motor = motor;
    }
    return error;
  } else {
    return Bad(-113, "no setting named " + key);
  }
  // The record being measured has the old settings: measure afresh.
  if (armed_) {
    (void)ADC_Abort();
    armed_ = false;
  }
  ReadBack();
  return error;
}

void Engine::ReadBack() {
  Settings s = Current();
  std::uint8_t mode = 0, byte = 0;
  if (GetMeasureMode(&mode) == RU3_OK) {
    s.on = {(mode & 1) != 0, (mode & 2) != 0};
  }
  for (std::uint32_t ch = 1; ch <= 2; ++ch) {
    const auto k = ch - 1;
    (void)GetSensitivity(ch, &s.range[k]);
    if (GetAutoRanging(ch, &byte) == RU3_OK) s.autorange[k] = byte != 0;
    if (GetCoupling(ch, &byte) == RU3_OK) s.coupling[k] = byte;
  }
  s.rate = GetSampleFrequencyF();
  s.length = GetRecordLength();
  if (GetTriggerSource(&byte) == RU3_OK) s.source = byte;
  const std::uint32_t trigger_channel = s.source == RU3_TRIG_CH2 ? 2 : 1;
  (void)GetTriggerLevel(trigger_channel, &s.level);
  (void)GetTriggerHys(trigger_channel, &s.hysteresis);
  if (GetTriggerModeCh(trigger_channel, &byte) == RU3_OK) s.kind = byte & 0x7F;
  s.timeout_ms = GetTriggerTimeOut();
  std::lock_guard<std::mutex> lock(mutex_);
  s.pre = settings_.pre;
  s.dac = settings_.dac;
  s.motor = settings_.motor;
  s.state = settings_.state;
  settings_ = s;
  ++generation_;
  changed_.notify_all();
}

Settings Engine::Current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

std::uint64_t Engine::Generation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

std::shared_ptr<const Frame> Engine::Latest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.empty() ? nullptr : frames_.back();
}

std::shared_ptr<const Frame> Engine::Find(std::uint64_t seq) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& frame : frames_) {
    if (frame->seq == seq) return frame;
  }
  return nullptr;
}

std::shared_ptr<const Frame> Engine::WaitFrame(std::uint64_t after_seq, std::uint64_t generation,
                                               std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    return quit_ || (!frames_.empty() && frames_.back()->seq > after_seq && frames_.back()->generation >= generation);
  });
  return frames_.empty() ? nullptr : frames_.back();
}

bool Engine::WaitIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return quit_ || settings_.state != "single"; });
}

double Engine::FrameRate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (frame_times_.size() < 2) return 0;
  const double span = std::chrono::duration<double>(frame_times_.back() - frame_times_.front()).count();
  return span > 0 ? static_cast<double>(frame_times_.size() - 1) / span : 0;
}

void Engine::Arm() {
  const std::uint16_t status = ADC_Start();
  armed_ = status == RU3_OK;
  forcing_.Arm(Clock::now());
  std::lock_guard<std::mutex> lock(mutex_);
  armed_generation_ = generation_;
}

void Engine::Publish(bool forced) {
  auto frame = std::make_shared<Frame>();
  frame->settings = Current();
  frame->generation = armed_generation_;
  frame->forced = forced;
  frame->rate = GetSampleFrequencyF();
  const long length = GetRecordLength();
  frame->pre_samples = length - GetPostSamples();
  const auto n = static_cast<std::size_t>(std::max(length, 0L));
  for (int ch = 1; ch <= 2; ++ch) {
    if (!frame->settings.on[static_cast<std::size_t>(ch - 1)]) continue;
    Frame::Trace trace;
    trace.number = ch;
    (void)GetSensitivity(static_cast<std::uint32_t>(ch), &trace.range);
    ru3cli::Channel samples;
    if (ru3cli::ReadSamples(ch, n, samples, trace.codes) != RU3_OK) return;
    trace.volts = std::move(samples.volts);
    trace.clipped = samples.clipped > 0;
    trace.summary = ru3cli::Summarise(trace.volts, frame->rate);
    frame->traces.push_back(std::move(trace));
  }
  // Auto-ranging may have stepped a range during the read-out.
  if (frame->settings.autorange[0] || frame->settings.autorange[1]) ReadBack();
  const auto now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  frame->seq = next_seq_++;
  frames_.push_back(std::move(frame));
  if (frames_.size() > kFramesKept) frames_.pop_front();
  frame_times_.push_back(now);
  while (frame_times_.size() > 2 && now - frame_times_.front() > std::chrono::seconds(3)) frame_times_.pop_front();
  changed_.notify_all();
}

void Engine::Loop() {
  for (;;) {
    std::deque<std::function<void()>> work;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      const bool measuring = settings_.state != "stop";
      // Poll the instrument every millisecond while measuring; sleep otherwise.
      if (work_.empty() && !quit_) {
        if (measuring) changed_.wait_for(lock, std::chrono::milliseconds(1));
        else changed_.wait(lock, [&] { return quit_ || !work_.empty() || settings_.state != "stop"; });
      }
      if (quit_) break;
      work.swap(work_);
    }
    for (auto& item : work) item();
    const std::string state = Current().state;
    if (state == "stop") continue;
    if (!armed_) {
      Arm();
      continue;
    }
    if (ADC_Ready() != 0) {
      armed_ = false;
      Publish(forcing_.forced());
      if (state == "single") {
        std::lock_guard<std::mutex> lock(mutex_);
        settings_.state = "stop";
        changed_.notify_all();
      }
      continue;
    }
    const long timeout = Current().timeout_ms;
    const auto now = Clock::now();
    if (forcing_.Due(now, timeout)) {
      (void)ADC_ForceTrig();
      forcing_.Forced(now);
    }
  }
  // Work queued before the stop still runs, so nobody waits for it in vain.
  std::deque<std::function<void()>> rest;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rest.swap(work_);
  }
  for (auto& item : rest) item();
}

}  // namespace ru3serve
