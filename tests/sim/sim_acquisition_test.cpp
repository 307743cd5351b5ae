// The simulated sample clock, trigger, ring memory and read lane, driven at
// the port level exactly as the library arms, seeks and reads.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <numbers>
#include <vector>

#include "support/sim_port.h"

namespace ru3::sim {
namespace {

SimConfig Quiet() {
  SimConfig c;
  c.wall_clock_coupling = false;
  return c;
}

// Sample clock as the library programs it for P, m.
void ProgramClock(test::PortDriver& port, int reg7, int prescaler_code, int m) {
  port.Write(7, reg7);
  port.Latch16(3, static_cast<std::uint16_t>(0xFFFF - (m - 2)));
  port.Write(14, prescaler_code);
  port.Write(1, 1);
  port.Write(1, 0);
}

// Range 5 (2 V) on both channels, calibrated.
void SetUpInputs(test::PortDriver& port) {
  port.RelayByte(0xFB & 0xBF);
  port.LoadRange(1, 5);
  port.LoadRange(2, 5);
}

// Trigger level/hysteresis codes and kind as the library programs kind 0..3.
void ProgramTrigger(test::PortDriver& port, int source, int level, int hys, int kind) {
  const int a = std::clamp(kind == 1 ? level + hys : level - hys, 0, 255) ^ 0xFF;
  const int b = std::clamp(level, 0, 255) ^ 0xFF;
  port.Latch16(2, static_cast<std::uint16_t>(b * 256 + a));
  port.Write(11, kind == 0 ? 4 : (kind == 3 ? 5 : 2));
  port.Write(10, source);
}

double Volts(std::uint16_t word, double range) { return (static_cast<int>(word) - 32768) * range / 32768.0; }

TEST(SimSampleClock, RateFollowsPrescalerDividerAndClockSelect) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  struct Case {
    int reg7, code, m;
    double hz;
  };
  for (const Case c : {Case{9, 0, 2, 200000.0}, Case{9, 0, 4, 100000.0}, Case{9, 0, 13, 400000.0 / 13},
                       Case{9, 2, 33333, 100000.0 / 33333}, Case{9, 7, 3906, 400000.0 / 1024 / 3906},
                       Case{9, 7, 65535, 400000.0 / 1024 / 65535}}) {
    ProgramClock(port, c.reg7, c.code, c.m);
    EXPECT_NEAR(pc.SampleRateHz(), c.hz, c.hz * 1e-12) << "prescaler " << c.code << " m " << c.m;
  }
  // The seek clock is the undivided base; clock off stops it.
  port.Write(7, 11);
  EXPECT_EQ(pc.SampleRateHz(), 400000.0);
  port.Write(7, 8);
  EXPECT_EQ(pc.SampleRateHz(), 0.0);
}

TEST(SimSampleClock, FastModelReaches400kHzOnlyWithSelectBit3) {
  SimConfig fast = Quiet();
  fast.variant = 0x11;
  SimulatedPc pc(fast);
  test::PortDriver port(pc);
  ProgramClock(port, 9, 0, 2);
  EXPECT_EQ(pc.SampleRateHz(), 400000.0);
  ProgramClock(port, 1, 0, 2);
  EXPECT_EQ(pc.SampleRateHz(), 200000.0);

  SimulatedPc slow(Quiet());  // the 200 kHz model ignores bit 3
  test::PortDriver slow_port(slow);
  ProgramClock(slow_port, 9, 0, 2);
  EXPECT_EQ(slow.SampleRateHz(), 200000.0);
}

TEST(SimSampleClock, WritePointerAdvancesAtTheProgrammedRate) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  ProgramClock(port, 9, 0, 4);  // 100 kHz
  ProgramTrigger(port, 7, 127, 10, 0);  // never triggers: runs until stopped
  port.Arm(256);
  const int w0 = port.WritePointer();
  pc.AdvanceTime(10'000'000);  // 10 ms: 1000 samples
  const int w1 = port.WritePointer();
  EXPECT_NEAR((w1 - w0 + 32768) % 32768, 1000, 3);
  EXPECT_FALSE(port.Ready());
}

