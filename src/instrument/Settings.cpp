// The settings model: every acquisition setting of the instrument object with
// its limits, and the operations that turn the settings into register writes.
//
// Setters share one pattern: a value equal to the stored one is ignored;
// otherwise the value is stored, the running average restarts (nCalculations
// := 1) and the settings-changed notification marks the hardware for
// reprogramming at the next arm. Only the sample clock is programmed at once.
#include <cmath>
#include <cstdlib>

#include "instrument/DUDA3.h"
#include "instrument/Registers.h"

namespace ru3 {

using namespace reg;

namespace {

bool IsChannel(int ch) { return ch >= 1 && ch <= 4; }
bool IsTriggerInput(int input) { return input >= 0 && input <= 4; }

// Chooses the prescaler for a frequency below 100001 Hz. The thresholds are
// in units of the threshold base (10 Hz): below base/64 the slowest prescaler.
Prescaler ChoosePrescaler(long double hz, long double base) {
  for (const PrescalerStep& step : kPrescalerSteps) {
    if (hz < base / step.below) return step.prescaler;
  }
  return kPrescalerNone;
}

}  // namespace

void VOz3::SettingsChanged() {
  tsEffectiveTrigSource = tsTriggerSource;
  bSettingsDirty = true;
  bChangedSinceArm = true;
}

// ---- Input ranges, coupling, auto-ranging, DC level ------------------------

void VOz3::SetSensitivity(int ch, long double volts) {
  if (!IsChannel(ch)) return;
  if (volts == arRanges[awRange[ch]]) return;
  // Nearest range; on equal distance the lower index stays, and the unused
  // entries (0 V) are never chosen.
  std::uint16_t best = 1;
  long double distance = std::fabs(volts - arRanges[1]);
  for (std::uint16_t i = 1; i <= 12; ++i) {
    const long double d = std::fabs(volts - arRanges[i]);
    if (d < distance && arRanges[i] != 0) {
      distance = d;
      best = i;
    }
  }
  awRange[ch] = best;
  nCalculations = 1;
  SettingsChanged();
}

void VOz3::ChooseRange(int ch, long double volts) {
  // The host's own choice overrides the step the last read-out judged for
  // the channel (on another range, or while auto-ranging was off): the next
  // record is measured on the range chosen, and judged afresh.
  if (ch == 1 || ch == 2) anRangeStep[static_cast<std::size_t>(ch)] = 0;
  SetSensitivity(ch, volts);
}

long double VOz3::Sensitivity(int ch) const { return IsChannel(ch) ? arRanges[awRange[ch]] : 0.0L; }

void VOz3::SetCoupling(int ch, std::uint8_t code) {
  if (!IsChannel(ch) || code == abyCoupling[ch]) return;
  abyCoupling[ch] = code;
  nCalculations = 1;
  SettingsChanged();
}

std::uint8_t VOz3::Coupling(int ch) const { return IsChannel(ch) ? abyCoupling[ch] : 0; }

bool VOz3::SetAutoRanging(int ch, bool on) {
  // Switching auto-ranging neither restarts the average nor notifies: the
  // range itself only changes at the next arm.
  if (IsChannel(ch) && abAutoRanging[ch] != on) abAutoRanging[ch] = on;
  return on;
}

bool VOz3::AutoRanging(int ch) const { return IsChannel(ch) && abAutoRanging[ch]; }

void VOz3::SetDcLevel(int /*ch*/, long double /*volts*/) {}  // no DC-level hardware

long double VOz3::DcLevel(int /*ch*/) const { return 0.0L; }

// ---- Sample frequency and record -----------------------------------------

void VOz3::SetSampleFreq(long double hz) {
  if (hz == rSampleFreqRequest) return;
  rSampleFreqRequest = hz;
  rSampleFreq = hz;
  const long double produced = ProgramSampleClock(hz);
  // Not-a-number never compares equal, so a limited NaN request lands here too.
  if (produced != rSampleFreq) {
    rSampleFreqRequest = produced;
    rSampleFreq = produced;
  }
  nCalculations = 1;
  SettingsChanged();
}

void VOz3::SetRecordLength(std::int32_t length) {
  if (length == lRecordLength) return;
  if (length < 1) length = 1;
  if (length > kMaxRecordLength) length = kMaxRecordLength;
  lRecordLength = length;
  // The post samples are not clamped to the shorter record: the pre samples
  // then go negative and the record starts that many samples after the
  // trigger.
  SetPreSamples(lRecordLength - lPostSamples);
  nCalculations = 1;
  SettingsChanged();
}

void VOz3::SetPostSamples(std::int32_t count) {
  if (count == lPostSamples) return;
  if (count < 0) count = 0;
  if (count > lRecordLength) count = lRecordLength;
  lPostSamples = count;
  SetPreSamples(lRecordLength - lPostSamples);
  nCalculations = 1;
  SettingsChanged();
}

void VOz3::SetPreSamples(std::int32_t count) {
  if (count == lPreSamples) return;
  lPreSamples = count;
  nCalculations = 1;
  SettingsChanged();
}

void VOz3::SetMeasureMode(TMeasureMode mode) {
  // The read-out picks the channels from the mode at each fetch; nothing to
  // reprogram and the average carries on.
  mMeasureMode = mode;
}

// ---- Trigger ----------------------------------------------------------------

void VOz3::SetTriggerSource(TTrigSource source) {
  if (source == tsTriggerSource) return;
  tsTriggerSource = source;
  nCalculations = 1;
  SettingsChanged();
}

void VOz3::SetTrigMode(int input, std::uint8_t code) {
  if (!IsTriggerInput(input) || code == abyTrigMode[input]) return;
  abyTrigMode[input] = code;
  nCalculations = 1;
  SettingsChanged();
}

std::uint8_t VOz3::TrigMode(int input) const { return IsTriggerInput(input) ? abyTrigMode[input] : 0; }

void VOz3::SetTrigLevel(int ch, std::int32_t code) {
  if (!IsChannel(ch) || code == anTrigLevel[ch]) return;
  anTrigLevel[ch] = code;
  nCalculations = 1;
  SettingsChanged();
}

std::int32_t VOz3::TrigLevel(int ch) const { return IsChannel(ch) ? anTrigLevel[ch] : 0; }

void VOz3::SetTrigHys(int ch, std::int32_t code) {
  if (!IsChannel(ch) || code == anTrigHys[ch]) return;
  anTrigHys[ch] = code;
  nCalculations = 1;
  SettingsChanged();
}

std::int32_t VOz3::TrigHys(int ch) const { return IsChannel(ch) ? anTrigHys[ch] : 0; }

void VOz3::SetTrigTimeOut(long double seconds) {
  if (seconds == rTrigTimeOut) return;
  rTrigTimeOut = seconds;
  nCalculations = 1;
  SettingsChanged();
}

void VOz3::SetTransSampleTime(long double value) {
  if (value != rTransSampleTime) rTransSampleTime = value;
}

// ---- Resolution ---------------------------------------------------------------

std::uint16_t VOz3::AvailableResolution(int index) const {
  if (index < 0 || index >= wNrResolutions || index >= static_cast<int>(awResolutions.size())) return 0;
  return awResolutions[static_cast<std::size_t>(index)];
}

void VOz3::SetResolutionBits(std::int32_t /*bits*/) { nResolution = 12; }  // the only resolution

// ---- Programming the hardware ------------------------------------------------

long double VOz3::ProgramSampleClock(long double hz) {
  // The clock is BaseClockFreq divided by a prescaler P (register 14) and a
  // 16-bit divider m (counter 3); register 1 pulses to take the new values.
  auto take = [this](std::uint16_t counter, std::uint16_t prescaler_code) {
    Latch16(kCounterClockDivider, counter);
    Reg(kRegPrescaler, prescaler_code);
    Reg(kRegStrobe, kStrobeTakeClock);
    Reg(kRegStrobe, kStrobeNone);
  };

  ClockSelectBits = kClockSelectNormal;
  Reg(kRegClockSelect, static_cast<std::uint16_t>(ClockSelectBits + kClockRun));
  if (hz >= 400000.0L) {
    // The fastest clock: the base clock itself on the 400 kHz variant, half
    // of it on the other. That is the rate the host is told, not the request.
    Reg(kRegClockSelect, static_cast<std::uint16_t>(ClockSelectBits + kClockRun));
    take(kCounterFull, kPrescalerFastest);
    return byVariant == kVariantFast ? BaseClockFreq : BaseClockFreq / 2;
  }

  // The faster variant runs its divided clocks with clock select 0.
  ClockSelectBits = byVariant == kVariantFast ? kClockSelectFast : kClockSelectNormal;
  Reg(kRegClockSelect, static_cast<std::uint16_t>(ClockSelectBits + kClockRun));
  if (hz > 100001.0L) {
    take(kCounterFull, kPrescalerFastest);
    return 200000.0L;
  }

  PrescalerThresholdBase = 10;
  Prescaler p = kPrescalerSlowest;
  long double m = 65535.0L;
  // Zero, negative, not-a-number and anything slower than the divider's
  // reach get the slowest clock there is instead of an overflowed divider.
  if (hz >= kLowestSampleFreq) {
    p = ChoosePrescaler(hz, static_cast<long double>(PrescalerThresholdBase));
    m = RoundHalfEven(BaseClockFreq / p.divide / hz);
    if (m > 65535.0L) m = 65535.0L;
    if (m < 2.0L) m = 2.0L;
  }
  const auto divider = static_cast<std::uint16_t>(m);
  take(static_cast<std::uint16_t>(kCounterFull - (divider - 2)), p.code);
  return BaseClockFreq / p.divide / divider;
}

void VOz3::ProgramTriggerLevels() {
  // Levels and hysteresis come from the triggering channel, the kind always
  // from channel 1.
  const int ch = tsTriggerSource == TTrigSource::tsCh2 ? 2 : 1;
  const std::int64_t level = anTrigLevel[ch];
  const std::int64_t hysteresis = anTrigHys[ch];
  auto code = [](std::int64_t v) {
    const std::int64_t clamped = v < 0 ? 0 : v > kTrigLevelMax ? kTrigLevelMax : v;
    return static_cast<std::uint16_t>(clamped ^ kTrigLevelInvert);
  };
  std::uint16_t low = 0;
  std::uint16_t high = 0;
  switch (abyTrigMode[1]) {
    case 0:
    case 2:
    case 3:
      low = code(level - hysteresis);
      high = code(level);
      break;
    case 1:
      low = code(level + hysteresis);
      high = code(level);
      break;
    default:
      break;
  }
  Latch16(kCounterTriggerLevels, static_cast<std::uint16_t>(high * 256 + low));
}

void VOz3::ProgramTriggerKind() { Reg(kRegTriggerKind, TrigKindCode(abyTrigMode[1])); }

void VOz3::ProgramTriggerSource() { Reg(kRegTriggerSource, TrigSourceCode(tsEffectiveTrigSource)); }

void VOz3::ProgramFrontEnd() {
  // Only range indices inside the tables reach them.
  auto range = [this](int ch) -> std::size_t { return awRange[ch] >= 1 && awRange[ch] <= 12 ? awRange[ch] : 10; };
  const std::size_t r1 = range(1);
  const std::size_t r2 = range(2);
  AddressedFrontEnd()[1] = static_cast<std::uint16_t>(r1);
  AddressedFrontEnd()[2] = static_cast<std::uint16_t>(r2);

  // Relays: each channel's mask selects its range group; the coupling bits
  // are cleared inside ShiftRelayByte.
  ShiftRelayByte(static_cast<std::uint8_t>(awRelayMaskCh1[r1] & awRelayMaskCh2[r2]));

  WriteTrimPair(1, static_cast<std::uint16_t>(anGainCal[1][r1][1]), static_cast<std::uint16_t>(anGainCal[1][r1][2]));
  WriteTrimPair(2, static_cast<std::uint16_t>(anGainCal[2][r2][1]), static_cast<std::uint16_t>(anGainCal[2][r2][2]));

  Reg(kRegClockSelect, static_cast<std::uint16_t>(ClockSelectBits + kClockRun));
  Shift16(kConverterCh1, kConverterReset);
  Shift16(kConverterCh2, kConverterReset);

  // Each channel's converter takes the gain code and then the mean of offset
  // and gain code, rounded half to even.
  for (std::uint16_t ch = 1; ch <= 2; ++ch) {
    const std::size_t r = ch == 1 ? r1 : r2;
    const std::int64_t gain = anGainCal[ch][r][3];
    const std::int64_t offset = anOffsetCal[ch][r];
    const long double mean = static_cast<long double>(offset) - static_cast<long double>(offset - gain) / 2.0L;
    const auto rounded = static_cast<std::int64_t>(RoundHalfEven(mean));
    ConverterLoad(ch, static_cast<std::uint16_t>(gain), static_cast<std::uint16_t>(rounded));
  }

  // The relays and converters settle.
  Delay(10);
}

}  // namespace ru3
