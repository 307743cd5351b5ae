// The library's own link protocol (VOz3's register, counter, converter and
// bus routines) against the simulated instrument.
#include <gtest/gtest.h>

#include "instrument/DUDA3.h"
#include "sim/simulator.h"

namespace ru3::sim {
namespace {

class SimLink : public ::testing::Test {
 protected:
  void SetUp() override {
    SimConfig config;
    config.wall_clock_coupling = false;
    auto backend = std::make_unique<SimulatedPc>(config);
    pc = backend.get();
    previous_ = platform::ReplaceBackend(std::move(backend));
    vo = std::make_unique<VOz3>();
    vo->nHardwareAddress = 0x378;
  }
  void TearDown() override {
    vo.reset();
    platform::ReplaceBackend(std::move(previous_));
  }

  SimulatedPc* pc = nullptr;
  std::unique_ptr<VOz3> vo;

 private:
  std::unique_ptr<platform::Backend> previous_;
};

TEST_F(SimLink, RegistersCountersAndUnitsInBothPortSpeeds) {
  for (const bool slow : {false, true}) {
    vo->bSlowIO = slow;
    vo->WriteRegister(7, 9);
    vo->WriteRegister(14, 6);
    EXPECT_EQ(vo->ReadRegister(7), 9);
    EXPECT_EQ(vo->ReadRegister(14), 6);
    vo->WriteLatch16(2, 0x808A);
    vo->WriteLatch16(4, slow ? 0xFDFF : 0x1234);
    EXPECT_EQ(pc->Counter(2), 0x808A);
    EXPECT_EQ(pc->Counter(4), slow ? 0xFDFF : 0x1234);
    vo->UnitSelectBits = 0x00;  // unit 4
    vo->WriteRegister(10, 2);
    EXPECT_EQ(pc->MotorBits(), 2);
    EXPECT_EQ(vo->ReadRegister(7), 0);
    vo->UnitSelectBits = 0x30;
    EXPECT_EQ(pc->Register(1, 10), 0);
  }
}

TEST_F(SimLink, FrontEndRoutinesLoadTheCalibration) {
  const CalibrationCodes c1 = FactoryCalibration(1, 3);
  const CalibrationCodes c2 = FactoryCalibration(2, 9);
  vo->abyCoupling[2] = 1;
  vo->ShiftRelayByte(0xFD & 0x7F);
  vo->WriteTrimPair(1, c1.trim_a, c1.trim_b);
  vo->WriteTrimPair(2, c2.trim_a, c2.trim_b);
  vo->ShiftOut16(1, 0x4000);
  vo->ShiftOut16(2, 0x4000);
  vo->ConverterLoad(1, c1.gain, static_cast<std::uint16_t>((c1.gain + c1.offset) / 2));
  vo->ConverterLoad(2, c2.gain, static_cast<std::uint16_t>((c2.gain + c2.offset) / 2));
  const InputStageState s1 = pc->InputStage(1);
  const InputStageState s2 = pc->InputStage(2);
  EXPECT_EQ(s1.range, 3);
  EXPECT_TRUE(s1.dc_coupled);
  EXPECT_EQ(s2.range, 9);
  EXPECT_FALSE(s2.dc_coupled);
  EXPECT_EQ(s2.offset_code, c2.offset);
  EXPECT_NEAR(s1.offset_volts, 0.0, 0.4 / 4096);
  EXPECT_NEAR(s2.offset_volts, 0.0, 40.0 / 4096);
}

TEST_F(SimLink, SerialMemoryReadsTheImage) {
  std::array<std::uint8_t, 256> image{};
  vo->ReadMemory(0, 256, image.data());
  EXPECT_EQ(image, pc->EepromBytes());
  std::uint8_t signature = 0;
  vo->ReadMemory(1, 1, &signature);
  EXPECT_EQ(signature, 0xAA);
}

}  // namespace
}  // namespace ru3::sim
