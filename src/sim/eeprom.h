// The instrument's 256-byte serial EEPROM on the two-wire bus of register 6.
//
// Register 6 drives the bus: bit 0 the clock line, bit 1 the data level, bit 2
// the host's data driver (off = released), bit 3 the bus buffer (off = both
// lines released). The data line is wired-AND of the host's driver and the
// memory's; status bit 4 of register 2 shows the line.
//
// The memory answers at device address 0xA0 (write) / 0xA1 (read): it drives
// the acknowledge low in the ninth clock of every byte it takes, keeps an
// address pointer that a written word address sets and every byte read or
// written advances (wrapping at 256), sends the byte at the pointer after a
// read address and goes on with the next one as long as the host acknowledges.
// A start or stop condition (data changing while the clock is high) resets the
// transfer. Written bytes are stored at once.
#pragma once

#include <array>
#include <cstdint>

#include "sim/simulator.h"

namespace ru3::sim {

class Eeprom {
 public:
  // The image the factory leaves: signature, variant, serial number, calibration
  // date and the calibration codes of both channels and all ten ranges.
  static std::array<std::uint8_t, 256> FactoryImage(const SimConfig& config);

  explicit Eeprom(const std::array<std::uint8_t, 256>& image) : memory_(image) {}

  // Register 6 written with `value`.
  void OnRegister6(std::uint8_t value);
  // The data line as the host reads it.
  [[nodiscard]] bool DataLine() const { return host_sda_ && !drive_low_; }

  [[nodiscard]] const std::array<std::uint8_t, 256>& memory() const { return memory_; }
  std::array<std::uint8_t, 256>& memory() { return memory_; }

 private:
  enum class State { kIdle, kReceive, kAckOut, kTransmit, kAckIn };
  enum class Receiving { kDeviceAddress, kWordAddress, kData };

  void OnStart();
  void OnStop();
  void OnClockRise();
  void OnClockFall();
  void LoadNextByte();

  std::array<std::uint8_t, 256> memory_;
  bool scl_ = true;
  bool host_sda_ = true;
  bool drive_low_ = false;
  State state_ = State::kIdle;
  Receiving receiving_ = Receiving::kDeviceAddress;
  bool read_ = false;
  bool master_ack_ = false;
  std::uint8_t shift_ = 0;
  int bits_ = 0;
  std::uint8_t pointer_ = 0;
};

}  // namespace ru3::sim
