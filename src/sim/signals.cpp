#include "sim/signals.h"

#include <cmath>
#include <numbers>

namespace ru3::sim {

namespace {

std::uint64_t Mix(std::uint64_t x) {
  // splitmix64 finaliser: a good 64-bit hash for counter-based noise.
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// Fraction of a cycle at t_ns, computed so that long run times keep their
// precision: the whole cycles of the integer seconds are dropped first.
double Phase(double frequency, std::uint64_t t_ns) {
  const auto seconds = static_cast<double>(t_ns / 1'000'000'000ULL);
  const double rest = static_cast<double>(t_ns % 1'000'000'000ULL) * 1e-9;
  const double whole = frequency * seconds;
  double cycles = (whole - std::floor(whole)) + frequency * rest;
  cycles -= std::floor(cycles);
  return cycles;
}

}  // namespace

double Gaussian(std::uint64_t seed, int channel, std::uint64_t t_ns, int stream) {
  const std::uint64_t h1 = Mix(seed ^ Mix(t_ns ^ (static_cast<std::uint64_t>(channel * 4 + stream) << 56)));
  const std::uint64_t h2 = Mix(h1);
  // Box-Muller from two 53-bit uniforms; u1 in (0, 1].
  const double u1 = (static_cast<double>(h1 >> 11) + 1.0) * 0x1.0p-53;
  const double u2 = static_cast<double>(h2 >> 11) * 0x1.0p-53;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

double SignalMean(const SignalSource& source) {
  return source.shape == Shape::kDc ? source.offset + source.amplitude : source.offset;
}

double SignalValue(const SignalSource& source, std::uint64_t t_ns, int channel, std::uint64_t seed) {
  double wave = 0.0;
  switch (source.shape) {
    case Shape::kSine:
      wave = std::sin(2.0 * std::numbers::pi * Phase(source.frequency, t_ns));
      break;
    case Shape::kSquare:
      wave = Phase(source.frequency, t_ns) < 0.5 ? 1.0 : -1.0;
      break;
    case Shape::kTriangle: {
      const double p = Phase(source.frequency, t_ns);
      wave = p < 0.25 ? 4.0 * p : (p < 0.75 ? 2.0 - 4.0 * p : 4.0 * p - 4.0);
      break;
    }
    case Shape::kSawtooth: {
      double p = Phase(source.frequency, t_ns) + 0.5;
      if (p >= 1.0) p -= 1.0;
      wave = 2.0 * p - 1.0;
      break;
    }
    case Shape::kDc:
      wave = 1.0;
      break;
    case Shape::kNoise:
      wave = Gaussian(seed, channel, t_ns, 0);
      break;
  }
  double v = source.offset + source.amplitude * wave;
  if (source.noise_rms != 0.0) v += source.noise_rms * Gaussian(seed, channel, t_ns, 1);
  return v;
}

}  // namespace ru3::sim
