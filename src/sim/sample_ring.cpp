#include "sim/sample_ring.h"

#include <cfenv>
#include <cmath>

#include "sim/signals.h"

namespace ru3::sim {

namespace {

// Conditions kept at most before every pending cell is converted and the
// list starts afresh (each front-end or signal change while a record runs
// adds one).
constexpr std::size_t kMaxConditions = 256;

// The conversion runs in round-to-nearest whoever reads the cell: the
// library reads it in its own environment, a test bench perhaps in the
// host's.
class NearestRounding {
 public:
  NearestRounding() : saved_(std::fegetround()) {
    if (saved_ != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  }
  ~NearestRounding() {
    if (saved_ != FE_TONEAREST) std::fesetround(saved_);
  }
  NearestRounding(const NearestRounding&) = delete;
  NearestRounding& operator=(const NearestRounding&) = delete;

 private:
  int saved_;
};

bool SameSource(const SignalSource& a, const SignalSource& b) {
  return a.shape == b.shape && a.amplitude == b.amplitude && a.frequency == b.frequency && a.offset == b.offset &&
         a.noise_rms == b.noise_rms;
}

}  // namespace

std::uint16_t ConverterCode(const FrontEnd::Transfer& t, const SignalSource& s, int ch, std::uint64_t t_ns,
                            std::uint64_t seed) {
  double volts = 0.0;
  if (t.codes_per_volt != 0.0) {
    volts = SignalValue(s, t_ns, ch, seed);
    if (!t.dc) volts -= SignalMean(s);
  }
  const double code = std::floor(2048.0 + t.codes_per_volt * volts + t.offset_codes + 0.5);
  if (!(code > 0.0)) return 0;  // also NaN
  if (code > 4095.0) return 4095;
  return static_cast<std::uint16_t>(code);
}

SampleRing::SampleRing() : pending_(kSize, 0), time_(kSize, 0) {
  for (auto& values : values_) values.assign(kSize, 0x800);
  // Measuring allocates nothing, in the simulator either.
  conditions_.reserve(kMaxConditions);
}

bool SampleRing::Same(const InputConditions& a, const InputConditions& b) {
  for (std::size_t ch = 0; ch < 2; ++ch) {
    const FrontEnd::Transfer& x = a.transfer[ch];
    const FrontEnd::Transfer& y = b.transfer[ch];
    if (x.codes_per_volt != y.codes_per_volt || x.offset_codes != y.offset_codes || x.dc != y.dc) return false;
    if (!SameSource(a.source[ch], b.source[ch])) return false;
  }
  return a.seed == b.seed;
}

std::uint16_t SampleRing::Conditions(const InputConditions& conditions) {
  if (conditions_.empty() || !Same(conditions_.back(), conditions)) {
    if (conditions_.size() >= kMaxConditions) {
      ConvertAll();
      conditions_.clear();
    }
    conditions_.push_back(conditions);
  }
  return static_cast<std::uint16_t>(conditions_.size());
}

void SampleRing::Convert(std::size_t address) const {
  const NearestRounding rounding;
  const InputConditions& conditions = conditions_[pending_[address] - 1u];
  for (std::size_t ch = 0; ch < 2; ++ch) {
    values_[ch][address] =
        ConverterCode(conditions.transfer[ch], conditions.source[ch], static_cast<int>(ch), time_[address], conditions.seed);
  }
  pending_[address] = 0;
}

void SampleRing::ConvertAll() const {
  for (std::size_t address = 0; address < static_cast<std::size_t>(kSize); ++address) {
    if (pending_[address] != 0) Convert(address);
  }
}

}  // namespace ru3::sim
