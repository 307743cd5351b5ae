// The analog front end (relays, trims, serial converters and the calibration
// they carry) and the auxiliary outputs, driven at the port level.
#include <gtest/gtest.h>

#include <cmath>

#include "support/sim_port.h"

namespace ru3::sim {
namespace {

SimConfig Quiet() {
  SimConfig c;
  c.wall_clock_coupling = false;
  return c;
}

// Relay masks of the ranges, channel 1 and channel 2, coupling bits set.
int Mask(int ch, int range) {
  const int group = range <= 4 ? 0 : (range <= 7 ? 1 : 2);
  return ch == 1 ? (0xF0 | (0x0F & ~(2 << group))) : (0x0F | (0xF0 & ~(0x20 << group)));
}

// Mean converter code of a channel over a free-running record.
double MeanCode(SimulatedPc& pc, test::PortDriver& port, int ch, int samples = 2000) {
  port.Write(7, 9);
  port.Write(10, 3);
  port.Arm(samples);
  pc.AdvanceTime(5000ULL * (samples + 10));
  EXPECT_TRUE(port.Ready());
  double sum = 0.0;
  for (int a = 0; a < samples; ++a) sum += pc.RingSample(ch, a);
  return sum / samples;
}

TEST(SimFrontEnd, RelayByteSelectsGroupsAndCoupling) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  for (const auto& [r1, r2] : {std::pair{1, 10}, {5, 4}, {10, 7}}) {
    port.RelayByte(static_cast<std::uint8_t>(Mask(1, r1) & Mask(2, r2)));
    EXPECT_EQ(pc.InputStage(1).group, r1 <= 4 ? 1 : (r1 <= 7 ? 2 : 3));
    EXPECT_EQ(pc.InputStage(2).group, r2 <= 4 ? 1 : (r2 <= 7 ? 2 : 3));
    EXPECT_TRUE(pc.InputStage(1).dc_coupled);
    EXPECT_TRUE(pc.InputStage(2).dc_coupled);
  }
  // Coupling code 1 on both, ranges 10 and 1: 0xF7 & 0xDF with bits 0 and 4
  // cleared: AC coupling.
  port.RelayByte(0xC6);
  EXPECT_EQ(pc.RelayByte(), 0xC6);
  EXPECT_EQ(pc.InputStage(1).group, 3);
  EXPECT_EQ(pc.InputStage(2).group, 1);
  EXPECT_FALSE(pc.InputStage(1).dc_coupled);
  EXPECT_FALSE(pc.InputStage(2).dc_coupled);
  port.RelayByte(0xFF);  // no group relay: the input is disconnected
  EXPECT_EQ(pc.InputStage(1).group, 0);
  EXPECT_EQ(pc.InputStage(1).full_scale_volts, 0.0);
}

TEST(SimFrontEnd, TrimPairsReachTheirOutputsAsWired) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  port.TrimPair(1, 200, 30);
  port.TrimPair(2, 17, 240);
  EXPECT_EQ(pc.TrimOutputs(1), (std::array<std::uint8_t, 2>{200, 225}));
  EXPECT_EQ(pc.TrimOutputs(2), (std::array<std::uint8_t, 2>{15, 17}));
  EXPECT_EQ(pc.InputStage(1).trim_a, 200);
  EXPECT_EQ(pc.InputStage(1).trim_b, 30);
  EXPECT_EQ(pc.InputStage(2).trim_a, 17);
  EXPECT_EQ(pc.InputStage(2).trim_b, 240);
  // The DAC traffic of register 5 and 9 does not reach the trims.
  port.SetDac(0x123, 0xABC);
  EXPECT_EQ(pc.TrimOutputs(1), (std::array<std::uint8_t, 2>{200, 225}));
}

TEST(SimFrontEnd, ConverterWordsCarryTheGainAndOffsetCodes) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  port.RelayByte(static_cast<std::uint8_t>(Mask(1, 6) & Mask(2, 6)));
  const auto before = pc.ConverterWords(2);
  port.LoadRange(1, 6);
  const CalibrationCodes c = FactoryCalibration(1, 6);
  std::vector<std::uint16_t> expected = {0x4000, 0xC300, static_cast<std::uint16_t>(0x8000 | c.gain),
                                         static_cast<std::uint16_t>(0x8000 | ((c.gain + c.offset) / 2))};
  expected.insert(expected.end(), 8, 0xA000);
  const auto words = pc.ConverterWords(1);
  ASSERT_GE(words.size(), expected.size());
  EXPECT_EQ(std::vector<std::uint16_t>(words.end() - static_cast<long>(expected.size()), words.end()), expected);
  EXPECT_EQ(pc.ConverterWords(2), before);  // converter 2 shifted zeros and ignored them
  const InputStageState s = pc.InputStage(1);
  EXPECT_EQ(s.gain_code, c.gain);
  EXPECT_EQ(s.offset_code, c.offset);
  EXPECT_EQ(s.trim_a, c.trim_a);
  EXPECT_EQ(s.trim_b, c.trim_b);
  EXPECT_EQ(s.range, 6);
  EXPECT_NEAR(s.full_scale_volts, 4.0, 4.0 / 4096);
  EXPECT_NEAR(s.offset_volts, 0.0, 4.0 / 4096);
}

