#include "sim/front_end.h"

#include <algorithm>
#include <cmath>

namespace ru3::sim {

namespace {

constexpr std::array<double, kRangeCount> kNominalFullScale = {0.1, 0.2, 0.4, 0.8, 2.0, 4.0, 8.0, 20.0, 40.0, 80.0};
constexpr std::array<double, 3> kGroupFullScale = {0.8, 8.0, 80.0};  // attenuator groups at unity gain

// Analog imperfections of one channel; everything the factory calibration
// has to cancel.
struct ChannelErrors {
  std::array<double, 3> attenuator;  // relative gain error per group
  double gain_per_octave;            // amplifier gain error per doubling of the gain
  std::array<double, 3> input_offset;  // per group, fraction of full scale before the amplifier
  double output_offset;                // fraction of full scale at the converter input
};
constexpr std::array<ChannelErrors, 2> kErrors = {{
    {{0.018, -0.026, 0.031}, 0.006, {0.0015, -0.0021, 0.0012}, -0.009},
    {{-0.014, 0.022, -0.033}, -0.005, {-0.0018, 0.0011, -0.0016}, 0.007},
}};

// Trims and offset converter: gain trim +-2 % over 0..255, offset trim +-1 %
// of full scale, offset code +-12.5 % of full scale around 0x2000.
constexpr double kTrimGainSpan = 0.02;
constexpr double kTrimOffsetSpan = 0.01;
constexpr double kOffsetCodeSpan = 0.125;
constexpr int kMidScale = 0x2000;
constexpr std::size_t kWordHistory = 64;

int RangeGroup(int range) { return range <= 4 ? 0 : (range <= 7 ? 1 : 2); }

double AmplifierGain(int ch, double p) {
  if (p <= 0.0) return 0.0;
  const double nominal = p / 1024.0;
  return nominal * std::max(0.0, 1.0 + kErrors[ch].gain_per_octave * std::log2(nominal));
}
double TrimGain(int a) { return 1.0 + (a - 128) * (kTrimGainSpan / 128.0); }
double TrimOffset(int b) { return (b - 128) * (kTrimOffsetSpan / 128.0); }
double OffsetInjection(int v) { return (v - kMidScale) * (kOffsetCodeSpan / kMidScale); }

int Clamp(long v, int lo, int hi) { return static_cast<int>(std::clamp<long>(v, lo, hi)); }

}  // namespace

double NominalFullScale(int range) { return kNominalFullScale.at(static_cast<std::size_t>(range - 1)); }

CalibrationCodes FactoryCalibration(int channel, int range) {
  const int ch = channel - 1;
  const ChannelErrors& e = kErrors.at(static_cast<std::size_t>(ch));
  const int g = RangeGroup(range);
  // Gain: the coarse code gets within one code step, trim A takes the rest.
  const double need = kGroupFullScale[g] / NominalFullScale(range) / (1.0 + e.attenuator[g]);
  long p = std::lround(1024.0 * need);
  for (int i = 0; i < 4; ++i) p = std::lround(1024.0 * need / (AmplifierGain(ch, p) / (p / 1024.0)));
  const int a = Clamp(std::lround(128.0 + (need / AmplifierGain(ch, p) - 1.0) * 128.0 / kTrimGainSpan), 0, 255);
  const double gain = AmplifierGain(ch, p) * TrimGain(a);
  // Offset: trim B takes half the output offset, the offset code the rest.
  // The offset code is chosen with the parity of p so that the converter's
  // mean word (p + offset) / 2 is exact.
  const int b = Clamp(std::lround(128.0 - e.output_offset / 2.0 * 128.0 / kTrimOffsetSpan), 0, 255);
  const double residual = e.input_offset[g] * gain + e.output_offset + TrimOffset(b);
  const double exact = kMidScale - residual * kMidScale / kOffsetCodeSpan;
  long v = std::lround(exact);
  if (((v + p) & 1) != 0) v += exact > static_cast<double>(v) ? 1 : -1;
  return CalibrationCodes{static_cast<std::uint16_t>(p), static_cast<std::uint16_t>(v), static_cast<std::uint8_t>(a),
                          static_cast<std::uint8_t>(b)};
}

FrontEnd::FrontEnd() {
  for (auto& conv : converters_) {
    conv.input.fill(kMidScale);
    conv.output.fill(kMidScale);
    conv.words.reserve(kWordHistory);  // measuring never allocates
  }
  Recompute();
}

void FrontEnd::OnRegister5(std::uint8_t old_value, std::uint8_t value, std::uint8_t reg8) {
  const bool clock_rise = (old_value & 1) == 0 && (value & 1) != 0;
  const int d = (value >> 2) & 1;
  bool changed = false;

  // Relay shift register: bit 3 clock.
  if ((old_value & 8) == 0 && (value & 8) != 0) {
    relay_ = static_cast<std::uint8_t>((relay_ << 1) | d);
    changed = true;
  }

  // Trim converters shift while selected.
  if (clock_rise) {
    for (auto& trim : trims_) {
      if (!trim.selected) continue;
      trim.shift = static_cast<std::uint16_t>(((trim.shift << 1) | d) & 0x3FF);
      ++trim.bits;
    }
  }

  // Serial converters: frame on bit 1 (active low), start pulse on bit 2.
  const bool frame_was = (old_value & 2) == 0;
  const bool frame = (value & 2) == 0;
  if (!frame && (old_value & 4) != 0 && (value & 4) == 0) converter_bits_ = 0;
  if (!frame_was && frame) converter_bits_ = 0;
  if (frame && clock_rise) {
    for (int c = 0; c < 2; ++c) {
      auto& conv = converters_[c];
      conv.shift = static_cast<std::uint16_t>((conv.shift << 1) | ((reg8 >> c) & 1));
    }
    ++converter_bits_;
  }
  if (frame_was && !frame) {
    if (converter_bits_ == 16) {
      for (auto& conv : converters_) TakeWord(conv, conv.shift);
    }
    converter_bits_ = 0;
  }

  if (changed) Recompute();
}

void FrontEnd::OnRegister9(std::uint8_t old_value, std::uint8_t value) {
  bool changed = false;
  for (int c = 0; c < 2; ++c) {
    auto& trim = trims_[c];
    const bool was = (old_value & (1 << c)) == 0;
    const bool is = (value & (1 << c)) == 0;
    if (!was && is) {
      trim.shift = 0;
      trim.bits = 0;
    } else if (was && !is && trim.bits >= 10 && (trim.shift >> 8) < 2) {
      trim.out[trim.shift >> 8] = static_cast<std::uint8_t>(trim.shift & 0xFF);
      changed = true;
    }
    trim.selected = is;
  }
  if (changed) Recompute();
}

void FrontEnd::OnRegister12(std::uint8_t old_value, std::uint8_t value) {
  if ((old_value & 1) != 0 || (value & 1) == 0) return;
  for (auto& conv : converters_) conv.output = conv.input;
  Recompute();
}

void FrontEnd::TakeWord(SerialConverter& conv, std::uint16_t word) {
  switch (word >> 14) {
    case 0:
      return;  // the word meant for the other converter
    case 1:
      conv.input.fill(kMidScale);
      conv.pointer = 0;
      break;
    case 3:
      conv.pointer = word & 0x0F;
      break;
    default:
      if (conv.pointer < static_cast<int>(conv.input.size())) {
        conv.input[static_cast<std::size_t>(conv.pointer)] = word & 0x3FFF;
        ++conv.pointer;
      }
      break;
  }
  if (conv.words.size() >= kWordHistory) conv.words.erase(conv.words.begin());
  conv.words.push_back(word);
}

int FrontEnd::Group(int ch) const {
  const int shift = ch == 0 ? 0 : 4;
  for (int g = 2; g >= 0; --g) {
    if ((relay_ & (1 << (shift + g + 1))) == 0) return g;
  }
  return -1;
}

// Channel 2's trim converter is wired with its outputs the other way round:
// output 0 carries the inverted offset trim, output 1 the gain trim.
int FrontEnd::TrimA(int ch) const { return ch == 0 ? trims_[0].out[0] : trims_[1].out[1]; }
int FrontEnd::TrimB(int ch) const { return 255 - (ch == 0 ? trims_[0].out[1] : trims_[1].out[0]); }

void FrontEnd::Recompute() {
  for (int ch = 0; ch < 2; ++ch) {
    const ChannelErrors& e = kErrors[ch];
    const auto& out = converters_[ch].output;
    const int p = out[0];
    const int v = 2 * out[1] - p;
    const double gain = AmplifierGain(ch, p) * TrimGain(TrimA(ch));
    const int g = Group(ch);
    double offset = e.output_offset + OffsetInjection(v) + TrimOffset(TrimB(ch));
    Transfer& t = transfer_[ch];
    if (g >= 0) {
      offset += e.input_offset[g] * gain;
      t.codes_per_volt = 2048.0 * (1.0 + e.attenuator[g]) / kGroupFullScale[g] * gain;
    } else {
      t.codes_per_volt = 0.0;
    }
    t.offset_codes = 2048.0 * offset;
    t.dc = (relay_ & (ch == 0 ? 0x01 : 0x10)) != 0;
  }
}

InputStageState FrontEnd::State(int ch) const {
  InputStageState s;
  const Transfer& t = transfer_[ch];
  s.group = Group(ch) + 1;
  s.dc_coupled = t.dc;
  s.trim_a = static_cast<std::uint8_t>(TrimA(ch));
  s.trim_b = static_cast<std::uint8_t>(TrimB(ch));
  s.gain_code = converters_[ch].output[0];
  s.offset_mean_code = converters_[ch].output[1];
  s.offset_code = 2 * s.offset_mean_code - s.gain_code;
  if (t.codes_per_volt > 0.0) {
    s.full_scale_volts = 2048.0 / t.codes_per_volt;
    s.offset_volts = t.offset_codes / t.codes_per_volt;
    for (int r = 1; r <= kRangeCount; ++r) {
      if (std::abs(s.full_scale_volts / NominalFullScale(r) - 1.0) < 0.005) s.range = r;
    }
  }
  return s;
}

}  // namespace ru3::sim
