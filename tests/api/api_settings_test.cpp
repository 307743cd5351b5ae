// The numeric side of the settings, identity and auxiliary-output exports:
// unit conversions (volts to trigger codes, milliseconds, hertz), the clamps
// and write-backs, the availability tables and the mode test of the trigger
// hysteresis. Runs against an instrument object set up by hand as if opened,
// on a back end that records every port access.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "api/Exportin.h"
#include "support/recording_backend.h"

namespace ru3 {
namespace {

constexpr std::uint16_t kData = 0x378;
constexpr std::uint16_t kControl = 0x37A;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class ApiSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<test::RecordingBackend>();
    rec = backend.get();
    previous = platform::ReplaceBackend(std::move(backend));
    ExitInstrument();
    api::State().Instrument = std::make_unique<VOz3>();
    o = api::State().Instrument.get();
    o->nHardwareAddress = kData;
    o->bInstrumentOpen = true;
    rec->log.clear();
  }
  void TearDown() override {
    api::State().Instrument.reset();
    platform::ReplaceBackend(std::move(previous));
  }

  struct RegisterWrite {
    int reg;
    int value;
    int unit_bits;
  };
  // The register writes in the log, decoded from the address and data cycles.
  [[nodiscard]] std::vector<RegisterWrite> RegisterWrites() const {
    std::vector<RegisterWrite> writes;
    int reg = -1;
    std::uint8_t data = 0;
    for (const test::Access& a : rec->log) {
      if (a.out && a.port == kData) data = a.value;
      if (a.out && a.port == kControl && a.value == 0x0C) reg = data & 0x0F;
      if (a.out && a.port == kControl && a.value == 0x06) writes.push_back({reg, data & 0x0F, data & 0x30});
    }
    return writes;
  }

  // The two 12-bit words shifted into the auxiliary DAC: one per selection of
  // register 9 (7 = first channel, 11 = second), data bit 2 sampled on the
  // rising clock (bit 0) of register 5.
  [[nodiscard]] std::pair<int, int> DacWords() const {
    int words[2] = {0, 0};
    int selected = -1;
    for (const RegisterWrite& w : RegisterWrites()) {
      if (w.reg == 9) selected = w.value == 7 ? 0 : w.value == 11 ? 1 : -1;
      if (w.reg == 5 && selected >= 0 && (w.value & 1) != 0)
        words[selected] = words[selected] << 1 | (w.value >> 2 & 1);
    }
    return {words[0], words[1]};
  }

  test::RecordingBackend* rec = nullptr;
  std::unique_ptr<platform::Backend> previous;
  VOz3* o = nullptr;
};

TEST_F(ApiSettings, SampleFrequencyWritesBackWhatTheClockProduces) {
  struct Case {
    uint32_t wanted;
    uint32_t written_back;
  };
  // 400 kHz / 13 = 30769.23; above 100001 Hz the clock runs at 200 kHz; the
  // lowest reachable frequency rounds to 0.
  for (const Case c : {Case{30000, 30769}, Case{100000, 100000}, Case{150000, 200000}, Case{3, 3}, Case{0, 0}}) {
    uint32_t f = c.wanted;
    EXPECT_EQ(SetSampleFrequency(&f), RU3_OK) << c.wanted;
    EXPECT_EQ(f, c.written_back) << c.wanted;
    EXPECT_EQ(GetSampleFrequency(), static_cast<int32_t>(c.written_back)) << c.wanted;
  }
  double f = 30000.0;
  EXPECT_EQ(SetSampleFrequencyF(&f), RU3_OK);
  EXPECT_DOUBLE_EQ(f, 400000.0 / 13.0);
  EXPECT_DOUBLE_EQ(GetSampleFrequencyF(), 400000.0 / 13.0);
  // Unreachable requests are limited to the lowest frequency the divider has.
  for (const double wanted : {kNaN, -5.0, 0.0, 0.001}) {
    f = wanted;
    EXPECT_EQ(SetSampleFrequencyF(&f), RU3_OK) << wanted;
    EXPECT_NEAR(f, 400000.0 / 1024.0 / 65535.0, 1e-12) << wanted;
  }
  // At or above 400 kHz the 200 kHz model runs at 200 kHz, and says so.
  uint32_t huge = 0xFFFFFFF0U;
  EXPECT_EQ(SetSampleFrequency(&huge), RU3_OK);
  EXPECT_EQ(huge, 200000U);
  EXPECT_EQ(GetSampleFrequency(), 200000);
}

