#include "record.h"

#include <algorithm>
#include <cmath>

namespace ru3cli {

namespace {

// Periods of a periodic signal vary by less than this share of their mean;
// noise gives far more.
constexpr double kEvenPeriods = 0.25;
// Periods this uneven, or fewer samples a period than this, and the signal
// may be aliased.
constexpr double kAliasPeriods = 0.1;
constexpr double kAliasSamples = 5;

// The sample at share `q` of the sorted samples (NaN left out).
double Percentile(std::vector<double> sorted, double q) {
  const auto k = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1));
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(k), sorted.end());
  return sorted[k];
}

// The frequency from rising passes through a Schmitt trigger: armed below
// the middle of the signal's span less a quarter of the span, counted when
// it rises above the middle plus a quarter (the pass interpolated between
// samples). The span runs from the 2nd to the 98th percentile, so that noise
// peaks do not set it. Periods that vary widely are no frequency (noise); a
// gap without samples disarms.
std::optional<double> Frequency(const std::vector<double>& volts, double sample_rate, bool& may_alias) {
  may_alias = false;
  std::vector<double> samples;
  samples.reserve(volts.size());
  for (double v : volts) {
    if (!std::isnan(v)) samples.push_back(v);
  }
  if (samples.size() < 3 || sample_rate <= 0) return std::nullopt;
  const double low = Percentile(samples, 0.02), high = Percentile(samples, 0.98);
  if (high <= low) return std::nullopt;
  const double mid = (low + high) / 2, band = (high - low) / 4;
  const double upper = mid + band;
  std::vector<double> passes;
  bool armed = false;
  for (std::size_t i = 1; i < volts.size(); ++i) {
    const double a = volts[i - 1], b = volts[i];
    if (std::isnan(a) || std::isnan(b)) {
      armed = false;
      continue;
    }
    if (a < mid - band) armed = true;
    if (armed && a < upper && b >= upper) {
      passes.push_back(static_cast<double>(i - 1) + (upper - a) / (b - a));
      armed = false;
    }
  }
  if (passes.size() < 2) return std::nullopt;
  double sum = 0, squares = 0;
  const double n = static_cast<double>(passes.size() - 1);
  for (std::size_t k = 1; k < passes.size(); ++k) {
    const double period = passes[k] - passes[k - 1];
    sum += period;
    squares += period * period;
  }
  const double mean = sum / n;
  const double spread = std::sqrt(std::max(squares / n - mean * mean, 0.0)) / mean;
  if (spread > kEvenPeriods) return std::nullopt;
  may_alias = spread > kAliasPeriods || mean < kAliasSamples;
  return sample_rate / mean;
}

}  // namespace

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

  s.frequency = Frequency(volts, sample_rate, s.may_alias);
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
