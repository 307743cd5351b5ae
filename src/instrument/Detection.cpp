// Detection and opening: pending. Until it lands no instrument is found.
#include "instrument/DUDA3.h"

namespace ru3 {
bool VOz3::InitHardware() {
  DisableTimer();
  return false;
}
void VOz3::CloseHardware() { ReleasePort(); }
bool VOz3::OpenInstrument() { return false; }
bool VOz3::IdentifyOnPort(const std::string&) { return false; }
bool VOz3::ClaimPort(const std::string&) { return false; }
void VOz3::ReleasePort() { hPortClaim = platform::kNoDevice; }
}  // namespace ru3
