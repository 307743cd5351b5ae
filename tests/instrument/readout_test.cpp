// The read-out of the ring memory, against a back end that decodes the
// register protocol and presents scripted samples: where each sample lands,
// the seek, the exact lane sequence, the level flags and range steps, and the
// running average.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "instrument/DUDA3.h"
#include "support/register_fake.h"

namespace ru3 {
namespace {

using test::Access;
using test::RegisterFake;

constexpr std::uint16_t kData = 0x378;
constexpr std::uint16_t kStatus = 0x379;
constexpr std::uint16_t kSentinel = 0x1234;

class Readout : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<RegisterFake>(kData);
    fake = backend.get();
    previous = platform::ReplaceBackend(std::move(backend));
    instrument = std::make_unique<VOz3>();
    instrument->nHardwareAddress = kData;
    instrument->bInstrumentOpen = true;
    std::fill_n(instrument->pDataCh1, kRawBufferWords, kSentinel);
    std::fill_n(instrument->pDataCh2, kRawBufferWords, kSentinel);
    fake->log.clear();
  }
  void TearDown() override {
    instrument.reset();
    platform::ReplaceBackend(std::move(previous));
  }

  // Status register and write pointer as the instrument reports them.
  void SetRing(bool wrapped, int newest, std::uint8_t status = 0) {
    const std::uint16_t count = RegisterFake::PointerCount(newest);
    fake->register_value = [=](int reg) -> std::uint8_t {
      if (reg == 2) return static_cast<std::uint8_t>(status | (wrapped ? 0x40 : 0x00));
      if (reg == 1) return static_cast<std::uint8_t>(count >> 8);
      if (reg == 0) return static_cast<std::uint8_t>(count & 0xFF);
      return 0;
    };
  }

  void SetSource(TTrigSource source) {
    instrument->tsTriggerSource = source;
    instrument->tsEffectiveTrigSource = source;
  }

  RegisterFake* fake = nullptr;
  std::unique_ptr<platform::Backend> previous;
  std::unique_ptr<VOz3> instrument;
};

// Distinct 12-bit samples per channel and read index.
std::uint16_t Ramp(int ch, int j) { return static_cast<std::uint16_t>((0x400 * ch + 5 * j) & 0xFFF); }

TEST_F(Readout, WritePointerDecodesTheCountAndWrapsIntoTheRing) {
  struct Case {
    int hi, lo, expected;
  };
  const Case cases[] = {
      {0xFF, 0xFE, 32766}, {0xFF, 0xFF, 32766}, {0x00, 0x00, 32765}, {0x00, 0x02, 32764},
      {0x00, 0x03, 32764}, {0x7F, 0xFA, 16384}, {0xFF, 0xFC, 32767}, {0xFF, 0xFA, 0},
  };
  for (const Case& c : cases) {
    fake->register_value = [&](int reg) -> std::uint8_t { return static_cast<std::uint8_t>(reg == 1 ? c.hi : c.lo); };
    EXPECT_EQ(instrument->ReadWritePointer(), c.expected) << std::hex << c.hi << " " << c.lo;
  }
}

