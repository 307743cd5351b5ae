// The settings upload: programming the analog front end (relays, trims,
// converter words of both channels) and the arming (trigger levels, kind,
// source, sample clock, post-trigger counter), against a back end that only
// counts port accesses. On the real port each access costs about 1 us; what
// the library adds on top is its own CPU time per access, reported as
// ns_per_access and percent_of_bus (against 1 us), with the number of
// accesses and the bus time they cost the real port (bus_us).
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>
#include <memory>

#include "instrument/DUDA3.h"
#include "platform/host.h"

namespace {

constexpr double kBusNsPerAccess = 1000.0;

std::int64_t ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

class CountingBackend final : public ru3::platform::Backend {
 public:
  std::uint64_t accesses = 0;
  void Out(std::uint16_t /*port*/, std::uint8_t /*value*/) override { ++accesses; }
  std::uint8_t In(std::uint16_t /*port*/) override {
    ++accesses;
    return 0;
  }
  bool PortDriverPresent() override { return true; }
  ru3::platform::DeviceHandle OpenDevice(const std::string& /*name*/) override { return ru3::platform::kNoDevice; }
  void CloseDevice(ru3::platform::DeviceHandle /*handle*/) override {}
  std::uint32_t TickCount() override { return 0; }
  void Delay(std::int32_t /*ms*/) override {}
};

template <typename Upload>
void Measure(benchmark::State& state, Upload upload) {
  auto owned = std::make_unique<CountingBackend>();
  CountingBackend* backend = owned.get();
  std::unique_ptr<ru3::platform::Backend> previous = ru3::platform::ReplaceBackend(std::move(owned));
  {
    ru3::VOz3 instrument;
    instrument.nHardwareAddress = 0x378;
    instrument.bInstrumentOpen = true;
    std::uint64_t accesses = 0;
    std::int64_t cpu_ns = 0;
    for (auto _ : state) {
      backend->accesses = 0;
      const std::int64_t start = ThreadCpuNs();
      upload(instrument);
      cpu_ns += ThreadCpuNs() - start;
      accesses += backend->accesses;
    }
    const double per_access = static_cast<double>(cpu_ns) / static_cast<double>(accesses);
    state.counters["accesses"] = benchmark::Counter(static_cast<double>(accesses), benchmark::Counter::kAvgIterations);
    state.counters["bus_us"] =
        benchmark::Counter(static_cast<double>(accesses) * kBusNsPerAccess / 1000.0, benchmark::Counter::kAvgIterations);
    state.counters["ns_per_access"] = per_access;
    state.counters["percent_of_bus"] = 100.0 * per_access / kBusNsPerAccess;
  }
  ru3::platform::ReplaceBackend(std::move(previous));
}

void BM_ProgramFrontEnd(benchmark::State& state) {
  Measure(state, [](ru3::VOz3& instrument) { instrument.ProgramFrontEnd(); });
}

void BM_Arm(benchmark::State& state) {
  Measure(state, [](ru3::VOz3& instrument) { instrument.Arm(); });
}

BENCHMARK(BM_ProgramFrontEnd)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Arm)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
