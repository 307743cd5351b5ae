// The instrument failing the ways a real one does, injected into the
// simulated PC while the library runs: what every export must do then. The
// rule throughout: no hang, no crash, and no success reported for a failure;
// once the instrument has gone the object closes and every call says so.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "api/Exportin.h"
#include "support/sim_fixture.h"

namespace ru3 {
namespace {

using sim::Shape;
using sim::SignalSource;

constexpr int kRecord = 512;
constexpr double kNsPerS = 1e9;

class Faults : public test::SimFixture {
 protected:
  void SetUp() override {
    test::SimFixture::SetUp();
    ASSERT_EQ(init_status, RU3_OK);
    // Simulated time moves only with the port traffic: the waits below cost
    // no real time and are exact.
    sim().SetWallClockCoupling(false);
    ASSERT_EQ(SetRecordLength(kRecord), RU3_OK);
  }

  sim::Faults& faults() { return sim().faults(); }

  // A DC input far below the trigger level: no trigger ever comes.
  void NoTriggerEver() {
    sim().SetInput(1, SignalSource{Shape::kDc, 0.0, 0.0, 0.0, 0.0});
    ASSERT_EQ(SetTriggerSource(RU3_TRIG_CH1), RU3_OK);
    ASSERT_EQ(SetTriggerLevel(1, 70.0), RU3_OK);
    ASSERT_EQ(SetTriggerTimeOut(RU3_TIMEOUT_NONE), RU3_OK);
  }

  // Seconds of instrument time `action` took.
  template <typename F>
  double InstrumentSeconds(F action) {
    const std::uint64_t start = sim().NowNs();
    action();
    return static_cast<double>(sim().NowNs() - start) / kNsPerS;
  }

  // After the instrument has gone: every call reports it, without touching
  // the port.
  void ExpectClosedWithoutPortAccess() {
    const std::uint64_t accesses = sim().AccessCount();
    std::vector<double> d1(kRecord), d2(kRecord);
    std::vector<std::uint16_t> r1(kRecord), r2(kRecord);
    EXPECT_EQ(StartMeasurement(), RU3_NO_INSTRUMENT);
    EXPECT_EQ(ADC_Start(), RU3_NO_INSTRUMENT);
    EXPECT_EQ(ADC_Ready(), 0);
    EXPECT_EQ(GetMeasurement(d1.data(), d2.data()), RU3_NO_INSTRUMENT);
    EXPECT_EQ(GetMeasurementRaw(r1.data(), r2.data()), RU3_NO_INSTRUMENT);
    EXPECT_EQ(ADC_GetData(r1.data(), r2.data()), RU3_NO_INSTRUMENT);
    EXPECT_EQ(DoMeasure(-1), RU3_NO_INSTRUMENT);
    EXPECT_EQ(sim().AccessCount(), accesses);
  }

