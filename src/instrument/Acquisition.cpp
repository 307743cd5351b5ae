// Acquisition engine: pending. Placeholder bodies keep the object complete.
#include "instrument/DUDA3.h"

namespace ru3 {
void VOz3::SetEnableMeasurements(bool on) {
  if (on == bEnableMeasurements) return;
  bEnableMeasurements = on;
  if (on) {
    EnableTimer();
  } else {
    DisableTimer();
  }
}
void VOz3::SetAcquisitionMode(TAcquisitionMode mode) {
  if (mode == amAcquisitionMode) return;
  amAcquisitionMode = mode;
  if (mode == TAcquisitionMode::amOneShot) nCalculations = 1;
}
void VOz3::Poll() {}
void VOz3::Arm() {}
void VOz3::StartAcquisition() {}
void VOz3::BlockingMeasure() {}
void VOz3::Abort() {}
void VOz3::ForceTrigger() { Reg(10, 3); }
std::uint16_t VOz3::IsTriggered() { return 0; }
bool VOz3::IsReady() { return false; }
void VOz3::FetchData() {}
void VOz3::SetPostTriggerCounter(std::int32_t) {}
bool VOz3::RegisterMessageTarget(int, std::uint32_t) { return true; }
void VOz3::ApplyRangeSteps() {}
}  // namespace ru3
