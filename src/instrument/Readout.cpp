// Sample memory read-out: pending. Placeholder bodies keep the object complete.
#include "instrument/DUDA3.h"

namespace ru3 {
std::int32_t VOz3::ReadWritePointer() { return 0; }
void VOz3::ReadOut() {}
void VOz3::ReadSamples(int, std::int32_t, std::int32_t) {}
void VOz3::ArmAndWait(std::int32_t) {}
}  // namespace ru3
