// The pulse figures of a record. Levels by histogram: 64 bins between the
// smallest and largest sample; the top is the mean of the samples in the
// fullest bin of the upper half, the base likewise in the lower half (a
// square wave's flat levels, a sine's turning points). Edges: a sample below
// 10 % of the amplitude is low, one above 90 % high, the others keep the
// state; a change of state is an edge, timed by linear interpolation of the
// crossings between the last sample of one state and the first of the other.
// Period and widths are the means over every complete one in the record.
#include "measure.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace ru3serve {
namespace {

constexpr int kBins = 64;
constexpr double kNaN = NAN;

struct Edge {
  bool rising;
  double start, middle, end;  // sample positions of the 10/90 %, 50 % and 90/10 % crossings
};

// Where `level` is crossed between positions i and i + 1 (values a, b).
double Crossing(double a, double b, std::size_t i, double level) {
  return static_cast<double>(i) + (b == a ? 0.5 : (level - a) / (b - a));
}

// The first crossing of `level` between positions from and to.
double FirstCrossing(const std::vector<double>& v, std::size_t from, std::size_t to, double level, bool rising) {
  for (std::size_t i = from; i < to; ++i) {
    const bool crosses = rising ? v[i] < level && v[i + 1] >= level : v[i] > level && v[i + 1] <= level;
    if (crosses) return Crossing(v[i], v[i + 1], i, level);
  }
  return Crossing(v[from], v[to], from, level);
}

// The mean of the samples in the fullest of bins [first, last).
double Level(const std::vector<double>& v, double lo, double width, int first, int last) {
  std::vector<std::size_t> count(kBins, 0);
  std::vector<double> sum(kBins, 0);
  for (double x : v) {
    if (std::isnan(x)) continue;
    const int bin = std::clamp(static_cast<int>((x - lo) / width), 0, kBins - 1);
    ++count[static_cast<std::size_t>(bin)];
    sum[static_cast<std::size_t>(bin)] += x;
  }
  int best = first;
  for (int b = first; b < last; ++b) {
    if (count[static_cast<std::size_t>(b)] > count[static_cast<std::size_t>(best)]) best = b;
  }
  const auto k = static_cast<std::size_t>(best);
  return count[k] ? sum[k] / static_cast<double>(count[k]) : kNaN;
}

}  // namespace

Figures MeasureFigures(const std::vector<double>& v, double rate) {
  Figures f{kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
  double lo = INFINITY, hi = -INFINITY;
  for (double x : v) {
    if (std::isnan(x)) continue;
    lo = std::min(lo, x);
    hi = std::max(hi, x);
  }
  if (lo > hi) return f;  // no sample at all
  if (hi == lo) {
    f.top = f.base = hi;
    f.amplitude = 0;
    return f;
  }
  const double width = (hi - lo) / kBins;
  f.top = Level(v, lo, width, kBins / 2, kBins);
  f.base = Level(v, lo, width, 0, kBins / 2);
  f.amplitude = f.top - f.base;
  if (!(f.amplitude > 0) || !(rate > 0)) return f;

  const double low = f.base + 0.1 * f.amplitude, middle = f.base + 0.5 * f.amplitude, high = f.base + 0.9 * f.amplitude;
  std::vector<Edge> edges;
  int state = 0;  // -1 low, +1 high, 0 not known (start, or after a gap)
  std::size_t last = 0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (std::isnan(v[i])) {
      state = 0;
      continue;
    }
    const int now = v[i] < low ? -1 : v[i] > high ? 1 : 0;
    if (now == 0) continue;
    if (state == -now) {
      const bool rising = now > 0;
      edges.push_back({rising, FirstCrossing(v, last, i, rising ? low : high, rising),
                       FirstCrossing(v, last, i, middle, rising),
                       FirstCrossing(v, last, i, rising ? high : low, rising)});
    }
    state = now;
    last = i;
  }
  const double dt = 1 / rate;
  for (const Edge& e : edges) {
    double& figure = e.rising ? f.rise : f.fall;
    if (std::isnan(figure)) figure = (e.end - e.start) * dt;
  }
  // Period from the rising edges; widths from each pair of neighbours.
  std::vector<double> rises;
  double high_sum = 0, low_sum = 0;
  int highs = 0, lows = 0;
  for (std::size_t k = 0; k < edges.size(); ++k) {
    if (edges[k].rising) rises.push_back(edges[k].middle);
    if (k + 1 < edges.size()) {
      const double span = (edges[k + 1].middle - edges[k].middle) * dt;
      if (edges[k].rising)
        high_sum += span, ++highs;
      else
        low_sum += span, ++lows;
    }
  }
  if (rises.size() >= 2) f.period = (rises.back() - rises.front()) * dt / static_cast<double>(rises.size() - 1);
  if (highs) f.positive_width = high_sum / highs;
  if (lows) f.negative_width = low_sum / lows;
  if (std::isfinite(f.period) && std::isfinite(f.positive_width)) f.duty = 100 * f.positive_width / f.period;
  return f;
}

}  // namespace ru3serve
