// Finding, identifying, opening and closing the instrument.
//
// The instrument is recognised by its EEPROM alone: the byte at address 1
// reads 0xAA. Opening tries a preferred port first (the one whose base is in
// nHardwareAddress), then LPT1, LPT2 and LPT3 in turn. Every port is claimed
// while it is examined, without sharing, so a port that another program (or
// anyone else) holds is skipped; the port where the instrument answers stays
// claimed until the instrument is closed.
#include "instrument/DUDA3.h"
#include "instrument/Registers.h"

namespace ru3 {

using namespace reg;

namespace {

constexpr std::int32_t kPowerUpSettleMs = 200;
constexpr std::uint16_t kSignatureAddress = 1;
constexpr std::uint16_t kVariantAddress = 5;
constexpr std::uint8_t kSignature = 0xAA;

// Index 0..2 of the first of LPT1..LPT3 whose base is non-zero and equal to
// `base`; -1 when none.
int PortIndexOf(std::int32_t base) {
  for (int i = 0; i < 3; ++i) {
    const std::int32_t lpt = LptAddress[static_cast<std::size_t>(i)];
    if (lpt != 0 && lpt == base) return i;
  }
  return -1;
}

}  // namespace

bool VOz3::ClaimPort(const std::string& name) {
  // A claim still held would be lost (and its device never closed otherwise).
  ReleasePort();
  hPortClaim = platform::CurrentBackend().OpenDevice(name);
  return hPortClaim != platform::kNoDevice;
}

void VOz3::ReleasePort() {
  if (hPortClaim == platform::kNoDevice) return;
  const platform::DeviceHandle claim = hPortClaim;
  hPortClaim = platform::kNoDevice;
  platform::CurrentBackend().CloseDevice(claim);
}

bool VOz3::IdentifyOnPort(const std::string& name) {
  if (!ClaimPort(name)) return false;
  const auto data = static_cast<std::uint16_t>(nHardwareAddress);
  const auto control = static_cast<std::uint16_t>(data + kControlPortOffset);
  // The instrument is identified as unit 1, whatever unit an earlier
  // instrument object left selected; a new object's active unit is 0.
  UnitSelectBits = kUnitOneBits;

  // Idle lines, then give the instrument time to settle.
  PortOut(control, kControlIdle);
  PortOut(data, DataIdleByte());
  Delay(kPowerUpSettleMs);
  Reg(kRegClockSelect, ClockSelectBits);

  std::uint8_t signature = 0;
  ReadMemory(kSignatureAddress, 1, &signature);
  if (signature != kSignature) {
    ReleasePort();
    return false;
  }
  ReadMemory(kVariantAddress, 1, &byVariant);

  // The variant decides the clock limits of every later programming.
  if (byVariant == kVariantFast) {
    PrescalerThresholdBase = 20;
    BaseClockFreq = 400000.0L;
    MaxSampleFreq = 400000.0L;
  } else {
    PrescalerThresholdBase = 10;
    BaseClockFreq = 400000.0L;
    MaxSampleFreq = 200000.0L;
  }
  rMaxSampleFreq = MaxSampleFreq;
  SetSampleFreq(MaxSampleFreq);  // the first programming of the sample clock

  PortOut(data, DataIdleByte());
  PortOut(control, kControlIdle);
  Reg(kRegClockSelect, static_cast<std::uint16_t>(ClockSelectBits + kClockRun));

  nMaxRecordLength = kMaxRecordLength;
  bTrigMode4 = false;
  // Open before the image is read: the serial number is taken from the image
  // only while the instrument counts as open.
  bInstrumentOpen = true;
  LoadMemoryImage();
  nSerialNumber = SerialNumberFromImage();

  ReleasePort();
  return true;
}

bool VOz3::OpenInstrument() {
  if (!bHardwareAvailable) return false;
  ReleasePort();

  bool found = false;
  try {
    DiscoverPorts();
    const int preferred = PortIndexOf(nHardwareAddress);
    if (preferred >= 0) found = IdentifyOnPort(LptName(preferred));
    for (int i = 0; i < 3 && !found; ++i) {
      nHardwareAddress = LptAddress[static_cast<std::size_t>(i)];
      if (nHardwareAddress != 0) found = IdentifyOnPort(LptName(i));
    }
  } catch (...) {
    // A failure half-way through an identification leaves no instrument
    // and no claim behind.
    found = false;
    ReleasePort();
  }

  bInstrumentOpen = found;
  if (found) {
    const int index = PortIndexOf(nHardwareAddress);
    sPortName = index >= 0 ? LptName(index) : std::string();
    // Held until the instrument is closed. Without it another program could
    // drive the same port, so an instrument whose port cannot be claimed
    // again does not count as open.
    if (index < 0 || !ClaimPort(sPortName)) {
      bInstrumentOpen = false;
      found = false;
    }
  }
  return found;
}

bool VOz3::InitHardware() {
  if (!OpenInstrument()) {
    DisableTimer();
    return false;
  }
  try {
    LoadCalibration();
    ProgramFrontEnd();
    SetDac(0.0L, 0.0L);
    SetMotor(false, false);
  } catch (...) {
    bInstrumentOpen = false;
    ReleasePort();
    DisableTimer();
    return false;
  }
  return true;
}

void VOz3::CloseHardware() {
  // Only an instrument that was found has outputs to reset: without one,
  // nHardwareAddress may point at a port that is not ours, or at nothing.
  if (bInstrumentOpen) {
    SetDac(0.0L, 0.0L);
    SetMotor(false, false);
  }
  ReleasePort();
}

}  // namespace ru3
