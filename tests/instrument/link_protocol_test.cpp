// The register protocol, byte for byte, against a back end that records every
// port access.
#include <gtest/gtest.h>

#include "instrument/DUDA3.h"
#include "support/recording_backend.h"

namespace ru3 {
namespace {

using test::Access;
using test::RecordingBackend;

constexpr std::uint16_t kData = 0x378;
constexpr std::uint16_t kStatus = 0x379;
constexpr std::uint16_t kControl = 0x37A;

class LinkProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<RecordingBackend>();
    rec = backend.get();
    previous = platform::ReplaceBackend(std::move(backend));
    instrument = std::make_unique<VOz3>();
    instrument->nHardwareAddress = kData;
    rec->log.clear();
  }
  void TearDown() override {
    instrument.reset();
    platform::ReplaceBackend(std::move(previous));
  }

  // The (register, value) pairs of the register writes in the log, decoded
  // from the address and data cycles.
  std::vector<std::pair<int, int>> RegisterWrites() const {
    std::vector<std::pair<int, int>> writes;
    int reg = -1;
    std::uint8_t data = 0;
    for (const Access& a : rec->log) {
      if (a.out && a.port == kData) data = a.value;
      if (a.out && a.port == kControl && a.value == 0x0C) reg = data & 0x0F;
      if (a.out && a.port == kControl && a.value == 0x06) writes.emplace_back(reg, data & 0x0F);
    }
    return writes;
  }

  RecordingBackend* rec = nullptr;
  std::unique_ptr<platform::Backend> previous;
  std::unique_ptr<VOz3> instrument;
};

TEST_F(LinkProtocol, RegisterWriteIsSevenAccessesInOrder) {
  instrument->WriteRegister(7, 9);
  const std::vector<Access> expected = {
      {true, kData, 0xF7},    {true, kControl, 0x0C}, {true, kControl, 0x04}, {true, kData, 0xF9},
      {true, kControl, 0x06}, {true, kControl, 0x04}, {true, kData, 0xFF}};
  EXPECT_EQ(rec->log, expected);
}

TEST_F(LinkProtocol, SlowIoDoublesEveryAccessButTheClosingIdleWrite) {
  instrument->bSlowIO = true;
  instrument->WriteRegister(7, 9);
  ASSERT_EQ(rec->log.size(), 13U);
  for (std::size_t i = 0; i < 12; i += 2) EXPECT_EQ(rec->log[i], rec->log[i + 1]) << "access " << i;
  EXPECT_EQ(rec->log[12], (Access{true, kData, 0xFF}));
  EXPECT_EQ(rec->log[0], (Access{true, kData, 0xF7}));
  EXPECT_EQ(rec->log[6], (Access{true, kData, 0xF9}));
}

TEST_F(LinkProtocol, ReadAssemblesHighAndLowNibbleFromStatusBits) {
  rec->reads = {0x50, 0x28};
  EXPECT_EQ(instrument->ReadRegister(2), 0xA5);
  const std::vector<Access> expected = {
      {true, kData, 0xFF},    {true, kControl, 0x0C}, {true, kControl, 0x04}, {true, kData, 0xF2},
      {true, kControl, 0x06}, {true, kControl, 0x04}, {true, kData, 0xFF},    {false, kStatus, 0x50},
      {true, kData, 0x7F},    {false, kStatus, 0x28}, {true, kData, 0xFF}};
  EXPECT_EQ(rec->log, expected);
}

TEST_F(LinkProtocol, SlowIoReadUsesTheLastOfTwoStatusReads) {
  instrument->bSlowIO = true;
  rec->reads = {0x00, 0x50, 0x00, 0x28};
  EXPECT_EQ(instrument->ReadRegister(2), 0xA5);
  EXPECT_EQ(rec->log.size(), 21U);
}

TEST_F(LinkProtocol, WithoutPortAccessNothingIsTouchedAndReadsGiveZero) {
  instrument->bHardwareAvailable = false;
  rec->reads = {0x50, 0x28};
  instrument->WriteRegister(7, 9);
  EXPECT_EQ(instrument->ReadRegister(2), 0);
  EXPECT_TRUE(rec->log.empty());
}

TEST_F(LinkProtocol, UnitFourIdlesAt0xCF) {
  instrument->UnitSelectBits = 0x00;
  instrument->WriteRegister(10, 1);
  EXPECT_EQ(rec->log.front().value, 0xCA);
  EXPECT_EQ(rec->log.back().value, 0xCF);
  EXPECT_EQ(instrument->DataIdleByte(), 0xCF);
}

TEST_F(LinkProtocol, CounterLoadSendsEachNibbleBitByBitThroughRegisterFive) {
  instrument->WriteLatch16(4, 0xFDFF);
  const auto writes = RegisterWrites();
  ASSERT_EQ(writes.size(), 48U);
  // Lowest nibble 0xF: bit addresses 0..3 with data bit set, each strobed by
  // register 4 := 1, then 0.
  const std::vector<std::pair<int, int>> first_nibble = {{5, 4}, {4, 1}, {4, 0}, {5, 5}, {4, 1}, {4, 0},
                                                         {5, 6}, {4, 1}, {4, 0}, {5, 7}, {4, 1}, {4, 0}};
  EXPECT_EQ(std::vector(writes.begin(), writes.begin() + 12), first_nibble);
  // Second nibble 0xF is strobed with latch bit 1 (value 2); third nibble 0xD
  // = 1101 sends bit 3, 2, 1, 0 as 1, 1, 0, 1 with strobe 4.
  EXPECT_EQ(writes[13], std::make_pair(4, 2));
  const std::vector<std::pair<int, int>> third = {{5, 4}, {5, 5}, {5, 2}, {5, 7}};
  for (std::size_t j = 0; j < 4; ++j) {
    EXPECT_EQ(writes[24 + 3 * j], third[j]);
    EXPECT_EQ(writes[25 + 3 * j], std::make_pair(4, 4));
  }
}

