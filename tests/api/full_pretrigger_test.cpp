// The extension through the exports, against the simulated instrument: full
// pre-trigger records (the hold-off, the time-out and the force after it, a
// record without a pre-trigger part) and the facts of the record in the
// buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/measure_fixture.h"

namespace ru3 {
namespace {

using sim::Shape;
using sim::SignalSource;
using FullPreTriggerApi = test::MeasureFixture;

constexpr int kLength = 1000;
constexpr int kPost = 500;  // pre-trigger share 0.5

RU3RecordInfo Info() {
  RU3RecordInfo info{};
  info.size = sizeof info;
  EXPECT_EQ(Ext_GetRecordInfo(&info), RU3_OK);
  EXPECT_EQ(info.size, sizeof info);
  return info;
}

// Positions of channel 1 without a sample in a block-style record.
int EmptyPositions(std::vector<std::uint16_t>& ch1) {
  std::vector<std::uint16_t> ch2(kLength);
  EXPECT_EQ(ADC_Start(), RU3_OK);
  int polls = 0;
  while (ADC_Ready() != 1 && ++polls < 10000000) {
  }
  EXPECT_EQ(ADC_GetData(ch1.data(), ch2.data()), RU3_OK);
  return static_cast<int>(std::count(ch1.begin(), ch1.end(), RU3_NO_SAMPLE));
}

class FullRecords : public FullPreTriggerApi {
 protected:
  void SetUp() override {
    FullPreTriggerApi::SetUp();
    // A 1 kHz sine at 100 kHz: the trigger comes within a period (100
    // samples) of the arm, long before 500 pre-trigger samples are taken.
    sim().SetInput(1, SignalSource{Shape::kSine, 1.5, 1000.0, 0.0, 0.0});
    SetRange(1, 2.0);
    double rate = 100000.0;
    ASSERT_EQ(SetSampleFrequencyF(&rate), RU3_OK);
    ASSERT_EQ(SetRecordLength(kLength), RU3_OK);
    ASSERT_EQ(SetPostSamples(kPost), RU3_OK);
  }
};

TEST_F(FullRecords, HoldOffFillsThePreTriggerPartAndKeepsTheCrossingAtIt) {
  std::uint8_t on = 9;
  ASSERT_EQ(Ext_GetFullPreTrigger(&on), RU3_OK);
  EXPECT_EQ(on, 0);                // off by default
  EXPECT_EQ(Info().sequence, 0u);  // nothing read yet

  std::vector<std::uint16_t> ch1(kLength);
  EXPECT_GT(EmptyPositions(ch1), 300);  // off: the record is cut short
  const RU3RecordInfo off = Info();
  EXPECT_EQ(off.sequence, 1u);
  EXPECT_EQ(off.full_pretrigger, 0);
  EXPECT_EQ(off.first_sample,
            std::find_if(ch1.begin(), ch1.end(), [](auto w) { return w != RU3_NO_SAMPLE; }) - ch1.begin());

  ASSERT_EQ(Ext_SetFullPreTrigger(2), RU3_BAD_VALUE);
  ASSERT_EQ(Ext_SetFullPreTrigger(1), RU3_OK);
  ASSERT_EQ(Ext_GetFullPreTrigger(&on), RU3_OK);
  EXPECT_EQ(on, 1);
  for (std::uint32_t record = 2; record <= 3; ++record) {
    ASSERT_EQ(EmptyPositions(ch1), 0) << "record " << record;
    // The rising 0 V crossing at the pre-trigger position.
    EXPECT_LT(ch1[kLength - kPost - 1], 0x8000);
    EXPECT_GE(ch1[kLength - kPost], 0x8000);
    const RU3RecordInfo info = Info();
    EXPECT_EQ(info.sequence, record);
    EXPECT_EQ(info.sample_rate, 100000.0);
    EXPECT_EQ(info.range[0], 2.0);
    EXPECT_EQ(info.range[1], 80.0);
    EXPECT_EQ(info.coupling[0], RU3_COUPLING_DC);
    EXPECT_EQ(info.unit, 1);
    EXPECT_EQ(info.length, kLength);
    EXPECT_EQ(info.trigger_position, kLength - kPost);
    EXPECT_EQ(info.first_sample, 0);
    EXPECT_EQ(info.forced, 0);
    EXPECT_EQ(info.full_pretrigger, 1);
    EXPECT_EQ(info.channels, 3);
  }

  // A caller with an older, shorter struct gets only what it has room for.
  RU3RecordInfo small{};
  small.size = 8;
  small.sample_rate = -1.0;
  ASSERT_EQ(Ext_GetRecordInfo(&small), RU3_OK);
  EXPECT_EQ(small.size, 8u);
  EXPECT_EQ(small.sequence, 3u);
  EXPECT_EQ(small.sample_rate, -1.0);
  small.size = 4;
  EXPECT_EQ(Ext_GetRecordInfo(&small), RU3_BAD_VALUE);
  EXPECT_EQ(Ext_GetRecordInfo(nullptr), RU3_BAD_VALUE);
}

TEST_F(FullRecords, TheSourceIsProgrammedAtArmingOrAtTheEndOfTheHoldOff) {
  ASSERT_EQ(Ext_SetFullPreTrigger(1), RU3_OK);
  ASSERT_EQ(ADC_Start(), RU3_OK);
  EXPECT_EQ(sim().Register(1, 10), 7);  // never triggers while the part fills
  EXPECT_EQ(ADC_Ready(), 0);
  EXPECT_EQ(sim().Register(1, 10), 7);
  sim().AdvanceTime(7'000'000);  // 504 samples and a tick more
  EXPECT_EQ(ADC_Triggered(), 0);
  EXPECT_EQ(sim().Register(1, 10), 0);  // channel 1

  // A force in the hold-off is kept for its end: the record is full, and forced.
  ASSERT_EQ(SetTriggerLevel(1, 1.9), RU3_OK);  // never reached
  ASSERT_EQ(ADC_Start(), RU3_OK);
  ASSERT_EQ(ADC_ForceTrig(), RU3_OK);
  EXPECT_EQ(sim().Register(1, 10), 7);
  ASSERT_TRUE(WaitReady());
  std::vector<std::uint16_t> ch1(kLength), ch2(kLength);
  ASSERT_EQ(ADC_GetData(ch1.data(), ch2.data()), RU3_OK);
  EXPECT_EQ(std::count(ch1.begin(), ch1.end(), RU3_NO_SAMPLE), 0);
  EXPECT_EQ(Info().forced, 1);

  // A record no longer than its post samples has nothing to hold off.
  ASSERT_EQ(SetPostSamples(kLength), RU3_OK);
  ASSERT_EQ(SetTriggerLevel(1, 0.0), RU3_OK);
  ASSERT_EQ(ADC_Start(), RU3_OK);
  EXPECT_EQ(sim().Register(1, 10), 0);
  ASSERT_TRUE(WaitReady());
  ASSERT_EQ(ADC_GetData(ch1.data(), ch2.data()), RU3_OK);
  const RU3RecordInfo info = Info();
  EXPECT_EQ(info.full_pretrigger, 0);
  EXPECT_EQ(info.trigger_position, 0);
  EXPECT_EQ(info.forced, 0);
}

TEST_F(FullRecords, TheTimeOutCountsFromTheEndOfTheHoldOff) {
  ASSERT_EQ(Ext_SetFullPreTrigger(1), RU3_OK);
  double rate = 1000.0;  // the hold-off takes half a second
  ASSERT_EQ(SetSampleFrequencyF(&rate), RU3_OK);
  ASSERT_EQ(SetTriggerLevel(1, 1.9), RU3_OK);  // never reached
  ASSERT_EQ(SetTriggerTimeOut(200), RU3_OK);
  const std::uint64_t start = sim().NowNs();
  ASSERT_EQ(StartMeasurement(), RU3_OK);
  const double waited_s = static_cast<double>(sim().NowNs() - start) * 1e-9;
  // 0.504 s of hold-off and a tick, 0.2 s of time-out, 0.5 s of post samples.
  EXPECT_GE(waited_s, 0.504 + 0.2 + 0.5);
  EXPECT_LT(waited_s, 1.3);
  const RU3RecordInfo info = Info();
  EXPECT_EQ(info.forced, 1);
  EXPECT_EQ(info.first_sample, 0);
  EXPECT_EQ(info.sample_rate, 1000.0);
}

}  // namespace
}  // namespace ru3