TEST_F(Readout, SamplesLandAtTheirRecordPositions) {
  struct Case {
    const char* name;
    TTrigSource source;
    bool wrapped;
    int newest;
    int first_read;  // buffer position of the first sample read
    int last;        // last position written
    int seek;        // start position sought, 0 = address reset
  };
  // Record 512 (256 pre, 256 post).
  const Case cases[] = {
      {"full ring, channel trigger", TTrigSource::tsCh1, true, 1000, 0, 513, 488},
      {"full ring, channel 2 trigger", TTrigSource::tsCh2, true, 1000, 0, 513, 488},
      {"full ring, external trigger", TTrigSource::tsExternal, true, 1000, -2, 511, 488},
      {"full ring, untriggered", TTrigSource::tsNoTrig, true, 1000, -2, 511, 488},
      {"record wraps the ring's end", TTrigSource::tsCh1, true, 100, 0, 513, 32356},
      {"start exactly at address 0", TTrigSource::tsCh1, true, 512, 0, 513, 0},
      {"not wrapped, enough written", TTrigSource::tsCh1, false, 600, 0, 513, 88},
      {"short read, external", TTrigSource::tsExternal, false, 100, 410, 511, 0},
      {"short read, channel trigger", TTrigSource::tsCh1, false, 100, 412, 513, 0},
  };
  fake->sample = Ramp;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::fill_n(instrument->pDataCh1, 600, kSentinel);
    std::fill_n(instrument->pDataCh2, 600, kSentinel);
    fake->writes.clear();
    fake->log.clear();
    SetRing(c.wrapped, c.newest);
    SetSource(c.source);
    instrument->ReadOut();

    for (int ch = 1; ch <= 2; ++ch) {
      const std::uint16_t* buffer = instrument->ChannelData(ch);
      for (int pos = 0; pos <= 514; ++pos) {
        std::uint16_t expected = kSentinel;  // beyond the fill and the reads
        if (pos <= 512) expected = kIdleFill;
        if (pos >= std::max(0, c.first_read) && pos <= c.last) {
          expected = static_cast<std::uint16_t>(Ramp(ch, pos - c.first_read) << 4);
        }
        // After an address reset in a ring not yet wrapped, the first read is
        // the cell before address 0, from an earlier record: not kept.
        if (!c.wrapped && c.seek == 0 && pos == c.first_read) expected = kIdleFill;
        ASSERT_EQ(buffer[pos], expected) << "channel " << ch << " position " << pos;
      }
    }

    // The seek: a run of the hardware to the start position, or the address
    // reset followed by one more priming clock.
    const auto loads = fake->CounterLoads(4);
    const auto& w = fake->writes;
    const auto resets = std::count(w.begin(), w.end(), std::make_pair(1, 4));
    if (c.seek == 0) {
      EXPECT_TRUE(loads.empty());
      EXPECT_EQ(resets, 2);
    } else {
      EXPECT_EQ(loads, (std::vector<std::uint16_t>(2, static_cast<std::uint16_t>(65535 - 2 * c.seek))));
      EXPECT_EQ(resets, 0);
    }
  }
}

TEST_F(Readout, LaneSequenceIsExactForBothChannelsAndSlowPorts) {
  struct Case {
    int ch;
    bool slow;
    std::uint8_t high, low;
  };
  const Case cases[] = {{1, false, 0xFF, 0x7F}, {2, false, 0xBF, 0x3F}, {1, true, 0xFF, 0x7F}, {2, true, 0xBF, 0x3F}};
  instrument->lRecordLength = 4;
  instrument->lPreSamples = 2;
  instrument->lPostSamples = 2;
  SetSource(TTrigSource::tsExternal);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "channel " << c.ch << (c.slow ? " slow" : ""));
    instrument->bSlowIO = c.slow;
    fake->repeats = c.slow ? 2 : 1;
    fake->log.clear();
    fake->writes.clear();
    instrument->ReadSamples(c.ch, 0, 2);

    const std::vector<std::pair<int, int>> registers = {{1, 4}, {1, 0}, {13, 0}, {0, 1}, {15, 3}, {13, 2}, {0, 0}};
    EXPECT_EQ(fake->writes, registers);

    // Between the lane selection and the closing register writes: three
    // priming clocks (address reset), then per sample L, read, H, read, L, H,
    // read, for k + 2 = 4 samples; every access doubled on a slow port.
    const int n = c.slow ? 2 : 1;
    std::vector<Access> expected;
    auto out = [&](std::uint8_t v) {
      for (int i = 0; i < n; ++i) expected.push_back({true, kData, v});
    };
    auto in = [&]() {
      for (int i = 0; i < n; ++i) expected.push_back({false, kStatus, 0});
    };
    for (int i = 0; i < 3; ++i) {
      out(c.high);
      out(c.low);
    }
    for (int s = 0; s < 4; ++s) {
      out(c.low);
      in();
      out(c.high);
      in();
      out(c.low);
      out(c.high);
      in();
    }
    const int per_write = c.slow ? 13 : 7;
    const auto begin = fake->log.begin() + 5 * per_write;
    std::vector<Access> lane(begin, begin + static_cast<std::ptrdiff_t>(expected.size()));
    for (Access& a : lane) {
      if (!a.out) a.value = 0;  // compare the shape, not the sample values
    }
    EXPECT_EQ(lane, expected);
    EXPECT_EQ(fake->log.size(), expected.size() + 7 * per_write);
  }
}