// The factory codes cancel each range's gain and offset errors: a DC input
// at 1.000 V (or half the full scale on the ranges below 2 V) reads within
// one code of its value on every range of both channels.
TEST(SimFrontEnd, FactoryCodesCancelTheErrorsOfEveryRange) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  for (int r = 1; r <= kRangeCount; ++r) {
    const double fs = NominalFullScale(r);
    const double volts = fs >= 2.0 ? 1.0 : fs / 2;
    pc.SetInput(1, {Shape::kDc, volts, 0.0, 0.0, 0.0});
    pc.SetInput(2, {Shape::kDc, -volts, 0.0, 0.0, 0.0});
    port.RelayByte(static_cast<std::uint8_t>(Mask(1, r) & Mask(2, r)));
    port.LoadRange(1, r);
    port.LoadRange(2, r);
    EXPECT_EQ(pc.InputStage(1).range, r);
    EXPECT_EQ(pc.InputStage(2).range, r);
    EXPECT_NEAR(MeanCode(pc, port, 1), 2048 + 2048 * volts / fs, 1.0) << "channel 1, range " << r;
    EXPECT_NEAR(MeanCode(pc, port, 2), 2048 - 2048 * volts / fs, 1.0) << "channel 2, range " << r;
  }
}

TEST(SimFrontEnd, WrongOrMissingCodesReadMeasurablyOff) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  pc.SetInput(1, {Shape::kDc, 1.0, 0.0, 0.0, 0.0});
  port.RelayByte(static_cast<std::uint8_t>(Mask(1, 5) & Mask(2, 5)));
  const double ideal = 2048 + 2048 * 1.0 / 2.0;
  // Power-on state, nothing loaded.
  EXPECT_GT(std::abs(MeanCode(pc, port, 1) - ideal), 20.0);
  // What an erased calibration store loads: 0x1FFF words, 0xFF trims.
  port.TrimPair(1, 0xFF, 0xFF);
  port.ConverterLoad(1, 0x1FFF, 0x1FFF);
  EXPECT_GT(std::abs(MeanCode(pc, port, 1) - ideal), 20.0);
  // Right gain, the neighbouring range's trims and offset: a few codes off.
  const CalibrationCodes own = FactoryCalibration(1, 5);
  const CalibrationCodes other = FactoryCalibration(1, 6);
  port.TrimPair(1, other.trim_a, other.trim_b);
  port.ConverterLoad(1, own.gain, (own.gain + other.offset) / 2);
  EXPECT_GT(std::abs(MeanCode(pc, port, 1) - ideal), 3.0);
  port.LoadRange(1, 5);
  EXPECT_NEAR(MeanCode(pc, port, 1), ideal, 1.0);
}

TEST(SimFrontEnd, AcCouplingRemovesTheSignalsMean) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  pc.SetInput(1, {Shape::kSquare, 0.3, 1000.0, 0.5, 0.0});
  port.LoadRange(1, 5);
  port.RelayByte(static_cast<std::uint8_t>(Mask(1, 5) & Mask(2, 5)));
  EXPECT_NEAR(MeanCode(pc, port, 1), 2048 + 1024 * 0.5, 1.5);
  port.RelayByte(static_cast<std::uint8_t>(Mask(1, 5) & Mask(2, 5) & ~0x01));
  EXPECT_NEAR(MeanCode(pc, port, 1), 2048, 1.5);
}

TEST(SimAuxOutputs, EveryUnitHasItsDacAndUnit4TheMotors) {
  SimulatedPc pc(Quiet());
  test::PortDriver port(pc);
  for (int unit = 1; unit <= 4; ++unit) EXPECT_EQ(pc.DacCode(unit, 1), 2048);
  port.SelectUnit(3);
  port.SetDac(0, 4095);
  port.SelectUnit(1);
  port.SetDac(3072, 0x5A5);
  EXPECT_EQ(pc.DacCode(3, 1), 0);
  EXPECT_EQ(pc.DacCode(3, 2), 4095);
  EXPECT_EQ(pc.DacCode(1, 1), 3072);
  EXPECT_EQ(pc.DacCode(1, 2), 0x5A5);
  EXPECT_EQ(pc.DacCode(2, 1), 2048);
  EXPECT_EQ(pc.DacVolts(1, 1), 5.0);
  EXPECT_EQ(pc.DacVolts(3, 1), -10.0);
  // The measuring unit's front end saw the DAC's register 5 traffic but
  // kept its relays (bit 3 never clocked).
  const std::uint8_t relay = pc.RelayByte();
  port.SetDac(1, 2);
  EXPECT_EQ(pc.RelayByte(), relay);

  port.SelectUnit(4);
  port.Write(10, 1);
  EXPECT_EQ(pc.MotorBits(), 1);
  port.Write(10, 2);
  EXPECT_EQ(pc.MotorBits(), 2);
  port.SelectUnit(1);
  port.Write(10, 3);
  EXPECT_EQ(pc.MotorBits(), 2);
}

}  // namespace
}  // namespace ru3::sim
