// The serial EEPROM on the two-wire bus of register 6, driven bit by bit as
// the library drives it.
#include <gtest/gtest.h>

#include "support/sim_port.h"

namespace ru3::sim {
namespace {

SimConfig Quiet() {
  SimConfig c;
  c.wall_clock_coupling = false;
  return c;
}

TEST(SimEeprom, RandomReadAcknowledgesLikeAMemory) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  EXPECT_EQ(port.Start(0xA0), 0);  // device address: ack
  EXPECT_EQ(port.SendByte(1), 0);  // word address: ack
  port.Stop();
  EXPECT_EQ(port.Start(0xA1), 0);
  EXPECT_EQ(port.ReceiveByte(false), 0xAA);
  port.Stop();
  // Without a new word address the next read goes on at the next byte.
  EXPECT_EQ(port.Start(0xA1), 0);
  EXPECT_EQ(port.ReceiveByte(false), pc.EepromBytes()[2]);
  port.Stop();
  // Another device address is not answered, and the memory stays off the bus.
  EXPECT_EQ(port.Start(0xA2), 1);
  EXPECT_EQ(port.SendByte(0x00), 1);
  port.Stop();
  EXPECT_EQ(port.ReadMemory(5, 1), std::vector<int>{0x10});
  // Slow I/O doubles every access; the bus does not notice.
  port.SetSlowIo(true);
  EXPECT_EQ(port.ReadMemory(1, 1), std::vector<int>{0xAA});
}

TEST(SimEeprom, SequentialReadGivesTheImageAndWrapsAt256) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  const auto image = pc.EepromBytes();
  const auto all = port.ReadMemory(0, 256);
  ASSERT_EQ(all.size(), 256U);
  for (int a = 0; a < 256; ++a) EXPECT_EQ(all[a], image[a]) << a;
  const auto tail = port.ReadMemory(254, 4);
  EXPECT_EQ(tail, (std::vector<int>{image[254], image[255], image[0], image[1]}));
}

TEST(SimEeprom, FactoryImageHoldsIdentityDateAndCalibration) {
  SimConfig config = Quiet();
  config.variant = 0x11;
  config.serial = 12345;
  config.calibration_date = {2003, 3, 15, 14, 30};
  SimulatedPc pc(config);
  const auto m = pc.EepromBytes();
  EXPECT_EQ(m[1], 0xAA);
  EXPECT_EQ(m[5], 0x11);
  EXPECT_EQ((std::array<int, 3>{m[6], m[7], m[8]}), (std::array<int, 3>{0x39, 0x30, 0x00}));
  EXPECT_EQ((std::array<int, 6>{m[10], m[11], m[12], m[13], m[14], m[15]}),
            (std::array<int, 6>{0xD3, 0x07, 0x03, 0x0F, 0x0E, 0x1E}));
  const auto word = [&](int a) { return m[a] | (m[a + 1] << 8); };
  for (int r = 1; r <= kRangeCount; ++r) {
    const CalibrationCodes c1 = FactoryCalibration(1, r);
    const CalibrationCodes c2 = FactoryCalibration(2, r);
    EXPECT_EQ(word(52 + 2 * r), c1.gain);
    EXPECT_EQ(word(77 + 2 * r), c2.gain);
    EXPECT_EQ(word(102 + 2 * r), c1.offset);
    EXPECT_EQ(word(127 + 2 * r), c2.offset);
    EXPECT_EQ(m[151 + r], c1.trim_a);
    EXPECT_EQ(m[166 + r], c1.trim_b);
    EXPECT_EQ(m[181 + r], c2.trim_a);
    EXPECT_EQ(m[196 + r], c2.trim_b);
    // Codes the library takes as they are: below the 0x3FFF it would replace.
    EXPECT_LT(c1.gain, 0x3FFF);
    EXPECT_LT(c2.offset, 0x3FFF);
  }

  SimConfig erased = Quiet();
  erased.erased_eeprom = true;
  SimulatedPc blank(erased);
  test::PortDriver port(blank);
  EXPECT_EQ(port.ReadMemory(1, 2), (std::vector<int>{0xFF, 0xFF}));
}

TEST(SimEeprom, WrittenBytesAreKept) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  EXPECT_EQ(port.Start(0xA0), 0);
  EXPECT_EQ(port.SendByte(200), 0);
  EXPECT_EQ(port.SendByte(0x5A), 0);
  EXPECT_EQ(port.SendByte(0xC3), 0);
  port.Stop();
  EXPECT_EQ(pc.EepromBytes()[200], 0x5A);
  EXPECT_EQ(port.ReadMemory(200, 2), (std::vector<int>{0x5A, 0xC3}));
  pc.SetEepromByte(1, 0x55);
  EXPECT_EQ(port.ReadMemory(1, 1), std::vector<int>{0x55});
}

}  // namespace
}  // namespace ru3::sim
