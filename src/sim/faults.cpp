#include "sim/faults.h"

namespace ru3::sim {

namespace {

// The measuring unit is addressed by data bits 4-5 both set; data bit 7 high
// shows a register's high nibble on status bits 3-6.
constexpr std::uint8_t kMeasuringUnitBits = 0x30;
constexpr std::uint8_t kHighNibble = 0x80;
constexpr int kStatusRegister = 2;
constexpr std::uint8_t kBusyLine = 0x40;        // register bit 7 on status bit 6
constexpr std::uint8_t kEepromDataLine = 0x08;  // register bit 4 on status bit 3

}  // namespace

bool Faults::UnpluggedAtRead(bool lane) {
  ++status_reads_;
  if (countdown_armed_ && (lane || !lane_only_)) {
    if (unplug_countdown_ == 0) {
      unplugged = true;
      countdown_armed_ = false;
    } else {
      --unplug_countdown_;
    }
  }
  return unplugged;
}

std::uint8_t Faults::FilterStatus(std::uint8_t status, std::uint8_t data, int selected_register) const {
  const bool status_high_nibble = (data & kMeasuringUnitBits) == kMeasuringUnitBits && (data & kHighNibble) != 0 &&
                                  selected_register == kStatusRegister;
  if (!status_high_nibble) return status;
  if (busy_stuck) status |= kBusyLine;
  if (eeprom_silent) status |= kEepromDataLine;
  return status;
}

}  // namespace ru3::sim
