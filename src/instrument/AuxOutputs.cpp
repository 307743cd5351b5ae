// Auxiliary outputs: which of up to four units on the port the register
// traffic addresses, the two-channel 12-bit DAC (-10 V..+10 V) and the two
// motor outputs, which are register 10 of unit 4.
//
// The DAC channels are selected through register 9 (7 first channel, 11
// second, 3 none) and loaded serially through register 5 (bit 2 data, bit 0
// clock), twelve bits, most significant first. Nothing is read back.
#include <cmath>

#include "instrument/DUDA3.h"
#include "instrument/Registers.h"

namespace ru3 {

using namespace reg;

namespace {

constexpr long double kDacLow = -10.0L;
constexpr long double kDacHigh = 10.0L;
constexpr std::uint16_t kDacMaxCode = 4095;

// Twelve bits, most significant first: data set with the clock low, then the
// clock rises and falls.
void ShiftDacCode(VOz3& out, std::uint16_t code) {
  for (std::uint16_t mask = kDacFirstBit; mask != 0; mask >>= 1) {
    const std::uint16_t d = (code & mask) != 0 ? kSerialData : kSerialIdle;
    out.Reg(kRegSerial, d);
    out.Reg(kRegSerial, static_cast<std::uint16_t>(d + kSerialClock));
    out.Reg(kRegSerial, d);
  }
}

}  // namespace

std::array<std::uint16_t, 3>& VOz3::AddressedFrontEnd() {
  // Bits 5-4: 11 unit 1, 10 unit 2, 01 unit 3, 00 unit 4.
  return awFrontEndRange[UnitIndex(UnitSelectBits)];
}

void VOz3::SelectUnit(std::int32_t unit) {
  // Any number is remembered; only 1..4 change the bits.
  if (unit >= 1 && unit <= kUnitCount && UnitBits(unit) != UnitSelectBits) {
    UnitSelectBits = UnitBits(unit);
    // The unit now addressed holds the front end it was last given, for
    // settings since changed or never: the next arming uploads the current
    // one (its records are converted with the range it was programmed with,
    // AddressedFrontEnd). A record under way stays on the unit it was armed
    // on: the poll watches and reads it there.
    bSettingsDirty = true;
  }
  nActiveUnit = unit;
}

std::uint16_t VOz3::DacCode(long double volts) {
  if (std::isnan(volts) || volts < kDacLow) volts = kDacLow;
  if (volts > kDacHigh) volts = kDacHigh;
  const long double code = RoundHalfEven((volts - kDacLow) / (kDacHigh - kDacLow) * 4096.0L);
  // +10 V lands on 4096, one past the top code.
  return code > kDacMaxCode ? kDacMaxCode : static_cast<std::uint16_t>(code);
}

void VOz3::SetDac(long double first, long double second) {
  // Without an opened instrument the base address may be 0 (the PC's DMA
  // controller); write nothing then.
  if (!bInstrumentOpen) return;
  const std::uint16_t c1 = DacCode(first);
  const std::uint16_t c2 = DacCode(second);
  Reg(kRegSerial, kSerialIdle);
  Reg(kRegDeviceSelect, kSelectDacFirst);
  ShiftDacCode(*this, c1);
  Reg(kRegDeviceSelect, kSelectNone);
  Reg(kRegDeviceSelect, kSelectDacSecond);
  ShiftDacCode(*this, c2);
  Reg(kRegDeviceSelect, kSelectNone);
}

void VOz3::SetMotor(bool first, bool second) {
  if (!bInstrumentOpen) return;
  // The motors hang on unit 4 whatever unit is active; the selection is
  // exactly as before afterwards. Only the bits are switched, not through
  // SelectUnit: writing the motor register changes no unit's front end.
  const std::uint8_t saved_bits = UnitSelectBits;
  UnitSelectBits = UnitBits(kMotorUnit);
  Reg(kRegMotor, static_cast<std::uint16_t>((first ? kMotorFirst : 0) + (second ? kMotorSecond : 0)));
  UnitSelectBits = saved_bits;
}

// This instrument has no generator memory.
void VOz3::FillGeneratorMemory(std::int32_t /*count*/, const std::uint16_t* /*samples*/) {}

}  // namespace ru3