TEST_F(ApiSettings, RecordLengthAndPostSamplesCompareUnsigned) {
  struct Case {
    uint32_t length;
    uint16_t status;
    int32_t stored;
  };
  for (const Case c :
       {Case{0, RU3_OK, 1}, Case{32760, RU3_OK, 32760}, Case{32761, RU3_BAD_VALUE, 32760},
        Case{0x80000000U, RU3_BAD_VALUE, 32760}, Case{0xFFFFFFFFU, RU3_BAD_VALUE, 32760}, Case{1000, RU3_OK, 1000}}) {
    EXPECT_EQ(SetRecordLength(c.length), c.status) << c.length;
    EXPECT_EQ(GetRecordLength(), c.stored) << c.length;
  }
  EXPECT_EQ(SetPostSamples(1000), RU3_OK);  // exactly the record length
  EXPECT_EQ(GetPostSamples(), 1000);
  EXPECT_EQ(SetPostSamples(1001), RU3_BAD_VALUE);
  EXPECT_EQ(SetPostSamples(0xFFFFFFFFU), RU3_BAD_VALUE);
  EXPECT_EQ(GetPostSamples(), 1000);
}

TEST_F(ApiSettings, MeasureModeAndTriggerSourceAvailability) {
  // Two channels: modes with channel 3 or 4 are not available, 16 (XY) is.
  for (uint32_t mode = 0; mode <= 20; ++mode) {
    const uint16_t expected = mode <= 3 || mode == 16 ? RU3_OK : mode <= 15 ? RU3_NOT_AVAILABLE : RU3_BAD_VALUE;
    EXPECT_EQ(SetMeasureMode(mode), expected) << mode;
  }
  uint8_t mode = 0;
  EXPECT_EQ(SetMeasureMode(16), RU3_OK);
  EXPECT_EQ(GetMeasureMode(&mode), RU3_OK);
  EXPECT_EQ(mode, 16);
  EXPECT_EQ(SetMeasureMode(0x100 + 1), RU3_OK);  // a byte argument: the low 8 bits
  EXPECT_EQ(GetMeasureMode(&mode), RU3_OK);
  EXPECT_EQ(mode, 1);

  // Channel 1, channel 2 and no trigger are this instrument's sources.
  const uint16_t expected_sources[16] = {0, 0, 4, 4, 4, 4, 4, 4, 4, 0, 4, 4, 4, 4, 4, 32};
  for (uint32_t source = 0; source < 16; ++source) {
    EXPECT_EQ(SetTriggerSource(source), expected_sources[source]) << source;
  }
  EXPECT_EQ(SetTriggerSource(255), RU3_BAD_VALUE);
  uint8_t source = 0xEE;
  EXPECT_EQ(GetTriggerSource(&source), RU3_OK);
  EXPECT_EQ(source, 9);  // the last accepted one
  // Configuration 2 lends channel 2 to a one-channel instrument.
  o->wNrChannels = 1;
  EXPECT_EQ(SetTriggerSource(1), RU3_NOT_AVAILABLE);
  o->byInstrumentConfig = 2;
  EXPECT_EQ(SetTriggerSource(1), RU3_OK);
}

