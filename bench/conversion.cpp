// Code-to-volts conversion per sample, through the exports, against its
// floor: a plain loop over the same buffer doing the same arithmetic.
//
// GetMeasurement converts both channels of the record held by the library;
// GetMeasurementRaw copies the codes. The floor is a loop that converts the
// codes a host got from GetMeasurementRaw with the same factor. Counters:
// ns_per_sample and ratio_to_loop (time of the export / time of the loop).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ru3/ru3.h"

namespace {

double g_loop_ns_per_sample = 0.0;

bool OpenWithRecord(std::uint32_t length) {
  setenv("RU3_SIMULATOR", "ch1=sine,1.5,1000;ch2=square,0.5,250", 1);
  if (InitInstrument(0) != RU3_OK) return false;
  if (SetRecordLength(length) != RU3_OK || SetTriggerTimeOut(1) != RU3_OK) return false;
  return StartMeasurement() == RU3_OK;
}

void BM_PlainLoop(benchmark::State& state) {
  const auto length = static_cast<std::uint32_t>(state.range(0));
  if (!OpenWithRecord(length)) {
    state.SkipWithError("no simulated instrument");
    return;
  }
  std::vector<std::uint16_t> raw1(length), raw2(length);
  std::vector<double> v1(length), v2(length);
  GetMeasurementRaw(raw1.data(), raw2.data());
  double range1 = 0.0;
  double range2 = 0.0;
  GetSensitivity(1, &range1);
  GetSensitivity(2, &range2);
  const double f1 = range1 / 32768.0;
  const double f2 = range2 / 32768.0;
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < length; ++i) {
      v1[i] = (static_cast<std::int32_t>(raw1[i]) - 32768) * f1;
      v2[i] = (static_cast<std::int32_t>(raw2[i]) - 32768) * f2;
    }
    benchmark::DoNotOptimize(v1.data());
    benchmark::DoNotOptimize(v2.data());
    benchmark::ClobberMemory();
  }
  const double samples = 2.0 * length * static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<std::int64_t>(samples));
  ExitInstrument();
}

void BM_GetMeasurement(benchmark::State& state) {
  const auto length = static_cast<std::uint32_t>(state.range(0));
  if (!OpenWithRecord(length)) {
    state.SkipWithError("no simulated instrument");
    return;
  }
  std::vector<double> v1(length), v2(length);
  for (auto _ : state) {
    GetMeasurement(v1.data(), v2.data());
    benchmark::DoNotOptimize(v1.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(2.0 * length * static_cast<double>(state.iterations())));
  ExitInstrument();
}

void BM_GetMeasurementRaw(benchmark::State& state) {
  const auto length = static_cast<std::uint32_t>(state.range(0));
  if (!OpenWithRecord(length)) {
    state.SkipWithError("no simulated instrument");
    return;
  }
  std::vector<std::uint16_t> r1(length), r2(length);
  for (auto _ : state) {
    GetMeasurementRaw(r1.data(), r2.data());
    benchmark::DoNotOptimize(r1.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(2.0 * length * static_cast<double>(state.iterations())));
  ExitInstrument();
}

BENCHMARK(BM_PlainLoop)->Arg(32760);
BENCHMARK(BM_GetMeasurement)->Arg(32760);
BENCHMARK(BM_GetMeasurementRaw)->Arg(32760);

// Prints ns per sample of each and the ratios to the plain loop.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const double per_sample = run.GetAdjustedCPUTime() / (2.0 * 32760.0);
      if (run.benchmark_name().rfind("BM_PlainLoop", 0) == 0) g_loop_ns_per_sample = per_sample;
      std::printf("  %s: %.3f ns per sample", run.benchmark_name().c_str(), per_sample);
      if (g_loop_ns_per_sample > 0.0) std::printf(", %.2fx the plain loop", per_sample / g_loop_ns_per_sample);
      std::printf("\n");
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
