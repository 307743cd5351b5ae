// The simulated PC's ports, devices and time, and the instrument's register
// interface on them: strobes, read-back, units, slow I/O and counters.
#include <gtest/gtest.h>

#include <thread>

#include "support/sim_port.h"

namespace ru3::sim {
namespace {

SimConfig Quiet() {
  SimConfig c;
  c.wall_clock_coupling = false;
  return c;
}

TEST(SimPorts, PortsBehaveLikePcRegistersAndDevicesOpenOnce) {
  SimConfig config = Quiet();
  config.port_bases = {0x378, 0x278, 0};
  config.instrument_port = 1;
  SimulatedPc pc(config);
  // A port without the instrument: data and control read back, status floats.
  pc.Out(0x378, 0xAA);
  pc.Out(0x37A, 0x00);
  EXPECT_EQ(pc.In(0x378), 0xAA);
  EXPECT_EQ(pc.In(0x37A), 0x00);
  EXPECT_EQ(pc.In(0x379), 0x7F);
  // Nothing answers elsewhere.
  pc.Out(0x3BC, 0x12);
  EXPECT_EQ(pc.In(0x3BC), 0xFF);
  EXPECT_EQ(pc.In(0x37B), 0xFF);
  // The instrument's port answers on its status lines.
  test::PortDriver port(pc, 0x278);
  port.Write(7, 5);
  EXPECT_EQ(port.Read(7), 5);
  test::PortDriver other(pc, 0x378);
  EXPECT_EQ(other.Read(7), 0xFF);

  const platform::DeviceHandle lpt2 = pc.OpenDevice("LPT2");
  EXPECT_NE(lpt2, platform::kNoDevice);
  EXPECT_EQ(pc.OpenDevice("LPT2"), platform::kNoDevice);  // held
  EXPECT_EQ(pc.OpenDevice("LPT3"), platform::kNoDevice);  // absent
  EXPECT_EQ(pc.OpenDevice("COM1"), platform::kNoDevice);
  EXPECT_NE(pc.OpenDevice("lpt1"), platform::kNoDevice);
  pc.CloseDevice(lpt2);
  EXPECT_NE(pc.OpenDevice("LPT2"), platform::kNoDevice);
  EXPECT_EQ(pc.LookupPortBase("LPT2"), 0x278U);
}

TEST(SimTime, AccessesCostBusTimeDelayJumpsAndTheTickWraps) {
  SimConfig config = Quiet();
  config.bus_ns = 2500;
  config.start_tick = 0xFFFFFFFE;
  SimulatedPc pc(config);
  for (int i = 0; i < 400; ++i) (void)pc.In(0x379);
  EXPECT_EQ(pc.NowNs(), 1'000'000U);
  EXPECT_EQ(pc.AccessCount(), 400U);
  EXPECT_EQ(pc.TickCount(), 0xFFFFFFFFU);
  pc.Delay(3);  // ends where a busy wait on the tick count would
  EXPECT_EQ(pc.NowNs(), 4'000'000U);
  EXPECT_EQ(pc.TickCount(), 2U);  // across the wrap
  pc.AdvanceTime(500'000);
  pc.Delay(1);
  EXPECT_EQ(pc.NowNs(), 5'000'000U);
  pc.Delay(0);
  pc.Delay(-7);
  EXPECT_EQ(pc.NowNs(), 5'000'000U);
}

TEST(SimTime, NeverFallsBehindTheWallClock) {
  SimulatedPc pc;  // coupled
  const std::uint32_t t0 = pc.TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_GE(pc.TickCount() - t0, 30U);
  // Port accesses that show the instrument the time catch up as well,
  // without asking for the tick count: the first register write after an
  // idle spell (a forced trigger) acts at the present.
  test::PortDriver port(pc);
  port.Write(7, 9);
  port.Latch16(3, 0xFFFF);  // 200 kHz
  port.Write(14, 0);
  port.Write(1, 1);
  port.Write(1, 0);
  port.Write(10, 7);  // never triggers by itself
  port.Arm(256);
  const std::uint64_t armed = pc.NowNs();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  port.Write(10, 3);
  EXPECT_GE(pc.NowNs() - armed, 20'000'000U);
  while (!port.Ready()) {
  }
  // 20 ms at 200 kHz: some 4000 samples before the force, not a short record.
  EXPECT_GE(port.WritePointer(), 4000);
}

TEST(SimRegisters, WriteReadBackAndSlowIo) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  for (int r = 4; r <= 14; ++r) port.Write(r, (r * 7) & 15);
  for (int r = 4; r <= 14; ++r) {
    EXPECT_EQ(pc.Register(1, r), (r * 7) & 15) << r;
    EXPECT_EQ(port.Read(r), (r * 7) & 15) << r;
  }
  // Doubled accesses: every strobe held over two writes acts once. A relay
  // byte shifted with doubled clocks would otherwise come out wrong.
  port.SetSlowIo(true);
  port.RelayByte(0xA5);
  EXPECT_EQ(pc.RelayByte(), 0xA5);
  port.Write(9, 2);
  EXPECT_EQ(port.Read(9), 2);
  EXPECT_EQ(port.Read(15), 15);  // register 15 holds what it last selected
}

TEST(SimRegisters, OnlyTheAddressedUnitActsAndAnswers) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  for (int unit = 1; unit <= 4; ++unit) {
    port.SelectUnit(unit);
    port.Write(7, unit);
    port.Write(10, 4 - unit);
  }
  for (int unit = 1; unit <= 4; ++unit) {
    port.SelectUnit(unit);
    EXPECT_EQ(port.Read(7), unit);
    EXPECT_EQ(pc.Register(unit, 7), unit);
  }
  EXPECT_EQ(pc.MotorBits(), 0);  // unit 4 got 0
  port.SelectUnit(4);
  port.Write(10, 3);
  EXPECT_EQ(pc.MotorBits(), 3);
  EXPECT_EQ(pc.Register(1, 10), 3);  // the measuring unit's trigger source untouched
  // The auxiliary units have no acquisition: status reads 0 (never busy).
  port.SelectUnit(2);
  EXPECT_EQ(port.Read(2), 0);
  port.SelectUnit(1);
  pc.SetEepromByte(0, 0);
  EXPECT_EQ(port.Read(2) & 0x10, 0x10);  // the idle bus data line
}

TEST(SimRegisters, CountersLoadNibbleByNibbleThroughRegister5) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  port.Latch16(2, 0x808A);
  port.Latch16(3, 0xFFFD);
  port.Latch16(4, 0xFDFF);
  EXPECT_EQ(pc.Counter(2), 0x808A);
  EXPECT_EQ(pc.Counter(3), 0xFFFD);
  EXPECT_EQ(pc.Counter(4), 0xFDFF);
  port.Latch16(4, 0x1234);
  EXPECT_EQ(pc.Counter(4), 0x1234);
  EXPECT_EQ(pc.Counter(2), 0x808A);
  // Strobes carry one bit per latch: a strobe of two latches loads both.
  port.Write(5, 0 + 4);  // bit address 0 (the nibble's bit 3), data 1
  port.Write(3, 0x3);
  EXPECT_EQ(pc.Counter(3), 0xFFFD);
  port.Write(5, 3);  // bit 0 := 0 in latches 0 and 1
  port.Write(3, 0x3);
  EXPECT_EQ(pc.Counter(3), 0xFFEC);
}

TEST(SimRegisters, WritePointerCountsDownFromTheArm) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  port.Write(7, 8);  // clock off
  port.Write(10, 7);
  port.Arm(256);
  // Newest sample = 32765 - (count >> 1): just armed, nothing written yet.
  EXPECT_EQ((port.Read(1) << 8) | port.Read(0), 0xFFFC);
  EXPECT_EQ(port.WritePointer(), 32767);
  port.Write(7, 9);  // 200 kHz
  pc.AdvanceTime(5000 * 100);
  port.Write(7, 8);
  EXPECT_NEAR(port.WritePointer(), 100, 2);
  EXPECT_EQ(port.WritePointer(), pc.Acquisition().half_steps / 2);
  EXPECT_EQ(port.Read(2) & 0xC0, 0x80);  // busy, not wrapped
  port.Write(7, 9);
  pc.AdvanceTime(5000ULL * 32768);
  EXPECT_EQ(port.Read(2) & 0xC0, 0xC0);  // wrapped
}

}  // namespace
}  // namespace ru3::sim