TEST_F(Readout, SampleIsAssembledFromStatusBitsThreeToSixInverted) {
  // Hand-worked: reads 0x50, 0x28, 0x78 carry nibbles A (bits 4-7), 5 (bits
  // 8-11) and F (bits 0-3); 0x5AF inverted is 0xA50, stored as 0xA500.
  EXPECT_EQ(RegisterFake::LaneNibble(0xA50, 0), 0x50);
  EXPECT_EQ(RegisterFake::LaneNibble(0xA50, 1), 0x28);
  EXPECT_EQ(RegisterFake::LaneNibble(0xA50, 2), 0x78);
  const std::uint16_t samples[] = {0xA50, 0x000, 0xFFF, 0x800, 0x123};
  fake->sample = [&](int, int j) { return samples[j % 5]; };
  fake->lane_noise = 0x87;  // bits 0-2 and 7 are not the lane's
  instrument->lRecordLength = 5;
  instrument->lPreSamples = 0;
  instrument->lPostSamples = 5;
  SetSource(TTrigSource::tsCh1);
  instrument->bRingWrapped = true;  // every read belongs to the record
  instrument->ReadSamples(1, 0, 5);
  const std::uint16_t expected[] = {0xA500, 0x0000, 0xFFF0, 0x8000, 0x1230};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(instrument->pDataCh1[i], expected[i]) << i;
}

TEST_F(Readout, LevelFlagsGiveTheAutoRangingStep) {
  struct Case {
    const char* name;
    TTrigSource source;
    int range;
    int special_read;  // read index of the one sample that differs (-1: none)
    std::uint16_t special;
    int expected_step;
  };
  // Every other sample sits at 0 V (0x800, word 0x8000), well inside the
  // middle band. Record 512; with an external trigger reads 0 and 1 fall
  // before position 0 and are dropped.
  const Case cases[] = {
      {"quiet signal steps down", TTrigSource::tsExternal, 5, -1, 0, -1},
      {"never below range 1", TTrigSource::tsExternal, 1, -1, 0, 0},
      {"over the top steps up", TTrigSource::tsExternal, 5, 100, 0xFD1, +1},
      {"0xFD00 is not over range", TTrigSource::tsExternal, 5, 100, 0xFD0, 0},
      {"under the bottom steps up", TTrigSource::tsExternal, 5, 100, 0x02F, +1},
      {"0x0300 is not over range", TTrigSource::tsExternal, 5, 100, 0x030, 0},
      {"0x5400 leaves the middle band", TTrigSource::tsExternal, 5, 100, 0x540, 0},
      {"0x5410 stays in it", TTrigSource::tsExternal, 5, 100, 0x541, -1},
      {"0xAC00 leaves the middle band", TTrigSource::tsExternal, 5, 100, 0xAC0, 0},
      {"0xABF0 stays in it", TTrigSource::tsExternal, 5, 100, 0xABF, -1},
      {"never above range 10", TTrigSource::tsExternal, 10, 100, 0xFFF, 0},
      {"over range on range 9 steps to 10", TTrigSource::tsExternal, 9, 100, 0x000, +1},
      {"a dropped read is not judged", TTrigSource::tsExternal, 5, 1, 0xFFF, -1},
      {"the reads past the record are judged", TTrigSource::tsCh1, 5, 513, 0xFFF, +1},
  };
  SetRing(true, 5000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetSource(c.source);
    for (int ch = 1; ch <= 2; ++ch) {
      // The differing sample goes to one channel only; the other stays quiet.
      fake->sample = [&](int sample_ch, int j) -> std::uint16_t {
        return sample_ch == ch && j == c.special_read ? c.special : 0x800;
      };
      instrument->awRange[1] = instrument->awRange[2] = static_cast<std::uint16_t>(c.range);
      instrument->ReadOut();
      const int other = 3 - ch;
      EXPECT_EQ(instrument->anRangeStep[ch], c.expected_step) << "channel " << ch;
      EXPECT_EQ(instrument->anRangeStep[other], c.range > 1 ? -1 : 0) << "quiet channel " << other;
    }
  }
}

