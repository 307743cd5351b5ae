// Auxiliary outputs: pending. Placeholder bodies keep the object complete.
#include "instrument/DUDA3.h"

namespace ru3 {
void VOz3::SelectUnit(std::int32_t unit) { nActiveUnit = unit; }
std::uint16_t VOz3::DacCode(long double) { return 2048; }
void VOz3::SetDac(long double, long double) {}
void VOz3::SetMotor(bool, bool) {}
void VOz3::FillGeneratorMemory(std::int32_t, const std::uint16_t*) {}
}  // namespace ru3
