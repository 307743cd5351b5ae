// Shared enumerations and the port primitives every layer above uses.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

namespace ru3 {

enum class TMeasureMode : std::uint8_t {
  mNone = 0, mCh1 = 1, mCh2 = 2, mCh12 = 3, mCh3 = 4, mCh13 = 5, mCh23 = 6,
  mCh123 = 7, mCh4 = 8, mCh14 = 9, mCh24 = 10, mCh124 = 11, mCh34 = 12,
  mCh134 = 13, mCh234 = 14, mCh1234 = 15, mXY = 16
};

enum class TTrigSource : std::uint8_t {
  tsCh1 = 0, tsCh2 = 1, tsCh3 = 2, tsCh4 = 3, tsExternal = 4, tsAnaExt = 5,
  tsAnd = 6, tsOr = 7, tsXor = 8, tsNoTrig = 9, tsNeverTrig = 10,
  tsPxiExt = 11, tsGenStart = 12, tsGenStop = 13, tsGenNew = 14, tsUnknown = 15
};

enum class TAcquisitionMode : std::uint8_t { amContinuous = 0, amHold = 1, amOneShot = 2 };

enum class TTransferMode : std::uint8_t { tmBlock = 0, tmStream = 1 };

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
