// InitInstrument + ExitInstrument against the simulated PC.
//
// Identification waits more than half a second of instrument time (200 ms for
// the port to settle, 100 ms after each of three EEPROM address bytes), and
// port discovery and the front-end upload add their own waits. Under the
// simulator those waits cost simulated time only, so opening must take a
// small fraction of them in wall time.
//
// Counters per iteration: instrument_ms, the simulated time InitInstrument
// and ExitInstrument took; wall_ms, the wall-clock time; opened, 1 when the
// instrument answered. The program fails when wall_ms is 50 or more or
// instrument_ms is 500 or less, or the instrument was not opened.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "platform/host.h"
#include "ru3/ru3.h"
#include "sim/simulator.h"

namespace {

double g_worst_wall_ms = 0.0;
double g_least_instrument_ms = 1e300;
bool g_all_opened = true;

void BM_InitExitInstrument(benchmark::State& state) {
  auto owned = std::make_unique<ru3::sim::SimulatedPc>();
  ru3::sim::SimulatedPc* pc = owned.get();
  std::unique_ptr<ru3::platform::Backend> previous = ru3::platform::ReplaceBackend(std::move(owned));

  double instrument_ms = 0.0;
  double wall_ms = 0.0;
  double opened = 0.0;
  for (auto _ : state) {
    const std::uint64_t sim_start = pc->NowNs();
    const auto wall_start = std::chrono::steady_clock::now();
    const std::uint16_t status = InitInstrument(0);
    ExitInstrument();
    const std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - wall_start;
    const double sim_ms = static_cast<double>(pc->NowNs() - sim_start) / 1e6;
    benchmark::DoNotOptimize(status);
    instrument_ms += sim_ms;
    wall_ms += wall.count();
    opened += status == RU3_OK ? 1.0 : 0.0;
    g_all_opened = g_all_opened && status == RU3_OK;
    if (wall.count() > g_worst_wall_ms) g_worst_wall_ms = wall.count();
    if (sim_ms < g_least_instrument_ms) g_least_instrument_ms = sim_ms;
  }
  state.counters["instrument_ms"] = benchmark::Counter(instrument_ms, benchmark::Counter::kAvgIterations);
  state.counters["wall_ms"] = benchmark::Counter(wall_ms, benchmark::Counter::kAvgIterations);
  state.counters["opened"] = benchmark::Counter(opened, benchmark::Counter::kAvgIterations);

  ru3::platform::ReplaceBackend(std::move(previous));
}
BENCHMARK(BM_InitExitInstrument)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const bool ok = g_all_opened && g_worst_wall_ms < 50.0 && g_least_instrument_ms > 500.0;
  std::printf("worst wall time %.2f ms, least instrument time %.1f ms: %s\n", g_worst_wall_ms, g_least_instrument_ms,
              ok ? "within bounds" : "OUT OF BOUNDS");
  return ok ? 0 : 1;
}