TEST_F(ApiSettings, TriggerModesPerInputAndForAllChannels) {
  // Modes 0-3 exist; 4-11 are not available; 12 and above are bad values.
  for (uint32_t m = 0; m <= 13; ++m) {
    const uint16_t expected = m <= 3 ? RU3_OK : m <= 11 ? RU3_NOT_AVAILABLE : RU3_BAD_VALUE;
    EXPECT_EQ(SetTriggerModeCh(2, m), expected) << m;
  }
  // No external trigger input, no channel 3.
  EXPECT_EQ(SetTriggerModeCh(0, 0), RU3_BAD_CHANNEL);
  EXPECT_EQ(SetTriggerModeCh(3, 0), RU3_BAD_CHANNEL);
  uint8_t mode = 0xEE;
  EXPECT_EQ(GetTriggerModeCh(0, &mode), RU3_BAD_CHANNEL);
  EXPECT_EQ(mode, 0xEE);

  // SetTriggerMode reaches every channel; the refusal of input 0 is ignored.
  EXPECT_EQ(SetTriggerMode(1), RU3_OK);
  EXPECT_EQ(o->abyTrigMode[1], 1);
  EXPECT_EQ(o->abyTrigMode[2], 1);
  EXPECT_EQ(SetTriggerMode(4), RU3_NOT_AVAILABLE);
  EXPECT_EQ(SetTriggerMode(12), RU3_BAD_VALUE);
  EXPECT_EQ(o->abyTrigMode[1], 1);

  // GetTriggerMode reads channel 1's mode for any channel source, nothing for
  // "no trigger"; the getters strip bit 7.
  o->abyTrigMode[1] = 0x83;
  o->abyTrigMode[2] = 2;
  ASSERT_EQ(SetTriggerSource(1), RU3_OK);
  EXPECT_EQ(GetTriggerMode(&mode), RU3_OK);
  EXPECT_EQ(mode, 3);
  EXPECT_EQ(GetTriggerModeCh(1, &mode), RU3_OK);
  EXPECT_EQ(mode, 3);
  o->abyTrigMode[1] = 0x87;
  EXPECT_EQ(GetTriggerMode(&mode), RU3_BAD_VALUE);
  EXPECT_EQ(GetTriggerModeCh(1, &mode), RU3_BAD_VALUE);
  ASSERT_EQ(SetTriggerSource(9), RU3_OK);
  mode = 0xEE;
  EXPECT_EQ(GetTriggerMode(&mode), RU3_OK);
  EXPECT_EQ(mode, 0xEE);
}

TEST_F(ApiSettings, TriggerLevelVoltsToCodeRoundsTiesToEvenAndClamps) {
  // Channel 1 on its 80 V range: one code is 80/128 = 0.625 V.
  struct Case {
    double volts;
    uint16_t status;
    int32_t code;
  };
  const double step_above = std::nextafter(80.0, 1000.0);
  for (const Case c :
       {Case{80.0, RU3_OK, 255}, Case{-80.0, RU3_OK, 0}, Case{0.0, RU3_OK, 127},
        Case{0.3125, RU3_OK, 127},   // +0.5 code: to even (0)
        Case{0.9375, RU3_OK, 129},   // +1.5 codes: to even (2)
        Case{1.5625, RU3_OK, 129},   // +2.5 codes: to even (2)
        Case{-0.9375, RU3_OK, 125},  // -1.5 codes: to even (-2)
        Case{step_above, RU3_BAD_VALUE, 125}, Case{-step_above, RU3_BAD_VALUE, 125}, Case{kNaN, RU3_BAD_VALUE, 125}}) {
    EXPECT_EQ(SetTriggerLevel(1, c.volts), c.status) << c.volts;
    EXPECT_EQ(o->anTrigLevel[1], c.code) << c.volts;
  }
  double level = 0.0;
  for (const auto& [code, volts] : {std::pair{255, 80.0}, std::pair{127, 0.0}, std::pair{0, -79.375}}) {
    o->anTrigLevel[2] = code;
    EXPECT_EQ(GetTriggerLevel(2, &level), RU3_OK);
    EXPECT_DOUBLE_EQ(level, volts) << code;
  }
  // The 16-bit trigger scale: offset 32767, 32768 codes per range.
  o->wTrigLevelBits = 16;
  EXPECT_EQ(SetTriggerLevel(1, 80.0), RU3_OK);
  EXPECT_EQ(o->anTrigLevel[1], 65535);
  EXPECT_EQ(SetTriggerLevel(1, -80.0), RU3_OK);
  EXPECT_EQ(o->anTrigLevel[1], 0);
  EXPECT_EQ(SetTriggerLevel(3, 0.0), RU3_BAD_CHANNEL);
}

