// Settings model: pending. Placeholder bodies keep the object complete.
#include "instrument/DUDA3.h"

namespace ru3 {
void VOz3::SettingsChanged() {
  tsEffectiveTrigSource = tsTriggerSource;
  bSettingsDirty = true;
}
void VOz3::SetSensitivity(int, long double) {}
long double VOz3::Sensitivity(int ch) const { return arRanges[awRange[ch]]; }
void VOz3::SetCoupling(int, std::uint8_t) {}
std::uint8_t VOz3::Coupling(int ch) const { return abyCoupling[ch]; }
bool VOz3::SetAutoRanging(int ch, bool on) {
  abAutoRanging[ch] = on;
  return on;
}
bool VOz3::AutoRanging(int ch) const { return abAutoRanging[ch]; }
void VOz3::SetDcLevel(int, long double) {}
long double VOz3::DcLevel(int) const { return 0.0L; }
void VOz3::SetSampleFreq(long double) {}
void VOz3::SetRecordLength(std::int32_t) {}
void VOz3::SetPostSamples(std::int32_t) {}
void VOz3::SetPreSamples(std::int32_t) {}
void VOz3::SetMeasureMode(TMeasureMode) {}
void VOz3::SetTriggerSource(TTrigSource) {}
void VOz3::SetTrigMode(int, std::uint8_t) {}
std::uint8_t VOz3::TrigMode(int input) const { return abyTrigMode[input]; }
void VOz3::SetTrigLevel(int, std::int32_t) {}
std::int32_t VOz3::TrigLevel(int ch) const { return anTrigLevel[ch]; }
void VOz3::SetTrigHys(int, std::int32_t) {}
std::int32_t VOz3::TrigHys(int ch) const { return anTrigHys[ch]; }
void VOz3::SetTrigTimeOut(long double seconds) {
  if (seconds == rTrigTimeOut) return;
  rTrigTimeOut = seconds;
  nCalculations = 1;
  SettingsChanged();
}
void VOz3::SetTransSampleTime(long double value) { rTransSampleTime = value; }
std::uint16_t VOz3::AvailableResolution(int) const { return 0; }
void VOz3::SetResolutionBits(std::int32_t) {}
void VOz3::ProgramFrontEnd() {}
long double VOz3::ProgramSampleClock(long double hz) { return hz; }
void VOz3::ProgramTriggerLevels() {}
void VOz3::ProgramTriggerKind() {}
void VOz3::ProgramTriggerSource() {}
}  // namespace ru3