// The library's measurement of a sine, end to end: arm with a channel-1
// rising trigger, wait, seek and read with o = 2. The crossing lands at
// lPreSamples and the record is the sine itself, sample for sample.
TEST(SimReadout, TriggeredSineHasItsCrossingAtThePreTriggerPosition) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  const double f = 200.0;  // 500 samples a period at 100 kHz
  pc.SetInput(1, {Shape::kSine, 1.5, f, 0.0, 0.0});
  pc.SetInput(2, {Shape::kDc, 0.25, 0.0, 0.0, 0.0});
  SetUpInputs(port);
  ProgramClock(port, 9, 0, 4);
  ProgramTrigger(port, 0, 127 + 32, 10, 0);  // rising through +0.5 V (64 codes per volt)
  const int pre = 300;
  const int post = 200;
  const int n = pre + post;
  // Arm at the sine's peak: the next rising crossing comes after more than
  // the pre-trigger share has been recorded.
  const std::uint64_t period = 5'000'000;
  pc.AdvanceTime((period / 4 + period - pc.NowNs() % period) % period);
  port.Arm(post);
  for (int i = 0; i < 10000 && !port.Ready(); ++i) pc.AdvanceTime(10'000);
  ASSERT_TRUE(port.Ready());
  EXPECT_EQ(port.Read(2) & 0x47, 0x01);  // channel 1 triggered, ring not wrapped
  ASSERT_GE(port.WritePointer(), n + 2);

  const auto plan = port.PlanReadout(n);
  const auto ch1 = port.ReadSamples(1, plan.s, plan.k, n, 2);
  const auto ch2 = port.ReadSamples(2, plan.s, plan.k, n, 2);
  const int threshold = (16 * (127 + 32 + 1)) << 4;
  EXPECT_GE(ch1[pre], threshold);
  EXPECT_LT(ch1[pre - 1], threshold);
  // Fit the phase at the crossing and compare every sample, the two beyond
  // the record included.
  const double phase = std::asin(Volts(ch1[pre], 2.0) / 1.5);
  for (int i = 0; i < n + 2; ++i) {
    const double expected = 1.5 * std::sin(2 * std::numbers::pi * f * (i - pre) * 1e-5 + phase);
    EXPECT_NEAR(Volts(ch1[i], 2.0), expected, 0.004) << "position " << i;
    EXPECT_NEAR(Volts(ch2[i], 2.0), 0.25, 2.0 / 2048) << "position " << i;
  }
}

// A ring that wrapped: the record runs across address 0, oldest first.
TEST(SimReadout, WrappedRingIsReadAcrossAddressZero) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  pc.SetInput(1, {Shape::kSawtooth, 0.9, 70.0, 0.0, 0.0});
  SetUpInputs(port);
  ProgramClock(port, 9, 0, 2);  // 200 kHz
  ProgramTrigger(port, 7, 127, 10, 0);  // never
  const int post = 200;
  const int n = 1000;
  port.Arm(post);
  pc.AdvanceTime((32768 + 100) * 5000ULL);
  EXPECT_FALSE(port.Ready());
  port.Write(10, 3);  // force
  pc.AdvanceTime(2'000'000);
  ASSERT_TRUE(port.Ready());
  EXPECT_EQ(port.Read(2) & 0x40, 0x40);
  const int w = port.WritePointer();
  ASSERT_LT(w, n);
  const auto data = port.Readout(1, n, 0);
  for (int i = 0; i < n; ++i) ASSERT_EQ(data[i], pc.RingSample(1, w - n + 1 + i) << 4) << "position " << i;
  EXPECT_EQ(data[n], 0x7FFF);
  // Consecutive samples of a 70 Hz sawtooth at 200 kHz differ by about 0.25 mV
  // except at its one jump: the read order is the sampling order.
  int jumps = 0;
  for (int i = 1; i < n; ++i) jumps += std::abs(data[i] - data[i - 1]) > (8 << 4) ? 1 : 0;
  EXPECT_LE(jumps, 1);
}

