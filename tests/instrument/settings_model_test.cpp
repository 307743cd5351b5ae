// The settings model: setter pattern and clamps, the nearest-range rule, and
// the exact register and counter values of the sample clock, the trigger and
// the front end, decoded from the port accesses of a recording back end.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>

#include "api/Exportin.h"
#include "instrument/DUDA3.h"
#include "support/recording_backend.h"
#include "support/sim_fixture.h"

namespace ru3 {
namespace {

using test::Access;
using test::RecordingBackend;

constexpr std::uint16_t kData = 0x378;
constexpr std::uint16_t kControl = 0x37A;

using Write = std::pair<int, int>;  // register, value

class SettingsModel : public ::testing::Test {
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

  // Register writes in the log, decoded from the address and data cycles.
  [[nodiscard]] std::vector<Write> Writes() const {
    std::vector<Write> writes;
    int reg = -1;
    std::uint8_t data = 0;
    for (const Access& a : rec->log) {
      if (a.out && a.port == kData) data = a.value;
      if (a.out && a.port == kControl && a.value == 0x0C) reg = data & 0x0F;
      if (a.out && a.port == kControl && a.value == 0x06) writes.emplace_back(reg, data & 0x0F);
    }
    return writes;
  }

  // Values written to one register, in order.
  [[nodiscard]] std::vector<int> ValuesOf(int reg) const {
    std::vector<int> values;
    for (const auto& [r, v] : Writes()) {
      if (r == reg) values.push_back(v);
    }
    return values;
  }

  // The last value loaded into each 16-bit counter: register 5 carries the
  // bit address (bits 0-1) and data bit (bit 2), the strobe register the latch.
  [[nodiscard]] std::map<int, int> Counters() const {
    std::map<int, int> counters;
    int reg5 = 0;
    for (const auto& [r, v] : Writes()) {
      if (r == 5) reg5 = v;
      if ((r == 2 || r == 3 || r == 4) && v != 0) {
        const int latch = v == 1 ? 0 : v == 2 ? 1 : v == 4 ? 2 : 3;
        const int bit = 4 * latch + 3 - (reg5 & 3);
        const int mask = 1 << bit;
        counters[r] = ((reg5 & 4) != 0) ? (counters[r] | mask) : (counters[r] & ~mask);
      }
    }
    return counters;
  }

