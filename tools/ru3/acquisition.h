// Acquisition settings from the command line: the options, their checks
// (those that need no instrument first, then against the instrument's
// ranges and clock), the sample rates the instrument can make, and setting
// it all up on the open instrument.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "ru3/ru3.h"

namespace CLI {
class App;
}

namespace ru3cli {

// The options as typed; every value is checked by ParseAcquisition.
struct AcquisitionOptions {
  std::string channels = "12";
  std::string rate, length, pre, range = "auto", coupling, trigger = "ch1", level, hysteresis, kind, timeout;
  bool no_full_pretrigger = false;
};

// Adds the acquisition options to a command.
void AddAcquisitionOptions(CLI::App& command, AcquisitionOptions& options);

// The channel a trigger source ordinal triggers on: 1 or 2, 0 for RU3_TRIG_NONE.
inline int TriggerChannelOf(int source) {
  return source == RU3_TRIG_CH1 ? 1 : source == RU3_TRIG_CH2 ? 2 : 0;
}

struct Acquisition {
  std::vector<int> channels;                   // measured channels, 1 and/or 2
  std::optional<double> rate;                  // Hz, as asked
  std::optional<long> length;                  // samples per channel
  double pre_share = 0.5;                      // share of the record before the trigger
  std::array<std::optional<double>, 2> range;  // volts full scale, nullopt = auto-ranging
  std::array<std::optional<int>, 2> coupling;
  int trigger_source = RU3_TRIG_CH1;  // RU3_TRIG_CH1, RU3_TRIG_CH2 or RU3_TRIG_NONE
  double level = 0;                  // volts
  std::optional<double> hysteresis;  // volts
  std::optional<int> kind;          // RU3_KIND_ code
  std::optional<long> timeout_ms;  // -1 = wait for ever
  bool full_pretrigger = true;     // the trigger held off until the pre-trigger part is sampled

  int TriggerChannel() const { return TriggerChannelOf(trigger_source); }
  bool Measures(int channel) const;
  // The channels whose range the tool settles: the measured ones and the
  // trigger channel, where the range is auto.
  std::vector<int> AutoRanged() const;
};

// Checks the values that need no instrument; throws a usage Failure.
Acquisition ParseAcquisition(const AcquisitionOptions& options);

// A number from an option's text; throws a usage Failure naming the option.
double ParseNumber(const std::string& option, const std::string& text);

// The sample rate nearest to `wanted` that the instrument makes, given its
// highest rate (200000 or 400000 Hz). `wanted` is at least the lowest rate.
// The tool's own choice for --rate, not the library's write-back: the
// library rounds the divider rather than the rate, and makes 200000 Hz of
// any rate above 100001 Hz and below 400000 Hz (120000 asked gives
// 100000 Hz here, 200000 Hz there). The library is then given the rate
// chosen, which its clock makes as it is.
double NearestRate(double wanted, double max_rate);

// The instrument's input ranges, smallest first.
std::vector<double> AvailableRanges();

// The range of a channel as the instrument has it now.
double RangeOf(int channel);

// Sets the acquisition up on the open instrument: a range is the smallest
// the instrument has that holds the value; refuses (Failure) a range beyond
// the largest and a rate beyond its clock.
// Auto-ranged channels are left on the largest range (SettleRanges in
// capture.h chooses theirs).
void ApplyAcquisition(const Acquisition& acquisition);

// Channels (when any), sample rate, record length and post-trigger samples alone.
void ApplyTiming(const Acquisition& acquisition);

// Sets the trigger level and hysteresis in volts on the trigger channel's
// current range (levels beyond the range are limited to it).
void ApplyTriggerLevel(const Acquisition& acquisition);

}  // namespace ru3cli
