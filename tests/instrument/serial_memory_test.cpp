// The two-wire bus to the EEPROM as the bus sees it, its cost in register
// accesses, and what the object takes from the memory image.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <deque>

#include "instrument/DUDA3.h"
#include "sim/simulator.h"

namespace ru3 {
namespace {

constexpr std::uint16_t kData = 0x378;
constexpr std::uint16_t kControl = 0x37A;

// A printer port with a bus analyser on the instrument's register 6. It
// decodes the register protocol, follows the clock and data lines and writes
// what an analyser would show: 'S' start, 'P' stop, one digit per bit clocked
// (the data level while the clock is high, taken when it falls). While the
// host samples (data driver off) the line carries the next level of `memory`,
// which register 2 bit 4 reports back.
class BusAnalyser : public platform::Backend {
 public:
  std::string trace;
  std::deque<int> memory;        // levels the memory drives, one per sampling write; 1 (released) when empty
  int writes = 0;                // register writes, the read-back selects excluded
  int reads = 0;                 // register reads
  std::vector<int> line_values;  // everything written to register 6
  std::vector<std::int32_t> delays;
  int port_accesses = 0;

  void Out(std::uint16_t port, std::uint8_t value) override {
    ++port_accesses;
    if (port == kData) data_ = value;
    if (port == kControl && value == 0x0C) reg_ = data_ & 0x0F;
    if (port == kControl && value == 0x06) Write(reg_, data_ & 0x0F);
  }
  std::uint8_t In(std::uint16_t /*port*/) override {
    ++port_accesses;
    const int value = selected_ == 2 ? sda_ << 4 : 0;
    if ((data_ & 0x80) == 0) return static_cast<std::uint8_t>((value & 0x0F) << 3);
    ++reads;  // the high nibble comes first
    return static_cast<std::uint8_t>((value >> 4) << 3);
  }
  bool PortDriverPresent() override { return true; }
  platform::DeviceHandle OpenDevice(const std::string& /*name*/) override { return platform::kNoDevice; }
  void CloseDevice(platform::DeviceHandle /*handle*/) override {}
  std::uint32_t TickCount() override { return 0; }
  void Delay(std::int32_t ms) override { delays.push_back(ms); }

 private:
  void Write(int reg, int value) {
    if (reg == 15) {
      selected_ = value;
      return;
    }
    ++writes;
    if (reg != 6) return;
    line_values.push_back(value);
    const int scl = value & 1;
    int sda = 1;
    if ((value & 4) != 0) {
      sda = (value >> 1) & 1;
    } else if (!memory.empty()) {
      sda = memory.front();
      memory.pop_front();
    }
    // A write that moves both lines: data follows a falling clock and
    // precedes a rising one, as the host's own sequences intend.
    if (scl > scl_)
      SetSda(sda), SetScl(scl);
    else
      SetScl(scl), SetSda(sda);
  }
  void SetScl(int scl) {
    if (scl == scl_) return;
    scl_ = scl;
    if (scl == 1) {
      latched_ = sda_;
    } else if (latched_ >= 0) {
      trace += static_cast<char>('0' + latched_);
      latched_ = -1;
    }
  }
  void SetSda(int sda) {
    if (sda == sda_) return;
    sda_ = sda;
    if (scl_ == 1) {
      trace += sda == 0 ? 'S' : 'P';
      latched_ = -1;
    }
  }

  std::uint8_t data_ = 0xFF;
  int reg_ = 0;
  int selected_ = 0;
  int scl_ = 1;
  int sda_ = 1;
  int latched_ = -1;
};

// What the memory drives for a read of `bytes`: acknowledges of the two
// address bytes and of the read address, then every data bit, with the
// opposite level on the two clock-low samples around it so that a byte taken
// at the wrong moment reads differently.
std::deque<int> MemoryLevels(const std::vector<std::uint8_t>& bytes) {
  std::deque<int> levels(6, 0);
  for (std::uint8_t b : bytes) {
    for (int bit = 7; bit >= 0; --bit) {
      const int level = (b >> bit) & 1;
      levels.insert(levels.end(), {1 - level, level, 1 - level});
    }
  }
  return levels;
}

std::string Bits(std::uint8_t b) {
  std::string s;
  for (int bit = 7; bit >= 0; --bit) s += static_cast<char>('0' + ((b >> bit) & 1));
  return s;
}

class SerialMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<BusAnalyser>();
    bus = backend.get();
    previous = platform::ReplaceBackend(std::move(backend));
    instrument = std::make_unique<VOz3>();
    instrument->nHardwareAddress = kData;
  }
  void TearDown() override {
    instrument.reset();
    platform::ReplaceBackend(std::move(previous));
  }
  BusAnalyser* bus = nullptr;
  std::unique_ptr<platform::Backend> previous;
  std::unique_ptr<VOz3> instrument;
};