  RecordingBackend* rec = nullptr;
  std::unique_ptr<platform::Backend> previous;
  std::unique_ptr<VOz3> instrument;
};

// ---- Sample clock ---------------------------------------------------------

struct ClockCase {
  long double request;
  std::uint8_t variant;
  int prescaler_code;
  int counter3;
  long double produced;
  std::vector<int> register7;
};

TEST_F(SettingsModel, SampleClockRegistersAndProducedFrequency) {
  const long double lowest = 400000.0L / 1024 / 65535;
  const long double nan = std::numeric_limits<long double>::quiet_NaN();
  const std::vector<ClockCase> cases = {
      // P 1, m 4.
      {100000, 0x10, 0, 0xFFFF - 2, 100000, {9, 9}},
      // m 13.33 -> 13.
      {30000, 0x10, 0, 0xFFFF - 11, 400000.0L / 13, {9, 9}},
      // m 12.5 is a tie: to even, 12.
      {32000, 0x10, 0, 0xFFFF - 10, 400000.0L / 12, {9, 9}},
      // P 4, m 33333.
      {3, 0x10, 2, 0xFFFF - 33331, 100000.0L / 33333, {9, 9}},
      // P 2 just below 10 Hz, P 64 at 0.2 Hz.
      {9, 0x10, 1, 0xFFFF - (22222 - 2), 200000.0L / 22222, {9, 9}},
      {0.2L, 0x10, 6, 0xFFFF - (31250 - 2), 6250.0L / 31250, {9, 9}},
      // P 1024, m 3906.
      {0.1L, 0x10, 7, 0xFFFF - 3904, 400000.0L / 1024 / 3906, {9, 9}},
      // Above 100001 Hz the divided clock is 200 kHz.
      {150000, 0x10, 0, 0xFFFF, 200000, {9, 9}},
      {250000, 0x10, 0, 0xFFFF, 200000, {9, 9}},
      // 400 kHz and above: the fastest clock, 200 kHz on this variant.
      {500000, 0x10, 0, 0xFFFF, 200000, {9, 9}},
      // The fast variant selects clock 0 below 400 kHz.
      {200000, 0x11, 0, 0xFFFF, 200000, {9, 1}},
      {400000, 0x11, 0, 0xFFFF, 400000, {9, 9}},
      {1000, 0x11, 0, 0xFFFF - 398, 1000, {9, 1}},
      // Beyond the divider's reach: the slowest clock there is.
      {0.001L, 0x10, 7, 2, lowest, {9, 9}},
      {0, 0x10, 7, 2, lowest, {9, 9}},
      {-5, 0x10, 7, 2, lowest, {9, 9}},
      {nan, 0x10, 7, 2, lowest, {9, 9}},
  };
  for (const ClockCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "request " << static_cast<double>(c.request) << " variant " << int(c.variant));
    instrument->byVariant = c.variant;
    rec->log.clear();
    const long double produced = instrument->ProgramSampleClock(c.request);
    EXPECT_NEAR(static_cast<double>(produced), static_cast<double>(c.produced), 1e-9 * static_cast<double>(c.produced));
    EXPECT_EQ(ValuesOf(7), c.register7);
    EXPECT_EQ(ValuesOf(14), std::vector<int>{c.prescaler_code});
    EXPECT_EQ(Counters()[3], c.counter3);
    EXPECT_EQ(ValuesOf(1), (std::vector<int>{1, 0}));
  }
}

TEST_F(SettingsModel, SampleFrequencySetterKeepsTheProducedRate) {
  instrument->SetSampleFreq(30000);
  EXPECT_NEAR(static_cast<double>(instrument->rSampleFreq), 30769.23, 0.01);
  EXPECT_EQ(instrument->rSampleFreqRequest, instrument->rSampleFreq);

  // The same request again was replaced by the produced rate, so it programs
  // the clock again; the produced rate itself is taken as unchanged.
  rec->log.clear();
  instrument->nCalculations = 7;
  instrument->SetSampleFreq(instrument->rSampleFreq);
  EXPECT_TRUE(rec->log.empty());
  EXPECT_EQ(instrument->nCalculations, 7);
  instrument->SetSampleFreq(30000);
  EXPECT_FALSE(rec->log.empty());
  EXPECT_EQ(instrument->nCalculations, 1);

  // An exact rate keeps the request.
  instrument->SetSampleFreq(100000);
  EXPECT_EQ(instrument->rSampleFreq, 100000);
  EXPECT_EQ(instrument->rSampleFreqRequest, 100000);

  // Not a number ends at the lowest rate, and is not taken as unchanged later.
  instrument->SetSampleFreq(std::numeric_limits<long double>::quiet_NaN());
  EXPECT_EQ(instrument->rSampleFreq, kLowestSampleFreq);
  EXPECT_EQ(instrument->rSampleFreqRequest, kLowestSampleFreq);
}

// ---- Setter pattern -------------------------------------------------------

struct SetterCase {
  const char* name;
  std::function<void(VOz3&)> same;     // the stored value again
  std::function<void(VOz3&)> changed;  // a new value
  bool notifies;
};

TEST_F(SettingsModel, SettersIgnoreEqualValuesAndNotifyOnChange) {
  const std::vector<SetterCase> cases = {
      {"coupling", [](VOz3& o) { o.SetCoupling(2, 0); }, [](VOz3& o) { o.SetCoupling(2, 1); }, true},
      {"sensitivity", [](VOz3& o) { o.SetSensitivity(1, 80); }, [](VOz3& o) { o.SetSensitivity(1, 2); }, true},
      {"sensitivity, same range", [](VOz3& o) { o.SetSensitivity(1, 80); }, [](VOz3& o) { o.SetSensitivity(1, 79); },
       true},
      {"trigger source", [](VOz3& o) { o.SetTriggerSource(TTrigSource::tsCh1); },
       [](VOz3& o) { o.SetTriggerSource(TTrigSource::tsCh2); }, true},
      {"trigger kind", [](VOz3& o) { o.SetTrigMode(0, 0); }, [](VOz3& o) { o.SetTrigMode(0, 3); }, true},
      {"trigger level", [](VOz3& o) { o.SetTrigLevel(1, 127); }, [](VOz3& o) { o.SetTrigLevel(1, 128); }, true},
      {"hysteresis", [](VOz3& o) { o.SetTrigHys(2, 10); }, [](VOz3& o) { o.SetTrigHys(2, 11); }, true},
      {"time-out", [](VOz3& o) { o.SetTrigTimeOut(1.0L); }, [](VOz3& o) { o.SetTrigTimeOut(-1.0L); }, true},
      {"record length", [](VOz3& o) { o.SetRecordLength(512); }, [](VOz3& o) { o.SetRecordLength(40000); }, true},
      {"post samples", [](VOz3& o) { o.SetPostSamples(256); }, [](VOz3& o) { o.SetPostSamples(-5); }, true},
      {"pre samples", [](VOz3& o) { o.SetPreSamples(256); }, [](VOz3& o) { o.SetPreSamples(-3); }, true},
      {"auto-ranging", [](VOz3& o) { o.SetAutoRanging(1, true); }, [](VOz3& o) { o.SetAutoRanging(1, false); }, false},
      {"measure mode", [](VOz3& o) { o.SetMeasureMode(TMeasureMode::mCh12); },
       [](VOz3& o) { o.SetMeasureMode(TMeasureMode::mXY); }, false},
      {"transient time", [](VOz3& o) { o.SetTransSampleTime(1.0L); }, [](VOz3& o) { o.SetTransSampleTime(2.0L); },
       false},
  };
  for (const SetterCase& c : cases) {
    SCOPED_TRACE(c.name);
    instrument = std::make_unique<VOz3>();
    auto reset = [this] {
      instrument->nCalculations = 5;
      instrument->bSettingsDirty = false;
      instrument->tsEffectiveTrigSource = TTrigSource::tsNoTrig;
    };
    reset();
    c.same(*instrument);
    EXPECT_EQ(instrument->nCalculations, 5);
    EXPECT_FALSE(instrument->bSettingsDirty);
    EXPECT_EQ(instrument->tsEffectiveTrigSource, TTrigSource::tsNoTrig);

    c.changed(*instrument);
    EXPECT_EQ(instrument->nCalculations, c.notifies ? 1 : 5);
    EXPECT_EQ(instrument->bSettingsDirty, c.notifies);
    EXPECT_EQ(instrument->tsEffectiveTrigSource, c.notifies ? instrument->tsTriggerSource : TTrigSource::tsNoTrig);
  }
  EXPECT_TRUE(rec->log.empty()) << "no setter but the sample clock touches the hardware";
}

TEST_F(SettingsModel, NearestRangeWinsAndTiesGoToTheLowerIndex) {
  const std::vector<std::pair<long double, int>> cases = {
      {1.0L, 4}, {1.3L, 4}, {1.5L, 5}, {100, 10}, {0, 1}, {-5, 1}, {3, 5},  // between 2 and 4 V
      {60, 9},                                                              // between 40 and 80 V
      {0.8L, 4}, {20, 8},
  };
  for (const auto& [volts, index] : cases) {
    SCOPED_TRACE(static_cast<double>(volts));
    instrument->SetSensitivity(1, volts);
    EXPECT_EQ(instrument->awRange[1], index);
    EXPECT_EQ(instrument->Sensitivity(1), instrument->arRanges[static_cast<std::size_t>(index)]);
  }
  EXPECT_EQ(instrument->awRange[2], 10) << "the other channel keeps its range";
}

TEST_F(SettingsModel, RecordPostAndPreSamplesClamp) {
  struct Step {
    std::function<void(VOz3&)> act;
    int record, post, pre;
  };
  const std::vector<Step> steps = {
      {[](VOz3& o) { o.SetRecordLength(0); }, 1, 256, -255},
      {[](VOz3& o) { o.SetRecordLength(40000); }, 32760, 256, 32504},
      {[](VOz3& o) { o.SetRecordLength(100); }, 100, 256, -156},
      {[](VOz3& o) { o.SetPostSamples(-5); }, 100, 0, 100},
      {[](VOz3& o) { o.SetPostSamples(101); }, 100, 100, 0},
      {[](VOz3& o) { o.SetRecordLength(1000); }, 1000, 100, 900},
      {[](VOz3& o) { o.SetPostSamples(300); }, 1000, 300, 700},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    steps[i].act(*instrument);
    EXPECT_EQ(instrument->lRecordLength, steps[i].record);
    EXPECT_EQ(instrument->lPostSamples, steps[i].post);
    EXPECT_EQ(instrument->lPreSamples, steps[i].pre);
  }
}

TEST_F(SettingsModel, ResolutionDcLevelAndForeignChannelsAreInert) {
  EXPECT_EQ(instrument->AvailableResolution(0), 12);
  EXPECT_EQ(instrument->AvailableResolution(1), 0);
  EXPECT_EQ(instrument->AvailableResolution(-1), 0);
  EXPECT_EQ(instrument->AvailableResolution(1000), 0);
  instrument->nResolution = 8;
  instrument->SetResolutionBits(16);
  EXPECT_EQ(instrument->nResolution, 12);
  instrument->SetDcLevel(1, 3.0L);
  EXPECT_EQ(instrument->DcLevel(1), 0.0L);
  // Channel numbers outside the arrays are ignored rather than written.
  instrument->nCalculations = 3;
  instrument->SetSensitivity(0, 2);
  instrument->SetSensitivity(5, 2);
  instrument->SetTrigLevel(-1, 3);
  instrument->SetTrigMode(5, 3);
  instrument->SetCoupling(9, 1);
  EXPECT_EQ(instrument->nCalculations, 3);
  EXPECT_EQ(instrument->TrigLevel(7), 0);
}

// ---- Trigger ----------------------------------------------------------------

TEST_F(SettingsModel, TriggerLevelWordFromLevelHysteresisAndKind) {
  struct Case {
    TTrigSource source;
    int level, hysteresis, kind;
    int word;
  };
  const std::vector<Case> cases = {
      {TTrigSource::tsCh1, 127, 10, 0, 0x808A},  // the defaults
      {TTrigSource::tsCh1, 250, 10, 1, 0x0500},  // L + H clamps to 255
      {TTrigSource::tsCh1, 5, 10, 0, 0xFAFF},    // L - H clamps to 0
      {TTrigSource::tsCh1, 300, 10, 2, 0x0000},  // L above the scale
      {TTrigSource::tsCh1, 100, 20, 3, 0x9BAF},
      {TTrigSource::tsCh1, 100, 20, 4, 0x0000},  // kinds the instrument lacks
      {TTrigSource::tsNoTrig, 100, 20, 6, 0x0000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.level << "/" << c.hysteresis << "/" << c.kind);
    instrument->tsTriggerSource = c.source;
    instrument->anTrigLevel[1] = c.level;
    instrument->anTrigHys[1] = c.hysteresis;
    instrument->abyTrigMode[1] = static_cast<std::uint8_t>(c.kind);
    rec->log.clear();
    instrument->ProgramTriggerLevels();
    EXPECT_EQ(Counters()[2], c.word);
    EXPECT_EQ(Writes().size(), 48U);
  }
}

TEST_F(SettingsModel, ChannelTwoTriggerTakesItsLevelsButTheKindOfChannelOne) {
  instrument->tsTriggerSource = TTrigSource::tsCh2;
  instrument->anTrigLevel[1] = 10;
  instrument->anTrigLevel[2] = 200;
  instrument->anTrigHys[2] = 5;
  instrument->abyTrigMode[1] = 0;
  instrument->abyTrigMode[2] = 1;
  instrument->ProgramTriggerLevels();
  instrument->ProgramTriggerKind();
  EXPECT_EQ(Counters()[2], ((200 ^ 0xFF) << 8) | (195 ^ 0xFF));
  EXPECT_EQ(ValuesOf(11), std::vector<int>{4});
}

TEST_F(SettingsModel, TriggerKindAndSourceRegisters) {
  const std::vector<std::pair<int, int>> kinds = {{0, 4}, {1, 2}, {2, 2}, {3, 5}, {4, 2}, {6, 2}, {200, 2}};
  for (const auto& [kind, reg11] : kinds) {
    rec->log.clear();
    instrument->abyTrigMode[1] = static_cast<std::uint8_t>(kind);
    instrument->ProgramTriggerKind();
    EXPECT_EQ(ValuesOf(11), std::vector<int>{reg11}) << "kind " << kind;
  }
  const std::vector<std::pair<TTrigSource, int>> sources = {
      {TTrigSource::tsCh1, 0},    {TTrigSource::tsCh2, 1},       {TTrigSource::tsExternal, 2},
      {TTrigSource::tsNoTrig, 3}, {TTrigSource::tsNeverTrig, 7}, {TTrigSource::tsCh3, 3},
      {TTrigSource::tsAnaExt, 3}, {TTrigSource::tsXor, 3},       {TTrigSource::tsUnknown, 3},
  };
  for (const auto& [source, reg10] : sources) {
    rec->log.clear();
    // The register follows the effective source, not the chosen one.
    instrument->tsTriggerSource = TTrigSource::tsCh2;
    instrument->tsEffectiveTrigSource = source;
    instrument->ProgramTriggerSource();
    EXPECT_EQ(ValuesOf(10), std::vector<int>{reg10}) << "source " << int(source);
  }
}

// ---- Front end --------------------------------------------------------------

TEST_F(SettingsModel, FrontEndUsesTheClockSelectOfTheFastVariant) {
  instrument->byVariant = 0x11;
  instrument->ProgramSampleClock(200000);
  rec->log.clear();
  instrument->ProgramFrontEnd();
  EXPECT_EQ(ValuesOf(7), std::vector<int>{1});
}

// The front end as the simulated instrument takes it: relay byte, trim
// converter outputs and the words of each channel's serial converter.
class FrontEnd : public test::SimFixture {};

TEST_F(FrontEnd, RelaysTrimsAndConverterWordsFollowRangeCouplingAndCalibration) {
  ASSERT_EQ(init_status, RU3_OK);
  VOz3& o = *api::State().Instrument;
  o.SetCoupling(1, 1);
  o.SetCoupling(2, 1);
  o.SetSensitivity(2, 0.1L);
  // Channel 1 at range 10, channel 2 at range 1.
  o.anGainCal[1][10] = {0, 0x12, 0x34, 1000};
  o.anOffsetCal[1][10] = 3001;  // mean 2000.5 -> 2000
  o.anGainCal[2][1] = {0, 300, 5, 8};
  o.anOffsetCal[2][1] = 11;  // mean 9.5 -> 10
  const std::uint64_t start_ns = sim().NowNs();

  o.ProgramFrontEnd();

  EXPECT_EQ(sim().RelayByte(), 0xC6);  // 0xF7 and 0xDF, both coupling bits cleared
  // Channel 1 takes A, then 255 - B; channel 2 is wired the other way round,
  // and A is limited to 255.
  EXPECT_EQ(sim().TrimOutputs(1), (std::array<std::uint8_t, 2>{0x12, 255 - 0x34}));
  EXPECT_EQ(sim().TrimOutputs(2), (std::array<std::uint8_t, 2>{250, 255}));
  auto tail = [this](int ch) {
    const std::vector<std::uint16_t> words = sim().ConverterWords(ch);
    return std::vector<std::uint16_t>(words.end() - 12, words.end());
  };
  std::vector<std::uint16_t> ch1 = {0x4000, 0xC300, 0x8000 | 1000, 0x8000 | 2000};
  std::vector<std::uint16_t> ch2 = {0x4000, 0xC300, 0x8000 | 8, 0x8000 | 10};
  ch1.insert(ch1.end(), 8, 0xA000);
  ch2.insert(ch2.end(), 8, 0xA000);
  EXPECT_EQ(tail(1), ch1);
  EXPECT_EQ(tail(2), ch2);
  // The relays settle for 10 ms.
  EXPECT_GE(sim().NowNs() - start_ns, 10'000'000U);
}

}  // namespace
}  // namespace ru3