// The host knows each range as a double: on every range the range it reads
// back is an accepted level and hysteresis, and selecting it again is no
// change. (0.8 as a double lies above 0.8 in extended precision.)
TEST_F(ApiSettings, TheRangeAsReportedIsAcceptedOnEveryRange) {
  std::array<double, 20> ranges{};
  ASSERT_EQ(GetAvailableSensitivities(ranges.data()), RU3_OK);
  for (std::size_t i = 0; i < 10; ++i) {
    double range = ranges[i];
    ASSERT_EQ(SetSensitivity(1, &range), RU3_OK);
    ASSERT_EQ(GetSensitivity(1, &range), RU3_OK);
    o->nCalculations = 5;
    EXPECT_EQ(SetSensitivity(1, &range), RU3_OK);
    EXPECT_EQ(o->nCalculations, 5) << range;
    EXPECT_EQ(SetTriggerLevel(1, range), RU3_OK) << range;
    EXPECT_EQ(o->anTrigLevel[1], 255) << range;
    double level = 0.0;
    EXPECT_EQ(GetTriggerLevel(1, &level), RU3_OK);
    EXPECT_EQ(level, range);
    EXPECT_EQ(SetTriggerLevel(1, -range), RU3_OK) << range;
    EXPECT_EQ(o->anTrigLevel[1], 0) << range;
    EXPECT_EQ(SetTriggerLevel(1, std::nextafter(range, 1000.0)), RU3_BAD_VALUE) << range;
    // Mode 1 (hysteresis above the level): half the range above half the range.
    o->abyTrigMode[1] = 1;
    o->anTrigLevel[1] = 127 + 64;
    EXPECT_EQ(SetTriggerHys(1, range / 2), RU3_OK) << range;
    EXPECT_EQ(o->anTrigHys[1], 64) << range;
    o->abyTrigMode[1] = 0;
  }
}

TEST_F(ApiSettings, HysteresisIsTestedByChannelOnesWholeModeByte) {
  // Range 80 V: one code is 0.625 V; level codes 0 = -79.375 V, 255 = +80 V.
  struct Case {
    uint8_t mode_ch1;
    uint32_t ch;
    int32_t level_code;
    double volts;
    uint16_t status;
    int32_t code;  // stored afterwards
  };
  const Case cases[] = {
      {0, 1, 127, 10.0, RU3_OK, 16},
      {0, 1, 0, 1.0, RU3_BAD_VALUE, 10},    // below -range
      {0, 1, 0, 0.5, RU3_OK, 1},            // 0.8 codes
      {1, 1, 255, 0.1, RU3_BAD_VALUE, 10},  // above +range
      {1, 1, 255, 0.0, RU3_OK, 0},
      {2, 1, 0, 100.0, RU3_OK, 160},                        // modes 2 and 3 take any non-negative value
      {3, 1, 0, 1000.0, RU3_OK, 256},                       // limited to 256, not 255
      {3, 1, 0, 512.0 * 80.0 + 10.0 * 0.625, RU3_OK, 256},  // saturates rather than wrapping to 10
      {3, 1, 127, std::numeric_limits<double>::infinity(), RU3_OK, 256},
      {2, 1, 127, -1.0, RU3_BAD_VALUE, 10},  // negative hysteresis is refused
      {0, 1, 127, -1.0, RU3_BAD_VALUE, 10},
      {2, 1, 127, kNaN, RU3_BAD_VALUE, 10},
      {0x80, 1, 127, 1.0, RU3_BAD_VALUE, 10},  // bit 7 set: no mode the test knows
      {7, 1, 127, 1.0, RU3_BAD_VALUE, 10},
      // Channel 2 at +range with its own mode 1 would be refused; channel 1's
      // mode 0 decides.
      {0, 2, 255, 1.0, RU3_OK, 2},
  };
  for (const Case& c : cases) {
    o->abyTrigMode[1] = c.mode_ch1;
    o->abyTrigMode[2] = 1;
    o->anTrigLevel[c.ch] = c.level_code;
    o->anTrigHys[c.ch] = 10;
    EXPECT_EQ(SetTriggerHys(c.ch, c.volts), c.status) << int{c.mode_ch1} << " " << c.volts;
    EXPECT_EQ(o->anTrigHys[c.ch], c.code) << int{c.mode_ch1} << " " << c.volts;
  }
  double hys = 0.0;
  o->anTrigHys[1] = 256;
  EXPECT_EQ(GetTriggerHys(1, &hys), RU3_OK);
  EXPECT_DOUBLE_EQ(hys, 160.0);  // twice the range
}

