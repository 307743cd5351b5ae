// The acquisition engine against a back end that decodes the register
// protocol: the arm sequence, the arming phase of the poll, the trigger
// time-out across the tick wrap, completion and its events, the averaging
// count by mode, the blocking measure and what it does when the instrument
// has gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <mutex>
#include <string>

#include "instrument/DUDA3.h"
#include "support/register_fake.h"

namespace ru3 {
namespace {

using test::RegisterFake;

constexpr std::uint16_t kData = 0x378;
constexpr std::uint32_t kTickMax = std::numeric_limits<std::uint32_t>::max();

class Acquisition : public ::testing::Test {
 protected:
  void SetUp() override {
    // Held for the whole test: the poll timer's ticks are skipped while the
    // library lock is taken, so no tick polls behind the test's back.
    lock = std::unique_lock(platform::LibraryMutex());
    auto backend = std::make_unique<RegisterFake>(kData);
    fake = backend.get();
    previous = platform::ReplaceBackend(std::move(backend));
    instrument = std::make_unique<VOz3>();
    instrument->nHardwareAddress = kData;
    instrument->bInstrumentOpen = true;
    instrument->rSampleFreq = 200000.0L;
    instrument->rSampleFreqRequest = 200000.0L;
    fake->register_value = [this](int reg) -> std::uint8_t {
      if (reg == 2) return ready ? 0x40 : 0xC0;
      return 0;
    };
    fake->log.clear();
  }
  void TearDown() override {
    instrument.reset();
    platform::ReplaceBackend(std::move(previous));
    lock.unlock();
  }

  long ForcesSince(std::size_t from) const {
    return std::count(fake->writes.begin() + static_cast<std::ptrdiff_t>(from), fake->writes.end(),
                      std::make_pair(10, 3));
  }