TEST_F(SerialMemory, RandomReadOfOneByteAsTheBusSeesIt) {
  bus->memory = MemoryLevels({0xA5});
  std::uint8_t byte = 0;
  instrument->ReadMemory(0x1209, 1, &byte);  // only the low 8 bits of the address are sent
  EXPECT_EQ(byte, 0xA5);
  // Address byte and data byte, each with the memory's acknowledge, stop; a
  // new start, the read address, one byte and the host's not-acknowledge, stop.
  EXPECT_EQ(bus->trace,
            std::string("S") + Bits(0xA0) + "0" + Bits(0x09) + "0P" + "S" + Bits(0xA1) + "0" + Bits(0xA5) + "1P");
  EXPECT_EQ(bus->delays, std::vector<std::int32_t>{100});
  for (int v : bus->line_values) EXPECT_EQ(v & 0x08, 0x08) << "register 6 written without bit 3";
  // 148 register accesses: start 3, address byte 29, data byte 29, stop 2,
  // start 3, read address 29, one byte received 51, stop 2.
  EXPECT_EQ(bus->writes + bus->reads, 148);
}

TEST_F(SerialMemory, WholeImageInOneReadAcknowledgingAllButTheLastByte) {
  std::vector<std::uint8_t> contents(256);
  for (std::size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<std::uint8_t>(i * 37 + 11);
  bus->memory = MemoryLevels(contents);
  instrument->LoadMemoryImage();

  EXPECT_TRUE(std::equal(contents.begin(), contents.end(), instrument->abyMemory.begin()));
  std::string expected = std::string("S") + Bits(0xA0) + "0" + Bits(0x00) + "0P" + "S" + Bits(0xA1) + "0";
  for (std::size_t i = 0; i < contents.size(); ++i)
    expected += Bits(contents[i]) + (i + 1 < contents.size() ? "0" : "1");
  EXPECT_EQ(bus->trace, expected + "P");
  EXPECT_EQ(bus->delays, std::vector<std::int32_t>{100});
  // 51 register accesses for each further byte received, 7 port accesses
  // for a register write and 11 for a read.
  EXPECT_EQ(bus->writes + bus->reads, 148 + 255 * 51);
  EXPECT_EQ(bus->port_accesses, 7 * bus->writes + 11 * bus->reads);
}

TEST_F(SerialMemory, ReadOfNothingTouchesNeitherBusNorBuffer) {
  std::uint8_t sentinel = 0x5C;
  instrument->ReadMemory(0, 0, &sentinel);
  EXPECT_EQ(sentinel, 0x5C);
  EXPECT_EQ(bus->port_accesses, 0);
}

// Puts a little-endian word into the image.
void PutWord(VOz3& instr, int address, std::uint16_t word) {
  instr.abyMemory[static_cast<std::size_t>(address)] = static_cast<std::uint8_t>(word & 0xFF);
  instr.abyMemory[static_cast<std::size_t>(address + 1)] = static_cast<std::uint8_t>(word >> 8);
}

TEST_F(SerialMemory, CalibrationTablesFromTheImage) {
  VOz3& instr = *instrument;
  instr.abyMemory.fill(0xFF);
  // Distinct values at every entry of both channels, so a wrong address shows.
  for (int ch = 1; ch <= 2; ++ch) {
    for (int r = 1; r <= 10; ++r) {
      const int k = 100 * ch + r;
      PutWord(instr, (ch == 1 ? 54 : 79) + 2 * (r - 1), static_cast<std::uint16_t>(k));
      PutWord(instr, (ch == 1 ? 104 : 129) + 2 * (r - 1), static_cast<std::uint16_t>(k + 1000));
      instr.abyMemory[static_cast<std::size_t>((ch == 1 ? 152 : 182) + r - 1)] = static_cast<std::uint8_t>(k - 90);
      instr.abyMemory[static_cast<std::size_t>((ch == 1 ? 167 : 197) + r - 1)] = static_cast<std::uint8_t>(k - 60);
    }
  }
  // The 14-bit limit on a few words: 0x3FFE is a code, 0x3FFF and up stand
  // for "not calibrated" and load as mid-scale.
  PutWord(instr, 54, 0x3FFE);
  PutWord(instr, 56, 0x3FFF);
  PutWord(instr, 79 + 18, 0xFFFF);
  PutWord(instr, 127 + 20, 0x4000);
  instr.LoadCalibration();

  for (int ch = 1; ch <= 2; ++ch) {
    for (int r = 1; r <= 10; ++r) {
      SCOPED_TRACE(testing::Message() << "channel " << ch << " range " << r);
      const int k = 100 * ch + r;
      EXPECT_EQ(instr.anGainCal[ch][r][1], k - 90);
      EXPECT_EQ(instr.anGainCal[ch][r][2], k - 60);
      int gain = k;
      if (ch == 1 && r == 1) gain = 0x3FFE;
      if ((ch == 1 && r == 2) || (ch == 2 && r == 10)) gain = 0x1FFF;
      EXPECT_EQ(instr.anGainCal[ch][r][3], gain);
      EXPECT_EQ(instr.anOffsetCal[ch][r], ch == 2 && r == 10 ? 0x1FFF : k + 1000);
    }
    // Ranges beyond the tenth stay empty.
    for (int r : {0, 11, 12}) {
      EXPECT_EQ(instr.anGainCal[ch][r], (std::array<std::int32_t, 4>{})) << "range " << r;
      EXPECT_EQ(instr.anOffsetCal[ch][r], 0) << "range " << r;
    }
  }
  EXPECT_EQ(bus->port_accesses, 0);
}

TEST_F(SerialMemory, CalibrationDateAndItsFallback) {
  struct Case {
    std::array<std::uint8_t, 6> bytes;  // memory 10..15: year (word), month, day, hour, minute
    double expected;
  };
  const double fallback = 29221.0;  // 1 January 1980, 00:00
  const std::vector<Case> cases = {
      {{0xD3, 0x07, 3, 15, 14, 30}, 37695.0 + 14.5 / 24.0},  // 15 March 2003, 14:30
      {{0x6B, 0x07, 12, 30, 0, 0}, 0.0},                     // the day count's own start
      {{0xD0, 0x07, 2, 29, 23, 59}, 36585.0 + 1439.0 / 1440.0},
      {{0x6B, 0x07, 12, 29, 6, 0}, -1.25},  // before the start the time still counts forward
      {{0x01, 0x00, 1, 1, 0, 0}, -693593.0},
      {{0x0F, 0x27, 12, 31, 0, 0}, 2958465.0},  // 31 December 9999
      {{0x00, 0x00, 3, 15, 14, 30}, fallback},  // year 0
      {{0x10, 0x27, 1, 1, 0, 0}, fallback},     // year 10000
      {{0xD3, 0x07, 13, 15, 14, 30}, fallback},
      {{0xD3, 0x07, 0, 15, 14, 30}, fallback},
      {{0xD3, 0x07, 3, 0, 14, 30}, fallback},
      {{0xD3, 0x07, 4, 31, 14, 30}, fallback},
      {{0xD1, 0x07, 2, 29, 0, 0}, fallback},  // 2001 is no leap year
      {{0x6C, 0x07, 2, 29, 0, 0}, fallback},  // nor is 1900
      {{0xD3, 0x07, 3, 15, 24, 0}, fallback},
      {{0xD3, 0x07, 3, 15, 14, 60}, fallback},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, fallback},  // erased
  };
  for (const Case& c : cases) {
    std::copy(c.bytes.begin(), c.bytes.end(), instrument->abyMemory.begin() + 10);
    EXPECT_NEAR(instrument->CalibrationDate(), c.expected, 1e-9)
        << "bytes " << testing::PrintToString(std::vector<int>(c.bytes.begin(), c.bytes.end()));
  }
}

