// The cost of one printer-port access through ppdev against raw port I/O, on
// the real kernel (run in the real-kernel stage's guest, as root, with
// parport_pc and ppdev loaded: tests/kernel/run.sh bench).
//
// Both read the status register of parport0 at 0x379: BM_PpdevStatusRead
// with the PPRSTATUS ioctl on a claimed /dev/parport0 (the Linux back end's
// path through libieee1284), BM_RawStatusRead with an IN instruction after
// ioperm (libieee1284's raw path). Wall time per access: the access itself
// is what costs, in the kernel or in the emulated device, not the thread's
// own work. The run ends with the line "BENCH ppdev/raw ratio R", the two
// measured in the same run. Where the port or the permissions are missing
// (the build machine), both report an error and no ratio is printed.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr unsigned short kStatus = 0x379;

void BM_PpdevStatusRead(benchmark::State& state) {
  const int fd = ::open("/dev/parport0", O_RDWR);
  if (fd < 0 || ::ioctl(fd, PPCLAIM) != 0) {
    if (fd >= 0) ::close(fd);
    state.SkipWithError("no /dev/parport0 to claim");
    return;
  }
  unsigned char status = 0;
  for (auto _ : state) {
    ::ioctl(fd, PPRSTATUS, &status);
    benchmark::DoNotOptimize(status);
  }
  ::ioctl(fd, PPRELEASE);
  ::close(fd);
}
BENCHMARK(BM_PpdevStatusRead);

void BM_RawStatusRead(benchmark::State& state) {
  if (::ioperm(kStatus, 1, 1) != 0) {
    state.SkipWithError("no raw port I/O (root, and a kernel that grants ioperm)");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(inb(kStatus));
  ::ioperm(kStatus, 1, 0);
}
BENCHMARK(BM_RawStatusRead);

// The console report, and the time per access of each benchmark kept.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!run.error_occurred && run.iterations > 0) ns_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }
  std::map<std::string, double> ns_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto ppdev = reporter.ns_.find("BM_PpdevStatusRead");
  const auto raw = reporter.ns_.find("BM_RawStatusRead");
  if (ppdev == reporter.ns_.end() || raw == reporter.ns_.end()) return 0;
  std::printf("BENCH ppdev/raw ratio %.2f (ppdev %.0f ns, raw %.0f ns per status read)\n", ppdev->second / raw->second,
              ppdev->second, raw->second);
  return 0;
}
