// The acquisition engine: arming, polling, the trigger time-out, completion.
//
// After arming, the instrument samples continuously into its ring memory;
// when the trigger condition occurs it takes lPostSamples more samples, stops
// and clears the busy bit of its status register. The engine watches that
// bit, from the 1 ms poll timer or from the blocking loop of
// StartMeasurement, forces a trigger when the time-out has run out, has the
// finished record read into the channel buffers, counts the running average
// and applies the auto-ranging steps the read-out found at the next arming.
#include <limits>

#include "instrument/DUDA3.h"
#include "instrument/Registers.h"

namespace ru3 {

using namespace reg;

namespace {

// Time-outs of this many seconds or more never force a trigger: the tick
// arithmetic would no longer hold them.
constexpr long double kTimeOutLimitSeconds = 2000000.0L;

// An instrument that is switched off or unplugged leaves the status lines
// floating: its registers read a constant value and the write pointer stops.
// A live instrument moves the write pointer at every sample while it is busy,
// armed or not yet triggered. The blocking measure looks at the pointer every
// kStallCheckMs and gives up once it has stood still, while busy, for
// kStallBaseMs plus three sample periods.
constexpr std::uint32_t kStallCheckMs = 100;
constexpr long double kStallBaseMs = 2000.0L;
constexpr long double kStallPeriods = 3.0L;

std::uint32_t StallLimitMs(long double sample_freq) {
  constexpr auto kMax = static_cast<long double>(std::numeric_limits<std::uint32_t>::max());
  // A frequency of 0 or below (never after opening) is treated as the slowest.
  const long double freq = sample_freq > 0.0L ? sample_freq : kLowestSampleFreq;
  const long double limit = kStallBaseMs + kStallPeriods * 1000.0L / freq;
  return limit >= kMax ? std::numeric_limits<std::uint32_t>::max() : static_cast<std::uint32_t>(limit);
}

// The instrument has gone: the object closes, so that every later call
// reports no instrument instead of waiting on it or reading floating lines.
void CloseVanished(VOz3& instrument) {
  instrument.bInstrumentOpen = false;
  instrument.bArmed = false;
  instrument.bAdcRunning = false;
  instrument.DisableTimer();
  instrument.ReleasePort();
}

// Reads the finished record. A finished acquisition keeps its busy bit clear
// until the next arm; floating status lines read it set. So a record that was
// ready when the read-out began (its own status read says so) and is not
// after it was read, at least in part, from an instrument that has gone: it
// is no measurement, and the object closes. False then.
bool ReadOutWhole(VOz3& instrument) {
  instrument.ReadOut();
  if (!instrument.bReadyAtReadOut || instrument.IsReady()) return true;
  CloseVanished(instrument);
  return false;
}

}  // namespace

void VOz3::SetEnableMeasurements(bool on) {
  // Switching off always stops the timer, also one that device arrival
  // started behind the flag's back.
  if (on == bEnableMeasurements && on) return;
  bEnableMeasurements = on;
  if (on) {
    EnableTimer();  // also clears bArmed: the next tick arms afresh
  } else {
    DisableTimer();  // an armed measurement stays armed
  }
}

void VOz3::SetAcquisitionMode(TAcquisitionMode mode) {
  if (mode == amAcquisitionMode) return;
  amAcquisitionMode = mode;
  if (mode == TAcquisitionMode::amOneShot) nCalculations = 1;
}

void VOz3::ApplyRangeSteps() {
  // A step found by the last read-out moves the range one index, on channels
  // that auto-range and are measured. The range never leaves 1..nNrRanges
  // (the read-out produces no step past either end; index 0 would select an
  // empty table entry and becomes 1). A record taken on another range would
  // turn the running average into nonsense, so a step restarts it.
  for (int ch = 1; ch <= 2; ++ch) {
    const auto idx = static_cast<std::size_t>(ch);
    const TMeasureMode other_only = ch == 1 ? TMeasureMode::mCh2 : TMeasureMode::mCh1;
    if (!abAutoRanging[idx] || mMeasureMode == other_only || anRangeStep[idx] == 0) continue;
    awRange[idx] = static_cast<std::uint16_t>(awRange[idx] + anRangeStep[idx]);
    if (awRange[idx] == 0) awRange[idx] = 1;
    nCalculations = 1;
    SettingsChanged();
  }
  // A judgement belongs to the record it came from: it is applied once, and
  // another step needs another read-out.
  anRangeStep[1] = anRangeStep[2] = 0;
}

void VOz3::Poll() {
  if (!bInstrumentOpen) return;

  // A record is delivered only as it was armed. A setting changed since (the
  // clock setter reprograms the hardware at once; trigger, post-trigger count
  // and front end wait for the next arm) would make it a record of two
  // timebases, or one whose trigger, length or range are not those the
  // library reports: it is dropped and armed again on the settings of now.
  if (bArmed && bChangedSinceArm) bArmed = false;

  if (!bArmed) {
    bArmed = true;
    ApplyRangeSteps();
    if (bSettingsDirty) {
      ProgramFrontEnd();
      bSettingsDirty = false;
    }
    // A time-out shorter than one sample period: run untriggered until the
    // next settings change.
    if (rTrigTimeOut >= 0.0L && (rSampleFreq <= 0.0L || rTrigTimeOut < 1.0L / rSampleFreq)) {
      tsEffectiveTrigSource = TTrigSource::tsNoTrig;
    }
    Arm();
    bChangedSinceArm = false;
    byArmedUnitBits = UnitSelectBits;
  }

  // The record is watched, forced and read on the unit it was armed on,
  // whatever unit the host addresses meanwhile (it may be writing another
  // unit's DAC between two of its calls); the host's unit is back when the
  // step ends.
  const std::uint8_t host_unit = UnitSelectBits;
  UnitSelectBits = byArmedUnitBits;
  PollArmed(host_unit);
  UnitSelectBits = host_unit;
}

void VOz3::PollArmed(std::uint8_t host_unit) {
  if (OnTriggered) OnTriggered(this);
  // A pre-trigger hold-off ends here once its part is full.
  const bool holding_off = HoldingOff(*this);

  // Trigger time-out, counted from the end of the arm (or of the hold-off).
  // Repeated on every step until the hardware reports ready.
  if (!holding_off && rTrigTimeOut >= 0.0L && rTrigTimeOut < kTimeOutLimitSeconds) {
    const std::uint32_t elapsed = TickCount() - nArmTick;
    if (static_cast<long double>(elapsed) >= rTrigTimeOut * 1000.0L) {
      ForceTrigger();
      bSettingsDirty = true;
    }
  }

  if (!IsReady()) {
    anRangeStep[1] = anRangeStep[2] = 0;
    return;
  }

  // Completion.
  DisableTimer();
  if (!ReadOutWhole(*this)) return;
  if (amAcquisitionMode == TAcquisitionMode::amOneShot) {
    if (nAverageNumber == 1 || nCalculations >= nAverageNumber) {
      amAcquisitionMode = TAcquisitionMode::amHold;  // directly, not through the setter
      SettingsChanged();
    } else {
      ++nCalculations;
    }
  } else if (nCalculations < nAverageNumber) {
    ++nCalculations;
  } else {
    nCalculations = 1;
  }
  bArmed = false;
  if (OnMeasurementReady) OnMeasurementReady(this);
  // The front end of the armed unit is as the record was measured; one the
  // host has switched to since holds whatever it was given last.
  bSettingsDirty = host_unit != byArmedUnitBits;
  // Only timer-driven measuring goes on: with measuring switched off
  // (DoMeasure(0), or a blocking measure while it was never on) the timer
  // stays off and no further arming follows.
  if (bEnableMeasurements) EnableTimer();
  bMeasurementDone = true;
}

void VOz3::Arm() {
  if (!bInstrumentOpen) return;
  ProgramTriggerLevels();
  ProgramTriggerKind();
  ProgramSourceOrHoldOff(*this);

  const long double produced = ProgramSampleClock(rSampleFreq);
  if (produced != rSampleFreq) {
    rSampleFreq = produced;
    bSettingsDirty = true;
    SettingsChanged();
  }

  SetPostTriggerCounter(lPostSamples);
  // Start the acquisition hardware.
  Reg(kRegConverterLoad, kLoadHigh);
  Reg(kRegConverterData, kConverterDataNone);
  Reg(kRegRun, kRunArm);
  Reg(kRegAcqMode, kAcqArm);
  Reg(kRegStrobe, kStrobeArm);
  Reg(kRegStrobe, kStrobeNone);
  Reg(kRegAcqMode, kAcqRun);
  nArmTick = TickCount();
}

void VOz3::StartAcquisition() {
  if (!bInstrumentOpen) return;
  ApplyRangeSteps();
  if (bSettingsDirty) {
    ProgramFrontEnd();
    bSettingsDirty = false;
  }
  Arm();
  bAdcRunning = true;
}

void VOz3::BlockingMeasure() {
  bMeasurementDone = false;
  // One complete measurement on the settings of now: a record the timer
  // armed earlier (on older settings, its time-out running from its own
  // arm) is left to the hardware and armed afresh.
  bArmed = false;

  // Watch for an instrument that has gone (see kStallCheckMs): the write
  // pointer must move while a measurement is pending.
  std::uint32_t last_check = TickCount();
  std::uint32_t last_move = last_check;
  std::int32_t last_pointer = -1;

  while (!bMeasurementDone) {
    Poll();
    if (bMeasurementDone || !bInstrumentOpen) break;

    const std::uint32_t now = TickCount();
    if (static_cast<std::uint32_t>(now - last_check) < kStallCheckMs) continue;
    last_check = now;
    const std::int32_t pointer = ReadWritePointer();
    if (pointer != last_pointer) {
      last_pointer = pointer;
      last_move = now;
    } else if (static_cast<std::uint32_t>(now - last_move) > StallLimitMs(rSampleFreq)) {
      // Nothing answers any more.
      CloseVanished(*this);
      break;
    }
  }
}

void VOz3::Abort() {
  // The instrument has no stop command; the next start re-arms it from
  // scratch and an acquisition left running ends by itself. What the host
  // sees is that nothing is running any more. The channel buffers keep the
  // last record.
  bAdcRunning = false;
}

void VOz3::ForceTrigger() {
  if (DeferForce(*this)) return;
  Reg(kRegTriggerSource, kForceTrigger);
}

std::uint16_t VOz3::IsTriggered() {
  const std::uint16_t status = ReadReg(kRegStatus);
  switch (tsTriggerSource) {
    case TTrigSource::tsCh2:
      return status & kStatusTrigCh2;
    case TTrigSource::tsExternal:
      return status & kStatusTrigExternal;
    default:
      return status & kStatusTrigCh1;
  }
}

bool VOz3::IsReady() { return (ReadReg(kRegStatus) & kStatusBusy) == 0; }

void VOz3::FetchData() {
  if (!bInstrumentOpen) return;
  if (!ReadOutWhole(*this)) return;
  bAdcRunning = false;
  // A record still under way was read through the seek, which reprograms
  // its clock and post-trigger count: the record the timer armed is no
  // measurement any more, and the next tick arms afresh.
  if (!bReadyAtReadOut) bArmed = false;
}

void VOz3::SetPostTriggerCounter(std::int32_t samples) {
  // Two counts a sample, counting up to the overflow.
  const std::int64_t value = 2 * (static_cast<std::int64_t>(MemorySize) - samples) - 1;
  Latch16(kCounterPostTrigger, static_cast<std::uint16_t>(value & 0xFFFF));
}

bool VOz3::RegisterMessageTarget(int /*kind*/, std::uint32_t /*message*/) {
  // The instrument posts no messages: the id is accepted and not kept.
  return true;
}

}  // namespace ru3