TEST_F(ApiSettings, TriggerTimeOutInMilliseconds) {
  struct Case {
    uint32_t ms;
    long double seconds;
    int32_t read_back;
  };
  for (const Case c : {Case{2500, 2.5L, 2500}, Case{0xFFFFFFFFU, -1.0L, -1}, Case{0, 0.0L, 0}, Case{1, 0.001L, 1},
                       Case{0xFFFFFFFEU, 4294967.294L, -2}}) {  // the same 32 bits come back
    EXPECT_EQ(SetTriggerTimeOut(c.ms), RU3_OK) << c.ms;
    EXPECT_NEAR(static_cast<double>(o->rTrigTimeOut), static_cast<double>(c.seconds), 1e-9) << c.ms;
    EXPECT_EQ(GetTriggerTimeOut(), c.read_back) << c.ms;
  }
}

TEST_F(ApiSettings, SensitivityTakesTheNearestRangeAndRefreshesTheFactorOfTheRecord) {
  struct Case {
    double wanted;
    double actual;
  };
  for (const Case c : {Case{1.3, 0.8}, Case{1.5, 2.0}, Case{100.0, 80.0}, Case{0.0, 0.1}, Case{20.0, 20.0}}) {
    double range = c.wanted;
    EXPECT_EQ(SetSensitivity(2, &range), RU3_OK) << c.wanted;
    EXPECT_DOUBLE_EQ(range, c.actual) << c.wanted;
    // The factor stays that of the record in the buffer, measured on 80 V.
    EXPECT_DOUBLE_EQ(api::State().VoltPerCode[2], 80.0 / 32768.0) << c.wanted;
  }
  api::State().VoltPerCode[1] = 0.0;
  double range = 0.0;
  EXPECT_EQ(GetSensitivity(0x101, &range), RU3_OK);  // channel: the low byte
  EXPECT_DOUBLE_EQ(range, 80.0);
  EXPECT_DOUBLE_EQ(api::State().VoltPerCode[1], 80.0 / 32768.0);
  range = 1.0;
  EXPECT_EQ(SetSensitivity(3, &range), RU3_BAD_CHANNEL);
  EXPECT_EQ(SetSensitivity(0, &range), RU3_BAD_CHANNEL);
  EXPECT_EQ(range, 1.0);
}

TEST_F(ApiSettings, CouplingAutoRangingAndDcLevelChecksInOrder) {
  uint8_t value = 0xEE;
  EXPECT_EQ(SetCoupling(1, 1), RU3_OK);
  EXPECT_EQ(GetCoupling(1, &value), RU3_OK);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(SetCoupling(1, 2), RU3_BAD_VALUE);
  EXPECT_EQ(SetCoupling(3, 2), RU3_BAD_CHANNEL);  // channel before value
  o->abyCoupling[2] = 5;
  EXPECT_EQ(GetCoupling(2, &value), RU3_BAD_VALUE);
  EXPECT_EQ(SetAutoRanging(2, 1), RU3_OK);
  EXPECT_EQ(GetAutoRanging(2, &value), RU3_OK);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(SetAutoRanging(2, 2), RU3_BAD_VALUE);
  EXPECT_TRUE(o->abAutoRanging[2]);
  // No DC-level hardware: refused before the channel is looked at.
  double level = 7.0;
  EXPECT_EQ(SetDcLevel(9, 0.0), RU3_NOT_AVAILABLE);
  EXPECT_EQ(GetDcLevel(9, &level), RU3_NOT_AVAILABLE);
  EXPECT_EQ(level, 7.0);
  o->bDcLevel = true;
  EXPECT_EQ(SetDcLevel(9, 0.0), RU3_BAD_CHANNEL);
  EXPECT_EQ(SetDcLevel(1, 160.0), RU3_OK);  // up to twice the range
  EXPECT_EQ(SetDcLevel(1, 160.5), RU3_BAD_VALUE);
  EXPECT_EQ(SetDcLevel(1, kNaN), RU3_BAD_VALUE);
}

