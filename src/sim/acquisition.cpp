#include "sim/acquisition.h"

#include <cmath>

#include "sim/signals.h"

namespace ru3::sim {

namespace {

constexpr std::uint64_t kBaseHalfPeriodNs = 1250;  // half a period of 400 kHz
constexpr std::array<int, 8> kPrescale = {1, 2, 4, 8, 16, 32, 64, 1024};

}  // namespace

Acquisition::Acquisition(const AnalogInputs& inputs, bool fast_model) : inputs_(inputs), fast_model_(fast_model) {}

void Acquisition::Advance(std::uint64_t now) {
  if (!active_ || half_period_ == 0 || now <= seg_t0_) return;
  const std::int64_t target = seg_h0_ + static_cast<std::int64_t>((now - seg_t0_) / half_period_);
  if (target > h_) RunTo(target);
}

void Acquisition::RunTo(std::int64_t target) {
  const std::int64_t from = h_;
  if (!triggered_) FindTrigger(from, target);
  std::int64_t end = target;
  if (triggered_ && stop_h_ < end) end = stop_h_;
  h_ = end;
  if ((mode_ & 1) != 0) {
    WriteSamples(from, end);
    written_ = end;
  }
  if (triggered_ && h_ >= stop_h_) active_ = false;
}

void Acquisition::FindTrigger(std::int64_t from, std::int64_t target) {
  if (source_ == 3) {
    // Free run or forced: the trigger registers at the next clock edge.
    triggered_ = true;
    stop_h_ = from + 1 + post_edges_;
    return;
  }
  if (source_ > 1) return;
  // A channel's comparator judges every sample as it is written (even
  // counts); a firing sample at count 2T registers at the edge after it, 2T+1.
  std::int64_t h = from + 1;
  if ((h & 1) != 0) ++h;
  if (target - h > 2 * kMaxTriggerSearchSamples) {
    h = target - 2 * kMaxTriggerSearchSamples;
    if ((h & 1) != 0) ++h;
  }
  for (; h <= target; h += 2) {
    const int code8 = (inputs_.Convert(source_, EdgeTime(h)) >> 4) - 1;
    if (ComparatorFires(code8)) {
      triggered_ = true;
      flags_ = static_cast<std::uint8_t>(flags_ | (1u << source_));
      stop_h_ = h + 1 + post_edges_;
      return;
    }
  }
}

bool Acquisition::ComparatorFires(int code8) {
  const int level = (counters_[0] >> 8) ^ 0xFF;
  const int hysteresis = (counters_[0] & 0xFF) ^ 0xFF;
  bool rise = (kind_ & 4) != 0;
  bool fall = (kind_ & 2) != 0;
  int rise_arm = hysteresis;
  int fall_arm = hysteresis;
  if ((kind_ & 1) != 0 && rise != fall) {
    // The opposite slope with the hysteresis mirrored about the level.
    if (rise) {
      fall = true;
      fall_arm = 2 * level - hysteresis;
    } else {
      rise = true;
      rise_arm = 2 * level - hysteresis;
    }
  }
  const bool fires = (rise && armed_rise_ && code8 >= level) || (fall && armed_fall_ && code8 <= level);
  if (rise && code8 < rise_arm) armed_rise_ = true;
  if (fall && code8 > fall_arm) armed_fall_ = true;
  return fires;
}

void Acquisition::WriteSamples(std::int64_t from, std::int64_t end) {
  std::int64_t first = from + 1;
  if ((first & 1) != 0) ++first;
  std::int64_t last = end;
  if ((last & 1) != 0) --last;
  if (last < first) return;
  // Only the last ring's worth can still be seen.
  const std::int64_t span = 2 * (kRingSize - 1);
  if (last - first > span) first = last - span;
  const std::uint16_t tag = ring_.Conditions(inputs_.Conditions());
  for (std::int64_t h = first; h <= last; h += 2) {
    ring_.Write(static_cast<std::size_t>((h >> 1) & (kRingSize - 1)), EdgeTime(h), tag);
  }
}

void Acquisition::ClockChanged(std::uint64_t now) {
  if ((clock_select_ & 1) == 0) {
    half_period_ = 0;
  } else if ((clock_select_ & 2) != 0 || (fast_model_ && (clock_select_ & 8) != 0)) {
    half_period_ = kBaseHalfPeriodNs;
  } else {
    half_period_ = kBaseHalfPeriodNs * static_cast<std::uint64_t>(prescale_) * static_cast<std::uint64_t>(divider_);
  }
  if (active_) Rebase(now);
}

void Acquisition::Start(std::uint64_t now) {
  active_ = true;
  triggered_ = false;
  armed_rise_ = false;
  armed_fall_ = false;
  Rebase(now);
  if ((mode_ & 4) == 0) {
    // No trigger wanted: the post-trigger counter counts from the start.
    triggered_ = true;
    stop_h_ = h_ + post_edges_;
  }
}

void Acquisition::Control(std::uint8_t reg1, std::uint64_t now) {
  Advance(now);
  if ((reg1 & 1) != 0) {
    prescale_ = kPrescale[prescaler_code_ & 7];
    divider_ = 65537 - counters_[1];
    ClockChanged(now);
  }
  if ((reg1 & 2) != 0) post_edges_ = 65536 - counters_[2];
  if ((reg1 & 4) != 0) {
    h_ = -1;
    if (active_) Rebase(now);
  }
  if ((reg1 & 8) != 0) {
    written_ = -1;
    flags_ = 0;
    armed_rise_ = false;
    armed_fall_ = false;
    if (!active_) triggered_ = false;
  }
}

void Acquisition::SetClockSelect(std::uint8_t reg7, std::uint64_t now) {
  Advance(now);
  clock_select_ = reg7;
  ClockChanged(now);
}

void Acquisition::SetSource(std::uint8_t reg10, std::uint64_t now) {
  Advance(now);
  source_ = reg10;
}

void Acquisition::SetKind(std::uint8_t reg11, std::uint64_t now) {
  Advance(now);
  kind_ = reg11;
}

void Acquisition::SetMode(std::uint8_t reg13, std::uint64_t now) {
  Advance(now);
  const std::uint8_t old = mode_;
  mode_ = reg13;
  const bool was_running = (old & 8) != 0;
  const bool running = (reg13 & 8) != 0;
  if (!was_running && running) {
    Start(now);
  } else if (was_running && !running) {
    active_ = false;
  } else if (active_ && !triggered_ && (reg13 & 4) == 0) {
    triggered_ = true;
    stop_h_ = h_ + post_edges_;
  }
}

void Acquisition::StrobeCounter(int counter, std::uint8_t select, std::uint8_t reg5, std::uint64_t now) {
  Advance(now);
  auto& value = counters_[static_cast<std::size_t>(counter - 2)];
  const int bit = 3 - (reg5 & 3);
  const unsigned d = (reg5 >> 2) & 1;
  for (int i = 0; i < 4; ++i) {
    if ((select & (1 << i)) == 0) continue;
    const unsigned mask = 1u << (4 * i + bit);
    value = static_cast<std::uint16_t>(d != 0 ? (value | mask) : (value & ~mask));
  }
}

std::uint8_t Acquisition::Status() const {
  unsigned s = flags_;
  if (written_ >= 2 * kRingSize) s |= 0x40;
  if (active_) s |= 0x80;
  return static_cast<std::uint8_t>(s);
}

double Acquisition::SampleRateHz() const {
  return half_period_ == 0 ? 0.0 : 1e9 / (2.0 * static_cast<double>(half_period_));
}

AcquisitionState Acquisition::State() const {
  AcquisitionState s;
  s.running = active_;
  s.triggered = triggered_;
  s.wrapped = written_ >= 2 * kRingSize;
  s.trigger_flags = flags_;
  s.half_steps = written_;
  s.address_half_steps = h_;
  s.sample_rate_hz = SampleRateHz();
  return s;
}

}  // namespace ru3::sim
