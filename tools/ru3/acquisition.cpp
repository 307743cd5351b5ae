#include "acquisition.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "failure.h"
#include "format.h"
#include "ru3/ru3.h"
#include "session.h"

namespace ru3cli {

namespace {

// The sample clock: 400 kHz divided by a prescaler and a 16-bit divider of at
// least 2. Below 100 kHz the prescaler follows from the rate (the bands of
// the instrument's clock programming); above it the instrument makes 200 kHz,
// and 400 kHz on the fast model.
constexpr double kBaseClock = 400000.0;
constexpr double kLowestRate = kBaseClock / 1024.0 / 65535.0;
constexpr double kHighestDividedRate = 100000.0;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "a" or "a,b": the value for channel 1 and channel 2.
std::array<std::string, 2> PerChannel(const std::string& option, const std::string& text) {
  const auto comma = text.find(',');
  if (comma == std::string::npos) return {text, text};
  if (text.find(',', comma + 1) != std::string::npos) {
    throw Failure(option + " " + text + ": one value too many (one for both channels, or CH1,CH2)", kExitUsage);
  }
  return {text.substr(0, comma), text.substr(comma + 1)};
}

long ParseWhole(const std::string& option, const std::string& text) {
  const double value = ParseNumber(option, text);
  if (value != std::floor(value) || std::fabs(value) > 1e9) {
    throw Failure(option + " \"" + text + "\" is not a whole number", kExitUsage);
  }
  return static_cast<long>(value);
}

// Volts with an optional unit: "2", "2V", "2 V", "200mV".
double ParseVolts(const std::string& option, const std::string& text) {
  std::string number = text;
  double scale = 1;
  const std::string lower = Lower(text);
  if (lower.size() > 2 && lower.compare(lower.size() - 2, 2, "mv") == 0) {
    number = text.substr(0, text.size() - 2);
    scale = 1e-3;
  } else if (lower.size() > 1 && lower.back() == 'v') {
    number = text.substr(0, text.size() - 1);
  }
  while (!number.empty() && number.back() == ' ') number.pop_back();
  return ParseNumber(option, number) * scale;
}

// A name from `names` (its index is the code) or the code itself.
int ParseNamed(const std::string& option, const std::string& text, const std::vector<std::string>& names) {
  const std::string lower = Lower(text);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (lower == names[i]) return static_cast<int>(i);
  }
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) list += (i ? ", " : "") + names[i] + " (" + std::to_string(i) + ")";
  const char* begin = text.c_str();
  char* end = nullptr;
  const long code = std::strtol(begin, &end, 10);
  if (text.empty() || *end != '\0' || code < 0 || code >= static_cast<long>(names.size())) {
    throw Failure(option + " \"" + text + "\": expected " + list, kExitUsage);
  }
  return static_cast<int>(code);
}

std::string Volts(double v) { return Quantity(v, "V"); }

}  // namespace

bool Acquisition::Measures(int channel) const {
  return std::find(channels.begin(), channels.end(), channel) != channels.end();
}