TEST_F(Readout, MeasureModeChoosesTheChannelsRead) {
  struct Case {
    TMeasureMode mode;
    bool ch1, ch2;
  };
  const Case cases[] = {
      {TMeasureMode::mCh1, true, false},     {TMeasureMode::mCh2, false, true},   {TMeasureMode::mCh12, true, true},
      {TMeasureMode::mXY, true, true},       {TMeasureMode::mNone, false, false}, {TMeasureMode::mCh3, false, false},
      {TMeasureMode::mCh1234, false, false},
  };
  SetRing(true, 5000);
  SetSource(TTrigSource::tsCh1);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    std::fill_n(instrument->pDataCh1, 600, kSentinel);
    std::fill_n(instrument->pDataCh2, 600, kSentinel);
    std::fill(std::begin(fake->total_samples), std::end(fake->total_samples), 0);
    instrument->anRangeStep = {0, 5, 5};
    instrument->mMeasureMode = c.mode;
    instrument->ReadOut();
    EXPECT_EQ(fake->total_samples[1], c.ch1 ? 514 : 0);
    EXPECT_EQ(fake->total_samples[2], c.ch2 ? 514 : 0);
    // A channel not measured keeps what its buffer held.
    for (int ch = 1; ch <= 2; ++ch) {
      if (ch == 1 ? c.ch1 : c.ch2) continue;
      const std::uint16_t* buffer = instrument->ChannelData(ch);
      EXPECT_EQ(std::count(buffer, buffer + 600, kSentinel), 600) << "channel " << ch;
    }
    // Steps are cleared, then derived only for the channels read.
    EXPECT_EQ(instrument->anRangeStep[1], c.ch1 ? -1 : 0);
    EXPECT_EQ(instrument->anRangeStep[2], c.ch2 ? -1 : 0);
  }
}

TEST_F(Readout, RunningAverageInSinglePrecisionTiesToEven) {
  struct Case {
    const char* name;
    int c;
    float previous;      // accumulator before the read
    std::uint16_t x;     // 12-bit sample read now
    std::uint16_t word;  // buffer word afterwards
    float accumulator;   // accumulator afterwards
  };
  const Case cases[] = {
      {"c = 1 restarts from the new record", 1, 999.0F, 0x800, 0x8000, 32768.0F},
      {"mean of two, tie down to even", 2, 1.0F, 0x001, 8, 8.5F},
      {"mean of two, tie up to even", 2, 3.0F, 0x001, 10, 9.5F},
      {"mean of two codes", 2, 32768.0F, 0x801, 0x8008, 32776.0F},
      {"third of the way", 3, 10.0F, 0x002, 17, 32.0F / 3.0F + 2.0F * 10.0F / 3.0F},
      {"fourth of the way", 4, 100.0F, 0x000, 75, 75.0F},
      // Exactly 32773.4974 in double precision; single precision makes it the
      // tie 32773.5, which goes to the even 32774.
      {"single precision decides the tie", 3, 32768.24609375F, 0x801, 32774, 32773.5F},
  };
  constexpr int kPos = 7;
  SetRing(true, 5000);
  SetSource(TTrigSource::tsCh1);
  instrument->mMeasureMode = TMeasureMode::mCh1;
  instrument->nAverageNumber = 4;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake->sample = [&](int, int j) -> std::uint16_t { return j == kPos ? c.x : 0x800; };
    instrument->nCalculations = c.c;
    instrument->pAverageCh1[kPos] = c.previous;
    instrument->ReadOut();
    EXPECT_EQ(instrument->pDataCh1[kPos], c.word);
    EXPECT_FLOAT_EQ(instrument->pAverageCh1[kPos], c.accumulator);
  }
}

