// The simulated PC's cost per port access.
//
// A real printer port takes about 1 us per access; the simulator must be at
// least 20 times faster, so that a read-out that costs the instrument a
// quarter of a second of bus time costs the host a few milliseconds.
//
// BM_MeasurementCycle is the realistic mix: arm an acquisition, poll the
// status until it is ready, seek and read a two-channel record of 1000
// samples through the sample lane, all through the Backend interface. The
// other benchmarks take the three kinds of traffic apart: register writes,
// status reads while an acquisition runs, and sample-lane reads.
//
// Counter ns_per_access: processor time per port access (processor time, so
// that a busy machine does not count against the simulator). The program
// fails when the mixed figure is 50 ns or more.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>

#include "sim/simulator.h"
#include "support/sim_port.h"

namespace {

using ru3::sim::SimConfig;
using ru3::sim::SimulatedPc;
using ru3::sim::test::PortDriver;

double g_mixed_ns = 1e300;
std::uint64_t g_mixed_accesses = 0;

SimConfig Config() {
  SimConfig c;
  c.wall_clock_coupling = false;
  c.inputs[0].noise_rms = 0.01;
  return c;
}

// Range 5 on both channels with the factory codes, 200 kHz, rising trigger
// on channel 1 at 0 V.
void SetUp(PortDriver& port) {
  port.RelayByte(0xFB & 0xBF);
  port.LoadRange(1, 5);
  port.LoadRange(2, 5);
  port.Write(7, 9);
  port.Latch16(3, 0xFFFF);
  port.Write(14, 0);
  port.Write(1, 1);
  port.Write(1, 0);
  port.Latch16(2, 0x808A);
  port.Write(11, 4);
  port.Write(10, 0);
}

// Processor time of this process in seconds.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

void Report(benchmark::State& state, std::uint64_t accesses, double seconds) {
  state.SetItemsProcessed(static_cast<std::int64_t>(accesses));
  state.counters["ns_per_access"] = accesses == 0 ? 0.0 : seconds * 1e9 / static_cast<double>(accesses);
}

void BM_MeasurementCycle(benchmark::State& state) {
  SimulatedPc pc(Config());
  PortDriver port(pc);
  SetUp(port);
  const int post = 500;
  const int n = 1000;
  std::uint64_t accesses = 0;
  double seconds = 0.0;
  for (auto _ : state) {
    const std::uint64_t a0 = pc.AccessCount();
    const double t0 = CpuSeconds();
    port.Arm(post);
    while (!port.Ready()) {
    }
    const auto plan = port.PlanReadout(n);
    auto ch1 = port.ReadSamples(1, plan.s, plan.k, n, 2);
    auto ch2 = port.ReadSamples(2, plan.s, plan.k, n, 2);
    benchmark::DoNotOptimize(ch1.data());
    benchmark::DoNotOptimize(ch2.data());
    seconds += CpuSeconds() - t0;
    accesses += pc.AccessCount() - a0;
  }
  Report(state, accesses, seconds);
  // The longest run decides: the short calibration runs are too coarse for
  // the processor clock.
  if (accesses > g_mixed_accesses) {
    g_mixed_accesses = accesses;
    g_mixed_ns = seconds * 1e9 / static_cast<double>(accesses);
  }
}
BENCHMARK(BM_MeasurementCycle)->Unit(benchmark::kMillisecond);

void BM_RegisterWrite(benchmark::State& state) {
  SimulatedPc pc(Config());
  PortDriver port(pc);
  int v = 0;
  const std::uint64_t a0 = pc.AccessCount();
  const double t0 = CpuSeconds();
  for (auto _ : state) {
    port.Write(8, v);
    port.Write(12, v & 1);
    v = (v + 1) & 3;
  }
  Report(state, pc.AccessCount() - a0, CpuSeconds() - t0);
}
BENCHMARK(BM_RegisterWrite);

void BM_StatusReadWhileAcquiring(benchmark::State& state) {
  SimulatedPc pc(Config());
  PortDriver port(pc);
  SetUp(port);
  port.Write(10, 7);  // never triggers: the acquisition keeps running
  port.Arm(100);
  int busy = 0;
  const std::uint64_t a0 = pc.AccessCount();
  const double t0 = CpuSeconds();
  for (auto _ : state) busy += port.Read(2) >> 7;
  benchmark::DoNotOptimize(busy);
  Report(state, pc.AccessCount() - a0, CpuSeconds() - t0);
}
BENCHMARK(BM_StatusReadWhileAcquiring);

void BM_LaneSample(benchmark::State& state) {
  SimulatedPc pc(Config());
  PortDriver port(pc);
  port.Write(15, 3);
  const std::uint8_t h = port.Idle();
  const auto l = static_cast<std::uint8_t>(h & 0x7F);
  int sum = 0;
  const std::uint64_t a0 = pc.AccessCount();
  const double t0 = CpuSeconds();
  for (auto _ : state) {
    port.Data(l);
    const int s1 = port.Status();
    port.Data(h);
    const int s2 = port.Status();
    port.Data(l);
    port.Data(h);
    const int s3 = port.Status();
    sum += s1 + s2 + s3;
  }
  benchmark::DoNotOptimize(sum);
  Report(state, pc.AccessCount() - a0, CpuSeconds() - t0);
}
BENCHMARK(BM_LaneSample);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const bool ok = g_mixed_ns < 50.0;
  std::printf("measurement cycle: %.1f ns per port access (limit 50 ns, 1/20 of a real port): %s\n", g_mixed_ns,
              ok ? "within bounds" : "OUT OF BOUNDS");
  return ok ? 0 : 1;
}
