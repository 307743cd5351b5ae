// The fuzz checker's account of the records the simulated instrument starts
// and reads out, kept from the simulator's events (sim::InstrumentObserver):
// what the measuring unit held when it last started a record, and what has
// been read out since.
#pragma once

#include <array>
#include <cstdint>

#include "sim/instrument.h"

namespace ru3::fuzz {

struct RecordState {
  std::uint64_t records = 0;                  // records started so far
  std::array<sim::InputStageState, 2> input{};  // both channels' front end at the start
  std::uint8_t trigger_source = 0;            // register 10 at the start
  double sample_rate_hz = 0.0;                // rate of the sample clock at the start
  std::uint16_t post_count = 0;               // counter 4 at the start
  bool rate_changed = false;  // the sample clock's rate changed while it ran
  bool cut_short = false;  // its run was stopped by a register write before the post-trigger count ended it
  std::uint64_t read_outs = 0;                // sample-lane selections (one per channel read) so far
  std::uint64_t read_out_record = 0;          // `records` at the last of them
  // Sample-lane selections made after the record had gone on writing past the
  // write pointer as last read back (a read-out begun before the record ended).
  std::uint64_t reads_past_pointer = 0;
  // Sample-lane selections addressed to another unit, which has no sample memory.
  std::uint64_t other_unit_read_outs = 0;
  // Records started on another unit (its register 13 as arming writes it).
  std::uint64_t other_unit_arms = 0;
};

class RecordOracle final : public sim::InstrumentObserver {
 public:
  // Listens to `pc` from now on; `pc` must not tell it anything once it is gone.
  explicit RecordOracle(sim::SimulatedPc& pc) { pc.SetObserver(this); }

  [[nodiscard]] const RecordState& State() const { return state_; }

  void RecordStarting(const sim::Instrument& instrument, int unit) override;
  void RecordCutShort() override { state_.cut_short = true; }
  void RateChanged() override;
  void LaneSelected(int unit, bool past_pointer) override;

 private:
  RecordState state_;
};

}  // namespace ru3::fuzz