  // Plugged back in, the instrument opens again and measures.
  void ExpectRecovers() {
    faults() = sim::Faults{};
    ASSERT_EQ(ExitInstrument(), RU3_OK);
    ASSERT_EQ(InitInstrument(0), RU3_OK);
    ASSERT_EQ(SetTriggerTimeOut(10), RU3_OK);
    EXPECT_EQ(StartMeasurement(), RU3_OK);
  }
};

// ---- Unplugged -----------------------------------------------------------

TEST_F(Faults, UnpluggedBeforeOpeningIsNoInstrument) {
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  faults().unplugged = true;
  double seconds = InstrumentSeconds([] { EXPECT_EQ(InitInstrument(0), RU3_NO_INSTRUMENT); });
  EXPECT_LT(seconds, 1.0);
  EXPECT_EQ(api::Present(), nullptr);
  ExpectClosedWithoutPortAccess();
  ExpectRecovers();
}

TEST_F(Faults, UnpluggedBetweenMeasurementsEndsTheNextOneWithNoInstrument) {
  ASSERT_EQ(SetTriggerTimeOut(10), RU3_OK);
  ASSERT_EQ(StartMeasurement(), RU3_OK);
  faults().unplugged = true;
  // Waits for the dead-instrument guard (about 2 s of instrument time), not
  // for ever.
  const double seconds = InstrumentSeconds([] { EXPECT_EQ(StartMeasurement(), RU3_NO_INSTRUMENT); });
  EXPECT_GE(seconds, 2.0);
  EXPECT_LT(seconds, 3.0);
  ExpectClosedWithoutPortAccess();
  EXPECT_EQ(ExitInstrument(), RU3_OK);
  ExpectRecovers();
}

TEST_F(Faults, TriggerThatNeverComesWithNoTimeOutEndsWhenTheInstrumentIsUnplugged) {
  NoTriggerEver();
  // Pulled while the library waits for the trigger, after the arming.
  faults().UnplugAfterReads(2000);
  const double seconds = InstrumentSeconds([] { EXPECT_EQ(StartMeasurement(), RU3_NO_INSTRUMENT); });
  EXPECT_LT(seconds, 3.0);
  ExpectClosedWithoutPortAccess();
  ExpectRecovers();
}

TEST_F(Faults, TriggerThatNeverComesLeavesTheBlockStyleWaitingAndAbortable) {
  NoTriggerEver();
  ASSERT_EQ(ADC_Start(), RU3_OK);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(ADC_Ready(), 0);
  EXPECT_EQ(ADC_Triggered(), 0);
  EXPECT_EQ(ADC_Abort(), RU3_OK);
  EXPECT_EQ(ADC_Running(), 0);
  // The host forces it and gets a whole record.
  ASSERT_EQ(ADC_Start(), RU3_OK);
  ASSERT_EQ(ADC_ForceTrig(), RU3_OK);
  bool ready = false;
  for (int i = 0; i < 100000 && !ready; ++i) ready = ADC_Ready() == 1;
  ASSERT_TRUE(ready);
  std::vector<std::uint16_t> r1(kRecord), r2(kRecord);
  EXPECT_EQ(ADC_GetData(r1.data(), r2.data()), RU3_OK);
}

// A cable pulled while the record is read gives floating lines for the rest
// of it. Those samples are not a measurement: the read must not report
// success.
TEST_F(Faults, UnpluggedDuringTheReadOutIsNotASuccess) {
  ASSERT_EQ(SetTriggerTimeOut(1), RU3_OK);
  for (const std::uint64_t reads : {std::uint64_t{40}, std::uint64_t{1500}}) {
    SCOPED_TRACE(reads);
    ASSERT_EQ(ADC_Start(), RU3_OK);
    ASSERT_EQ(ADC_ForceTrig(), RU3_OK);
    bool ready = false;
    for (int i = 0; i < 100000 && !ready; ++i) ready = ADC_Ready() == 1;
    ASSERT_TRUE(ready);
    faults().UnplugAfterLaneReads(reads);
    std::vector<std::uint16_t> r1(kRecord, 0x1234), r2(kRecord, 0x1234);
    EXPECT_EQ(ADC_GetData(r1.data(), r2.data()), RU3_NO_INSTRUMENT);
    ExpectClosedWithoutPortAccess();
    ExpectRecovers();
  }
}

TEST_F(Faults, UnpluggedDuringTheReadOutOfASynchronousMeasureIsNoInstrument) {
  // Pulled early in the read-out, and at its last samples.
  for (const std::uint64_t lane_reads : {std::uint64_t{10}, std::uint64_t{2000}}) {
    SCOPED_TRACE(lane_reads);
    ASSERT_EQ(SetTriggerTimeOut(1), RU3_OK);
    faults().UnplugAfterLaneReads(lane_reads);
    EXPECT_EQ(StartMeasurement(), RU3_NO_INSTRUMENT);
    ExpectClosedWithoutPortAccess();
    ExpectRecovers();
  }
}

// ---- Stuck lines -----------------------------------------------------------

// A busy bit that never clears: the acquisition stops after its post-trigger
// samples and the write pointer stands still, which the guard catches.
TEST_F(Faults, BusyBitStuckEndsTheMeasureWithNoInstrument) {
  ASSERT_EQ(SetTriggerTimeOut(5), RU3_OK);
  faults().busy_stuck = true;
  const double seconds = InstrumentSeconds([] { EXPECT_EQ(StartMeasurement(), RU3_NO_INSTRUMENT); });
  EXPECT_LT(seconds, 3.0);
  ExpectClosedWithoutPortAccess();
  ExpectRecovers();
}

TEST_F(Faults, EepromThatDoesNotAnswerIsNoInstrument) {
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  faults().eeprom_silent = true;
  EXPECT_EQ(InitInstrument(0), RU3_NO_INSTRUMENT);
  std::int32_t serial = 0;
  EXPECT_EQ(GetSerialNumber(&serial), RU3_NO_INSTRUMENT);
  ExpectClosedWithoutPortAccess();
  ExpectRecovers();
}

// ---- The PC's side -----------------------------------------------------------

TEST_F(Faults, PortClaimedByAnotherProcessIsNoInstrumentAndIsLeftAlone) {
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  const platform::DeviceHandle other = sim().OpenDevice("LPT1");
  ASSERT_NE(other, platform::kNoDevice);
  EXPECT_EQ(InitInstrument(0), RU3_NO_INSTRUMENT);
  ExpectClosedWithoutPortAccess();
  // The other program's claim is untouched: the name is still taken.
  EXPECT_EQ(sim().OpenDevice("LPT1"), platform::kNoDevice);
  sim().CloseDevice(other);
  ExpectRecovers();
}

TEST_F(Faults, MissingPortDriverIsNoInstrumentWithoutAnyPortAccess) {
  sim::SimConfig config;
  config.driver_present = false;
  Open(config);
  EXPECT_EQ(init_status, RU3_NO_INSTRUMENT);
  EXPECT_EQ(sim().AccessCount(), 0U);
  ExpectClosedWithoutPortAccess();
  EXPECT_EQ(ExitInstrument(), RU3_OK);
  EXPECT_EQ(sim().AccessCount(), 0U);
}

// ---- Closing while the timer measures --------------------------------------

TEST_F(Faults, ExitWhileTimerDrivenMeasuringRunsStopsThePortTraffic) {
  sim().SetWallClockCoupling(true);
  ASSERT_EQ(SetTriggerTimeOut(1), RU3_OK);
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(DoMeasure(-1), RU3_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(ExitInstrument(), RU3_OK);
    const std::uint64_t accesses = sim().AccessCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(sim().AccessCount(), accesses) << "the timer still drives the port after ExitInstrument";
    ASSERT_EQ(InitInstrument(0), RU3_OK);
  }
}

}  // namespace
}  // namespace ru3