TEST_F(LinkProtocol, ShiftOut16FramesSixteenBitsMostSignificantFirst) {
  instrument->ShiftOut16(2, 0x8001);
  const auto writes = RegisterWrites();
  ASSERT_EQ(writes.size(), 56U);
  const std::vector<std::pair<int, int>> start = {{5, 7}, {12, 0}, {5, 3}, {5, 7}, {5, 5}};
  EXPECT_EQ(std::vector(writes.begin(), writes.begin() + 5), start);
  EXPECT_EQ(writes[5], std::make_pair(8, 2));   // bit 15 set, converter 2 data line
  EXPECT_EQ(writes[8], std::make_pair(8, 0));   // bit 14 clear
  EXPECT_EQ(writes[50], std::make_pair(8, 2));  // bit 0 set
  const std::vector<std::pair<int, int>> end = {{5, 7}, {8, 0}, {12, 1}};
  EXPECT_EQ(std::vector(writes.end() - 3, writes.end()), end);
}

TEST_F(LinkProtocol, ConverterLoadSendsCommandTwoCodesAndEightFillWords) {
  std::vector<std::uint16_t> words;
  instrument->ConverterLoad(1, 0x1234, 0x7FFF);
  // Every sixteen data bits on register 8 between two load pulses are a word.
  const auto writes = RegisterWrites();
  std::uint16_t word = 0;
  int bits = 0;
  for (const auto& [reg, value] : writes) {
    if (reg == 8 && bits < 16 && (value == 1 || value == 0)) {
      word = static_cast<std::uint16_t>((word << 1) | value);
      if (++bits == 16) {
        words.push_back(word);
      }
    }
    if (reg == 12 && value == 1) {
      bits = 0;
      word = 0;
    }
  }
  const std::vector<std::uint16_t> expected = {0xC300, 0x9234, 0xBFFF, 0xA000, 0xA000, 0xA000,
                                               0xA000, 0xA000, 0xA000, 0xA000, 0xA000};
  EXPECT_EQ(words, expected);
}

TEST_F(LinkProtocol, RelayByteClearsCouplingBitsAndClocksMsbFirst) {
  instrument->abyCoupling[1] = 1;
  instrument->abyCoupling[2] = 1;
  instrument->ShiftRelayByte(0xD7);  // becomes 0xC6
  const auto writes = RegisterWrites();
  ASSERT_EQ(writes.size(), 19U);
  std::uint8_t shifted = 0;
  for (int i = 0; i < 8; ++i) {
    const auto [reg, d] = writes[1 + 2 * i];
    EXPECT_EQ(writes[2 + 2 * i], std::make_pair(5, d + 8)) << "clock of bit " << 7 - i;
    shifted = static_cast<std::uint8_t>((shifted << 1) | (d == 4 ? 1 : 0));
  }
  EXPECT_EQ(shifted, 0xC6);
  EXPECT_EQ(writes.front(), std::make_pair(5, 0));
  EXPECT_EQ(writes[17], std::make_pair(5, 0));  // data of the last bit (0), clock low
  EXPECT_EQ(writes[18], std::make_pair(5, 0));
}

TEST_F(LinkProtocol, TrimPairClampsTheFirstValueAndInvertsTheSecond) {
  auto words_of = [&](int ch, std::uint16_t a, std::uint16_t b) {
    rec->log.clear();
    instrument->WriteTrimPair(ch, a, b);
    std::vector<int> words;
    int word = 0;
    int select = 0;
    for (const auto& [reg, value] : RegisterWrites()) {
      if (reg == 9 && value != 3) {
        select = value;
        word = 0;
      } else if (reg == 5 && (value & 1) == 1) {
        word = (word << 1) | ((value & 4) != 0 ? 1 : 0);
      } else if (reg == 9 && value == 3) {
        words.push_back(select << 16 | word);
      }
    }
    return words;
  };
  // Channel 1: select 2, first word a (clamped), second 256 + (255 - b).
  EXPECT_EQ(words_of(1, 300, 0), (std::vector<int>{2 << 16 | 255, 2 << 16 | (256 + 255)}));
  // Channel 2: select 1, first word 255 - b, second 256 + a.
  EXPECT_EQ(words_of(2, 10, 5), (std::vector<int>{1 << 16 | 250, 1 << 16 | (256 + 10)}));
  // A second value above 255 wraps on 16 bits and is clamped to 255.
  EXPECT_EQ(words_of(1, 0, 300), (std::vector<int>{2 << 16 | 0, 2 << 16 | (256 + 255)}));
}

}  // namespace
}  // namespace ru3
