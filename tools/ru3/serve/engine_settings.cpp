// The settings of `ru3 serve` as the measuring thread applies them: each key
// of Engine::Apply checked, refused in the system's own words, handed to the
// library and read back from it (rates and ranges as the instrument makes
// them). Keys of Apply:
//   ch1.on ch2.on            bool        channel measured
//   ch1.range ch2.range      V | auto    full scale at the probe tip, or auto-ranging
//   ch1.coupling ...         dc|ac|0|1
//   ch1.probe ch2.probe      attenuation factor applied to the volts reported
//   rate (Hz)  length (samples)  pre (share 0..1 before the trigger)
//   timebase.scale (s per division, 10 divisions): rate and length together
//   average (1: off, 2..4096: records averaged into one)
//   trigger.source ch1|ch2|none   trigger.level V   trigger.hysteresis V
//   trigger.kind 0..3        trigger.timeout ms | none
//   dac1 dac2 V (-10..10)    motor1 motor2 bool
//   state run|stop|single|force
//   autoscale (any value)    settle the ranges by auto-ranging, then keep them
#include "engine.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "../capture.h"
#include "../format.h"
#include "../progress.h"
#include "ru3/ru3.h"

namespace ru3serve {
namespace {

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

// "CH1 range" for "ch1.range": how a refusal names the setting.
std::string Named(const std::string& key) {
  return "CH" + std::to_string(ChannelOfKey(key)) + " " + key.substr(4);
}

// The lowest rate the sample clock's divider reaches, Hz.
constexpr double kLowestRate = 400000.0 / 1024 / 65535;
constexpr int kMostAverages = 4096;

}  // namespace

void Engine::Reset() {
  Call([this] {
    const Settings& s = initial_;
    (void)ApplyHere("state", std::string("stop"));
    for (int ch = 1; ch <= 2; ++ch) {
      const std::string prefix = "ch" + std::to_string(ch) + ".";
      const auto k = static_cast<std::size_t>(ch - 1);
      (void)ApplyHere(prefix + "on", s.on[k] ? 1.0 : 0.0);
      (void)ApplyHere(prefix + "probe", s.probe[k]);
      (void)ApplyHere(prefix + "range", s.autorange[k] ? Value(std::string("auto")) : Value(s.range[k]));
      (void)ApplyHere(prefix + "coupling", static_cast<double>(s.coupling[k]));
      (void)ApplyHere("dac" + std::to_string(ch), 0.0);
      (void)ApplyHere("motor" + std::to_string(ch), 0.0);
    }
    (void)ApplyHere("rate", s.rate);
    (void)ApplyHere("length", static_cast<double>(s.length));
    (void)ApplyHere("pre", s.pre);
    (void)ApplyHere("average", static_cast<double>(s.averages));
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
  const double trigger_probe = s.probe[static_cast<std::size_t>(trigger_channel - 1)];
  Error error;
  // Record length and the share before the trigger, set together.
  auto timing = [&](long length, double pre) {
    const long pre_samples = std::lround(pre * static_cast<double>(length));
    Error e = StatusError(SetRecordLength(static_cast<std::uint32_t>(length)), "record length");
    if (!e) e = StatusError(SetPostSamples(static_cast<std::uint32_t>(length - pre_samples)), "pre-trigger share");
    if (!e) {
      std::lock_guard<std::mutex> lock(mutex_);
      settings_.pre = pre;
    }
    return e;
  };

  if (key == "state") {
    if (!Word(value, word)) return Bad(-104, "run state: run, stop, single or force");
    if (word == "force") {
      if (armed_) (void)ADC_ForceTrig();
      return {};
    }
    if (word != "run" && word != "stop" && word != "single") return Bad(-224, "run state: run, stop, single or force");
    if (armed_ && (word == "stop" || word == "single")) {
      (void)ADC_Abort();
      armed_ = false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.state = word;
    averaging_.Restart();
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
    a.level = s.level / trigger_probe;
    try {
      ru3cli::Progress quiet(false);
      (void)ru3cli::MeasureSettled(a, quiet);
    } catch (const std::exception& failure) {
      error = Bad(-200, std::string("autoscale: ") + failure.what());
    }
    for (std::uint32_t ch = 1; ch <= 2; ++ch) (void)SetAutoRanging(ch, 0);
  } else if (key == "ch1.on" || key == "ch2.on") {
    if (!Boolean(value, flag)) return Bad(-104, Named(key) + ": ON or OFF");
    const auto k = static_cast<std::size_t>(ChannelOfKey(key) - 1);
    std::array<bool, 2> on = s.on;
    on[k] = flag;
    if (!on[0] && !on[1]) return Bad(-221, "one channel at least stays on");
    const std::uint32_t mode = on[0] && on[1] ? RU3_MODE_CH12 : on[0] ? RU3_MODE_CH1 : RU3_MODE_CH2;
    error = StatusError(SetMeasureMode(mode), "channels");
  } else if (key == "ch1.range" || key == "ch2.range") {
    const auto ch = static_cast<std::uint32_t>(ChannelOfKey(key));
    const double probe = s.probe[ch - 1];
    if (Word(value, word)) {
      if (word != "auto") return Bad(-224, Named(key) + ": volts or AUTO");
      error = StatusError(SetAutoRanging(ch, 1), "auto-ranging");
    } else if (Number(value, number)) {
      // The smallest range that holds the value asked for; none holds more
      // than the largest.
      const double wanted = number / probe;
      const auto fit = std::find_if(ranges_.begin(), ranges_.end(), [&](double r) { return r >= wanted * 0.9999; });
      if (number <= 0 || fit == ranges_.end()) {
        return Bad(-222, Named(key) + ": above 0, at most " + ru3cli::Quantity(ranges_.back() * probe, "V") +
                             " full scale");
      }
      double range = *fit;
      error = StatusError(SetAutoRanging(ch, 0), "auto-ranging");
      if (!error) error = StatusError(SetSensitivity(ch, &range), Named(key));
    } else {
      return Bad(-104, Named(key) + ": volts or AUTO");
    }
  } else if (key == "ch1.coupling" || key == "ch2.coupling") {
    int code = -1;
    if (Word(value, word)) code = word == "dc" ? RU3_COUPLING_DC : word == "ac" ? RU3_COUPLING_AC : -1;
    else if (Number(value, number) && (number == RU3_COUPLING_DC || number == RU3_COUPLING_AC))
      code = static_cast<int>(number);
    if (code < 0) return Bad(-224, Named(key) + ": DC or AC");
    error = StatusError(SetCoupling(static_cast<std::uint32_t>(ChannelOfKey(key)), static_cast<std::uint32_t>(code)),
                        Named(key));
  } else if (key == "ch1.probe" || key == "ch2.probe") {
    if (!Number(value, number)) return Bad(-104, Named(key) + ": an attenuation factor");
    if (number < 0.001 || number > 10000) return Bad(-222, Named(key) + ": 0.001 to 10000");
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.probe[static_cast<std::size_t>(ChannelOfKey(key) - 1)] = number;
  } else if (key == "rate") {
    if (!Number(value, number)) return Bad(-104, "sample rate: a number in Hz");
    if (number <= 0 || number > max_rate_) {
      return Bad(-222, "sample rate: above 0, at most " + ru3cli::Quantity(max_rate_, "Hz"));
    }
    error = StatusError(SetSampleFrequencyF(&number), "sample rate");
  } else if (key == "timebase.scale") {
    // Ten divisions: the record length as it stands at the rate that spans
    // them (at most the highest), the clock's rate nearest to that as the
    // library writes it back, then the length that spans them at that rate.
    if (!Number(value, number)) return Bad(-104, "time per division: seconds");
    const double span = 10 * number;
    if (span * max_rate_ < 1 || span * kLowestRate > static_cast<double>(max_length_)) {
      return Bad(-222, "time per division: " + ru3cli::Engineering(0.1 / max_rate_, "s") + " to " +
                           ru3cli::Quantity(std::floor(static_cast<double>(max_length_) / kLowestRate / 10), "s"));
    }
    double rate = std::clamp(static_cast<double>(s.length) / span, kLowestRate, max_rate_);
    error = StatusError(SetSampleFrequencyF(&rate), "sample rate");
    rate = GetSampleFrequencyF();
    const long length = std::clamp(std::lround(span * rate), 1L, max_length_);
    if (!error) error = timing(length, s.pre);
  } else if (key == "length" || key == "pre") {
    if (!Number(value, number)) return Bad(-104, (key == "length" ? "record length" : "pre-trigger share") + std::string(": a number"));
    long length = s.length;
    double pre = s.pre;
    if (key == "length") {
      if (number < kShortestRecord || number > static_cast<double>(max_length_) || number != std::floor(number)) {
        return Bad(-222, "record length: a whole number of samples, " + std::to_string(kShortestRecord) + " to " +
                             std::to_string(max_length_));
      }
      length = static_cast<long>(number);
    } else {
      if (number < 0 || number > 1) return Bad(-222, "pre-trigger share: 0 to 1");
      pre = number;
    }
    error = timing(length, pre);
  } else if (key == "average") {
    if (!Number(value, number) || number != std::floor(number)) return Bad(-104, "averages: a whole number");
    if (number < 1 || number > kMostAverages) return Bad(-222, "averages: 1 to " + std::to_string(kMostAverages));
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.averages = static_cast<int>(number);
  } else if (key == "trigger.source") {
    int source = -1;
    if (Word(value, word))
      source = word == "ch1" ? RU3_TRIG_CH1 : word == "ch2" ? RU3_TRIG_CH2 : word == "none" ? RU3_TRIG_NONE : -1;
    else if (Number(value, number) && (number == RU3_TRIG_CH1 || number == RU3_TRIG_CH2 || number == RU3_TRIG_NONE))
      source = static_cast<int>(number);
    if (word == "ext" || word == "external" || (!word.size() && number == RU3_TRIG_EXTERNAL)) {
      return Bad(-221, "trigger source: the RU3 has no external trigger input");
    }
    if (source < 0) return Bad(-224, "trigger source: CH1, CH2 or NONE");
    error = StatusError(SetTriggerSource(static_cast<std::uint32_t>(source)), "trigger source");
    // The level follows to the new channel, limited to its range.
    if (!error && source != RU3_TRIG_NONE) {
      const int ch = ru3cli::TriggerChannelOf(source);
      const auto k = static_cast<std::size_t>(ch - 1);
      const double range = s.range[k];
      (void)SetTriggerLevel(static_cast<std::uint32_t>(ch), std::clamp(s.level, -range, range) / s.probe[k]);
      (void)SetTriggerModeCh(static_cast<std::uint32_t>(ch), static_cast<std::uint32_t>(s.kind));
    }
  } else if (key == "trigger.level") {
    if (!Number(value, number)) return Bad(-104, "trigger level: volts");
    const double range = s.range[static_cast<std::size_t>(trigger_channel - 1)];
    if (std::fabs(number) > range * 1.0000001) {
      return Bad(-222, "trigger level: within the trigger channel's range, +-" + ru3cli::Quantity(range, "V"));
    }
    error = StatusError(SetTriggerLevel(static_cast<std::uint32_t>(trigger_channel),
                                        std::clamp(number, -range, range) / trigger_probe),
                        "trigger level");
  } else if (key == "trigger.hysteresis") {
    if (!Number(value, number)) return Bad(-104, "trigger hysteresis: volts");
    if (number < 0) return Bad(-222, "trigger hysteresis: not negative");
    error = StatusError(SetTriggerHys(static_cast<std::uint32_t>(trigger_channel), number / trigger_probe),
                        "trigger hysteresis");
  } else if (key == "trigger.kind") {
    if (!Number(value, number) || number != std::floor(number)) return Bad(-104, "trigger kind: 0 to 3");
    if (number < RU3_KIND_RISING || number > RU3_KIND_EITHER) return Bad(-222, "trigger kind: 0 to 3");
    error = StatusError(SetTriggerMode(static_cast<std::uint32_t>(number)), "trigger kind");
  } else if (key == "trigger.timeout") {
    std::uint32_t ms = RU3_TIMEOUT_NONE;
    if (Word(value, word)) {
      if (word != "none" && word != "inf" && word != "infinity") return Bad(-224, "trigger time-out: ms or none");
    } else if (Number(value, number) && number == -1) {
    } else if (Number(value, number) && number >= 0 && number <= 3600000 && number == std::floor(number)) {
      ms = static_cast<std::uint32_t>(number);
    } else {
      return Bad(-222, "trigger time-out: 0 to 3600 s, or none");
    }
    error = StatusError(SetTriggerTimeOut(ms), "trigger time-out");
  } else if (key == "dac1" || key == "dac2") {
    const std::string name = key == "dac1" ? "DAC1" : "DAC2";
    if (!Number(value, number)) return Bad(-104, name + ": volts");
    if (number < -10 || number > 10) return Bad(-222, name + ": -10 to +10 V");
    std::array<double, 2> dac = s.dac;
    dac[key == "dac2" ? 1 : 0] = number;
    error = StatusError(SetDAC7394(dac[0], dac[1]), "DAC outputs");
    if (!error) {
      std::lock_guard<std::mutex> lock(mutex_);
      settings_.dac = dac;
    }
    return error;  // the outputs leave the acquisition alone
  } else if (key == "motor1" || key == "motor2") {
    const std::string name = key == "motor1" ? "motor 1" : "motor 2";
    if (!Boolean(value, flag)) return Bad(-104, name + ": ON or OFF");
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
    s.range[k] *= s.probe[k];  // volts at the probe tip
    if (GetAutoRanging(ch, &byte) == RU3_OK) s.autorange[k] = byte != 0;
    if (GetCoupling(ch, &byte) == RU3_OK) s.coupling[k] = byte;
  }
  s.rate = GetSampleFrequencyF();
  s.length = GetRecordLength();
  if (GetTriggerSource(&byte) == RU3_OK) s.source = byte;
  const std::uint32_t trigger_channel = s.source == RU3_TRIG_CH2 ? 2 : 1;
  (void)GetTriggerLevel(trigger_channel, &s.level);
  (void)GetTriggerHys(trigger_channel, &s.hysteresis);
  s.level *= s.probe[trigger_channel - 1];
  s.hysteresis *= s.probe[trigger_channel - 1];
  if (GetTriggerModeCh(trigger_channel, &byte) == RU3_OK) s.kind = byte & 0x7F;
  s.timeout_ms = GetTriggerTimeOut();
  std::lock_guard<std::mutex> lock(mutex_);
  s.pre = settings_.pre;
  s.dac = settings_.dac;
  s.motor = settings_.motor;
  s.state = settings_.state;
  s.probe = settings_.probe;
  s.averages = settings_.averages;
  settings_ = s;
  ++generation_;
  changed_.notify_all();
}

}  // namespace ru3serve
