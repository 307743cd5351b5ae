// The measuring unit's acquisition hardware: sample clock, trigger, post-trigger
// counter, the ring memory of 32768 12-bit samples per channel, its address
// counter and the sample read lane.
//
// Registers (unit 1):
//
//   0   kept but without effect (the library writes 2 to arm, 1 before and 0
//       after a read-out).
//   1   pulses: bit 0 loads the sample-clock divider (register 14's prescaler
//       code and counter 3), bit 1 loads the post-trigger counter from counter
//       4, bit 2 resets the address counter, bit 3 starts a new record: it
//       resets the write pointer (and with it the wrap flag) and clears the
//       trigger flags and the trigger comparator.
//   7   clock selection: bit 0 clock on; bit 1 seek clock (the undivided
//       400 kHz base, while the read address is moved); bit 3 on the 400 kHz
//       model bypasses the divider (400 kHz); bit 2 unused.
//   10  trigger source: 0 channel 1, 1 channel 2, 2 external input (this
//       instrument has none: never fires), 3 none: fires at the next clock
//       edge (free run when armed so, the force command when written while
//       the acquisition waits for its trigger), 7 and the other values never
//       fire. A write takes effect at once, also while the acquisition waits
//       for its trigger: the comparator judges the new source's samples from
//       the next one on (the library arms on 7 and switches to the real
//       source once the pre-trigger part is sampled).
//   11  trigger kind: bit 2 rising slope, bit 1 falling slope, bit 0 adds the
//       opposite slope with the hysteresis mirrored about the level (below).
//   13  acquisition control: bit 3 run (a rising edge starts), bit 2 trigger
//       enable (clear: the post-trigger counter counts from the start, as the
//       seek needs), bit 0 write the samples into the ring, bit 1 unused.
//       The library's values: 7 armed, 15 acquiring, 2 idle, 10 seeking,
//       0 reading.
//   14  prescaler code 0..7 = /1, /2, /4, /8, /16, /32, /64, /1024.
//   counter 2   level byte B (high) and hysteresis byte A (low), both stored
//               inverted; 8-bit codes with 127 = 0 V and 128 codes per full
//               scale, compared with the top bits of the 12-bit sample
//               (code8 = (sample >> 4) - 1).
//   counter 3   divider: m = 65537 - value (0xFFFF divides by 2).
//   counter 4   post-trigger count: counts sample-clock edges from its value
//               and stops the run at the overflow, 65536 - value edges after
//               the trigger; 65535 - 2n is n samples and a half.
//
// Read back: register 0/1 the low/high byte of the write pointer, register 2
// the status (bits 0-1 trigger seen on channel 1/2, bit 6 wrapped, bit 7
// busy), register 3 the sample lane.
//
// Trigger kinds as the library programs them (A and B de-inverted):
//   4 (kind 0)  rising slope: armed by a sample below A (level - hysteresis),
//               fires at the first armed sample at or above B (the level).
//   2 (kind 1)  falling slope: armed by a sample above A (level + hysteresis),
//               fires at the first armed sample at or below B.
//   2 (kind 2)  the same comparator with A = level - hysteresis: any sample
//               above A arms it, so it fires at the first sample at or below
//               the level once the signal has been above level - hysteresis:
//               a falling-slope trigger without useful hysteresis.
//   5 (kind 3)  either slope: rising as kind 0, and falling armed above the
//               mirror 2B - A (level + hysteresis), firing at or below B.
//
// The address counter counts half-steps: both edges of the sample clock
// advance it by one, a sample is written at every even count (address =
// count / 2), and the lane's falling clock edges step it too. The write
// pointer follows it while samples are written and keeps the newest
// sample's place while the seek and the lane move the address, so the
// record can be read again. The whole timeline, and why the read-out then
// gets the newest samples with the trigger at lPreSamples, is in
// sample_memory.md.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/front_end.h"
#include "sim/sample_ring.h"
#include "sim/simulator.h"

namespace ru3::sim {

// The input signals seen through the front end and the 12-bit converter.
class AnalogInputs {
 public:
  AnalogInputs(const FrontEnd& front_end, const std::array<SignalSource, 2>& sources, std::uint64_t seed)
      : front_end_(front_end), sources_(sources), seed_(seed) {}

  // The converter's code (0..4095, 2048 = 0 V) for channel 0/1 at t_ns.
  [[nodiscard]] std::uint16_t Convert(int ch, std::uint64_t t_ns) const {
    return ConverterCode(front_end_.transfer(ch), sources_[ch], ch, t_ns, seed_);
  }
  void SetSource(int ch, const SignalSource& source) { sources_[ch] = source; }
  // Everything Convert depends on besides channel and time, as of now.
  [[nodiscard]] InputConditions Conditions() const {
    return {{front_end_.transfer(0), front_end_.transfer(1)}, sources_, seed_};
  }

