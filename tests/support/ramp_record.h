// Whole-record check for the load tests: with a slow sawtooth on the input
// every record is a straight ramp with at most one fall-back, so a record
// made of two measurements (or of a measurement and stale data) shows a
// jump at the seam.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace ru3::test {

// Raw codes of `n` samples of a sawtooth rising `slope` codes a sample and
// falling `span` codes once a period. `tolerance` allows for the converter's
// steps. Empty when whole, otherwise what is wrong.
inline std::string RampDefect(const std::uint16_t* codes, int n, double slope, double span, double tolerance) {
  int falls = 0;
  int rises = 0;
  double risen = 0.0;
  for (int i = 1; i < n; ++i) {
    const double step = static_cast<double>(codes[i]) - static_cast<double>(codes[i - 1]);
    if (std::abs(step - slope) <= tolerance) {
      ++rises;
      risen += step;
      continue;
    }
    if (std::abs(step + span - slope) <= 4 * tolerance && ++falls == 1) continue;
    std::ostringstream why;
    why << "step " << step << " at " << i << " (" << codes[i - 1] << " -> " << codes[i] << "), expected " << slope;
    return why.str();
  }
  // The rise over the record is the slope's, not a flat or stuck record.
  if (std::abs(risen - slope * rises) > 0.05 * slope * rises + 2 * tolerance) {
    std::ostringstream why;
    why << "rose " << risen << " over " << rises << " steps, expected " << slope * rises;
    return why.str();
  }
  return {};
}

}  // namespace ru3::test
