// The real Linux back end of libru3.so, and libieee1284 below it, on the
// faked kernel parport layer (tests/fakes/parport): the PCs users have, with
// RU3_SIMULATOR unset. In each the library opens the instrument and measures
// the simulator's default signals (a 1 V, 1 kHz sine on channel 1, a 0.5 V,
// 250 Hz square on channel 2), every byte it writes reaches the faked
// register unchanged, and it touches no port it does not hold; or, where the
// port is held, InitInstrument comes back with 1.
//
// One test a process (ctest runs them so): the fake kernel is set up once.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_kernel.h"
#include "ru3/ru3.h"

namespace {

using ru3::fake::RegisterWrite;
using Origin = RegisterWrite::Origin;

struct TraceLine {
  char kind;
  unsigned address;
  unsigned value;
};

class LinuxBackend : public ::testing::Test {
 protected:
  // Sets up the fake kernel for this process and traces the library's port
  // accesses.
  void Start(const char* fake) {
    static bool started = false;
    if (started) GTEST_SKIP() << "one test a process: run through ctest";
    started = true;
    ::setenv("RU3_FAKE_PARPORT", fake, 1);
    ::unsetenv("RU3_SIMULATOR");
    const char* dir = std::getenv("RU3_FAKE_PARPORT_DIR");
    trace_ = std::string(dir != nullptr ? dir : "/tmp") + "/trace-" + std::to_string(::getpid()) + ".txt";
    std::remove(trace_.c_str());
    ::setenv("RU3_PORT_TRACE", trace_.c_str(), 1);
  }

  void TearDown() override { std::remove(trace_.c_str()); }

  // InitInstrument, also saying how long it took.
  std::uint16_t Init() {
    const auto start = std::chrono::steady_clock::now();
    const std::uint16_t status = InitInstrument(0);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    RecordProperty("init_ms", static_cast<int>(ms.count()));
    return status;
  }

  // One block-style record of 1000 samples of both channels at 200 kHz,
  // triggered on channel 1.
  static void MeasureDefaultSignals() {
    double range1 = 2.0, range2 = 0.8;
    ASSERT_EQ(SetSensitivity(1, &range1), RU3_OK);
    ASSERT_EQ(SetSensitivity(2, &range2), RU3_OK);
    ASSERT_EQ(SetRecordLength(1000), RU3_OK);
    ASSERT_EQ(SetTriggerSource(0), RU3_OK);
    ASSERT_EQ(ADC_Start(), RU3_OK);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ADC_Ready() != 1) {
      ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "the measurement never completed";
    }
    std::vector<double> ch1(1000), ch2(1000);
    ASSERT_EQ(ADC_GetDataVolt(ch1.data(), ch2.data()), RU3_OK);
    const double step1 = 2.0 / 2048, step2 = 0.8 / 2048;  // one conversion step
    EXPECT_NEAR(*std::max_element(ch1.begin(), ch1.end()), 1.0, 3 * step1);
    EXPECT_NEAR(*std::min_element(ch1.begin(), ch1.end()), -1.0, 3 * step1);
    EXPECT_NEAR(*std::max_element(ch2.begin(), ch2.end()), 0.5, 3 * step2);
    EXPECT_NEAR(*std::min_element(ch2.begin(), ch2.end()), -0.5, 3 * step2);
  }

  std::vector<TraceLine> Trace() const {
    std::vector<TraceLine> lines;
    std::ifstream in(trace_);
    std::string line;
    while (std::getline(in, line)) {
      TraceLine t{};
      if (std::sscanf(line.c_str(), "%c %x %x", &t.kind, &t.address, &t.value) == 3) lines.push_back(t);
    }
    return lines;
  }

  // Every byte the library wrote reached the faked register unchanged, in
  // order, and nothing else did but the kernel's claims and the back end's
  // restores of the control register after them. Call after ExitInstrument.
  void ExpectWritesReachedTheRegisters() const {
    std::vector<TraceLine> written;
    for (const TraceLine& t : Trace()) {
      if (t.kind == 'O') written.push_back(t);
    }
    const std::vector<RegisterWrite> writes = ru3::fake::Writes();
    std::vector<RegisterWrite> program;
    std::copy_if(writes.begin(), writes.end(), std::back_inserter(program),
                 [](const RegisterWrite& w) { return w.origin == Origin::kProgram; });
    ASSERT_FALSE(written.empty());
    ASSERT_EQ(program.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
      ASSERT_EQ(program[i].address, written[i].address) << "write " << i;
      ASSERT_EQ(program[i].value, written[i].value) << "write " << i;
    }
    // A restore follows a claim and puts back the library's last control
    // byte on that port.
    std::map<unsigned, int> last_control;
    for (std::size_t i = 0; i < writes.size(); ++i) {
      if (writes[i].origin == Origin::kFrob) {
        ASSERT_GT(i, 0U);
        EXPECT_EQ(writes[i - 1].origin, Origin::kClaim);
        EXPECT_EQ(writes[i].value, last_control[writes[i].address]);
      } else if (writes[i].origin == Origin::kProgram) {
        last_control[writes[i].address] = writes[i].value;
      }
    }
    EXPECT_EQ(ru3::fake::RefusedAccesses(), 0) << "the library drove a port it did not hold";
  }

  // Every address the library wrote lies on one of these bases.
  void ExpectOnlyPortsAt(std::initializer_list<unsigned> bases) const {
    for (const TraceLine& t : Trace()) {
      const bool ours = std::any_of(bases.begin(), bases.end(), [&](unsigned b) { return t.address - b < 3; });
      ASSERT_TRUE(ours) << std::hex << "access to 0x" << t.address;
    }
  }