std::vector<int> Acquisition::AutoRanged() const {
  std::vector<int> list;
  for (int ch = 1; ch <= 2; ++ch) {
    if (!range[static_cast<std::size_t>(ch - 1)] && (Measures(ch) || TriggerChannel() == ch)) list.push_back(ch);
  }
  return list;
}

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
  command.add_option("--channels", o.channels, "channels to measure: 1, 2 or 12")
      ->type_name("1|2|12")
      ->capture_default_str();
  command
      .add_option("--rate", o.rate,
                  "sample rate in Hz; the instrument takes the nearest it makes (default: its highest)")
      ->type_name("HZ");
  command.add_option("--length", o.length, "record length in samples per channel, 1 to 32760 (default 512)")
      ->type_name("SAMPLES");
  command
      .add_option("--pre", o.pre, "share of the record before the trigger, 0 to 1 (default 0.5; 0 with --trigger none)")
      ->type_name("SHARE");
  command.add_option("--range", o.range, "input range, volts full scale (2, 2V, 200mV) or auto; V1,V2 per channel")
      ->type_name("V|auto")
      ->capture_default_str();
  command.add_option("--coupling", o.coupling, "input coupling dc or ac (0 or 1); C1,C2 per channel (default dc)")
      ->type_name("dc|ac");
  command.add_option("--trigger", o.trigger, "trigger source: ch1, ch2 or none (free-running)")
      ->type_name("ch1|ch2|none")
      ->capture_default_str();
  command.add_option("--level", o.level, "trigger level in volts (default 0)")->type_name("V");
  command.add_option("--hysteresis", o.hysteresis, "trigger hysteresis in volts (default: the instrument's)")
      ->type_name("V");
  command.add_option("--kind", o.kind, "trigger kind: rising, falling, falling-below or either (0..3; default rising)")
      ->type_name("KIND");
  command.add_option("--timeout", o.timeout, "force the trigger after MS milliseconds, or none (default 1000)")
      ->type_name("MS|none");
  command.add_flag("--no-full-pretrigger", o.no_full_pretrigger,
                   "let the trigger fire before the pre-trigger part is sampled (the record then starts with no samples)");
}

Acquisition ParseAcquisition(const AcquisitionOptions& o) {
  Acquisition a;
  a.full_pretrigger = !o.no_full_pretrigger;
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
      throw Failure("--rate " + o.rate + ": the slowest sample rate is " + Quantity(kLowestRate, "Hz", 4), kExitUsage);
    }
    a.rate = rate;
  }
  if (!o.length.empty()) {
    a.length = ParseWhole("--length", o.length);
    if (*a.length < 1) throw Failure("--length " + o.length + ": a record has at least 1 sample", kExitUsage);
  }
  const std::string trigger = Lower(o.trigger);
  if (trigger == "ch1" || trigger == "1") {
    a.trigger_source = RU3_TRIG_CH1;
  } else if (trigger == "ch2" || trigger == "2") {
    a.trigger_source = RU3_TRIG_CH2;
  } else if (trigger == "none" || trigger == "free") {
    a.trigger_source = RU3_TRIG_NONE;
    // Free-running, the record starts when the instrument is armed: nothing
    // comes before it.
    a.pre_share = 0;
    for (const auto& [name, value] : {std::pair<const char*, const std::string&>{"--level", o.level},
                                      {"--hysteresis", o.hysteresis},
                                      {"--kind", o.kind},
                                      {"--timeout", o.timeout}}) {
      if (!value.empty()) throw Failure(std::string(name) + " has no use with --trigger none", kExitUsage);
    }
  } else {
    throw Failure("--trigger \"" + o.trigger + "\": expected ch1, ch2 or none", kExitUsage);
  }
  if (!o.pre.empty()) {
    a.pre_share = ParseNumber("--pre", o.pre);
    if (a.pre_share < 0 || a.pre_share > 1)
      throw Failure("--pre " + o.pre + ": expected a share from 0 to 1", kExitUsage);
  }
  const auto ranges = PerChannel("--range", o.range);
  for (std::size_t i = 0; i < 2; ++i) {
    if (Lower(ranges[i]) == "auto") continue;
    a.range[i] = ParseVolts("--range", ranges[i]);
    if (*a.range[i] <= 0) throw Failure("--range " + o.range + ": a range is a positive number of volts", kExitUsage);
  }
  // --coupling and --kind take the names in the order of their codes.
  static_assert(RU3_COUPLING_DC == 0 && RU3_COUPLING_AC == 1);
  static_assert(RU3_KIND_RISING == 0 && RU3_KIND_FALLING == 1 && RU3_KIND_FALLING_BELOW == 2 && RU3_KIND_EITHER == 3);
  if (!o.coupling.empty()) {
    const auto codes = PerChannel("--coupling", o.coupling);
    for (std::size_t i = 0; i < 2; ++i) a.coupling[i] = ParseNamed("--coupling", codes[i], {"dc", "ac"});
  }
  if (!o.level.empty()) a.level = ParseVolts("--level", o.level);
  if (!o.hysteresis.empty()) {
    a.hysteresis = ParseVolts("--hysteresis", o.hysteresis);
    if (*a.hysteresis < 0) throw Failure("--hysteresis " + o.hysteresis + ": must not be negative", kExitUsage);
  }
  if (!o.kind.empty()) a.kind = ParseNamed("--kind", o.kind, {"rising", "falling", "falling-below", "either"});
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

