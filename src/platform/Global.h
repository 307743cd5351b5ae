// The port primitives every layer above uses, and the rounding of every
// rounded value of the instrument.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

namespace ru3 {

// Rounding to the nearest integer, ties to even, as every "rounded" value of
// the instrument is taken. The caller keeps x within the target's range.
inline long double RoundHalfEven(long double x) { return std::nearbyint(x); }

// One byte-wide output or input at a 16-bit I/O address, through the current
// back end.
void PortOut(std::uint16_t port, std::uint8_t value);
std::uint8_t PortIn(std::uint16_t port);

// Busy wait of `ms` milliseconds on the tick count; 0 or less returns at once.
// Correct across the 32-bit wrap of the tick count.
void Delay(std::int32_t ms);

// The millisecond tick count of the current back end.
std::uint32_t TickCount();

// Whether this process can reach printer ports. On failure shows the driver
// notice (once per failed check) and returns false.
bool CheckPortDriver();

// The notice shown when port access is not available.
inline constexpr const char* kPortDriverMessage =
    "Windows NT / 2000 / XP requires an extra NT-driver for the parallel port and ISA bus.\n"
    "It was not detected on this computer.\n"
    "Hardware will not be available";

// Base addresses of LPT1, LPT2 and LPT3; 0 = absent. Filled by DiscoverPorts.
extern std::array<std::int32_t, 3> LptAddress;

// Fills LptAddress: from the system configuration on the 9x family, by probing
// the classic addresses on the NT family (and on Linux and the simulator),
// then the configuration's base for an entry probing left empty.
void DiscoverPorts();

// True when the named device opens and the data register at `address` holds
// the pattern 0xAA written to it 100 ms earlier.
bool ProbePort(std::uint16_t address, const std::string& name);

// "LPT1".."LPT3" for index 0..2.
std::string LptName(int index);

}  // namespace ru3
