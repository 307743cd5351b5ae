// The records the simulated instrument starts, as a test follows them through
// the simulator's events: how many the measuring unit started, the front end
// the last one started on, whether the sample clock changed under it, and the
// read-outs addressed to a unit without sample memory.
//
//   test::RecordWatch records;
//   sim().SetObserver(&records);  // the simulated PC must not outlive it
#pragma once

#include <array>
#include <cstdint>

#include "sim/instrument.h"

namespace ru3::test {

struct RecordWatch final : sim::InstrumentObserver {
  void RecordStarting(const sim::Instrument& instrument, int unit) override {
    if (unit != 0) return;
    ++records;
    input = {instrument.front_end().State(0), instrument.front_end().State(1)};
    rate_changed = false;
  }
  void RateChanged() override { rate_changed = records != 0; }
  void LaneSelected(int unit, bool /*past_pointer*/) override {
    if (unit != 0) ++other_unit_read_outs;
  }

  std::uint64_t records = 0;
  std::array<sim::InputStageState, 2> input{};
  bool rate_changed = false;
  std::uint64_t other_unit_read_outs = 0;
};

}  // namespace ru3::test