TEST_F(SerialMemory, SerialNumberOnlyWhileOpen) {
  const std::vector<std::pair<std::array<std::uint8_t, 3>, std::int32_t>> cases = {
      {{0x39, 0x30, 0x00}, 12345}, {{0xFF, 0xFF, 0xFF}, 16777215}, {{0x00, 0x00, 0x01}, 65536}};
  for (const auto& [bytes, serial] : cases) {
    std::copy(bytes.begin(), bytes.end(), instrument->abyMemory.begin() + 6);
    instrument->bInstrumentOpen = false;
    EXPECT_EQ(instrument->SerialNumberFromImage(), -1);
    instrument->bInstrumentOpen = true;
    EXPECT_EQ(instrument->SerialNumberFromImage(), serial);
  }
}

// The memory of the simulated instrument, read over the real register
// protocol.
class SerialMemoryOnSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::SimConfig config;
    config.serial = 12345;
    config.calibration_date = {2003, 3, 15, 14, 30};
    config.wall_clock_coupling = false;
    auto backend = std::make_unique<sim::SimulatedPc>(config);
    pc = backend.get();
    previous = platform::ReplaceBackend(std::move(backend));
    instrument = std::make_unique<VOz3>();
    instrument->nHardwareAddress = 0x378;
    instrument->bInstrumentOpen = true;
  }
  void TearDown() override {
    instrument.reset();
    platform::ReplaceBackend(std::move(previous));
  }
  sim::SimulatedPc* pc = nullptr;
  std::unique_ptr<platform::Backend> previous;
  std::unique_ptr<VOz3> instrument;
};

