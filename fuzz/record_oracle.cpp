#include "record_oracle.h"

namespace ru3::fuzz {

void RecordOracle::RecordStarting(const sim::Instrument& instrument, int unit) {
  if (unit != 0) {
    ++state_.other_unit_arms;
    return;
  }
  ++state_.records;
  state_.input = {instrument.front_end().State(0), instrument.front_end().State(1)};
  state_.trigger_source = instrument.reg(0, 10);
  state_.sample_rate_hz = instrument.acquisition().SampleRateHz();
  state_.post_count = instrument.acquisition().counter(4);
  state_.rate_changed = false;
  state_.cut_short = false;
}

void RecordOracle::RateChanged() {
  if (state_.records != 0) state_.rate_changed = true;
}

void RecordOracle::LaneSelected(int unit, bool past_pointer) {
  if (unit != 0) {
    ++state_.other_unit_read_outs;
    return;
  }
  ++state_.read_outs;
  state_.read_out_record = state_.records;
  if (past_pointer) ++state_.reads_past_pointer;
}

}  // namespace ru3::fuzz
