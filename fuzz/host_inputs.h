// What the exports fuzzer hands the library: hostile numbers, counts and
// channels, host buffers (or null), outputs marked so that a refusing getter
// can be seen to have written nothing, and the host's floating-point
// environment.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cfenv>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <fpu_control.h>
#endif

#include "ru3/ru3.h"
#include "truth.h"

namespace ru3::fuzz {

constexpr std::size_t kBuffer = 65536;  // more than any record

inline double Value(FuzzedDataProvider& in) {
  static constexpr double kSpecial[] = {0.0,
                                        -0.0,
                                        1.0,
                                        -1.0,
                                        0.5,
                                        80.0,
                                        1e-300,
                                        1e300,
                                        -1e300,
                                        std::numeric_limits<double>::quiet_NaN(),
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::denorm_min(),
                                        std::numeric_limits<double>::max(),
                                        4294967296.0,
                                        -2147483649.0};
  if (in.ConsumeBool()) return kSpecial[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kSpecial) - 1)];
  return in.ConsumeFloatingPoint<double>();
}

inline std::uint32_t Count(FuzzedDataProvider& in) {
  static constexpr std::uint32_t kSpecial[] = {0,     1,     2,     255,        256,        32760,
                                               32761, 65535, 65536, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  if (in.ConsumeBool()) return kSpecial[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kSpecial) - 1)];
  return in.ConsumeIntegral<std::uint32_t>();
}

// Half of the channels the instrument has (1, 2), half any byte.
inline std::uint32_t Channel(FuzzedDataProvider& in) {
  const std::uint8_t value = in.ConsumeIntegral<std::uint8_t>();
  return value < 128 ? 1U + (value & 1U) : value;
}

struct Buffers {
  std::vector<std::uint16_t> raw1 = std::vector<std::uint16_t>(kBuffer);
  std::vector<std::uint16_t> raw2 = std::vector<std::uint16_t>(kBuffer);
  std::vector<double> volts1 = std::vector<double>(kBuffer);
  std::vector<double> volts2 = std::vector<double>(kBuffer);
};

template <typename T>
T* Or(FuzzedDataProvider& in, std::vector<T>& buffer) {
  return in.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : buffer.data();
}

template <typename T>
T* Or(FuzzedDataProvider& in, T& value) {
  return in.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : &value;
}

// Fills an output the library may write, so that a getter that answered an
// error can be seen to have written nothing.
constexpr std::uint8_t kUntouched = 0xA5;

template <typename T>
T Untouched() {
  T value;
  std::memset(&value, kUntouched, sizeof value);
  return value;
}

template <typename T>
void ExpectUntouched(std::uint16_t status, const T& value) {
  const T untouched = Untouched<T>();
  if (status != RU3_OK && std::memcmp(&value, &untouched, sizeof value) != 0) {
    Violated("a getter that returns an error writes nothing");
  }
}

template <typename T>
void ExpectUntouched(std::uint16_t status, const std::vector<T>& buffer) {
  if (status == RU3_OK) return;
  for (std::size_t i = 0; i < 8; ++i) ExpectUntouched(status, buffer[i]);
}

template <typename T>
void MarkUntouched(std::vector<T>& buffer) {
  std::memset(buffer.data(), kUntouched, 8 * sizeof(T));
}

// Samples the host's record buffers hold after a read.
inline std::int32_t Held() { return std::clamp<std::int32_t>(GetRecordLength(), 0, kBuffer); }

// The host's floating-point environment: rounding mode and, on x86, the
// precision of the x87 unit (the Windows default of many compilers is 53 bits).
inline void SetHostFloatingPoint(FuzzedDataProvider& in) {
  static constexpr int kRounding[] = {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO};
  std::fesetround(kRounding[in.ConsumeIntegralInRange<int>(0, 3)]);
#if defined(__x86_64__) || defined(__i386__)
  static constexpr fpu_control_t kPrecision[] = {_FPU_EXTENDED, _FPU_DOUBLE, _FPU_SINGLE};
  fpu_control_t control = 0;
  _FPU_GETCW(control);
  control = (control & ~static_cast<fpu_control_t>(_FPU_EXTENDED)) | kPrecision[in.ConsumeIntegralInRange<int>(0, 2)];
  _FPU_SETCW(control);
#endif
}

}  // namespace ru3::fuzz