TEST(SimReadout, FreeRunRecordEndsWithTheNewestSample) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  pc.SetInput(1, {Shape::kSawtooth, 0.9, 50.0, 0.0, 0.0});
  SetUpInputs(port);
  ProgramClock(port, 9, 0, 2);  // 200 kHz
  ProgramTrigger(port, 3, 127, 10, 0);  // none: fires at once
  const int post = 1000;
  port.Arm(post);
  pc.AdvanceTime(6'000'000);
  ASSERT_TRUE(port.Ready());
  const int w = port.WritePointer();
  EXPECT_EQ(w, post);  // post samples after the first edge, counted from address 0
  EXPECT_EQ(port.Read(2) & 0x47, 0);  // not wrapped, no trigger flag

  // o = 0: positions 0..n-1 are ring[w-n+1 .. w]; short read fills the tail.
  const int n = 1500;
  const auto data = port.Readout(1, n, 0);
  const int first = n - 1 - w;  // ring[0] lands here, ring[-1] (stale) just before
  for (int i = 0; i < first - 1; ++i) ASSERT_EQ(data[i], 0x7FFF) << i;
  for (int i = first; i < n; ++i) EXPECT_EQ(data[i], pc.RingSample(1, i - first) << 4) << i;
  EXPECT_EQ(data[n], 0x7FFF);
}

TEST(SimTrigger, ForceStopsAPendingAcquisitionAfterThePostSamples) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  pc.SetInput(1, {Shape::kDc, 0.0, 0.0, 0.0, 0.0});  // never crosses
  SetUpInputs(port);
  ProgramClock(port, 9, 0, 2);
  ProgramTrigger(port, 0, 127 + 20, 5, 0);
  port.Arm(100);
  pc.AdvanceTime(50'000'000);
  EXPECT_FALSE(port.Ready());
  const std::int64_t before = pc.Acquisition().half_steps;
  port.Write(10, 3);  // 7 us: about 3 clock edges pass before it is written
  pc.AdvanceTime(2'000'000);
  ASSERT_TRUE(port.Ready());
  // The force registers at the next clock edge; 201 edges later the counter
  // overflows: 100 samples and a half.
  EXPECT_NEAR(static_cast<double>(pc.Acquisition().half_steps - before), 3 + 1 + 201, 1.0);
  EXPECT_EQ(port.Read(2) & 0x07, 0);  // a force is not a channel trigger
}

// A triangle on channel 2 through the level at 0 V, 1000 samples a period:
// the trigger sample (newest - post - 1) is the crossing in the programmed
// direction.
TEST(SimTrigger, FiresOnTheProgrammedSlopeAtTheCrossingSample) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  pc.SetInput(2, {Shape::kTriangle, 1.0, 10.0, 0.0, 0.0});
  SetUpInputs(port);
  ProgramClock(port, 9, 0, 40);  // 10 kHz
  bool seen_rising = false;
  bool seen_falling = false;
  for (const int kind : {0, 1, 3, 3, 3, 3}) {
    ProgramTrigger(port, 1, 127, 20, kind);
    port.Arm(10);
    for (int i = 0; i < 2000 && !port.Ready(); ++i) pc.AdvanceTime(100'000);
    ASSERT_TRUE(port.Ready()) << "kind " << kind;
    EXPECT_EQ(port.Read(2) & 0x07, 0x02);
    const int t = port.WritePointer() - 10 - 1;
    const int at = (pc.RingSample(2, t) >> 4) - 1;
    const int before = (pc.RingSample(2, t - 1) >> 4) - 1;
    const bool rising = at >= 127 && before < 127;
    const bool falling = at <= 127 && before > 127;
    EXPECT_TRUE(kind == 0 ? rising : (kind == 1 ? falling : rising || falling)) << "kind " << kind;
    seen_rising |= kind == 3 && rising;
    seen_falling |= kind == 3 && falling;
    pc.AdvanceTime(37'000'000);  // a third of a period on: the next arm meets the other slope first
  }
  EXPECT_TRUE(seen_rising && seen_falling);
}

