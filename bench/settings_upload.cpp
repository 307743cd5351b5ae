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
#include "bench_support.h"
#include "platform/host.h"

namespace {

using ru3::bench::CountingBackend;
using ru3::bench::kBusNsPerAccess;
using ru3::bench::ThreadCpuNs;

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