TEST_F(ApiSettings, FacilitiesOfOtherModelsAnswerNotAvailable) {
  uint16_t word = 0xEEEE;
  uint32_t dword = 0xEEEEEEEE;
  uint8_t byte = 0xEE;
  EXPECT_EQ(GetExternalClock(&word), RU3_NOT_AVAILABLE);
  EXPECT_EQ(word, 0);  // written before refusing
  o->bExternalClock = true;
  EXPECT_EQ(SetExternalClock(1), RU3_NOT_AVAILABLE);
  EXPECT_FALSE(o->bExternalClock);  // cleared on refusal
  EXPECT_EQ(SetTransferMode(1), RU3_NOT_AVAILABLE);
  EXPECT_EQ(GetTransferMode(&dword), RU3_NOT_AVAILABLE);
  EXPECT_EQ(SetInstrumentConfig(1), RU3_NOT_AVAILABLE);
  EXPECT_EQ(GetInstrumentConfig(&word), RU3_NOT_AVAILABLE);
  EXPECT_EQ(SetPXITriggerSlopes(3), RU3_NOT_AVAILABLE);
  EXPECT_EQ(GetPXITriggerEnables(&byte), RU3_NOT_AVAILABLE);
  EXPECT_EQ(dword, 0xEEEEEEEEU);
  EXPECT_EQ(byte, 0xEE);

  // The same functions on a model that has the facility.
  o->byInstrumentKind = 18;
  o->rMaxSampleFreq = 100.0e6L;
  EXPECT_EQ(SetExternalClock(0x10001), RU3_OK);  // 16-bit argument
  EXPECT_EQ(GetExternalClock(&word), RU3_OK);
  EXPECT_EQ(word, 1);
  EXPECT_EQ(SetExternalClock(2), RU3_BAD_VALUE);
  EXPECT_FALSE(o->bExternalClock);
  EXPECT_EQ(SetTransferMode(0x101), RU3_OK);
  EXPECT_EQ(GetTransferMode(&dword), RU3_OK);
  EXPECT_EQ(dword, 1U);
}

TEST_F(ApiSettings, InstrumentConfigReappliesTheTimebaseAndRangesEvenWhenRefused) {
  o->byInstrumentKind = 18;
  uint32_t f = 30000;
  ASSERT_EQ(SetSampleFrequency(&f), RU3_OK);
  ASSERT_EQ(SetRecordLength(2000), RU3_OK);
  ASSERT_EQ(SetPostSamples(500), RU3_OK);
  double range = 2.0;
  ASSERT_EQ(SetSensitivity(1, &range), RU3_OK);
  uint16_t config = 0xEEEE;
  for (const auto& [value, status, stored] :
       {std::tuple{2U, RU3_OK, 2}, std::tuple{3U, RU3_BAD_VALUE, 2}, std::tuple{0x10000U, RU3_OK, 0}}) {
    EXPECT_EQ(SetInstrumentConfig(value), status) << value;
    EXPECT_EQ(GetInstrumentConfig(&config), RU3_OK);
    EXPECT_EQ(config, stored) << value;
    EXPECT_EQ(GetSampleFrequency(), 30769);
    EXPECT_EQ(GetRecordLength(), 2000);
    EXPECT_EQ(GetPostSamples(), 500);
    EXPECT_EQ(o->awRange[1], 5);
    EXPECT_EQ(o->awRange[2], 10);
  }
  o->byInstrumentConfig = 3;
  EXPECT_EQ(GetInstrumentConfig(&config), RU3_BAD_VALUE);
}

