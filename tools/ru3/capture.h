// Acquisition settings from the command line, their checks against the
// instrument, and measuring: one block-style measurement (ADC_Start, poll
// ADC_Ready, force the trigger after the time-out, read the volts), auto-ranging
// by repeated measurements, and the record of what the timer-driven measuring
// left in the channel buffers.
#pragma once

#include <array>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "record.h"

namespace CLI {
class App;
}

namespace ru3cli {

class Progress;

// The options as typed; every value is checked by ParseAcquisition.
struct AcquisitionOptions {
  std::string channels = "12";
  std::string rate, length, pre, range = "auto", coupling, trigger = "ch1", level, hysteresis, kind, timeout;
};

// Adds the acquisition options to a command.
void AddAcquisitionOptions(CLI::App& command, AcquisitionOptions& options);

struct Acquisition {
  std::vector<int> channels;                   // measured channels, 1 and/or 2
  std::optional<double> rate;                  // Hz
  std::optional<long> length;                  // samples per channel
  double pre_share = 0.5;                      // share of the record before the trigger
  std::array<std::optional<double>, 2> range;  // volts full scale, nullopt = auto-ranging
  std::array<std::optional<int>, 2> coupling;
  int trigger_source = 0;            // 0 = channel 1, 1 = channel 2, 9 = none
  double level = 0;                  // volts
  std::optional<double> hysteresis;  // volts
  std::optional<int> kind;
  std::optional<long> timeout_ms;  // -1 = wait for ever

  bool AutoRanging() const { return !range[0] || !range[1]; }
  int TriggerChannel() const { return trigger_source == 0 ? 1 : trigger_source == 1 ? 2 : 0; }
};

// Checks the values that need no instrument; throws a usage Failure.
Acquisition ParseAcquisition(const AcquisitionOptions& options);

// A number from an option's text; throws a usage Failure naming the option.
double ParseNumber(const std::string& option, const std::string& text);

// Sets the acquisition up on the open instrument; refuses (Failure) values
// the instrument lacks: a range not in its list, a rate beyond its clock.
void ApplyAcquisition(const Acquisition& acquisition);

// Sets the trigger level and hysteresis in volts on the trigger channel's
// current range (levels beyond the range are limited to it).
void ApplyTriggerLevel(const Acquisition& acquisition);

// Set by SIGINT; measuring stops at the next chance.
std::atomic<bool>& Interrupted();
void InstallInterruptHandler();

// One measurement. Throws Failure on interruption (exit status 130).
Record Measure(const Acquisition& acquisition, Progress& progress);

// With auto-ranging: measures until the ranges have settled, fixes them so
// that further measurements keep them, then measures with the trigger asked
// for. Without: one measurement.
Record MeasureSettled(const Acquisition& acquisition, Progress& progress);

// The record in the channel buffers as they stand (timer-driven measuring).
Record CurrentRecord(const Acquisition& acquisition);

}  // namespace ru3cli