TEST_F(Readout, AverageCoversPositionsZeroToRecordLengthInclusive) {
  SetRing(true, 5000);
  SetSource(TTrigSource::tsExternal);  // position 512 keeps the fill
  instrument->mMeasureMode = TMeasureMode::mCh12;
  instrument->nAverageNumber = 2;
  instrument->nCalculations = 1;
  std::fill_n(instrument->pAverageCh1, kAverageBufferFloats, -1.0F);
  std::fill_n(instrument->pAverageCh2, kAverageBufferFloats, -1.0F);
  instrument->ReadOut();
  for (float* average : {instrument->pAverageCh1, instrument->pAverageCh2}) {
    EXPECT_EQ(average[0], 32768.0F);
    EXPECT_EQ(average[511], 32768.0F);
    EXPECT_EQ(average[512], 32767.0F);  // the fill word, averaged too
    EXPECT_EQ(average[513], -1.0F);
  }

  // Without averaging the accumulators are not touched.
  instrument->nAverageNumber = 1;
  std::fill_n(instrument->pAverageCh1, kAverageBufferFloats, -1.0F);
  instrument->ReadOut();
  EXPECT_EQ(instrument->pAverageCh1[0], -1.0F);
  EXPECT_EQ(instrument->pDataCh1[0], 0x8000);
}

TEST_F(Readout, NothingHappensWhenClosedOrWithoutPortAccess) {
  SetRing(true, 5000);
  instrument->bInstrumentOpen = false;
  instrument->ReadOut();
  EXPECT_TRUE(fake->log.empty());
  EXPECT_EQ(instrument->pDataCh1[0], kSentinel);

  instrument->bInstrumentOpen = true;
  instrument->bHardwareAvailable = false;
  instrument->ReadSamples(1, 10, 512);
  EXPECT_TRUE(fake->log.empty());
  EXPECT_EQ(instrument->pDataCh1[0], kSentinel);
}

TEST_F(Readout, SeekRunsTheHardwareToTheStartAndRestoresTheClock) {
  struct Case {
    std::uint16_t clock_select;
    int seek_clock, normal_clock;
  };
  for (const Case& c : {Case{8, 11, 9}, Case{0, 3, 1}}) {
    instrument->ClockSelectBits = c.clock_select;
    fake->writes.clear();
    int polls = 0;
    fake->register_value = [&](int reg) -> std::uint8_t {
      if (reg != 2) return 0;
      return ++polls < 3 ? 0x80 : 0x00;  // busy twice, then ready
    };
    instrument->ArmAndWait(300);
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(fake->CounterLoads(4), std::vector<std::uint16_t>{65535 - 600});
    const std::vector<std::pair<int, int>> expected = {{0, 0}, {7, c.seek_clock}, {13, 2}, {1, 6},
                                                       {1, 0}, {13, 10},          {13, 2}, {7, c.normal_clock}};
    // Between {13, 10} and {13, 2} lie only the read-back selects of the
    // status polls.
    std::vector<std::pair<int, int>> without_selects;
    for (const auto& wr : fake->writes) {
      if (wr.first != 15 && wr.first != 5 && wr.first != 4) without_selects.push_back(wr);
    }
    EXPECT_EQ(without_selects, expected);
  }
}

TEST_F(Readout, SeekGivesUpAfterOneSecondAlsoAcrossTheTickWrap) {
  fake->register_value = [](int) -> std::uint8_t { return 0x80; };  // never ready
  fake->access_cost_us = 10;
  for (std::uint32_t base : {0U, std::numeric_limits<std::uint32_t>::max() - 300U}) {
    SCOPED_TRACE(base);
    fake->tick_base = base;
    const std::uint64_t start = fake->ElapsedMs();
    instrument->ArmAndWait(1000);
    const std::uint64_t waited = fake->ElapsedMs() - start;
    EXPECT_GT(waited, 1000U);
    EXPECT_LT(waited, 1010U);
  }
}

}  // namespace
}  // namespace ru3