TEST_F(ApiSettings, ResolutionKeepsTheGeneratorSettingsAtDoublePrecision) {
  uint8_t bits = 0;
  EXPECT_EQ(SetResolution(8), RU3_BAD_VALUE);
  EXPECT_EQ(SetResolution(0x100 + 12), RU3_OK);
  EXPECT_EQ(GetResolution(&bits), RU3_OK);
  EXPECT_EQ(bits, 12);
  o->rFuncGenFrequency = 1.0L / 3.0L;
  o->wFuncGenSignalType = 3;
  EXPECT_EQ(SetResolution(12), RU3_OK);
  EXPECT_EQ(o->rFuncGenFrequency, static_cast<long double>(static_cast<double>(1.0L / 3.0L)));
  EXPECT_EQ(o->wFuncGenSignalType, 3);
}

TEST_F(ApiSettings, CalibrationDatePacksDayMonthYear) {
  struct Case {
    std::array<std::uint8_t, 6> bytes;  // year (little-endian), month, day, hour, minute
    int32_t packed;
  };
  const Case cases[] = {
      {{0xD3, 0x07, 3, 15, 14, 30}, 0x0F0307D3},   // 15 March 2003, 14:30
      {{0xD3, 0x07, 13, 15, 14, 30}, 0x010107BC},  // month 13: 1 January 1980
      {{0x00, 0x00, 3, 15, 14, 30}, 0x010107BC},   // year 0
      {{0xD3, 0x07, 3, 15, 14, 60}, 0x010107BC},   // minute 60
      {{0x08, 0x07, 1, 1, 23, 59}, 0x01010708},    // 1 January 1800, late in the day
      {{0x0F, 0x27, 12, 31, 23, 59}, 0x1F0C270F},  // 31 December 9999
      {{0x6B, 0x07, 12, 30, 12, 0}, 0x1E0C076B},   // the day the date count starts
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 6; ++i) o->abyMemory[static_cast<std::size_t>(10 + i)] = c.bytes[static_cast<std::size_t>(i)];
    int32_t packed = 0;
    EXPECT_EQ(GetCalibrationDate(&packed), RU3_OK);
    EXPECT_EQ(packed, c.packed) << std::hex << c.packed;
  }
  o->byInstrumentKind = 3;  // a model without a stored identity
  int32_t value = 55;
  EXPECT_EQ(GetCalibrationDate(&value), RU3_NOT_AVAILABLE);
  EXPECT_EQ(value, 55);
  EXPECT_EQ(GetSerialNumber(&value), RU3_NOT_AVAILABLE);
  EXPECT_EQ(value, 0);
}

