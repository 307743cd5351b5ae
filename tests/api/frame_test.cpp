// The library frame through its exports: the open/close state machine, the
// capability queries' absent values, the instrument object's defaults and the
// device-message receiver.
#include <gtest/gtest.h>

#include <cmath>

#include "api/Exportin.h"
#include "support/recording_backend.h"

namespace ru3 {
namespace {

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<test::RecordingBackend>();
    rec = backend.get();
    previous = platform::ReplaceBackend(std::move(backend));
    platform::SetMessageSink([this](const std::string& text) { messages.push_back(text); });
    ExitInstrument();
  }
  void TearDown() override {
    ExitInstrument();
    platform::SetMessageSink(nullptr);
    platform::ReplaceBackend(std::move(previous));
  }

  test::RecordingBackend* rec = nullptr;
  std::unique_ptr<platform::Backend> previous;
  std::vector<std::string> messages;
};

TEST_F(Frame, ExitWithoutInitAndTwiceInARowDoNothing) {
  EXPECT_EQ(ExitInstrument(), RU3_OK);
  EXPECT_EQ(ExitInstrument(), RU3_OK);
  EXPECT_EQ(api::State().Instrument, nullptr);
  EXPECT_TRUE(rec->log.empty());
}

TEST_F(Frame, CapabilityQueriesGiveTheirAbsentValuesBeforeInit) {
  uint16_t channels = 99;
  double amplitude = -1.0;
  EXPECT_EQ(GetMaxSampleFrequency(), 0);
  EXPECT_EQ(GetMaxSampleFrequencyF(), 0.0);
  EXPECT_EQ(GetMaxRecordLength(), 0);
  EXPECT_EQ(GetDCLevelStatus(), 1);
  EXPECT_EQ(GetSquareWaveGenStatus(), 1);
  EXPECT_EQ(GetFunctionGenStatus(), 1);
  EXPECT_EQ(GetFuncGenMaxAmplitude(&amplitude), 1);
  EXPECT_EQ(GetNrChannels(&channels), 1);
  EXPECT_EQ(SetDataReadyCallback(1234), 1);
  EXPECT_EQ(SetDataReadyEvent(1234), 1);
  EXPECT_EQ(channels, 99);
  EXPECT_EQ(amplitude, -1.0);
}

TEST_F(Frame, FailedOpenKeepsTheObjectAndAnswersOneUntilExit) {
  rec->devices.clear();  // no printer port at all
  EXPECT_EQ(InitInstrument(0), RU3_NO_INSTRUMENT);
  VOz3* first = api::State().Instrument.get();
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(first->bInstrumentOpen);
  EXPECT_FALSE(first->TimerEnabled());
  // Calling again does not retry: same object, same answer.
  EXPECT_EQ(InitInstrument(0), RU3_NO_INSTRUMENT);
  EXPECT_EQ(api::State().Instrument.get(), first);
  EXPECT_EQ(GetMaxRecordLength(), 0);
  // The frame's own steps ran: auto-ranging off, hold mode, factors filled.
  EXPECT_FALSE(first->abAutoRanging[1]);
  EXPECT_FALSE(first->abAutoRanging[4]);
  EXPECT_EQ(first->amAcquisitionMode, TAcquisitionMode::amHold);
  EXPECT_DOUBLE_EQ(api::State().VoltPerCode[1], 80.0 / 32768.0);
  // Recovery: Exit, then Init builds a new object.
  EXPECT_EQ(ExitInstrument(), RU3_OK);
  EXPECT_EQ(api::State().Instrument, nullptr);
  EXPECT_EQ(InitInstrument(0), RU3_NO_INSTRUMENT);
  EXPECT_NE(api::State().Instrument, nullptr);
}

TEST_F(Frame, MissingPortDriverShowsTheNoticeOnceAndTouchesNoPort) {
  rec->driver_present = false;
  EXPECT_EQ(InitInstrument(0), RU3_NO_INSTRUMENT);
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0],
            "Windows NT / 2000 / XP requires an extra NT-driver for the parallel port and ISA bus.\n"
            "It was not detected on this computer.\n"
            "Hardware will not be available");
  EXPECT_FALSE(api::State().Instrument->bHardwareAvailable);
  EXPECT_TRUE(rec->log.empty());
  EXPECT_TRUE(rec->opened.empty());
  EXPECT_EQ(ExitInstrument(), RU3_OK);
  EXPECT_TRUE(rec->log.empty());
}

