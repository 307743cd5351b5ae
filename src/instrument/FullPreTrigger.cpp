// Full pre-trigger records and the facts of the record in the buffers.
//
// How the library knows the pre-trigger part is full: from the tick count and
// the sample rate, not from the write pointer. Reading the pointer costs two
// register reads (a dozen port accesses) on every poll step of the hold-off,
// beside its status read, and the timer polls every millisecond; the tick
// count costs nothing. Its
// price is resolution: the count moves in whole milliseconds and may step
// just after the arm, so the hold-off waits one tick more than the part
// takes. It ends at the first poll step after that: late by at most one tick
// (at 200 kHz some 200 samples more than needed, at 1 kHz one), never early,
// so the record is always full.
#include "instrument/FullPreTrigger.h"

#include <cmath>

#include "instrument/DUDA3.h"

namespace ru3 {

using namespace reg;

namespace {

// Samples taken beyond the pre-trigger part before the real source is
// programmed: the read-out's first cell and the input trigger's latency of
// two samples, with one to spare.
constexpr std::int32_t kHoldOffMarginSamples = 4;

// The longest hold-off the 32-bit tick difference can time (24.8 days); a
// slower record ends it there, with what it has.
constexpr long double kLongestHoldOffTicks = 2147483647.0L;

// Whole ticks that must have passed since the arm.
std::uint32_t HoldOffTicks(const VOz3& instrument) {
  const long double freq = instrument.rSampleFreq > 0.0L ? instrument.rSampleFreq : kLowestSampleFreq;
  const long double ms = (static_cast<long double>(instrument.lPreSamples) + kHoldOffMarginSamples) * 1000.0L / freq;
  const long double ticks = std::ceil(ms) + 1.0L;
  return ticks >= kLongestHoldOffTicks ? static_cast<std::uint32_t>(kLongestHoldOffTicks)
                                       : static_cast<std::uint32_t>(ticks);
}

// The facts a read of these channels gives the record.
std::uint8_t ChannelsRead(TMeasureMode mode) {
  switch (mode) {
    case TMeasureMode::mCh1:
      return 1;
    case TMeasureMode::mCh2:
      return 2;
    case TMeasureMode::mCh12:
    case TMeasureMode::mXY:
      return 3;
    default:
      return 0;
  }
}

bool EndedByTrigger(const VOz3& instrument, std::uint16_t status) {
  if (instrument.tsEffectiveTrigSource == TTrigSource::tsNoTrig) return false;  // free-running
  switch (instrument.tsTriggerSource) {
    case TTrigSource::tsCh2:
      return (status & kStatusTrigCh2) != 0;
    case TTrigSource::tsExternal:
      return (status & kStatusTrigExternal) != 0;
    default:
      return (status & kStatusTrigCh1) != 0;
  }
}

}  // namespace

void ProgramSourceOrHoldOff(VOz3& instrument) {
  TRecordExtension& x = instrument.Extension;
  x.abyArmedCoupling = {0, instrument.abyCoupling[1], instrument.abyCoupling[2]};
  x.bForcePending = false;
  // A record no longer than its post-trigger part has nothing to wait for.
  x.bHoldingOff = x.bOn && instrument.lPreSamples > 0;
  x.bHeldOffAtArm = x.bHoldingOff;
  if (!x.bHoldingOff) {
    instrument.ProgramTriggerSource();
    return;
  }
  x.byArmedUnitBits = instrument.UnitSelectBits;
  // The trigger source register takes effect whenever it is written, also
  // while the acquisition waits for its trigger: the never-firing source now,
  // the real one when the part is full. The record stays one of the real
  // source (tsEffectiveTrigSource: the read-out places its samples by it).
  instrument.Reg(kRegTriggerSource, kTrigSourceNever);
}

bool HoldingOff(VOz3& instrument) {
  TRecordExtension& x = instrument.Extension;
  if (!x.bHoldingOff) return false;
  if (static_cast<std::uint32_t>(TickCount() - instrument.nArmTick) < HoldOffTicks(instrument)) return true;
  x.bHoldingOff = false;
  // On the unit the record was armed on.
  const std::uint8_t host_unit = instrument.UnitSelectBits;
  instrument.UnitSelectBits = x.byArmedUnitBits;
  if (x.bForcePending) {
    x.bForcePending = false;
    instrument.ForceTrigger();
  } else {
    instrument.ProgramTriggerSource();
  }
  instrument.UnitSelectBits = host_unit;
  // The trigger time-out counts from here.
  instrument.nArmTick = TickCount();
  return false;
}

bool DeferForce(VOz3& instrument) {
  TRecordExtension& x = instrument.Extension;
  if (!x.bHoldingOff) return false;
  // Kept for the end of the hold-off, which may be now: then HoldingOff
  // forces (this hook lets that force through) and nothing more is written.
  x.bForcePending = true;
  (void)HoldingOff(instrument);
  return true;
}

void NoteRecordRead(VOz3& instrument, std::uint16_t status) {
  TRecordExtension& x = instrument.Extension;
  // Whatever was under way has been read.
  x.bHoldingOff = false;
  x.bForcePending = false;
  const std::uint8_t channels = ChannelsRead(instrument.mMeasureMode);
  if (channels == 0) return;  // nothing read: the buffers hold the record they held

  TRecordFacts& r = x.Record;
  r.nSequence = r.nSequence == 0xFFFFFFFFu ? 1 : r.nSequence + 1;
  r.rSampleFreq = instrument.rSampleFreq;
  for (int ch = 1; ch <= 2; ++ch) {
    const auto idx = static_cast<std::size_t>(ch);
    r.arRange[idx] = instrument.RecordSensitivity(ch);
    if ((channels & (1 << (ch - 1))) != 0) r.abyCoupling[idx] = x.abyArmedCoupling[idx];
  }
  r.nUnit = static_cast<std::int32_t>(UnitIndex(instrument.UnitSelectBits)) + 1;
  const std::int64_t length = static_cast<std::int64_t>(instrument.lPreSamples) + instrument.lPostSamples;
  r.lLength = length < 0 ? 0 : (length > kMaxRecordLength ? kMaxRecordLength : static_cast<std::int32_t>(length));
  r.lTriggerPosition = instrument.lPreSamples;
  r.lFirstSample = x.lFirstStored > r.lLength ? r.lLength : x.lFirstStored;
  r.bForced = !EndedByTrigger(instrument, status);
  r.bHeldOff = x.bHeldOffAtArm;
  r.byChannels = channels;
}

}  // namespace ru3
