#include "served_memory_image.h"

#include <algorithm>
#include <array>
#include <optional>

#include "instrument/DUDA3.h"
#include "platform/host.h"

namespace ru3 {

namespace fuzz {

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

}  // namespace fuzz

// The fuzz build's loader, in place of the library's (MemoryImage.cpp).
void VOz3::LoadMemoryImage() {
  auto* pc = dynamic_cast<fuzz::ServedImagePc*>(&platform::CurrentBackend());
  if (pc != nullptr && pc->ServeMemoryImage(abyMemory.data(), abyMemory.size())) return;
  ReadMemory(0, static_cast<std::uint16_t>(abyMemory.size()), abyMemory.data());
}

}  // namespace ru3
