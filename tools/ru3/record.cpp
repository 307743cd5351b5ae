#include "record.h"

#include <algorithm>
#include <cmath>

namespace ru3cli {

ChannelSummary Summarise(const std::vector<double>& volts, double sample_rate) {
  ChannelSummary s;
  double sum = 0, squares = 0;
  bool first = true;
  for (double v : volts) {
    if (std::isnan(v)) {
      ++s.missing;
      continue;
    }
    ++s.samples;
    sum += v;
    squares += v * v;
    s.min = first ? v : std::min(s.min, v);
    s.max = first ? v : std::max(s.max, v);
    first = false;
  }
  if (s.samples == 0) return s;
  s.peak_to_peak = s.max - s.min;
  const double n = static_cast<double>(s.samples);
  s.mean = sum / n;
  s.rms = std::sqrt(squares / n);

  // Frequency from rising crossings of the mid level, with a hysteresis of a
  // tenth of the peak-to-peak value against noise; crossing times are
  // interpolated between samples. A gap without samples disarms.
  if (s.peak_to_peak <= 0 || sample_rate <= 0) return s;
  const double mid = (s.max + s.min) / 2;
  const double band = s.peak_to_peak / 10;
  bool armed = false;
  double first_crossing = -1, last_crossing = -1;
  int crossings = 0;
  for (std::size_t i = 1; i < volts.size(); ++i) {
    const double a = volts[i - 1], b = volts[i];
    if (std::isnan(a) || std::isnan(b)) {
      armed = false;
      continue;
    }
    if (b < mid - band) armed = true;
    if (armed && a < mid && b >= mid) {
      const double t = static_cast<double>(i - 1) + (mid - a) / (b - a);
      if (crossings == 0) first_crossing = t;
      last_crossing = t;
      ++crossings;
      armed = false;
    }
  }
  if (crossings >= 2 && last_crossing > first_crossing) {
    s.frequency = (crossings - 1) * sample_rate / (last_crossing - first_crossing);
  }
  return s;
}

std::size_t LeadingGap(const Record& record) {
  std::size_t gap = 0;
  while (gap < record.length()) {
    bool missing = true;
    for (const Channel& ch : record.channels) missing = missing && std::isnan(ch.volts[gap]);
    if (!missing) break;
    ++gap;
  }
  return gap;
}

Record Average(const std::vector<Record>& records) {
  Record mean = records.front();
  for (std::size_t c = 0; c < mean.channels.size(); ++c) {
    std::vector<double>& out = mean.channels[c].volts;
    for (std::size_t i = 0; i < out.size(); ++i) {
      double sum = 0;
      int count = 0;
      for (const Record& r : records) {
        const double v = r.channels[c].volts[i];
        if (std::isnan(v)) continue;
        sum += v;
        ++count;
      }
      out[i] = count > 0 ? sum / count : std::nan("");
    }
  }
  mean.averaged = static_cast<int>(records.size());
  for (std::size_t c = 0; c < mean.channels.size(); ++c) {
    mean.channels[c].clipped = 0;
    for (const Record& r : records)
      mean.channels[c].clipped = std::max(mean.channels[c].clipped, r.channels[c].clipped);
  }
  for (const Record& r : records) mean.trigger.forced = mean.trigger.forced || r.trigger.forced;
  return mean;
}

}  // namespace ru3cli