 private:
  const FrontEnd& front_end_;
  std::array<SignalSource, 2> sources_;
  std::uint64_t seed_;
};

class Acquisition {
 public:
  static constexpr int kRingSize = SampleRing::kSize;
  // A trigger search over a longer unobserved stretch only looks at its last
  // part; nobody could have told the difference except by the trigger's place
  // in a stretch nobody read.
  static constexpr std::int64_t kMaxTriggerSearchSamples = std::int64_t{1} << 22;

  Acquisition(const AnalogInputs& inputs, bool fast_model);

  // Brings the hardware up to simulated time `now`.
  void Advance(std::uint64_t now);

  // Register side effects, each at time `now` (the acquisition is brought up
  // to `now` first, so the past is computed with the old settings).
  void Control(std::uint8_t reg1, std::uint64_t now);
  void SetClockSelect(std::uint8_t reg7, std::uint64_t now);
  void SetPrescaler(std::uint8_t reg14) { prescaler_code_ = reg14; }
  void SetSource(std::uint8_t reg10, std::uint64_t now);
  void SetKind(std::uint8_t reg11, std::uint64_t now);
  void SetMode(std::uint8_t reg13, std::uint64_t now);
  // A write of strobe register 2, 3 or 4 with `select` != 0: the latches whose
  // bit is set take the data bit of register 5 at its bit address.
  void StrobeCounter(int counter, std::uint8_t select, std::uint8_t reg5, std::uint64_t now);

  // Status bits 0-2, 6 and 7 of register 2 (call Advance first).
  [[nodiscard]] std::uint8_t Status() const;
  // The 16-bit write pointer count read back through registers 1 and 0.
  [[nodiscard]] std::uint16_t WritePointer() const { return static_cast<std::uint16_t>(0xFFFB - written_); }

  // Sample lane: a falling clock edge, and the nibble shown for channel 0/1
  // with the clock line high or low.
  void LaneStep() {
    if (!active_) ++h_;
  }
  [[nodiscard]] std::uint8_t LaneNibble(int ch, bool clock_high) const {
    const auto address = static_cast<std::size_t>(((h_ >> 1) - 2) & (kRingSize - 1));
    const unsigned word = ~static_cast<unsigned>(ring_.Get(ch, address)) & 0xFFF;
    if ((h_ & 1) != 0) return static_cast<std::uint8_t>(word & 0xF);
    return static_cast<std::uint8_t>(clock_high ? (word >> 8) & 0xF : (word >> 4) & 0xF);
  }

  [[nodiscard]] std::uint16_t counter(int c) const { return counters_[static_cast<std::size_t>(c - 2)]; }
  [[nodiscard]] double SampleRateHz() const;
  [[nodiscard]] std::uint16_t Sample(int ch, int address) const {
    return ring_.Get(ch, static_cast<std::size_t>(address & (kRingSize - 1)));
  }
  [[nodiscard]] AcquisitionState State() const;

 private:
  [[nodiscard]] std::uint64_t EdgeTime(std::int64_t h) const {
    return seg_t0_ + static_cast<std::uint64_t>(h - seg_h0_) * half_period_;
  }
  void Rebase(std::uint64_t now) {
    seg_t0_ = now;
    seg_h0_ = h_;
  }
  void ClockChanged(std::uint64_t now);
  void Start(std::uint64_t now);
  void RunTo(std::int64_t target);
  void FindTrigger(std::int64_t from, std::int64_t target);
  void WriteSamples(std::int64_t from, std::int64_t end);
  bool ComparatorFires(int code8);

  const AnalogInputs& inputs_;
  bool fast_model_;

  std::array<std::uint16_t, 3> counters_{};  // latches of counters 2, 3, 4
  std::uint8_t clock_select_ = 0;
  std::uint8_t prescaler_code_ = 0;
  std::uint8_t source_ = 0;
  std::uint8_t kind_ = 0;
  std::uint8_t mode_ = 0;

  int prescale_ = 1;  // loaded by register 1 bit 0
  int divider_ = 2;
  std::int64_t post_edges_ = 1;  // loaded by register 1 bit 1
  std::uint64_t half_period_ = 0;  // ns; 0 = clock stopped

  bool active_ = false;     // sampling; cleared when the post-trigger counter overflows
  bool triggered_ = false;  // post-trigger counting
  std::int64_t stop_h_ = 0;
  std::int64_t h_ = -1;     // address counter in half-steps, last edge taken
  std::int64_t written_ = -1;  // write pointer: the address counter when it last wrote
  std::uint64_t seg_t0_ = 0;  // time and count at which the clock last (re)started
  std::int64_t seg_h0_ = -1;
  bool armed_rise_ = false;
  bool armed_fall_ = false;
  std::uint8_t flags_ = 0;

  SampleRing ring_;
};

}  // namespace ru3::sim
