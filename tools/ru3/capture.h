// Measuring on the open instrument: one block-style measurement (ADC_Start,
// poll ADC_Ready, force the trigger after the time-out, read the volts and
// codes), settling the auto ranges in two short free-running captures, and
// the record that timer-driven measuring left in the channel buffers.
#pragma once

#include <atomic>

#include "acquisition.h"
#include "record.h"

namespace ru3cli {

class Progress;

// Set by SIGINT; measuring stops at the next chance.
std::atomic<bool>& Interrupted();
void InstallInterruptHandler();

// One measurement with the settings as they stand. Throws Failure on
// interruption (exit status 130).
Record Measure(const Acquisition& acquisition, Progress& progress);

// Chooses the range of every auto-ranged channel (the trigger channel's too,
// measured or not): a short capture on the largest range gives each input's
// peak, a second on the range that holds it confirms it (and gives the peak
// to within a step of the finer range). Both run free and short whatever the
// record; then the acquisition's own timing and trigger are set again.
void SettleRanges(const Acquisition& acquisition, Progress& progress);

// SettleRanges when auto-ranging, then one measurement.
Record MeasureSettled(const Acquisition& acquisition, Progress& progress);

// The record in the channel buffers as they stand (timer-driven measuring).
Record CurrentRecord(const Acquisition& acquisition);

}  // namespace ru3cli