TEST_F(SerialMemoryOnSimulator, ImageIdentityAndCalibrationTables) {
  pc->SetEepromByte(54, 0xFE);  // channel 1, range 1 gain: 0x3FFE
  pc->SetEepromByte(55, 0x3F);
  pc->SetEepromByte(81, 0xFF);  // channel 2, range 2 gain: 0x3FFF
  pc->SetEepromByte(82, 0x3F);
  pc->SetEepromByte(147, 0xFF);  // channel 2, range 10 offset: 0xFFFF
  pc->SetEepromByte(148, 0xFF);
  const std::uint64_t before = pc->AccessCount();
  instrument->LoadMemoryImage();
  EXPECT_EQ(instrument->abyMemory, pc->EepromBytes());
  // Register writes cost 7 port accesses, reads 11: 7003 writes and 6150
  // reads for the whole memory.
  EXPECT_EQ(pc->AccessCount() - before, 7U * 7003 + 11U * 6150);

  EXPECT_EQ(std::vector<int>(instrument->abyMemory.begin() + 6, instrument->abyMemory.begin() + 9),
            (std::vector<int>{0x39, 0x30, 0x00}));
  EXPECT_EQ(instrument->SerialNumberFromImage(), 12345);
  EXPECT_EQ(std::vector<int>(instrument->abyMemory.begin() + 10, instrument->abyMemory.begin() + 16),
            (std::vector<int>{0xD3, 0x07, 0x03, 0x0F, 0x0E, 0x1E}));
  EXPECT_NEAR(instrument->CalibrationDate(), 37695.0 + 14.5 / 24.0, 1e-9);

  instrument->LoadCalibration();
  for (int ch = 1; ch <= 2; ++ch) {
    for (int r = 1; r <= 10; ++r) {
      const sim::CalibrationCodes factory = sim::FactoryCalibration(ch, r);
      int gain = factory.gain;
      int offset = factory.offset;
      if (ch == 1 && r == 1) gain = 0x3FFE;
      if (ch == 2 && r == 2) gain = 0x1FFF;
      if (ch == 2 && r == 10) offset = 0x1FFF;
      EXPECT_EQ(instrument->anGainCal[ch][r], (std::array<std::int32_t, 4>{0, factory.trim_a, factory.trim_b, gain}))
          << "channel " << ch << " range " << r;
      EXPECT_EQ(instrument->anOffsetCal[ch][r], offset) << "channel " << ch << " range " << r;
    }
  }
}

TEST_F(SerialMemoryOnSimulator, WaitsCostSimulatedTimeOnly) {
  const auto wall_start = std::chrono::steady_clock::now();
  const std::uint64_t sim_start = pc->NowNs();
  instrument->LoadMemoryImage();
  std::uint8_t signature = 0;
  for (int i = 0; i < 9; ++i) instrument->ReadMemory(1, 1, &signature);
  EXPECT_EQ(signature, 0xAA);
  const auto wall_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - wall_start).count();
  EXPECT_GE(pc->NowNs() - sim_start, 1'000'000'000U);  // ten reads, 100 ms of waiting each
  EXPECT_LT(wall_ms, 500);
}

}  // namespace
}  // namespace ru3
