// The register protocol over the printer port.
//
// The instrument exposes sixteen 4-bit write registers. A write puts the
// register number on the data lines and pulses select-in (address cycle), then
// the value and a pulse of auto-feed (data cycle); the data port is left at
// the idle byte. A read selects the register through register 15 and takes the
// high and the low nibble from status bits 3-6 while data bit 7 chooses the
// nibble. With bSlowIO every access but the closing idle write is issued
// twice, for ports that need longer strobes.
#include "instrument/DUDA3.h"
#include "instrument/Registers.h"

namespace ru3 {

using namespace reg;

void VOz3::WriteRegister(std::uint16_t reg, std::uint16_t value) {
  if (!bHardwareAvailable) return;
  const auto data = static_cast<std::uint16_t>(nHardwareAddress);
  const auto control = static_cast<std::uint16_t>(data + kControlPortOffset);
  const int n = bSlowIO ? 2 : 1;
  const std::uint8_t address_byte = DataByte(static_cast<std::uint8_t>(reg));
  const std::uint8_t value_byte = DataByte(static_cast<std::uint8_t>(value));
  for (int i = 0; i < n; ++i) PortOut(data, address_byte);
  for (int i = 0; i < n; ++i) PortOut(control, kControlAddressStrobe);
  for (int i = 0; i < n; ++i) PortOut(control, kControlIdle);
  for (int i = 0; i < n; ++i) PortOut(data, value_byte);
  for (int i = 0; i < n; ++i) PortOut(control, kControlDataStrobe);
  for (int i = 0; i < n; ++i) PortOut(control, kControlIdle);
  PortOut(data, DataIdleByte());
}

std::uint16_t VOz3::ReadRegister(std::uint16_t reg) {
  if (!bHardwareAvailable) return 0;
  const auto data = static_cast<std::uint16_t>(nHardwareAddress);
  const auto status = static_cast<std::uint16_t>(data + kStatusPortOffset);
  const auto control = static_cast<std::uint16_t>(data + kControlPortOffset);
  const int n = bSlowIO ? 2 : 1;
  // Select: register 15 := reg, without the closing idle write.
  const std::uint8_t select_byte = DataByte(kRegReadBackSelect);
  const std::uint8_t reg_byte = DataByte(static_cast<std::uint8_t>(reg));
  for (int i = 0; i < n; ++i) PortOut(data, select_byte);
  for (int i = 0; i < n; ++i) PortOut(control, kControlAddressStrobe);
  for (int i = 0; i < n; ++i) PortOut(control, kControlIdle);
  for (int i = 0; i < n; ++i) PortOut(data, reg_byte);
  for (int i = 0; i < n; ++i) PortOut(control, kControlDataStrobe);
  for (int i = 0; i < n; ++i) PortOut(control, kControlIdle);

  std::uint8_t hi = 0;
  std::uint8_t lo = 0;
  for (int i = 0; i < n; ++i) PortOut(data, static_cast<std::uint8_t>(DataIdleByte() | kDataReadClock));
  for (int i = 0; i < n; ++i)
    hi = static_cast<std::uint8_t>((PortIn(status) >> kStatusNibbleShift) & kStatusNibbleMask);
  for (int i = 0; i < n; ++i) PortOut(data, static_cast<std::uint8_t>(DataIdleByte() & ~kDataReadClock));
  for (int i = 0; i < n; ++i)
    lo = static_cast<std::uint8_t>((PortIn(status) >> kStatusNibbleShift) & kStatusNibbleMask);
  PortOut(data, DataIdleByte());
  return static_cast<std::uint16_t>(hi * 16 + lo);
}

void VOz3::WriteLatch16(std::uint16_t strobe, std::uint16_t value) {
  // Four 4-bit latches, least significant nibble first; each latch is loaded
  // bit by bit through register 5 (bit address in bits 0-1, data in bit 2)
  // and strobed with bit i of the strobe register.
  for (int i = 0; i < kLatchCount; ++i) {
    const int nibble = (value >> (4 * i)) & 0x0F;
    for (int j = 0; j < 4; ++j) {
      const int d = (nibble >> (3 - j)) & 1;
      Reg(kRegSerial, static_cast<std::uint16_t>(j + (d != 0 ? kSerialData : 0)));
      Reg(strobe, static_cast<std::uint16_t>(1 << i));
      Reg(strobe, kStrobeNone);
    }
  }
}

void VOz3::ShiftOut16(std::uint16_t target, std::uint16_t word) {
  // Register 5: bit 0 serial clock, bit 1 frame (active low), bit 2 start.
  // Register 8 carries the data bit: bit 0 for converter 1, bit 1 for 2.
  Reg(kRegSerial, kShiftIdle);
  Reg(kRegConverterLoad, kLoadLow);
  Reg(kRegSerial, kShiftStartPulse);
  Reg(kRegSerial, kShiftIdle);
  const std::uint16_t m = target == kConverterCh1 ? kConverterData1 : kConverterData2;
  Reg(kRegSerial, kShiftClockHigh);
  for (int bit = kConverterWordBits - 1; bit >= 0; --bit) {
    Reg(kRegConverterData, ((word >> bit) & 1) != 0 ? m : kConverterDataNone);
    Reg(kRegSerial, kShiftClockLow);
    Reg(kRegSerial, kShiftClockHigh);
  }
  Reg(kRegSerial, kShiftIdle);
  Reg(kRegConverterData, kConverterDataNone);
  Reg(kRegConverterLoad, kLoadHigh);
}

void VOz3::ConverterWord(std::uint16_t target, std::uint16_t value) {
  Shift16(target, static_cast<std::uint16_t>(kConverterWrite + (value & kConverterValueMask)));
}

void VOz3::ConverterLoad(std::uint16_t target, std::uint16_t first, std::uint16_t second) {
  Shift16(target, kConverterSetup);
  ConverterWord(target, first);
  ConverterWord(target, second);
  for (int i = 0; i < kConverterFillWords; ++i) ConverterWord(target, kConverterFill);
}

void VOz3::ShiftRelayByte(std::uint8_t relay) {
  // Register 5: bit 2 data, bit 3 clock. Coupling code 1 clears the
  // channel's coupling bit.
  if (abyCoupling[1] == kCouplingRelayOff) relay = static_cast<std::uint8_t>(relay & ~kRelayCouplingCh1);
  if (abyCoupling[2] == kCouplingRelayOff) relay = static_cast<std::uint8_t>(relay & ~kRelayCouplingCh2);
  Reg(kRegSerial, kSerialIdle);
  std::uint16_t d = kSerialIdle;
  for (int bit = 7; bit >= 0; --bit) {
    d = ((relay >> bit) & 1) != 0 ? kSerialData : kSerialIdle;
    Reg(kRegSerial, d);
    Reg(kRegSerial, static_cast<std::uint16_t>(d + kSerialRelayClock));
  }
  Reg(kRegSerial, d);
  Reg(kRegSerial, kSerialIdle);
}

void VOz3::WriteTrimPair(int ch, std::uint16_t a, std::uint16_t b) {
  // The dual trim converter of a channel takes 10-bit words: bits 9-8 the
  // output (00 first, 01 second), bits 7-0 the value. The second value is
  // sent inverted, computed on 16 bits as the converter's driver always did.
  auto b_inverted = static_cast<std::uint16_t>(kTrimMax - b);
  if (a > kTrimMax) a = kTrimMax;
  if (b_inverted > kTrimMax) b_inverted = kTrimMax;
  std::uint16_t select = 0;
  std::uint16_t first = 0;
  std::uint16_t second = 0;
  if (ch == 1) {
    select = kSelectTrimCh1;
    first = a;
    second = static_cast<std::uint16_t>(b_inverted + kTrimSecondOutput);
  } else {
    select = kSelectTrimCh2;
    first = b_inverted;
    second = static_cast<std::uint16_t>(a + kTrimSecondOutput);
  }
  for (const std::uint16_t word : {first, second}) {
    Reg(kRegDeviceSelect, select);
    for (int bit = kTrimWordBits - 1; bit >= 0; --bit) {
      const std::uint16_t d = ((word >> bit) & 1) != 0 ? kSerialData : kSerialIdle;
      Reg(kRegSerial, d);
      Reg(kRegSerial, static_cast<std::uint16_t>(d + kSerialClock));
    }
    Reg(kRegDeviceSelect, kSelectNone);
  }
}

}  // namespace ru3
