// The pulse figures a scope measures on a record: top and base levels (the
// most common value of the upper and lower half of the samples), amplitude,
// and the timing of the edges between them: period, rise and fall time
// (10 % to 90 % of the amplitude), positive and negative width and duty cycle
// (at 50 %). A figure the record does not give is NaN.
#pragma once

#include <vector>

namespace ru3serve {

struct Figures {
  double top, base, amplitude;  // volts
  double period, rise, fall;    // seconds
  double positive_width, negative_width;
  double duty;  // percent of the period the signal is high
};

// `volts` holds NaN at positions without a sample; a gap breaks an edge.
Figures MeasureFigures(const std::vector<double>& volts, double sample_rate);

}  // namespace ru3serve
