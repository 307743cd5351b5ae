#include "served_memory_image.h"

#include <algorithm>
#include <array>
#include <optional>

namespace ru3::fuzz {

bool ServedImagePc::ServeMemoryImage(std::uint8_t* image, std::size_t size) {
  // Unit 1 is selected when both unit-select bits of the data byte are set.
  constexpr std::uint8_t kUnitBits = 0x30;
  const std::optional<PortLatches> port = InstrumentPort();
  if (!port || !port->held || faults().unplugged || faults().eeprom_silent || (port->data & kUnitBits) != kUnitBits) {
    return false;
  }
  const std::array<std::uint8_t, 256> memory = EepromBytes();
  std::copy_n(memory.begin(), std::min(size, memory.size()), image);
  return true;
}

}  // namespace ru3::fuzz
