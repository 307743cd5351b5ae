// Unit selection, the auxiliary DAC and the motor outputs at the register
// level.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "instrument/DUDA3.h"
#include "sim/simulator.h"
#include "support/recording_backend.h"

namespace ru3 {
namespace {

constexpr std::uint16_t kData = 0x378;
constexpr std::uint16_t kControl = 0x37A;

struct RegWrite {
  int unit_bits;  // bits 4-5 of the data bytes of the transfer
  int reg;
  int value;
  bool operator==(const RegWrite&) const = default;
};

class AuxOutputs : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<test::RecordingBackend>();
    rec = backend.get();
    previous = platform::ReplaceBackend(std::move(backend));
    instrument = std::make_unique<VOz3>();
    instrument->nHardwareAddress = kData;
    instrument->bInstrumentOpen = true;
  }
  void TearDown() override {
    instrument.reset();
    platform::ReplaceBackend(std::move(previous));
  }

  std::vector<RegWrite> Writes() const {
    std::vector<RegWrite> writes;
    int reg = -1;
    std::uint8_t data = 0;
    for (const test::Access& a : rec->log) {
      if (a.out && a.port == kData) data = a.value;
      if (a.out && a.port == kControl && a.value == 0x0C) reg = data & 0x0F;
      if (a.out && a.port == kControl && a.value == 0x06) writes.push_back({data & 0x30, reg, data & 0x0F});
    }
    return writes;
  }

  // What the two DAC channels received: each word is the data bits (register
  // 5 bit 2) taken at the rising clock edges (bit 0) while register 9 selects
  // the channel (7 first, 11 second). Also the register 9 sequence.
  void DecodeDac(std::vector<int>* first, std::vector<int>* second, std::vector<int>* selects) const {
    int select = 3;
    int lines = 0;
    int word = 0;
    int bits = 0;
    for (const RegWrite& w : Writes()) {
      if (w.reg == 9) {
        if (bits > 0) (select == 7 ? first : second)->push_back(word);
        selects->push_back(w.value);
        select = w.value;
        word = bits = 0;
      }
      if (w.reg == 5) {
        if ((w.value & 1) != 0 && (lines & 1) == 0 && (select == 7 || select == 11)) {
          word = word * 2 + ((w.value >> 2) & 1);
          ++bits;
        }
        lines = w.value;
      }
    }
  }

  test::RecordingBackend* rec = nullptr;
  std::unique_ptr<platform::Backend> previous;
  std::unique_ptr<VOz3> instrument;
};

TEST_F(AuxOutputs, DacCodesClampRoundTiesToEvenAndCapTheTop) {
  const long double step = 20.0L / 4096.0L;
  const std::vector<std::pair<long double, int>> cases = {
      {-12.5L, 0},
      {-10.0L, 0},
      {0.0L, 2048},
      {5.0L, 3072},
      {10.0L, 4095},
      {12.5L, 4095},
      {std::numeric_limits<long double>::quiet_NaN(), 0},
      {-std::numeric_limits<long double>::infinity(), 0},
      {std::numeric_limits<long double>::infinity(), 4095},
      {-10.0L + 0.5L * step, 0},  // ties go to the even code
      {-10.0L + 1.5L * step, 2},
      {-10.0L + 4094.5L * step, 4094},
      {-10.0L + 4095.5L * step, 4095},  // 4096, one past the top
      {-10.0L + 1.4L * step, 1},
  };
  for (const auto& [volts, code] : cases) EXPECT_EQ(VOz3::DacCode(volts), code) << static_cast<double>(volts) << " V";
}

TEST_F(AuxOutputs, SetDacShiftsBothChannelsToTheActiveUnit) {
  struct Case {
    long double first, second;
    int code1, code2;
  };
  for (const Case& c : {Case{0, 0, 2048, 2048}, Case{-12.5L, 12.5L, 0, 4095}, Case{5, -5, 3072, 1024}}) {
    rec->log.clear();
    instrument->SetDac(c.first, c.second);
    std::vector<int> first, second, selects;
    DecodeDac(&first, &second, &selects);
    EXPECT_EQ(first, std::vector<int>{c.code1});
    EXPECT_EQ(second, std::vector<int>{c.code2});
    EXPECT_EQ(selects, (std::vector<int>{7, 3, 11, 3}));
    // Register 5 starts low and the clock returns low after every bit.
    const std::vector<RegWrite> w = Writes();
    ASSERT_EQ(w.size(), 2 + 36 + 2 + 36 + 1U);
    EXPECT_EQ(w.front(), (RegWrite{0x30, 5, 0}));
    for (const RegWrite& x : w) EXPECT_EQ(x.unit_bits, 0x30);
  }
  instrument->SelectUnit(3);
  rec->log.clear();
  instrument->SetDac(0, 0);
  for (const RegWrite& x : Writes()) EXPECT_EQ(x.unit_bits, 0x10);
}