TEST(SimTrigger, HysteresisMustBeCrossedToArm) {
  // A square of +-0.1 V around the 0 V level: it crosses the level all the
  // time but only dips 6 codes below it.
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  pc.SetInput(1, {Shape::kSquare, 0.1, 500.0, 0.0, 0.0});
  SetUpInputs(port);
  ProgramClock(port, 9, 0, 4);
  ProgramTrigger(port, 0, 127, 10, 0);
  port.Arm(10);
  pc.AdvanceTime(100'000'000);
  EXPECT_FALSE(port.Ready());
  ProgramTrigger(port, 0, 127, 3, 0);
  port.Arm(10);
  pc.AdvanceTime(5'000'000);
  EXPECT_TRUE(port.Ready());
}

TEST(SimInputs, OverRangeClipsAtTheConverterLimits) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  pc.SetInput(1, {Shape::kSquare, 5.0, 100.0, 0.0, 0.0});  // +-5 V on the 2 V range
  pc.SetInput(2, {Shape::kNoise, 0.2, 0.0, 0.0, 0.0});
  SetUpInputs(port);
  ProgramClock(port, 9, 0, 2);
  ProgramTrigger(port, 3, 127, 10, 0);
  port.Arm(20000);
  pc.AdvanceTime(200'000'000);
  ASSERT_TRUE(port.Ready());
  int lo = 4096;
  int hi = -1;
  double sum = 0;
  double sum2 = 0;
  for (int a = 0; a < 20000; ++a) {
    lo = std::min<int>(lo, pc.RingSample(1, a));
    hi = std::max<int>(hi, pc.RingSample(1, a));
    const double v = (pc.RingSample(2, a) - 2048) * 2.0 / 2048;
    sum += v;
    sum2 += v * v;
  }
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 4095);
  EXPECT_NEAR(std::sqrt(sum2 / 20000 - (sum / 20000) * (sum / 20000)), 0.2, 0.01);
  EXPECT_NEAR(sum / 20000, 0.0, 0.01);
}

// The memory holds what was converted when each sample was written: a range
// or signal change after the record, or a reader in another rounding mode,
// does not alter it.
TEST(SimInputs, RecordKeepsTheConditionsOfItsWrites) {
  SimulatedPc kept(Quiet());
  SimulatedPc changed(Quiet());
  for (SimulatedPc* pc : {&kept, &changed}) {
    test::PortDriver port(*pc);
    pc->SetInput(1, {Shape::kSine, 1.5, 1000.0, 0.1, 0.02});
    SetUpInputs(port);
    ProgramClock(port, 9, 0, 2);
    ProgramTrigger(port, 3, 127, 10, 0);
    port.Arm(5000);
    pc->AdvanceTime(50'000'000);
    ASSERT_TRUE(port.Ready());
  }
  std::vector<std::uint16_t> expected;
  for (int a = 0; a < 5000; ++a) {
    for (int ch = 1; ch <= 2; ++ch) expected.push_back(kept.RingSample(ch, a));
  }
  test::PortDriver port(changed);
  port.LoadRange(1, 3);
  changed.SetInput(1, {Shape::kSquare, 0.3, 50.0, 0.0, 0.0});
  std::fesetround(FE_UPWARD);
  std::vector<std::uint16_t> read;
  for (int a = 0; a < 5000; ++a) {
    for (int ch = 1; ch <= 2; ++ch) read.push_back(changed.RingSample(ch, a));
  }
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(read, expected);
}

}  // namespace
}  // namespace ru3::sim