TEST_F(ApiSettings, AvailableListsLargestRangeFirstThenZeros) {
  std::array<double, 20> list{};
  list.fill(-1.0);
  EXPECT_EQ(GetAvailableSensitivities(list.data()), RU3_OK);
  const std::array<double, 20> ranges = {80, 40, 20, 8, 4, 2, 0.8, 0.4, 0.2, 0.1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (std::size_t i = 0; i < list.size(); ++i) EXPECT_DOUBLE_EQ(list[i], ranges[i]) << i;
  list.fill(-1.0);
  EXPECT_EQ(GetAvailableResolutions(list.data()), RU3_OK);
  EXPECT_EQ(list[0], 12.0);
  for (std::size_t i = 1; i < list.size(); ++i) EXPECT_EQ(list[i], 0.0) << i;
}

TEST_F(ApiSettings, AuxiliaryOutputsUseTheLowByteAndOnlyAnOpenInstrument) {
  EXPECT_EQ(SetMotorOn(256, 1), RU3_OK);
  const std::vector<RegisterWrite> motor = RegisterWrites();
  ASSERT_EQ(motor.size(), 1U);
  EXPECT_EQ(motor[0].reg, 10);
  EXPECT_EQ(motor[0].value, 2);
  EXPECT_EQ(motor[0].unit_bits, 0x00);  // unit 4
  EXPECT_EQ(o->UnitSelectBits, 0x30);

  rec->log.clear();
  EXPECT_EQ(SetDAC7394(12.0, -0.0), RU3_OK);
  EXPECT_EQ(DacWords(), (std::pair{4095, 2048}));

  uint8_t unit = 0;
  EXPECT_EQ(SetActiveRU3(0x102), RU3_OK);
  EXPECT_EQ(GetActiveRU3(&unit), RU3_OK);
  EXPECT_EQ(unit, 2);
  EXPECT_EQ(o->UnitSelectBits, 0x20);
  EXPECT_EQ(SetActiveRU3(7), RU3_OK);
  EXPECT_EQ(GetActiveRU3(&unit), RU3_OK);
  EXPECT_EQ(unit, 7);
  EXPECT_EQ(o->UnitSelectBits, 0x20);

  // Not open: no port is touched, the selection stays.
  o->bInstrumentOpen = false;
  rec->log.clear();
  unit = 0xEE;
  EXPECT_EQ(SetMotorOn(1, 1), RU3_NO_INSTRUMENT);
  EXPECT_EQ(SetDAC7394(1.0, 1.0), RU3_NO_INSTRUMENT);
  EXPECT_EQ(SetActiveRU3(1), RU3_NO_INSTRUMENT);
  EXPECT_EQ(GetActiveRU3(&unit), RU3_NO_INSTRUMENT);
  EXPECT_EQ(unit, 0xEE);
  EXPECT_EQ(o->UnitSelectBits, 0x20);
  EXPECT_TRUE(rec->log.empty());
}

TEST_F(ApiSettings, NullOutputPointersAreRefusedAfterThePresenceCheck) {
  const std::vector<std::pair<const char*, uint16_t (*)()>> calls = {
      {"GetMeasureMode", [] { return GetMeasureMode(nullptr); }},
      {"SetSampleFrequencyF", [] { return SetSampleFrequencyF(nullptr); }},
      {"SetSampleFrequency", [] { return SetSampleFrequency(nullptr); }},
      {"GetResolution", [] { return GetResolution(nullptr); }},
      {"GetSensitivity", [] { return GetSensitivity(1, nullptr); }},
      {"SetSensitivity", [] { return SetSensitivity(1, nullptr); }},
      {"GetAutoRanging", [] { return GetAutoRanging(1, nullptr); }},
      {"GetCoupling", [] { return GetCoupling(1, nullptr); }},
      {"GetTriggerSource", [] { return GetTriggerSource(nullptr); }},
      {"GetTriggerMode", [] { return GetTriggerMode(nullptr); }},
      {"GetTriggerModeCh", [] { return GetTriggerModeCh(1, nullptr); }},
      {"GetTriggerLevel", [] { return GetTriggerLevel(1, nullptr); }},
      {"GetTriggerHys", [] { return GetTriggerHys(1, nullptr); }},
      {"GetCalibrationDate", [] { return GetCalibrationDate(nullptr); }},
      {"GetSerialNumber", [] { return GetSerialNumber(nullptr); }},
      {"GetAvailableSensitivities", [] { return GetAvailableSensitivities(nullptr); }},
      {"GetAvailableResolutions", [] { return GetAvailableResolutions(nullptr); }},
      {"GetActiveRU3", [] { return GetActiveRU3(nullptr); }},
  };
  for (const auto& [name, call] : calls) EXPECT_EQ(call(), RU3_BAD_VALUE) << name;
  // The function's own tests come first.
  EXPECT_EQ(GetSensitivity(3, nullptr), RU3_BAD_CHANNEL);
  EXPECT_EQ(GetExternalClock(nullptr), RU3_NOT_AVAILABLE);
  EXPECT_EQ(GetFuncGenOutputOn(nullptr), RU3_NO_GENERATOR);
  o->bInstrumentOpen = false;
  for (const auto& [name, call] : calls) EXPECT_EQ(call(), RU3_NO_INSTRUMENT) << name;
}

}  // namespace
}  // namespace ru3
