// Measuring on the open instrument: one block-style measurement (ADC_Start,
// poll ADC_Ready, force the trigger after the time-out, read the volts and
// codes), settling the auto ranges in two short free-running captures, and
// the record that timer-driven measuring left in the channel buffers. The
// read-out and the forcing rule serve ru3 serve's measuring too.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "acquisition.h"
#include "record.h"

namespace ru3cli {

class Progress;

// Reads channel `ch` of the finished measurement, `length` positions of volts
// into `channel` and of codes into `codes` (the first read after ADC_Start
// fetches the record from the instrument): positions without a sample become
// NaN, samples at the ends of the scale are counted in channel.clipped.
// Returns the status of the first read that fails, else RU3_OK.
std::uint16_t ReadSamples(int ch, std::size_t length, Channel& channel, std::vector<std::uint16_t>& codes);

// Block-style measuring leaves the trigger time-out to the host: the trigger
// is forced once the time-out has passed since arming, and again every
// second until the record is done.
class TriggerForcing {
 public:
  using Clock = std::chrono::steady_clock;
  void Arm(Clock::time_point now) {
    armed_at_ = now;
    forced_ = false;
  }
  // Whether to force the trigger at `now`; never with a time-out below 0.
  bool Due(Clock::time_point now, long timeout_ms) const;
  void Forced(Clock::time_point now) {
    forced_ = true;
    forced_at_ = now;
  }
  bool forced() const { return forced_; }

 private:
  Clock::time_point armed_at_{}, forced_at_{};
  bool forced_ = false;
};

// Set by SIGINT; measuring stops at the next chance.
std::atomic<bool>& Interrupted();
void InstallInterruptHandler();

// One measurement with the settings as they stand. Throws Failure on
// interruption (exit status 130).
Record Measure(const Acquisition& acquisition, Progress& progress);

// Chooses the range of every auto-ranged channel (the trigger channel's too,
// measured or not): a short capture on the largest range gives each input's
// peak, a second on the range that holds it confirms it (and gives the peak
// to within a step of the finer range). Both run free over the record's own
// duration (up to 2 s) in at most about 2000 samples; then the acquisition's
// own timing and trigger are set again.
void SettleRanges(const Acquisition& acquisition, Progress& progress);

// SettleRanges when auto-ranging, then one measurement.
Record MeasureSettled(const Acquisition& acquisition, Progress& progress);

// The record in the channel buffers as they stand (timer-driven measuring).
Record CurrentRecord(const Acquisition& acquisition);

// The facts of the record in the library's buffers (its sequence number,
// rate, ranges, trigger position, forced or not).
RU3RecordInfo RecordFacts();

}  // namespace ru3cli