TEST_F(Frame, ConstructionSetsTheDefaultsAndTouchesNoPort) {
  VOz3 o;
  EXPECT_TRUE(rec->log.empty());
  EXPECT_EQ(o.lRecordLength, 512);
  EXPECT_EQ(o.lPreSamples, 256);
  EXPECT_EQ(o.lPostSamples, 256);
  EXPECT_EQ(o.nAverageNumber, 1);
  EXPECT_EQ(o.nCalculations, 1);
  EXPECT_EQ(o.mMeasureMode, TMeasureMode::mCh12);
  EXPECT_EQ(o.amAcquisitionMode, TAcquisitionMode::amContinuous);
  EXPECT_EQ(o.tsTriggerSource, TTrigSource::tsCh1);
  EXPECT_EQ(o.rTrigTimeOut, 1.0L);
  EXPECT_EQ(o.rTransSampleTime, 1.0L);
  EXPECT_FALSE(o.bSlowIO);
  EXPECT_FALSE(o.bEnableMeasurements);
  EXPECT_FALSE(o.TimerEnabled());
  EXPECT_TRUE(o.bSettingsDirty);
  EXPECT_FALSE(o.bArmed);
  EXPECT_FALSE(o.bInstrumentOpen);
  EXPECT_EQ(o.byInstrumentKind, 7);
  EXPECT_EQ(o.nMaxRecordLength, 32760);
  EXPECT_EQ(o.wNrChannels, 2);
  EXPECT_EQ(o.nNrRanges, 10);
  EXPECT_EQ(o.arRanges[1], 0.1L);
  EXPECT_EQ(o.arRanges[10], 80.0L);
  EXPECT_EQ(o.arRanges[11], 0.0L);
  EXPECT_EQ(o.awRelayMaskCh1[4], 0xFD);
  EXPECT_EQ(o.awRelayMaskCh1[5], 0xFB);
  EXPECT_EQ(o.awRelayMaskCh2[8], 0x7F);
  for (int ch = 1; ch <= 4; ++ch) {
    EXPECT_EQ(o.awRange[ch], 10);
    EXPECT_TRUE(o.abAutoRanging[ch]);
    EXPECT_EQ(o.abyCoupling[ch], 0);
  }
  EXPECT_EQ(o.anTrigLevel[1], 127);
  EXPECT_EQ(o.anTrigLevel[3], 0);
  EXPECT_EQ(o.anTrigHys[2], 10);
  EXPECT_TRUE(o.bTrigModes2And3);
  EXPECT_FALSE(o.bTrigMode4);
  EXPECT_EQ(o.wTrigLevelBits, 8);
  EXPECT_EQ(o.awResolutions[0], 12);
  EXPECT_EQ(o.wNrResolutions, 1);
  EXPECT_EQ(o.rFuncGenMaxAmplitude, 10.0L);
  EXPECT_EQ(o.Cursor(), "nvt");
  EXPECT_EQ(o.Hint(), "nvt");
  EXPECT_EQ(o.Tag(), "nvt");
  EXPECT_EQ(o.byNrCalChannels(), 2);
  EXPECT_EQ(o.byNrOfGains(), 3);
  EXPECT_EQ(o.byNrOfOffsets(), 1);
  EXPECT_EQ(o.pAverageCh1[32760], 0.0F);
  EXPECT_EQ(o.pAverageCh2[0], 0.0F);
}

TEST_F(Frame, EqualValueRunsNoSetterLogic) {
  VOz3 o;
  o.nCalculations = 3;
  o.bSettingsDirty = false;
  o.SetTrigTimeOut(1.0L);
  EXPECT_EQ(o.nCalculations, 3);
  EXPECT_FALSE(o.bSettingsDirty);
  o.SetTrigTimeOut(2.0L);
  EXPECT_EQ(o.nCalculations, 1);
  EXPECT_TRUE(o.bSettingsDirty);
}

TEST_F(Frame, TimerTickInHoldTouchesNothing) {
  VOz3 o;
  o.amAcquisitionMode = TAcquisitionMode::amHold;
  int settings_events = 0;
  o.OnSettingsChanged = [&](VOz3*) { ++settings_events; };
  o.TimerTick();
  EXPECT_EQ(settings_events, 0);
  o.amAcquisitionMode = TAcquisitionMode::amOneShot;
  o.TimerTick();
  o.TimerTick();
  EXPECT_EQ(settings_events, 2);  // one-shot fires the event after every tick
  EXPECT_TRUE(rec->log.empty());  // not open: the poll touches no port
}

TEST_F(Frame, DeviceArrivalResumesMeasuringThatIsOnAndShowsItsNotice) {
  rec->devices.clear();
  EXPECT_FALSE(api::DeliverDeviceMessage(0x40D));  // no receiver yet
  (void)InitInstrument(0);
  VOz3* o = api::State().Instrument.get();
  EXPECT_TRUE(api::DeliverDeviceMessage(0x219));
  EXPECT_TRUE(messages.empty());
  // Measuring off: the notice, and no polling.
  EXPECT_TRUE(api::DeliverDeviceMessage(0x40D));
  EXPECT_FALSE(o->TimerEnabled());
  // Measuring on: polling resumes with a fresh arming.
  o->SetEnableMeasurements(true);
  o->DisableTimer();
  o->bArmed = true;
  EXPECT_TRUE(api::DeliverDeviceMessage(0x40D));
  EXPECT_TRUE(o->TimerEnabled());
  EXPECT_FALSE(o->bArmed);
  ASSERT_EQ(messages.size(), 2U);
  EXPECT_EQ(messages[0], "WMDeviceArrived ");
  ExitInstrument();
  EXPECT_FALSE(api::DeliverDeviceMessage(0x40D));
}

}  // namespace
}  // namespace ru3
