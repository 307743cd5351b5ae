// What the exports fuzzer checks after every call: the library's answers and
// what it did to the instrument, against what the simulated PC observed.
//
// A violated invariant aborts the input with one line naming it, so that
// libFuzzer keeps the input as a crash. Each invariant's name says the sound
// behaviour it stands for.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "record_oracle.h"
#include "sim/simulator.h"

namespace ru3::fuzz {

// Reports the broken invariant and aborts (unless RU3_FUZZ_IGNORE names it).
void Violated(const char* invariant, const char* detail = "");

// Every status code is one of the seven; returns the code.
std::uint16_t Status(std::uint16_t code);

// The DAC codes of some unit are those of the volts asked for, as the library
// computes them in the default floating-point environment.
void CheckDac(const sim::SimulatedPc& pc, double first, double second);

// What the host asked for, as far as the checks need to know it.
enum class HostAct : std::uint8_t {
  kOther,
  kInit,
  kExit,
  kRangeSetting,   // SetSensitivity, SetAutoRanging
  kStopMeasuring,  // DoMeasure(0) answered 0
  kStartMeasuring, // DoMeasure(other) or ADC_Start answered 0
  kSelectUnit,     // SetActiveRU3 answered 0
  kTimerTick,      // a tick of the poll timer, no host call
  kFetch,          // a call of the ADC_GetData family (fetches a record not read yet)
  kMeasure,        // StartMeasurement (arms and reads a record of its own)
};

class Truth {
 public:
  // Follows `pc`'s records from now on (see RecordOracle).
  explicit Truth(sim::SimulatedPc& pc) : pc_(pc), oracle_(pc) {}

  // Before and after every host call (or timer tick). `status` is the call's
  // answer where it has one.
  void Before();
  void After(HostAct act, std::uint16_t status = 0);

  // Raw words or volts the host just got for channel `ch` (1, 2), positions
  // [first, first + count).
  void CheckRaw(int ch, std::int32_t first, const std::uint16_t* words, std::int32_t count) const;
  void CheckVolts(int ch, std::int32_t first, const double* volts, std::int32_t count) const;

  // The host set channel `ch`'s range (SetSensitivity answered 0).
  void RangeChosen(std::uint32_t ch);

  // The records the simulated instrument has started and read out so far.
  [[nodiscard]] const RecordState& Records() const { return oracle_.State(); }
  [[nodiscard]] bool Open() const { return open_; }
  [[nodiscard]] bool SelectedUnit() const { return selected_unit_; }

 private:
  void CheckArming(const RecordState& now, HostAct act);
  void PrintState(HostAct act, const RecordState& now);
  void TakeRecord(const RecordState& now);
  void CheckClock() const;
  void CheckDelivered(const RecordState& now) const;

  // What the library reports of the settings a record is measured with.
  struct Reported {
    double rate = 0.0;
    std::int32_t length = 0, post = 0, timeout = 0;
    std::uint8_t source = 0, kind = 0;
    std::array<std::uint8_t, 3> kind_ch{};
    std::array<double, 3> level{}, hysteresis{}, range{};
  };
  // Alike, to a few units in the last place of the doubles (they reach the
  // host in whatever rounding mode it has set).
  static bool Alike(const Reported& a, const Reported& b);
  static Reported Report();

  sim::SimulatedPc& pc_;
  RecordOracle oracle_;
  bool open_ = false;
  bool measuring_ = false;       // timer-driven measuring is switched on
  bool selected_unit_ = false;   // some unit was selected since the last opening
  bool other_unit_ = false;      // the register traffic addresses a unit other than the measuring one
  bool clock_due_ = false;       // back on the measuring unit, its clock not programmed since
  std::uint64_t accesses_before_ = 0;
  RecordState seen_;        // the oracle's records after the last check
  std::array<int, 3> armed_range_{};   // [ch]: range the last record was started on; 0 = unknown
  bool range_set_ = true;        // the host set ranges since the last record started
  std::uint64_t read_outs_at_arming_ = 0;
  Reported armed_with_;          // as the library reported it at the last arming
  bool armed_on_other_ = false;  // the last record started was another unit's
  std::array<int, 3> chosen_range_{};  // [ch]: range the host set since the last read-out; 0 = none

  // The record the library holds since the last read-out, as the instrument
  // had it: words per position (0x7FFF where it holds no sample) and the full
  // scale it was measured with.
  struct Record {
    bool known = false;
    std::array<bool, 3> read{};              // [ch]
    std::array<double, 3> full_scale{};      // [ch]
    // [2 * (ch - 1) + k]: k = 0 the record as a free-running or forced
    // trigger leaves it, k = 1 as a channel trigger does (two samples earlier
    // in the ring, for the same post-trigger count).
    std::array<std::vector<std::uint16_t>, 4> words;
  };
  Record record_;
};

}  // namespace ru3::fuzz