TEST_F(AuxOutputs, SelectUnitStoresAnyNumberButOnlyOneToFourChangeTheBits) {
  const std::vector<std::pair<int, int>> cases = {{2, 0x20}, {0, 0x20},  {4, 0x00}, {5, 0x00},
                                                  {3, 0x10}, {-1, 0x10}, {1, 0x30}};
  for (const auto& [unit, bits] : cases) {
    instrument->SelectUnit(unit);
    EXPECT_EQ(instrument->nActiveUnit, unit);
    EXPECT_EQ(instrument->UnitSelectBits, bits) << "after unit " << unit;
  }
  EXPECT_TRUE(rec->log.empty());
}

TEST_F(AuxOutputs, MotorsAreRegisterTenOfUnitFourAndTheSelectionComesBack) {
  struct Case {
    int unit;
    bool first, second;
    int value;
    int bits_after;
  };
  // Right after construction unit 0 is active with the bits of unit 1.
  for (const Case& c : {Case{0, false, false, 0, 0x30}, Case{2, true, false, 1, 0x20}, Case{3, false, true, 2, 0x10},
                        Case{4, true, true, 3, 0x00}, Case{7, true, false, 1, 0x00}}) {
    if (c.unit != 0) instrument->SelectUnit(c.unit);
    rec->log.clear();
    instrument->SetMotor(c.first, c.second);
    EXPECT_EQ(Writes(), (std::vector<RegWrite>{{0x00, 10, c.value}})) << "unit " << c.unit;
    EXPECT_EQ(instrument->nActiveUnit, c.unit);
    EXPECT_EQ(instrument->UnitSelectBits, c.bits_after);
  }
}

TEST_F(AuxOutputs, NothingIsWrittenWithoutAnOpenInstrument) {
  instrument->bInstrumentOpen = false;
  instrument->nHardwareAddress = 0;
  instrument->SelectUnit(2);
  instrument->SetDac(1, 1);
  instrument->SetMotor(true, true);
  EXPECT_TRUE(rec->log.empty());
  EXPECT_EQ(instrument->nActiveUnit, 2);
  EXPECT_EQ(instrument->UnitSelectBits, 0x20);
}

TEST(AuxOutputsOnSimulator, DacAndMotorsReachTheirUnits) {
  sim::SimConfig config;
  config.wall_clock_coupling = false;
  auto backend = std::make_unique<sim::SimulatedPc>(config);
  sim::SimulatedPc* pc = backend.get();
  auto previous = platform::ReplaceBackend(std::move(backend));
  {
    VOz3 instrument;
    instrument.nHardwareAddress = 0x378;
    instrument.bInstrumentOpen = true;

    instrument.SetDac(-12.5L, 12.5L);
    EXPECT_EQ(pc->DacCode(1, 1), 0);
    EXPECT_EQ(pc->DacCode(1, 2), 4095);
    instrument.SetDac(0, 0);
    EXPECT_EQ(pc->DacCode(1, 1), 2048);
    EXPECT_EQ(pc->DacCode(1, 2), 2048);
    EXPECT_EQ(pc->Register(1, 9), 3);

    instrument.SelectUnit(2);
    const std::uint8_t trigger_source = pc->Register(2, 10);
    instrument.SetMotor(true, false);
    EXPECT_EQ(pc->MotorBits(), 1);
    EXPECT_EQ(pc->Register(2, 10), trigger_source);  // unit 2's own register 10 is untouched
    EXPECT_EQ(instrument.UnitSelectBits, 0x20);
    // Still unit 2: the DAC written next is unit 2's, not unit 4's.
    const std::uint16_t unit4_dac = pc->DacCode(4, 1);
    instrument.SetDac(5, -5);
    EXPECT_EQ(pc->DacCode(2, 1), 3072);
    EXPECT_EQ(pc->DacCode(2, 2), 1024);
    EXPECT_EQ(pc->DacCode(4, 1), unit4_dac);
  }
  platform::ReplaceBackend(std::move(previous));
}

}  // namespace
}  // namespace ru3
