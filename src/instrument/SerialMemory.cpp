// The two-wire serial bus to the instrument's 256-byte EEPROM, the memory
// image and what is taken from it: serial number, calibration date and the
// calibration tables of the analog front end.
//
// The bus is bit-banged through instrument register 6 (bit 3 always set, bit 2
// data driver on, bit 1 data level, bit 0 clock level) and the data line is
// sensed on bit 4 of status register 2. Each line change is one register
// write, each sample of the data line a write and a read. Acknowledge bits are
// clocked but never examined: an absent memory simply reads as whatever the
// data line shows, and identification rejects it by its signature byte.
//
// Memory layout (words little-endian, r = range 1..10):
//   1 signature 0xAA, 5 variant, 6..8 serial number, 10..11 year, 12 month,
//   13 day, 14 hour, 15 minute, 52+2r / 77+2r gain codes of channel 1 / 2,
//   102+2r / 127+2r offset codes, 151+r / 166+r trims A / B of channel 1,
//   181+r / 196+r trims A / B of channel 2.
#include <algorithm>
#include <chrono>

#include "instrument/DUDA3.h"
#include "instrument/Registers.h"

namespace ru3 {

using namespace reg;

namespace {

constexpr std::uint8_t kMemoryDeviceAddress = 0xA0;  // + 1 to read
constexpr std::int32_t kWriteSettleMs = 100;

// Calibration words are 14-bit codes; anything from 0x3FFF up (an erased
// 0xFFFF among them) stands for "not calibrated" and loads as mid-scale.
constexpr std::uint16_t kCodeInvalid = 0x3FFF;
constexpr std::int32_t kCodeMidScale = 0x1FFF;

// Addresses of the calibration entries of channel 1 or 2, range r.
constexpr int GainAddress(int ch, int r) { return 52 + 25 * (ch - 1) + 2 * r; }
constexpr int OffsetAddress(int ch, int r) { return 102 + 25 * (ch - 1) + 2 * r; }
constexpr int TrimAAddress(int ch, int r) { return 151 + 30 * (ch - 1) + r; }
constexpr int TrimBAddress(int ch, int r) { return 166 + 30 * (ch - 1) + r; }

constexpr int kSerialAddress = 6;
constexpr int kYearAddress = 10;
constexpr int kMonthAddress = 12;
constexpr int kDayAddress = 13;
constexpr int kHourAddress = 14;
constexpr int kMinuteAddress = 15;

std::int32_t CalibrationCode(std::uint16_t word) { return word >= kCodeInvalid ? kCodeMidScale : word; }

// Eight bits, most significant first, each clocked low-high-low, then the
// acknowledge clock with the data driver off; the answer is not examined.
// Shared by the address byte and the data byte of a write transfer.
void SendBits(VOz3& bus, std::uint8_t value) {
  for (int bit = 7; bit >= 0; --bit) {
    const int b = (value >> bit) & 1;
    bus.BusSetLines(b, 0);
    bus.BusSetLines(b, 1);
    bus.BusSetLines(b, 0);
  }
  bus.BusSampleData(0);
  bus.BusSampleData(1);
  bus.BusSetLines(0, 0);
}

}  // namespace

void VOz3::BusSetLines(int data, int clock) {
  Reg(kRegBus, static_cast<std::uint16_t>(kBusAlwaysOn + kBusDriveData + ((data & 1) != 0 ? kBusDataHigh : 0) +
                                          ((clock & 1) != 0 ? kBusClockHigh : 0)));
}

int VOz3::BusSampleData(int clock) {
  Reg(kRegBus, static_cast<std::uint16_t>(kBusAlwaysOn + ((clock & 1) != 0 ? kBusClockHigh : 0)));
  return (ReadReg(kRegStatus) & kStatusDataLine) != 0 ? 1 : 0;
}

void VOz3::BusStartAddress(int direction) {
  // Start condition: data falls while the clock is high.
  BusSetLines(1, 1);
  BusSetLines(0, 1);
  BusSetLines(0, 0);
  SendBits(*this, static_cast<std::uint8_t>(kMemoryDeviceAddress + (direction & 1)));
}

void VOz3::BusStop() {
  // Stop condition: data rises while the clock is high; both lines stay high.
  BusSetLines(0, 1);
  BusSetLines(1, 1);
}

void VOz3::BusWriteByte(std::uint8_t value) {
  SendBits(*this, value);
  Delay(kWriteSettleMs);
}

std::uint8_t VOz3::BusReadByte(bool acknowledge) {
  int value = 0;
  for (int bit = 7; bit >= 0; --bit) {
    BusSampleData(0);
    value |= BusSampleData(1) << bit;
    BusSampleData(0);
  }
  // Ninth clock: data held low acknowledges, high ends the transfer.
  const int ack = acknowledge ? 0 : 1;
  BusSetLines(ack, 0);
  BusSetLines(ack, 1);
  BusSetLines(ack, 0);
  return static_cast<std::uint8_t>(value);
}

void VOz3::ReadMemory(std::uint16_t address, std::uint16_t count, std::uint8_t* destination) {
  // A count of 0 has nothing to receive; reading a byte anyway would write
  // past the caller's buffer.
  if (count == 0 || destination == nullptr) return;
  // Random read: set the address in a write transfer, stop, then read
  // sequentially (no repeated start).
  BusStartAddress(0);
  BusWriteByte(static_cast<std::uint8_t>(address & 0xFF));
  BusStop();
  BusStartAddress(1);
  for (std::uint16_t i = 0; i + 1 < count; ++i) destination[i] = BusReadByte(true);
  destination[count - 1] = BusReadByte(false);
  BusStop();
}

std::uint8_t VOz3::ImageByte(int address) const {
  if (address < 0 || address >= static_cast<int>(abyMemory.size())) return 0;
  return abyMemory[static_cast<std::size_t>(address)];
}

std::uint16_t VOz3::ImageWord(int address) const {
  return static_cast<std::uint16_t>(ImageByte(address) + 256 * ImageByte(address + 1));
}

void VOz3::LoadCalibration() {
  // Only the ranges this model has; the table's spare entries stay 0.
  const int ranges = std::clamp(nNrRanges, 0, static_cast<int>(anOffsetCal[1].size()) - 1);
  for (int ch = 1; ch <= 2; ++ch) {
    for (int r = 1; r <= ranges; ++r) {
      auto& gain = anGainCal[static_cast<std::size_t>(ch)][static_cast<std::size_t>(r)];
      gain[3] = CalibrationCode(ImageWord(GainAddress(ch, r)));
      gain[1] = ImageByte(TrimAAddress(ch, r));
      gain[2] = ImageByte(TrimBAddress(ch, r));
      anOffsetCal[static_cast<std::size_t>(ch)][static_cast<std::size_t>(r)] =
          CalibrationCode(ImageWord(OffsetAddress(ch, r)));
    }
  }
}

double VOz3::CalibrationDate() const {
  using namespace std::chrono;
  const int y = ImageWord(kYearAddress);
  const unsigned m = ImageByte(kMonthAddress);
  const unsigned d = ImageByte(kDayAddress);
  const unsigned hour = ImageByte(kHourAddress);
  const unsigned minute = ImageByte(kMinuteAddress);

  const year_month_day epoch{year{1899}, month{12}, day{30}};
  year_month_day date{year{y}, month{m}, day{d}};
  double time = (hour * 60.0 + minute) / 1440.0;
  if (y < 1 || y > 9999 || !date.ok() || hour > 23 || minute > 59) {
    date = year_month_day{year{1980}, month{1}, day{1}};
    time = 0.0;
  }
  const double days = static_cast<double>((sys_days{date} - sys_days{epoch}).count());
  // Before the epoch the whole days count down while the time of day still
  // counts up: -1.25 is 29 December 1899, 06:00.
  return days < 0 ? days - time : days + time;
}

std::int32_t VOz3::SerialNumberFromImage() const {
  if (!bInstrumentOpen) return -1;
  return ImageByte(kSerialAddress) + 256 * ImageByte(kSerialAddress + 1) + 65536 * ImageByte(kSerialAddress + 2);
}

}  // namespace ru3
