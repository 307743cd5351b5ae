// The signals applied to the simulated instrument's inputs.
#pragma once

#include <cstdint>

#include "sim/simulator.h"

namespace ru3::sim {

// Volts of `source` at simulated time t_ns on input `channel` (0 or 1),
// including its added noise. Noise comes from a hash of seed, channel and
// time, so the same instant always gives the same value.
double SignalValue(const SignalSource& source, std::uint64_t t_ns, int channel, std::uint64_t seed);

// The signal's mean, which AC coupling removes.
double SignalMean(const SignalSource& source);

// A standard normal deviate for (seed, channel, t_ns, stream).
double Gaussian(std::uint64_t seed, int channel, std::uint64_t t_ns, int stream);

}  // namespace ru3::sim
