// One measured record as the tool passes it between capture, CSV, plot and
// summary: volts per channel on a time axis that is 0 at the trigger.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ru3cli {

struct Channel {
  int number = 1;             // 1 or 2
  double range = 0;           // full scale in volts
  std::vector<double> volts;  // NaN where the record received no sample
  std::size_t clipped = 0;    // samples at the ends of the range: the input went beyond it
};

struct Trigger {
  std::string source;  // "CH1", "CH2" or "none"
  int channel = 0;     // 1 or 2 when the source is a channel, else 0
  double level = 0;    // volts, on the trigger channel's scale
  double hysteresis = 0;
  int kind = 0;
  bool forced = false;   // no trigger came: forced after the time-out
  long timeout_ms = -1;  // the time-out it was forced after
};

struct Record {
  double sample_rate = 0;  // Hz, as the instrument produces it
  long pre_samples = 0;    // samples before the trigger: sample i is at (i - pre) / rate
  std::vector<Channel> channels;
  Trigger trigger;
  int averaged = 1;       // number of measurements averaged into this record
  double asked_rate = 0;  // Hz, the rate asked for when given (the instrument makes the nearest)
  double largest_range = 0;  // volts, the instrument's largest input range (0: unknown)

  std::size_t length() const { return channels.empty() ? 0 : channels.front().volts.size(); }
  double TimeOf(std::size_t i) const {
    return (static_cast<double>(i) - static_cast<double>(pre_samples)) / sample_rate;
  }
};

// Summary of one channel of a record.
struct ChannelSummary {
  std::size_t samples = 0;  // positions that hold a sample
  std::size_t missing = 0;  // positions without one
  double min = 0, max = 0, mean = 0, rms = 0, peak_to_peak = 0;
  std::optional<double> frequency;  // Hz, when at least one even period is seen
  // The frequency is close to the Nyquist rate (under 5 samples a period) or
  // its periods are uneven: the signal may be aliased.
  bool may_alias = false;
};

ChannelSummary Summarise(const std::vector<double>& volts, double sample_rate);

// Positions without a sample at the start of the record: the trigger came
// before the instrument had sampled the pre-trigger share.
std::size_t LeadingGap(const Record& record);

// Sample-by-sample mean of records of the same shape; a position is the mean
// of the records that have a sample there.
Record Average(const std::vector<Record>& records);

}  // namespace ru3cli