  std::unique_lock<std::recursive_mutex> lock;
  bool ready = false;
  RegisterFake* fake = nullptr;
  std::unique_ptr<platform::Backend> previous;
  std::unique_ptr<VOz3> instrument;
};

TEST_F(Acquisition, ArmLoadsThePostTriggerCountAndStartsTheHardware) {
  struct Case {
    std::int32_t post;
    std::uint16_t counter;
  };
  const Case cases[] = {{256, 0xFDFF}, {0, 0xFFFF}, {1, 0xFFFD}, {32760, 0x000F}, {512, 0xFBFF}};
  const std::vector<std::pair<int, int>> start = {{12, 1}, {8, 0}, {0, 2}, {13, 7}, {1, 14}, {1, 0}, {13, 15}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.post);
    fake->writes.clear();
    fake->ticks_ms = 1234 + c.post;
    instrument->lPostSamples = c.post;
    instrument->Arm();
    const auto loads = fake->CounterLoads(4);
    ASSERT_EQ(loads.size(), 1U);
    EXPECT_EQ(loads[0], c.counter);
    ASSERT_GE(fake->writes.size(), 7U + 48U);
    EXPECT_EQ(std::vector(fake->writes.end() - 7, fake->writes.end()), start);
    EXPECT_EQ(fake->writes[fake->writes.size() - 8], std::make_pair(4, 0));  // the counter load ends right before
    EXPECT_EQ(instrument->nArmTick, 1234U + static_cast<std::uint32_t>(c.post));
  }
}

TEST_F(Acquisition, EngineOperationsDoNothingWhileClosed) {
  instrument->bInstrumentOpen = false;
  instrument->Arm();
  instrument->Poll();
  ready = true;
  instrument->StartAcquisition();
  instrument->FetchData();
  instrument->bMeasurementDone = true;
  instrument->BlockingMeasure();  // must return, not spin
  EXPECT_TRUE(fake->log.empty());
  EXPECT_FALSE(instrument->bAdcRunning);
  EXPECT_FALSE(instrument->bMeasurementDone);
}

TEST_F(Acquisition, ShortTimeOutRunsTheAcquisitionUntriggered) {
  struct Case {
    long double timeout, freq;
    bool untriggered;
  };
  const Case cases[] = {
      {0.0L, 200000.0L, true},   {4e-6L, 200000.0L, true}, {6e-6L, 200000.0L, false},
      {-1.0L, 200000.0L, false}, {0.5L, 1.0L, true},       {2.0L, 1.0L, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<double>(c.timeout) << " s at " << static_cast<double>(c.freq));
    instrument->rSampleFreq = c.freq;
    instrument->rTrigTimeOut = c.timeout;
    instrument->tsTriggerSource = TTrigSource::tsCh2;
    instrument->SettingsChanged();
    instrument->bArmed = false;
    instrument->Poll();
    EXPECT_EQ(instrument->tsEffectiveTrigSource, c.untriggered ? TTrigSource::tsNoTrig : TTrigSource::tsCh2);
    EXPECT_TRUE(instrument->bArmed);
  }
}

TEST_F(Acquisition, TriggerTimeOutForcesOnEveryStepOnceDueAcrossTheWrap) {
  struct Case {
    const char* name;
    long double timeout;
    std::uint32_t base;
    std::uint64_t elapsed_ms;
    bool forced;
  };
  const Case cases[] = {
      {"one second, not yet", 1.0L, 0, 999, false},
      {"one second, due", 1.0L, 0, 1000, true},
      {"across the wrap, not yet", 1.0L, kTickMax - 500, 999, false},
      {"across the wrap, due", 1.0L, kTickMax - 500, 1000, true},
      {"armed right at the wrap", 1.0L, kTickMax, 1001, true},
      {"half a second", 0.5L, 0, 500, true},
      {"negative never forces", -1.0L, 0, 10000000, false},
      {"2000000 s never forces", 2000000.0L, 0, 2000000000ULL, false},
      {"just below the limit, due", 1999999.0L, 0, 1999999000ULL, true},
      {"just below the limit, not yet", 1999999.0L, 0, 1999998999ULL, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    instrument->rTrigTimeOut = c.timeout;
    instrument->bArmed = false;
    fake->tick_base = c.base;
    fake->ticks_ms = 0;
    instrument->bSettingsDirty = false;  // no front-end upload and its wait
    instrument->Poll();                  // arms
    EXPECT_EQ(instrument->nArmTick, c.base);
    instrument->bSettingsDirty = false;
    const std::size_t mark = fake->writes.size();
    fake->ticks_ms = c.elapsed_ms;
    instrument->Poll();
    EXPECT_EQ(ForcesSince(mark), c.forced ? 1 : 0);
    EXPECT_EQ(instrument->bSettingsDirty, c.forced);
    // Repeated on the next step while the hardware is still busy.
    instrument->Poll();
    EXPECT_EQ(ForcesSince(mark), c.forced ? 2 : 0);
  }
}

TEST_F(Acquisition, CompletionReadsFiresEventsAndLeavesTheTimerOnWhileMeasuring) {
  instrument->bEnableMeasurements = true;  // the flag alone: the test polls by hand
  std::vector<std::string> events;
  instrument->OnTriggered = [&](VOz3*) { events.emplace_back("triggered"); };
  instrument->OnMeasurementReady = [&](VOz3* sender) {
    events.push_back("ready c=" + std::to_string(sender->nCalculations) +
                     " timer=" + std::to_string(sender->TimerEnabled()) + " armed=" + std::to_string(sender->bArmed));
  };
  instrument->nAverageNumber = 3;
  instrument->Poll();
  instrument->Poll();
  EXPECT_EQ(events, (std::vector<std::string>{"triggered", "triggered"}));
  EXPECT_FALSE(instrument->bMeasurementDone);

  ready = true;
  instrument->bSettingsDirty = true;
  instrument->Poll();
  // The handler sees the count already advanced, the timer still off for the
  // read-out and the measurement no longer armed.
  EXPECT_EQ(events, (std::vector<std::string>{"triggered", "triggered", "triggered", "ready c=2 timer=0 armed=0"}));
  EXPECT_TRUE(instrument->bMeasurementDone);
  EXPECT_TRUE(instrument->TimerEnabled());
  EXPECT_FALSE(instrument->bSettingsDirty);
  EXPECT_GT(fake->total_samples[1], 0);
  EXPECT_GT(fake->total_samples[2], 0);
}

TEST_F(Acquisition, RangeStepsAreAppliedAtArmingAndRestartTheAverage) {
  struct Case {
    const char* name;
    bool auto1, auto2;
    TMeasureMode mode;
    std::int32_t step1, step2;
    std::uint16_t range1, range2;
    std::uint16_t expected1, expected2;
  };
  const Case cases[] = {
      {"both channels step", true, true, TMeasureMode::mCh12, -1, +1, 5, 5, 4, 6},
      {"index 0 becomes 1", true, true, TMeasureMode::mCh12, -1, 0, 1, 3, 1, 3},
      {"channel 1 not measured", true, true, TMeasureMode::mCh2, -1, -1, 5, 5, 5, 4},
      {"channel 2 not measured", true, true, TMeasureMode::mCh1, -1, -1, 5, 5, 4, 5},
      {"XY measures both", true, true, TMeasureMode::mXY, +1, +1, 8, 9, 9, 10},
      {"auto-ranging off", false, true, TMeasureMode::mCh12, -1, -1, 5, 5, 5, 4},
      {"no step", true, true, TMeasureMode::mCh12, 0, 0, 5, 7, 5, 7},
  };
  const std::pair<const char*, void (VOz3::*)()> starts[] = {{"poll", &VOz3::Poll},
                                                             {"start acquisition", &VOz3::StartAcquisition}};
  for (const auto& [start_name, start] : starts) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << start_name << ": " << c.name);
      instrument->abAutoRanging[1] = c.auto1;
      instrument->abAutoRanging[2] = c.auto2;
      instrument->mMeasureMode = c.mode;
      instrument->anRangeStep = {0, c.step1, c.step2};
      instrument->awRange[1] = c.range1;
      instrument->awRange[2] = c.range2;
      instrument->nAverageNumber = 4;
      instrument->nCalculations = 3;
      instrument->bSettingsDirty = false;
      instrument->bArmed = false;
      (instrument.get()->*start)();
      EXPECT_EQ(instrument->awRange[1], c.expected1);
      EXPECT_EQ(instrument->awRange[2], c.expected2);
      const bool changed = c.expected1 != c.range1 || c.expected2 != c.range2;
      if (changed) {
        EXPECT_EQ(instrument->nCalculations, 1);
      }
      if (c.step1 == 0 && c.step2 == 0) {
        EXPECT_EQ(instrument->nCalculations, 3);
      }
      // The front end was reprogrammed, so nothing is left dirty.
      EXPECT_FALSE(instrument->bSettingsDirty);
    }
  }
}