double NearestRate(double wanted, double max_rate) {
  if (wanted > kHighestDividedRate) {
    // Between the divided rates and the undivided ones nothing is made.
    double best = kHighestDividedRate;
    for (double candidate : {200000.0, 400000.0}) {
      if (candidate <= max_rate && std::fabs(candidate - wanted) < std::fabs(best - wanted)) best = candidate;
    }
    return best;
  }
  // The prescaler of this rate's band, then the nearer of the two dividers
  // around it.
  static constexpr std::array<std::pair<double, double>, 7> kBands = {
      {{10.0 / 64, 1024}, {10.0 / 32, 64}, {10.0 / 16, 32}, {10.0 / 8, 16}, {10.0 / 4, 8}, {10.0 / 2, 4}, {10.0, 2}}};
  double prescaler = 1;
  for (const auto& [below, p] : kBands) {
    if (wanted < below) {
      prescaler = p;
      break;
    }
  }
  const double clock = kBaseClock / prescaler;
  const double divider = std::clamp(std::floor(clock / wanted), 2.0, 65535.0);
  const double upper = clock / divider;
  const double lower = clock / std::min(divider + 1, 65535.0);
  return std::fabs(upper - wanted) <= std::fabs(wanted - lower) ? upper : lower;
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

void ApplyTiming(const Acquisition& a) {
  // No channels: the measure mode stays as it is.
  if (!a.channels.empty()) {
    const std::uint32_t mode = a.channels.size() == 2    ? RU3_MODE_CH12
                               : a.channels.front() == 1 ? RU3_MODE_CH1
                                                         : RU3_MODE_CH2;
    Check(SetMeasureMode(mode), "setting the channels");
  }
  if (a.rate) {
    const double max = GetMaxSampleFrequencyF();
    if (*a.rate > max) {
      throw Failure("--rate " + Quantity(*a.rate, "Hz") + ": above the instrument's maximum of " + Quantity(max, "Hz"),
                    kExitUsage);
    }
    double rate = NearestRate(*a.rate, max);
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
}

void ApplyAcquisition(const Acquisition& a) {
  ApplyTiming(a);
  Check(Ext_SetFullPreTrigger(a.full_pretrigger ? 1 : 0), "switching full pre-trigger");
  const std::vector<double> available = AvailableRanges();
  for (int ch = 1; ch <= 2; ++ch) {
    // The tool settles auto ranges itself (capture.h): the library's own
    // auto-ranging stays off, so that no range changes under a record.
    Check(SetAutoRanging(static_cast<std::uint32_t>(ch), 0), "switching auto-ranging off");
    const auto& wanted = a.range[static_cast<std::size_t>(ch - 1)];
    double range = available.back();
    if (wanted) {
      // The smallest range that holds the value; none holds more than the largest.
      const auto match = std::find_if(available.begin(), available.end(),
                                      [&](double r) { return *wanted <= r * (1 + 1e-9); });
      if (match == available.end()) {
        std::string list;
        for (double r : available) list += (list.empty() ? "" : ", ") + Volts(r);
        throw Failure("--range " + Volts(*wanted) + ": beyond the instrument's largest range (it has " + list + ")",
                      kExitUsage);
      }
      range = *match;
    }
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
  if (a.range[static_cast<std::size_t>(ch - 1)] && std::fabs(a.level) > range) {
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

}  // namespace ru3cli