  static bool Has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  }

  // Waits (bounded) until the library's late helper has let go of parportN.
  static void WaitUntilNotRegistered(int n, const std::string& name) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Has(ru3::fake::Registered(n), name)) {
      ASSERT_LT(std::chrono::steady_clock::now(), give_up);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::string trace_;
};

TEST_F(LinuxBackend, OnboardPortIsClaimedExclusivelyAndMeasures) {
  Start("ports=0x378");
  ASSERT_EQ(Init(), RU3_OK);
  EXPECT_TRUE(ru3::fake::Exclusive(0));
  MeasureDefaultSignals();
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  EXPECT_TRUE(ru3::fake::Registered(0).empty());  // released and closed
  ExpectWritesReachedTheRegisters();
  ExpectOnlyPortsAt({0x378});
}

TEST_F(LinuxBackend, WithLpLoadedThePortIsHeldByAnOrdinaryClaimWhileOpen) {
  Start("ports=0x378;lp=yes");
  ASSERT_EQ(Init(), RU3_OK);
  const std::vector<std::string> devices = ru3::fake::Registered(0);
  EXPECT_TRUE(Has(devices, "lp"));
  EXPECT_TRUE(Has(devices, "ppdev0"));  // ours, registered and holding since the open
  EXPECT_FALSE(ru3::fake::Exclusive(0));
  MeasureDefaultSignals();
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  EXPECT_FALSE(Has(ru3::fake::Registered(0), "ppdev0"));
  ExpectWritesReachedTheRegisters();
}

TEST_F(LinuxBackend, RootWithoutPpdevUsesRawPortIo) {
  Start("ports=0x378;ppdev=no;root=yes");
  ASSERT_EQ(Init(), RU3_OK);
  MeasureDefaultSignals();
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  ExpectWritesReachedTheRegisters();
  ExpectOnlyPortsAt({0x378});
}

TEST_F(LinuxBackend, CardAtTheBaseTheKernelListsIsFound) {
  Start("ports=0xD010");
  ASSERT_EQ(Init(), RU3_OK);
  MeasureDefaultSignals();
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  ExpectWritesReachedTheRegisters();
  ExpectOnlyPortsAt({0xD010});
}

TEST_F(LinuxBackend, CrossNumberedPortsAreEachDrivenAtTheirOwnBase) {
  // parport0 at 0x3BC, parport1 at 0x378 with the instrument: LPT2.
  Start("ports=0x3BC,0x378;instrument=1");
  ASSERT_EQ(Init(), RU3_OK);
  EXPECT_TRUE(ru3::fake::Exclusive(1));
  EXPECT_TRUE(ru3::fake::Registered(0).empty());  // probed, identified elsewhere, let go
  MeasureDefaultSignals();
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  ExpectWritesReachedTheRegisters();
  ExpectOnlyPortsAt({0x3BC, 0x378});
}

TEST_F(LinuxBackend, APortAnotherProgramHoldsIsBusyAtOnceAndTheOtherIsUsed) {
  Start("ports=0x378,0x278;held=1");
  ASSERT_EQ(Init(), RU3_OK);  // on LPT1; LPT2 refused without waiting
  MeasureDefaultSignals();
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  ExpectWritesReachedTheRegisters();
  ExpectOnlyPortsAt({0x378});
}

TEST_F(LinuxBackend, AClaimStillSleepingAtItsDeadlineIsInterrupted) {
  // The holder of parport1 does not show in /proc (it claimed just now): the
  // claim of LPT2 sleeps in the kernel, keeping ppdev's one lock, until the
  // back end interrupts it at its deadline; LPT1 is used meanwhile.
  Start("ports=0x378,0x278;held=1;hidden=yes");
  ASSERT_EQ(Init(), RU3_OK);
  ASSERT_EQ(ru3::fake::SleepingClaims(), 0) << "a claim left sleeping stops every ppdev ioctl";
  MeasureDefaultSignals();
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  ExpectWritesReachedTheRegisters();
  ru3::fake::ReleaseHolder();
  // Ours was closed when interrupted: nothing of ours was queued for the port.
  EXPECT_FALSE(Has(ru3::fake::Registered(1), "ppdev1"));
  EXPECT_EQ(ru3::fake::ForgottenClaims(), 0);
}

TEST_F(LinuxBackend, TheOnlyPortHeldGivesNoInstrumentWithoutAClaimThenTheSameProcessOpens) {
  // The port scan would claim parport0 and sleep there: it is not made
  // while the port is held.
  Start("ports=0x378;held=0");
  EXPECT_EQ(Init(), RU3_NO_INSTRUMENT);
  ASSERT_EQ(ru3::fake::SleepingClaims(), 0) << "a claim left sleeping stops the holder's release";
  EXPECT_EQ(ExitInstrument(), RU3_OK);
  ru3::fake::ReleaseHolder();
  ASSERT_EQ(Init(), RU3_OK);
  MeasureDefaultSignals();
  EXPECT_EQ(ExitInstrument(), RU3_OK);
  EXPECT_EQ(ru3::fake::ForgottenClaims(), 0);
}

}  // namespace

int main(int argc, char** argv) {
  // Never run against the real kernel: the fake's ioperm must be the one
  // every library of this process reaches.
  Dl_info info{};
  void* ioperm_seen = dlsym(RTLD_DEFAULT, "ioperm");
  if (ioperm_seen == nullptr || dladdr(ioperm_seen, &info) == 0 || info.dli_fname == nullptr ||
      std::string(info.dli_fname).find("ru3_fake_parport") == std::string::npos) {
    std::cerr << "the faked parport layer is not in place; refusing to run\n";
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