TEST_F(Acquisition, AveragingCountByAcquisitionMode) {
  struct Case {
    const char* name;
    TAcquisitionMode mode;
    int average;
    std::vector<int> counts;  // nCalculations after each completed measurement
    std::vector<TAcquisitionMode> modes;
  };
  using enum TAcquisitionMode;
  const Case cases[] = {
      {"continuous over 4", amContinuous, 4, {2, 3, 4, 1, 2}, {amContinuous, amContinuous, amContinuous, amContinuous}},
      {"continuous without averaging", amContinuous, 1, {1, 1, 1}, {amContinuous, amContinuous, amContinuous}},
      {"one shot without averaging", amOneShot, 1, {1}, {amHold}},
      {"one shot over 3", amOneShot, 3, {2, 3, 3}, {amOneShot, amOneShot, amHold}},
      {"hold counts like continuous", amHold, 2, {2, 1, 2}, {amHold, amHold, amHold}},
  };
  ready = true;
  instrument->abAutoRanging[1] = instrument->abAutoRanging[2] = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    instrument->amAcquisitionMode = c.mode;
    instrument->nAverageNumber = c.average;
    instrument->nCalculations = 1;
    for (std::size_t i = 0; i < c.counts.size(); ++i) {
      instrument->bMeasurementDone = false;
      instrument->Poll();
      ASSERT_TRUE(instrument->bMeasurementDone);
      EXPECT_EQ(instrument->nCalculations, c.counts[i]) << "measurement " << i + 1;
      if (i < c.modes.size()) {
        EXPECT_EQ(instrument->amAcquisitionMode, c.modes[i]) << "measurement " << i + 1;
      }
    }
  }
}

