// Timer-driven measuring through the exports, with the poll timer ticking
// between the host's calls as it does on its own thread: every record the
// host gets was armed on the settings and the unit it is read with; one
// fetched while still under way holds only what it wrote.
//
// The tests hold the library lock throughout, so the timer thread never
// ticks; Tick() plays the tick exactly where the test puts it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "support/measure_fixture.h"
#include "support/record_watch.h"

namespace ru3 {
namespace {

using sim::Shape;
using sim::SignalSource;
using test::kRecord;

class MeasureTimer : public test::MeasureFixture {
 protected:
  void SetUp() override {
    MeasureFixture::SetUp();
    sim().SetObserver(&records_);
  }

  // `ms` of time pass, then the poll timer ticks (if it runs).
  void Tick(std::uint64_t ms = 1) {
    sim().AdvanceTime(ms * 1'000'000);
    if (Object().TimerEnabled()) Object().TimerTick();
  }

  // Ticks until the poll completes a record; the simulator's count of
  // records started at that moment (0 if none came).
  std::uint64_t TickUntilRecord() {
    std::uint64_t started = 0;
    Object().OnMeasurementReady = [&](VOz3*) { started = records_.records; };
    for (int i = 0; i < 2000 && started == 0; ++i) Tick();
    Object().OnMeasurementReady = nullptr;
    return started;
  }

  static std::uint16_t MaxRaw1() {
    std::vector<std::uint16_t> ch1(kRecord), ch2(kRecord);
    EXPECT_EQ(GetMeasurementRaw(ch1.data(), ch2.data()), RU3_OK);
    return *std::max_element(ch1.begin(), ch1.end());
  }

  test::RecordWatch records_;  // outlives the simulated PC, which TearDown drops
  std::lock_guard<platform::LibraryLock> lock_{platform::LibraryMutex()};
};

// 0.3 V on 0.4 V reaches three quarters of full scale; on 2 V a seventh.
constexpr std::uint16_t kOnFourTenths = 0xC000;

TEST_F(MeasureTimer, StartMeasurementMeasuresAfreshAfterTimerDrivenMeasuring) {
  SineOnTwoVolts();
  std::uint32_t rate = 100000;
  ASSERT_EQ(SetSampleFrequency(&rate), RU3_OK);
  ASSERT_EQ(DoMeasure(-1), RU3_OK);
  Tick();  // arms on 2 V at 100 kHz
  ASSERT_EQ(DoMeasure(0), RU3_OK);
  rate = 10000;
  ASSERT_EQ(SetSampleFrequency(&rate), RU3_OK);
  SetRange(1, 0.4);
  const std::uint64_t records = records_.records;
  ASSERT_EQ(StartMeasurement(), RU3_OK);
  EXPECT_EQ(records_.records, records + 1);
  EXPECT_GT(MaxRaw1(), kOnFourTenths);
  EXPECT_EQ(GetSampleFrequency(), 10000);
}

TEST_F(MeasureTimer, ARecordUnderWayWhenTheTimebaseOrTriggerChangesIsArmedAgain) {
  SineOnTwoVolts();
  std::uint32_t rate = 10000;
  double level = 0.1;
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"sample frequency", [&] { ASSERT_EQ(SetSampleFrequency(&rate), RU3_OK); }},
      {"post samples", [] { ASSERT_EQ(SetPostSamples(500), RU3_OK); }},
      {"trigger level", [&] { ASSERT_EQ(SetTriggerLevel(1, level), RU3_OK); }},
  };
  ASSERT_EQ(DoMeasure(-1), RU3_OK);
  for (const auto& [name, change] : changes) {
    SCOPED_TRACE(name);
    Tick();
    ASSERT_TRUE(Object().bArmed);
    const std::uint64_t armed = records_.records;
    change();
    // The record delivered first was started after the change.
    EXPECT_GT(TickUntilRecord(), armed);
  }
}

