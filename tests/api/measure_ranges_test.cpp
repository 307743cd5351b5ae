// Ranges through the exports while measuring: a range set while a record is
// under way, each unit on its own front end, auto-ranging one step per
// measurement and once per read-out.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "support/measure_fixture.h"

namespace ru3 {
namespace {

using sim::Shape;
using sim::SignalSource;
using test::kRecord;
using MeasureRanges = test::MeasureFixture;

TEST_F(MeasureRanges, ARangeSetWhileARecordIsUnderWayReachesTheInstrument) {
  SineOnTwoVolts();
  std::vector<double> ch1(kRecord), ch2(kRecord);

  // Block style: the record measured on 2 V keeps the 2 V factor although
  // 0.4 V was chosen since; the next one is measured on 0.4 V.
  ASSERT_EQ(ADC_Start(), RU3_OK);
  ASSERT_TRUE(WaitReady());
  ASSERT_EQ(ADC_GetDataVolt(ch1.data(), ch2.data()), RU3_OK);
  SetRange(1, 0.4);
  ASSERT_EQ(ADC_GetDataVolt(ch1.data(), ch2.data()), RU3_OK);
  EXPECT_NEAR(Peak(ch1), 0.3, 2 * 2.0 / 2048);
  ASSERT_EQ(ADC_Start(), RU3_OK);
  ASSERT_TRUE(WaitReady());
  ASSERT_EQ(ADC_GetDataVolt(ch1.data(), ch2.data()), RU3_OK);
  EXPECT_NEAR(Peak(ch1), 0.3, 2 * 0.4 / 2048);
  EXPECT_EQ(sim().InputStage(1).range, 3);

  // Timer driven: the range changes while the poll has a record armed.
  SetRange(1, 2.0);
  sim().SetWallClockCoupling(true);
  ASSERT_EQ(DoMeasure(-1), RU3_OK);
  for (bool changed = false; !changed;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard lock(platform::LibraryMutex());
    if (Object().bArmed && sim().InputStage(1).range == 5) {
      SetRange(1, 0.4);
      changed = true;
    }
  }
  // Every record read is right in volts, and the 0.4 V range arrives.
  int range = 0;
  for (int reads = 0; reads < 2000 && range != 3; ++reads) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::lock_guard lock(platform::LibraryMutex());
    ASSERT_EQ(GetMeasurement(ch1.data(), ch2.data()), RU3_OK);
    ASSERT_NEAR(Peak(ch1), 0.3, 2 * 2.0 / 2048);
    range = sim().InputStage(1).range;
  }
  EXPECT_EQ(range, 3);
  ASSERT_EQ(DoMeasure(0), RU3_OK);
  std::lock_guard lock(platform::LibraryMutex());
  ASSERT_EQ(StartMeasurement(), RU3_OK);
  ASSERT_EQ(GetMeasurement(ch1.data(), ch2.data()), RU3_OK);
  EXPECT_NEAR(Peak(ch1), 0.3, 2 * 0.4 / 2048);
}

TEST_F(MeasureRanges, EachUnitIsArmedAndReadOnItsOwnFrontEnd) {
  // The host measures on unit 2 with 0.4 V, then comes back to unit 1,
  // whose relays still hold the 2 V it was last given: the record unit 1
  // measured before is read on 2 V, and the next arming uploads 0.4 V to
  // unit 1 too; either mistake reads the 0.3 V sine as 0.06 V or 1.5 V.
  SineOnTwoVolts();
  std::vector<double> ch1(kRecord), ch2(kRecord);
  ASSERT_EQ(ADC_Start(), RU3_OK);
  ASSERT_TRUE(WaitReady());
  ASSERT_EQ(sim().InputStage(1).range, 5);

  ASSERT_EQ(SetActiveRU3(2), RU3_OK);
  SetRange(1, 0.4);
  ASSERT_EQ(ADC_Start(), RU3_OK);  // uploads 0.4 V to unit 2
  ASSERT_EQ(ADC_Abort(), RU3_OK);
  ASSERT_EQ(SetActiveRU3(1), RU3_OK);
  ASSERT_EQ(ADC_GetDataVolt(ch1.data(), ch2.data()), RU3_OK);
  EXPECT_NEAR(Peak(ch1), 0.3, 2 * 2.0 / 2048);
  ASSERT_EQ(ADC_Start(), RU3_OK);
  ASSERT_TRUE(WaitReady());
  ASSERT_EQ(ADC_GetDataVolt(ch1.data(), ch2.data()), RU3_OK);
  EXPECT_EQ(sim().InputStage(1).range, 3);
  EXPECT_NEAR(Peak(ch1), 0.3, 2 * 0.4 / 2048);

  // Motors hang on unit 4 but switch no front end: an arming after them
  // uploads nothing more than one without them.
  auto arming_accesses = [this] {
    const std::uint64_t before = sim().AccessCount();
    EXPECT_EQ(ADC_Start(), RU3_OK);
    const std::uint64_t after = sim().AccessCount();
    EXPECT_EQ(ADC_Abort(), RU3_OK);
    return after - before;
  };
  const std::uint64_t plain = arming_accesses();
  ASSERT_EQ(SetMotorOn(1, 0), RU3_OK);
  EXPECT_EQ(arming_accesses(), plain);
}

TEST_F(MeasureRanges, AutoRangingStepsOneRangePerMeasurement) {
  struct Case {
    const char* name;
    double amplitude;
    double start_range;
    std::vector<double> ranges;  // the range of each measurement
  };
  const Case cases[] = {
      {"0.05 V steps down to 0.1 V", 0.05, 80.0, {80, 40, 20, 8, 4, 2, 0.8, 0.4, 0.2, 0.1, 0.1, 0.1}},
      {"30 V steps up to 40 V", 30.0, 0.1, {0.1, 0.2, 0.4, 0.8, 2, 4, 8, 20, 40, 40, 40}},
      {"0 V never goes below 0.1 V", 0.0, 0.2, {0.2, 0.1, 0.1, 0.1}},
      {"100 V never goes above 80 V", 100.0, 40.0, {40, 80, 80, 80}},
  };
  ASSERT_EQ(SetTriggerSource(9), RU3_OK);
  ASSERT_EQ(SetAutoRanging(1, 1), RU3_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim().SetInput(1, SignalSource{Shape::kSine, c.amplitude, 1000.0, 0.0, 0.0});
    SetRange(1, c.start_range);
    ASSERT_EQ(StartMeasurement(), RU3_OK);  // a first record on the start range, judged for the next
    for (std::size_t i = 0; i < c.ranges.size(); ++i) {
      double range = 0.0;
      ASSERT_EQ(GetSensitivity(1, &range), RU3_OK);
      EXPECT_EQ(range, c.ranges[i]) << "measurement " << i + 1;
      ASSERT_EQ(StartMeasurement(), RU3_OK);
    }
  }
  // Where it settles, the volts are right for the range it chose.
  std::vector<double> ch1(kRecord), ch2(kRecord);
  ASSERT_EQ(GetMeasurement(ch1.data(), ch2.data()), RU3_OK);
  EXPECT_EQ(api::State().VoltPerCode[1], 80.0 / 32768);
  EXPECT_GT(*std::max_element(ch1.begin(), ch1.end()), 75.0);
}

TEST_F(MeasureRanges, ARangeStepIsAppliedOncePerReadOut) {
  ASSERT_EQ(SetTriggerSource(9), RU3_OK);
  ASSERT_EQ(SetAutoRanging(1, 1), RU3_OK);
  sim().SetInput(1, SignalSource{Shape::kSine, 30.0, 1000.0, 0.0, 0.0});
  SetRange(1, 0.1);
  ASSERT_EQ(StartMeasurement(), RU3_OK);  // over range: one step up is due
  auto range = [] {
    double volts = 0.0;
    EXPECT_EQ(GetSensitivity(1, &volts), RU3_OK);
    return volts;
  };
  for (int start = 0; start < 3; ++start) {
    ASSERT_EQ(ADC_Start(), RU3_OK);
    EXPECT_EQ(range(), 0.2) << "start " << start + 1;
  }
  // The next read-out judges afresh.
  ASSERT_TRUE(WaitReady());
  std::vector<std::uint16_t> ch1(kRecord), ch2(kRecord);
  ASSERT_EQ(ADC_GetData(ch1.data(), ch2.data()), RU3_OK);
  ASSERT_EQ(ADC_Start(), RU3_OK);
  EXPECT_EQ(range(), 0.4);
  EXPECT_EQ(sim().InputStage(1).range, 3);
}

}  // namespace
}  // namespace ru3
