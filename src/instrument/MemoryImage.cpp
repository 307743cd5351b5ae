// Loading the memory image at opening: all 256 bytes over the two-wire bus
// (SerialMemory.cpp). A file of its own so that the fuzz build can link a
// loader of its own in its place, as it does the poll timer.
#include "instrument/DUDA3.h"

namespace ru3 {

void VOz3::LoadMemoryImage() { ReadMemory(0, static_cast<std::uint16_t>(abyMemory.size()), abyMemory.data()); }

}  // namespace ru3