TEST_F(Acquisition, HostDrivenStartFetchAbortAndQueries) {
  instrument->StartAcquisition();
  EXPECT_TRUE(instrument->bAdcRunning);
  EXPECT_FALSE(instrument->bArmed);
  EXPECT_EQ(std::vector(fake->writes.end() - 2, fake->writes.end()),
            (std::vector<std::pair<int, int>>{{1, 0}, {13, 15}}));

  // Abort: nothing is running any more, no port is touched, the buffers stay.
  fake->log.clear();
  instrument->pDataCh1[0] = 0x4321;
  instrument->Abort();
  EXPECT_FALSE(instrument->bAdcRunning);
  EXPECT_TRUE(fake->log.empty());
  EXPECT_EQ(instrument->pDataCh1[0], 0x4321);

  ready = true;
  instrument->StartAcquisition();
  instrument->FetchData();
  EXPECT_FALSE(instrument->bAdcRunning);
  EXPECT_EQ(fake->total_samples[1], 514);

  struct Status {
    std::uint8_t status;
    TTrigSource source;
    std::uint16_t triggered;
    bool is_ready;
  };
  const Status cases[] = {
      {0x07, TTrigSource::tsCh1, 1, true},      {0x07, TTrigSource::tsCh2, 2, true},
      {0x07, TTrigSource::tsExternal, 4, true}, {0x07, TTrigSource::tsNoTrig, 1, true},
      {0x86, TTrigSource::tsCh1, 0, false},     {0xF9, TTrigSource::tsCh2, 0, false},
      {0x7B, TTrigSource::tsExternal, 0, true},
  };
  for (const Status& c : cases) {
    fake->register_value = [&](int) { return c.status; };
    instrument->tsTriggerSource = c.source;
    EXPECT_EQ(instrument->IsTriggered(), c.triggered) << std::hex << int{c.status};
    EXPECT_EQ(instrument->IsReady(), c.is_ready) << std::hex << int{c.status};
  }
  fake->register_value = [](int) -> std::uint8_t { return 0; };
}

TEST_F(Acquisition, BlockingMeasureWaitsForTheForcedTrigger) {
  // The instrument completes only when forced: a trigger that never comes.
  fake->access_cost_us = 5;
  bool forced = false;
  fake->on_write = [&](int reg, int value) {
    if (reg == 10 && value == 3 && instrument->bArmed) forced = true;
  };
  fake->register_value = [&](int reg) -> std::uint8_t {
    if (reg == 2) return forced ? 0x40 : 0xC0;
    return static_cast<std::uint8_t>(fake->ElapsedUs() / 5);  // a pointer that moves
  };
  instrument->rTrigTimeOut = 1.0L;
  instrument->BlockingMeasure();
  EXPECT_TRUE(instrument->bMeasurementDone);
  EXPECT_TRUE(instrument->bInstrumentOpen);
  EXPECT_GE(fake->ElapsedMs(), 1000U);
  EXPECT_LT(fake->ElapsedMs(), 1300U);
  EXPECT_FALSE(instrument->TimerEnabled());  // measuring is off: the timer stays off
  fake->on_write = nullptr;
}

