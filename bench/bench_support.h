// Shared by the benchmarks: a back end that only counts port accesses, and
// the calling thread's CPU time.
#pragma once

#include <time.h>

#include <cstdint>
#include <string>

#include "platform/host.h"

namespace ru3::bench {

inline constexpr double kBusNsPerAccess = 1000.0;  // a real printer port

// CPU time of this thread: what the library itself spends, without the time
// the thread waits while a loaded machine runs something else.
inline std::int64_t ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Counts accesses and answers every read with 0: every register reads 0, so
// the instrument is ready, the ring is not wrapped and the write pointer
// stands at 32765.
class CountingBackend final : public platform::Backend {
 public:
  std::uint64_t accesses = 0;
  void Out(std::uint16_t /*port*/, std::uint8_t /*value*/) override { ++accesses; }
  std::uint8_t In(std::uint16_t /*port*/) override {
    ++accesses;
    return 0;
  }
  bool PortDriverPresent() override { return true; }
  platform::DeviceHandle OpenDevice(const std::string& /*name*/) override { return platform::kNoDevice; }
  void CloseDevice(platform::DeviceHandle /*handle*/) override {}
  std::uint32_t TickCount() override { return 0; }
  void Delay(std::int32_t /*ms*/) override {}
};

}  // namespace ru3::bench
