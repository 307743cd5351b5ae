// Serial memory: pending. Placeholder bodies keep the object complete.
#include "instrument/DUDA3.h"

namespace ru3 {
void VOz3::BusSetLines(int, int) {}
int VOz3::BusSampleData(int) { return 1; }
void VOz3::BusStartAddress(int) {}
void VOz3::BusStop() {}
void VOz3::BusWriteByte(std::uint8_t) {}
std::uint8_t VOz3::BusReadByte(bool) { return 0xFF; }
void VOz3::ReadMemory(std::uint16_t, std::uint16_t count, std::uint8_t* destination) {
  for (int i = 0; i < count; ++i) destination[i] = 0xFF;
}
void VOz3::LoadMemoryImage() { (this->*Dispatch.ReadMemory)(0, 256, abyMemory.data()); }
std::uint8_t VOz3::ImageByte(int address) const { return abyMemory[static_cast<std::size_t>(address & 0xFF)]; }
std::uint16_t VOz3::ImageWord(int address) const {
  return static_cast<std::uint16_t>(ImageByte(address) + 256 * ImageByte(address + 1));
}
void VOz3::LoadCalibration() {}
double VOz3::CalibrationDate() const { return 29221.0; }
std::int32_t VOz3::SerialNumberFromImage() const { return bInstrumentOpen ? 0 : -1; }
}  // namespace ru3