TEST_F(MeasureTimer, ARecordIsPolledAndReadOnTheUnitItWasArmedOn) {
  SineOnTwoVolts();
  ASSERT_EQ(DoMeasure(-1), RU3_OK);
  Tick();  // armed on unit 1
  // The host works on unit 2 while unit 1's record runs to its end.
  ASSERT_EQ(SetActiveRU3(2), RU3_OK);
  ASSERT_NE(TickUntilRecord(), 0U);
  ASSERT_EQ(SetDAC7394(1.0, -1.0), RU3_OK);
  ASSERT_EQ(SetActiveRU3(1), RU3_OK);
  EXPECT_EQ(records_.other_unit_read_outs, 0U);
  std::vector<double> ch1(kRecord), ch2(kRecord);
  ASSERT_EQ(GetMeasurement(ch1.data(), ch2.data()), RU3_OK);
  EXPECT_NEAR(Peak(ch1), 0.3, 2 * 2.0 / 2048);
  EXPECT_EQ(sim().DacCode(2, 1), VOz3::DacCode(1.0));
}

TEST_F(MeasureTimer, ARangeTheHostSetsOverridesAPendingAutoRangingStep) {
  sim().SetInput(1, SignalSource{Shape::kSine, 3.0, 1000.0, 0.0, 0.0});
  ASSERT_EQ(SetAutoRanging(1, 0), RU3_OK);
  for (const double judged_on : {0.8, 2.0}) {
    SCOPED_TRACE(judged_on);
    SetRange(1, judged_on);
    ASSERT_EQ(StartMeasurement(), RU3_OK);  // over range, judged one step up
    SetRange(1, 2.0);
    ASSERT_EQ(SetAutoRanging(1, 1), RU3_OK);
    ASSERT_EQ(StartMeasurement(), RU3_OK);
    EXPECT_EQ(records_.input[0].range, 5);  // 2 V
    ASSERT_EQ(SetAutoRanging(1, 0), RU3_OK);
  }
}

TEST_F(MeasureTimer, AFetchWhileARecordIsUnderWayHasTheTimerArmAgain) {
  // The fetch's seek reprograms the clock and the post-trigger counter of
  // the record the timer armed: that record is no measurement any more.
  SineOnTwoVolts();
  std::uint32_t rate = 10000;
  ASSERT_EQ(SetSampleFrequency(&rate), RU3_OK);
  ASSERT_EQ(ADC_Start(), RU3_OK);  // a block-style record not yet fetched
  ASSERT_EQ(DoMeasure(-1), RU3_OK);
  Tick();
  ASSERT_TRUE(Object().bArmed);
  const std::uint64_t armed = records_.records;
  std::vector<std::uint16_t> ch1(kRecord), ch2(kRecord);
  ASSERT_EQ(ADC_GetData(ch1.data(), ch2.data()), RU3_OK);
  EXPECT_GT(TickUntilRecord(), armed);
  EXPECT_FALSE(records_.rate_changed);
}

TEST_F(MeasureTimer, ARecordFetchedBeforeItIsReadyHoldsOnlyCellsItWrote) {
  // An earlier record leaves -1 V in every cell of the ring; the records
  // fetched early measure +0.5 V at the top rate, where the write pointer
  // moves on while it is being read. Each is fetched a little later.
  SetRange(1, 2.0);
  ASSERT_EQ(SetTriggerLevel(1, 1.0), RU3_OK);  // never reached: the records run on
  sim().SetInput(1, SignalSource{Shape::kDc, -1.0, 0.0, 0.0, 0.0});
  ASSERT_EQ(StartMeasurement(), RU3_OK);  // forced after the time-out
  sim().SetInput(1, SignalSource{Shape::kDc, 0.5, 0.0, 0.0, 0.0});
  std::uint32_t rate = 200000;
  ASSERT_EQ(SetSampleFrequency(&rate), RU3_OK);
  std::vector<std::uint16_t> ch1(kRecord), ch2(kRecord);
  int stale = 0;
  for (int wait = 0; wait < 300; ++wait) {
    ASSERT_EQ(ADC_Start(), RU3_OK);
    for (int i = 0; i < wait; ++i) ADC_Ready();
    ASSERT_EQ(ADC_GetData(ch1.data(), ch2.data()), RU3_OK);
    stale += static_cast<int>(
        std::count_if(ch1.begin(), ch1.end(), [](std::uint16_t w) { return w != kIdleFill && w < 0x8000; }));
  }
  EXPECT_EQ(stale, 0);
}

}  // namespace
}  // namespace ru3
