// The read-out of a full two-channel record of 32760 samples against a back
// end that only counts port accesses.
//
// On the real port every access costs about 1 us of bus time, so a full
// record (about 460000 accesses) takes close to half a second whatever the
// library does. What the library adds on top of the bus time is measured
// here: with a back end that costs next to nothing, the time per access is
// the library's own. It must stay under 1% of the bus time (10 ns an access).
//
// Counters per benchmark: accesses (per read-out), ns_per_access (the
// library's CPU time per access), wall_ns_per_access (the same in wall time,
// which a loaded machine inflates) and percent_of_bus (the CPU time against
// 1 us). The program fails when any benchmark reaches 1%.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "instrument/DUDA3.h"
#include "bench_support.h"
#include "platform/host.h"

namespace {

using ru3::bench::CountingBackend;
using ru3::bench::kBusNsPerAccess;
using ru3::bench::ThreadCpuNs;

double g_worst_percent = 0.0;

void ReadOutFullRecord(benchmark::State& state) {
  auto owned = std::make_unique<CountingBackend>();
  CountingBackend* backend = owned.get();
  std::unique_ptr<ru3::platform::Backend> previous = ru3::platform::ReplaceBackend(std::move(owned));
  {
    ru3::VOz3 instrument;
    instrument.nHardwareAddress = 0x378;
    instrument.bInstrumentOpen = true;
    instrument.SetRecordLength(ru3::kMaxRecordLength);
    instrument.SetPostSamples(ru3::kMaxRecordLength / 2);
    instrument.mMeasureMode = ru3::TMeasureMode::mCh12;
    instrument.bSlowIO = state.range(0) != 0;
    instrument.nAverageNumber = static_cast<std::int32_t>(state.range(1));
    instrument.nCalculations = 2;

    std::uint64_t accesses = 0;
    std::int64_t cpu_ns = 0;
    std::chrono::nanoseconds wall{0};
    for (auto _ : state) {
      backend->accesses = 0;
      const auto wall_start = std::chrono::steady_clock::now();
      const std::int64_t cpu_start = ThreadCpuNs();
      instrument.ReadOut();
      cpu_ns += ThreadCpuNs() - cpu_start;
      wall += std::chrono::steady_clock::now() - wall_start;
      accesses += backend->accesses;
      benchmark::DoNotOptimize(instrument.pDataCh2[ru3::kMaxRecordLength - 1]);
    }
    const double per_access = static_cast<double>(cpu_ns) / static_cast<double>(accesses);
    const double wall_per_access = static_cast<double>(wall.count()) / static_cast<double>(accesses);
    const double percent = 100.0 * per_access / kBusNsPerAccess;
    g_worst_percent = std::max(g_worst_percent, percent);
    state.counters["accesses"] = benchmark::Counter(static_cast<double>(accesses), benchmark::Counter::kAvgIterations);
    state.counters["ns_per_access"] = per_access;
    state.counters["wall_ns_per_access"] = wall_per_access;
    state.counters["percent_of_bus"] = percent;
  }
  ru3::platform::ReplaceBackend(std::move(previous));
}
// Arguments: slow port (0/1), averaging over n measurements.
BENCHMARK(ReadOutFullRecord)
    ->ArgNames({"slow_io", "average"})
    ->Args({0, 1})
    ->Args({0, 4})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("worst: the library's own time is %.3f%% of 1 us per port access\n", g_worst_percent);
  if (g_worst_percent >= 1.0) {
    std::fprintf(stderr, "FAIL: the read-out adds 1%% or more to the port's bus time\n");
    return 1;
  }
  return 0;
}