TEST_F(Acquisition, BlockingMeasureGivesUpOnAnInstrumentThatHasGone) {
  struct Case {
    const char* name;
    long double timeout;
    std::uint8_t floating;
    bool closes;
  };
  const Case cases[] = {
      {"lines float high, with a time-out", 1.0L, 0xFF, true},
      {"lines float high, no time-out", -1.0L, 0xFF, true},
      {"lines float low: reads as ready", -1.0L, 0x00, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    instrument->bInstrumentOpen = true;
    instrument->bArmed = false;
    instrument->rTrigTimeOut = c.timeout;
    fake->floating = true;
    fake->floating_value = c.floating;
    fake->record = false;
    fake->access_cost_us = 10;
    const std::uint64_t start = fake->ElapsedMs();
    instrument->BlockingMeasure();
    const std::uint64_t waited = fake->ElapsedMs() - start;
    EXPECT_EQ(instrument->bInstrumentOpen, !c.closes);
    EXPECT_EQ(instrument->bMeasurementDone, !c.closes);
    if (c.closes) {
      EXPECT_GE(waited, 2000U);
      EXPECT_LE(waited, 2400U);
      EXPECT_FALSE(instrument->TimerEnabled());
    }
  }
}

TEST_F(Acquisition, BlockingMeasureKeepsWaitingWhileThePointerMoves) {
  struct Case {
    const char* name;
    long double freq;
    std::uint64_t ready_after_ms;
  };
  // No time-out: only a trigger ends the wait. At 0.1 Hz the pointer moves
  // once in ten seconds, which is still a live instrument.
  const Case cases[] = {{"200 kHz, trigger after 10 s", 200000.0L, 10000}, {"0.1 Hz, trigger after 60 s", 0.1L, 60000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    instrument->bArmed = false;
    instrument->rSampleFreq = c.freq;
    instrument->rSampleFreqRequest = c.freq;
    instrument->rTrigTimeOut = -1.0L;
    fake->record = false;
    fake->access_cost_us = 200;
    const std::uint64_t start_us = fake->ElapsedUs();
    const auto period_us = static_cast<std::uint64_t>(1e6L / c.freq);
    fake->register_value = [&](int reg) -> std::uint8_t {
      const std::uint64_t now = fake->ElapsedUs() - start_us;
      if (reg == 2) return now >= c.ready_after_ms * 1000 ? 0x40 : 0xC0;
      const auto count = RegisterFake::PointerCount(static_cast<int>((now / period_us) % 32768));
      return static_cast<std::uint8_t>(reg == 1 ? count >> 8 : count & 0xFF);
    };
    instrument->BlockingMeasure();
    EXPECT_TRUE(instrument->bInstrumentOpen);
    EXPECT_TRUE(instrument->bMeasurementDone);
    EXPECT_GE(fake->ElapsedUs() - start_us, c.ready_after_ms * 1000);
    fake->register_value = [](int) -> std::uint8_t { return 0x40; };
  }
}

TEST_F(Acquisition, EnablingMeasurementsRearmsAndModeSetterResetsOnlyForOneShot) {
  instrument->bArmed = true;
  instrument->SetEnableMeasurements(true);
  EXPECT_TRUE(instrument->TimerEnabled());
  EXPECT_FALSE(instrument->bArmed);
  instrument->bArmed = true;
  instrument->SetEnableMeasurements(false);
  EXPECT_FALSE(instrument->TimerEnabled());
  EXPECT_TRUE(instrument->bArmed);  // an armed measurement stays armed

  instrument->nCalculations = 3;
  instrument->SetAcquisitionMode(TAcquisitionMode::amHold);
  EXPECT_EQ(instrument->nCalculations, 3);
  instrument->SetAcquisitionMode(TAcquisitionMode::amOneShot);
  EXPECT_EQ(instrument->nCalculations, 1);
  instrument->nCalculations = 3;
  instrument->SetAcquisitionMode(TAcquisitionMode::amOneShot);  // unchanged: nothing
  EXPECT_EQ(instrument->nCalculations, 3);
}

}  // namespace
}  // namespace ru3
