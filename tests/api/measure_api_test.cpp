// The measurement and data functions through the exports, against the
// simulated instrument: the three styles of measuring, the volts they give,
// averaging, the argument checks, an instrument that goes away while the host
// waits, and that measuring allocates no memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "api/Exportin.h"
#include "support/register_fake.h"
#include "support/measure_fixture.h"

// ---- Allocation counting ------------------------------------------------------
// The global allocation functions of this test program count while a test has
// switched counting on; otherwise they only pass through to malloc and free.

namespace {
std::atomic<bool> g_count_allocations{false};
std::atomic<std::size_t> g_allocations{0};

void* CountedAllocate(std::size_t size) {
  if (g_count_allocations.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return CountedAllocate(size); }
void* operator new[](std::size_t size) { return CountedAllocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace ru3 {
namespace {

using sim::Shape;
using sim::SignalSource;
using test::kRecord;
using MeasureApi = test::MeasureFixture;

TEST_F(MeasureApi, BlockStyleGivesTheSineInVoltsWithItsCrossingAtTheTrigger) {
  sim().SetInput(1, SignalSource{Shape::kSine, 1.5, 1000.0, 0.0, 0.0});
  SetRange(1, 2.0);
  ASSERT_EQ(SetTriggerSource(0), RU3_OK);
  ASSERT_EQ(GetSampleFrequency(), 200000);

  ASSERT_EQ(ADC_Start(), RU3_OK);
  EXPECT_EQ(ADC_Running(), 1);
  ASSERT_TRUE(WaitReady());
  EXPECT_EQ(ADC_Triggered(), 1);

  std::vector<double> ch1(kRecord), ch2(kRecord);
  ASSERT_EQ(ADC_GetDataVolt(ch1.data(), ch2.data()), RU3_OK);
  EXPECT_EQ(ADC_Running(), 0);
  const double step = 2.0 / 2048;  // one conversion step on the 2 V range
  const double peak = *std::max_element(ch1.begin(), ch1.end());
  const double trough = *std::min_element(ch1.begin(), ch1.end());
  EXPECT_NEAR(peak, 1.5, 2 * step);
  EXPECT_NEAR(trough, -1.5, 2 * step);
  // The rising 0 V crossing sits at the pre-trigger position, 256.
  EXPECT_LT(ch1[255], 0.0);
  EXPECT_GE(ch1[256], 0.0);
  EXPECT_GT(ch1[257], ch1[255]);
  // The trigger came at the first rising crossing after the arm, about a
  // period (200 samples) later: fewer samples than the record were written, so the
  // leading positions hold no sample (0x7FFF, one step below 0 V).
  const auto first = std::find_if(ch1.begin(), ch1.end(), [](double v) { return v != -2.0 / 32768; }) - ch1.begin();
  EXPECT_GT(first, 0);
  EXPECT_LT(first, 256);
  // The rest follow the sine from the crossing, 200 samples a period.
  for (auto i = first; i < kRecord; ++i) {
    const double expected = 1.5 * std::sin(2 * M_PI * (i - 256) / 200.0);
    ASSERT_NEAR(ch1[i], expected, 1.5 * 2 * M_PI / 200.0 + 2 * step) << "position " << i;
  }

  // The second read-out takes the record from the buffers, not the port.
  const std::uint64_t accesses = sim().AccessCount();
  std::vector<std::uint16_t> raw1(kRecord), raw2(kRecord);
  ASSERT_EQ(ADC_GetData(raw1.data(), raw2.data()), RU3_OK);
  EXPECT_EQ(sim().AccessCount(), accesses);
  for (int i = 0; i < kRecord; ++i) {
    ASSERT_EQ(ch1[i], (raw1[i] - 32768) * (2.0 / 32768)) << i;
    ASSERT_EQ(ch2[i], (raw2[i] - 32768) * (80.0 / 32768)) << i;
  }
}

TEST_F(MeasureApi, SynchronousMeasureIsForcedAfterTheTimeOut) {
  sim().SetInput(1, SignalSource{Shape::kDc, 0.25, 0.0, 0.0, 0.0});
  SetRange(1, 2.0);
  ASSERT_EQ(SetTriggerLevel(1, 1.0), RU3_OK);  // never reached
  ASSERT_EQ(GetTriggerTimeOut(), 1000);
  const std::uint64_t start = sim().NowNs();
  ASSERT_EQ(StartMeasurement(), RU3_OK);
  const double waited_s = static_cast<double>(sim().NowNs() - start) * 1e-9;
  EXPECT_GE(waited_s, 1.0);
  EXPECT_LT(waited_s, 1.1);
  EXPECT_EQ(sim().Register(1, 10), 3);  // forced
  EXPECT_TRUE(api::State().DataFetched);
  std::vector<double> ch1(kRecord), ch2(kRecord);
  ASSERT_EQ(GetMeasurement(ch1.data(), ch2.data()), RU3_OK);
  for (int i = 0; i < kRecord; ++i) ASSERT_NEAR(ch1[i], 0.25, 2 * 2.0 / 2048) << i;

  // A time-out of 0 is shorter than a sample period: the arming selects no
  // trigger and the record comes at once, read without the trigger offset.
  ASSERT_EQ(SetTriggerTimeOut(0), RU3_OK);
  const std::uint64_t again = sim().NowNs();
  ASSERT_EQ(StartMeasurement(), RU3_OK);
  EXPECT_LT(static_cast<double>(sim().NowNs() - again) * 1e-9, 0.1);
  EXPECT_EQ(sim().Register(1, 10), 3);
  EXPECT_EQ(Object().tsEffectiveTrigSource, TTrigSource::tsNoTrig);
  EXPECT_EQ(Object().pDataCh1[kRecord], kIdleFill);
  // Only the 256 post-trigger samples and the two of the lane's latency were
  // taken since the arm: the record's start holds no sample.
  ASSERT_EQ(GetMeasurement(ch1.data(), ch2.data()), RU3_OK);
  EXPECT_EQ(ch1[0], -2.0 / 32768);
  for (int i = 300; i < kRecord; ++i) ASSERT_NEAR(ch1[i], 0.25, 2 * 2.0 / 2048) << i;
}

TEST_F(MeasureApi, ARingNotYetFullLeavesTheLeadingPositionsEmptyAndAnUnmeasuredChannelItsRecord) {
  SetRange(1, 2.0);
  ASSERT_EQ(SetTriggerLevel(1, 1.0), RU3_OK);  // never reached
  // An earlier record at -1 V fills the whole ring (forced after a second).
  sim().SetInput(1, SignalSource{Shape::kDc, -1.0, 0.0, 0.0, 0.0});
  sim().SetInput(2, SignalSource{Shape::kSine, 0.3, 1000.0, 0.0, 0.0});
  SetRange(2, 2.0);
  ASSERT_EQ(StartMeasurement(), RU3_OK);
  std::vector<std::uint16_t> earlier1(kRecord), earlier2(kRecord);
  ASSERT_EQ(GetMeasurementRaw(earlier1.data(), earlier2.data()), RU3_OK);
  // Channel 1 alone, 0.5 V, forced at once; channel 2's range changes.
  ASSERT_EQ(SetMeasureMode(1), RU3_OK);
  SetRange(2, 0.4);
  sim().SetInput(1, SignalSource{Shape::kDc, 0.5, 0.0, 0.0, 0.0});
  ASSERT_EQ(ADC_Start(), RU3_OK);
  ASSERT_EQ(ADC_ForceTrig(), RU3_OK);
  ASSERT_TRUE(WaitReady());
  std::vector<std::uint16_t> raw1(kRecord), raw2(kRecord);
  ASSERT_EQ(ADC_GetData(raw1.data(), raw2.data()), RU3_OK);
  // Only a little more than the 256 post-trigger samples were written.
  const auto first = std::find_if(raw1.begin(), raw1.end(), [](std::uint16_t w) { return w != kIdleFill; });
  const auto filled = raw1.end() - first;
  EXPECT_GT(filled, 200);
  EXPECT_LT(filled, 400);
  // All of them are this acquisition's: the ring cell before address 0,
  // still from the earlier record, is not among them.
  for (auto it = first; it != raw1.end(); ++it) ASSERT_NEAR((*it - 32768) * 2.0 / 32768, 0.5, 2 * 2.0 / 2048);
  // Channel 2 was not measured: it keeps the earlier record, in the volts
  // of the range that record was measured on.
  EXPECT_EQ(raw2, earlier2);
  // The empty positions read as one code step below 0 V.
  std::vector<double> v1(kRecord), v2(kRecord);
  ASSERT_EQ(ADC_GetDataVolt(v1.data(), v2.data()), RU3_OK);
  EXPECT_EQ(v1[0], -2.0 / 32768);
  EXPECT_NEAR(Peak(v2), 0.3, 2 * 2.0 / 2048);
}

TEST_F(MeasureApi, TimerDrivenMeasuringRunsWhileTheHostWorks) {
  sim().SetWallClockCoupling(true);
  sim().SetInput(1, SignalSource{Shape::kSine, 1.5, 1000.0, 0.0, 0.0});
  SetRange(1, 2.0);
  ASSERT_EQ(SetTriggerSource(9), RU3_OK);  // free running: every record a new phase
  std::atomic<int> completed{0};
  Locked([&](VOz3& o) { o.OnMeasurementReady = [&](VOz3*) { ++completed; }; });

  std::vector<double> ch1(kRecord), ch2(kRecord), previous(kRecord);
  ASSERT_EQ(GetMeasurement(previous.data(), ch2.data()), RU3_OK);  // as opening left the buffers
  ASSERT_EQ(DoMeasure(-1), RU3_OK);
  Locked([](VOz3& o) { EXPECT_EQ(o.amAcquisitionMode, TAcquisitionMode::amContinuous); });
  int changes = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (changes < 5 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));  // the host's own work
    ASSERT_EQ(GetMeasurement(ch1.data(), ch2.data()), RU3_OK);
    if (ch1 != previous) {
      ++changes;
      EXPECT_NEAR(*std::max_element(ch1.begin(), ch1.end()), 1.5, 0.05);
      previous = ch1;
    }
  }
  EXPECT_GE(changes, 5);
  ASSERT_EQ(DoMeasure(0), RU3_OK);
  Locked([](VOz3& o) { EXPECT_EQ(o.amAcquisitionMode, TAcquisitionMode::amContinuous); });  // only switched off
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const int stopped_at = completed.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(completed.load(), stopped_at);

  // One shot: one record, then hold.
  completed = 0;
  ASSERT_EQ(DoMeasure(5), RU3_OK);
  // The timer may already have completed the one shot and switched to hold.
  Locked([](VOz3& o) { EXPECT_NE(o.amAcquisitionMode, TAcquisitionMode::amContinuous); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (completed.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(completed.load(), 1);
  Locked([](VOz3& o) { EXPECT_EQ(o.amAcquisitionMode, TAcquisitionMode::amHold); });
  Locked([](VOz3& o) { o.OnMeasurementReady = nullptr; });
}

TEST_F(MeasureApi, AveragingOverFourHalvesTheNoise) {
  sim().SetWallClockCoupling(true);
  sim().SetInput(1, SignalSource{Shape::kDc, 0.0, 0.0, 0.0, 0.005});
  SetRange(1, 0.1);
  ASSERT_EQ(SetTriggerSource(9), RU3_OK);

  // Each completed measurement, as the handler sees it: the count already
  // moved on, and the record as averaged so far.
  struct Seen {
    int count;
    double rms;
  };
  std::vector<Seen> seen;
  seen.reserve(64);
  Locked([&](VOz3& o) {
    o.nAverageNumber = 4;
    o.nCalculations = 1;
    o.OnMeasurementReady = [&](VOz3* sender) {
      if (seen.size() == seen.capacity()) return;
      std::vector<double> volts(kRecord);
      for (int i = 0; i < kRecord; ++i) volts[i] = (sender->pDataCh1[i] - 32768) * (0.1 / 32768);
      seen.push_back({sender->nCalculations, Rms(volts)});
    };
  });
  ASSERT_EQ(DoMeasure(-1), RU3_OK);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::lock_guard lock(platform::LibraryMutex());
    if (seen.size() >= 9 || std::chrono::steady_clock::now() > until) break;
  }
  ASSERT_EQ(DoMeasure(0), RU3_OK);
  Locked([](VOz3& o) { o.OnMeasurementReady = nullptr; });

  ASSERT_GE(seen.size(), 9U);
  // Measurements 1, 2, 3, 4, 1, ... of the average: the count after each
  // completion is 2, 3, 4, 1, 2, ...
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(seen[i].count, static_cast<int>(i % 4) + 2 - (i % 4 == 3 ? 4 : 0));
  const double single = seen[0].rms;   // measurement 1: the record itself
  const double of_four = seen[3].rms;  // measurement 4: the mean of four
  EXPECT_GT(single, 0.002);            // the noise is well above the 0.05 mV code step
  EXPECT_NEAR(of_four / single, 0.5, 0.1);
  EXPECT_NEAR(seen[7].rms / seen[4].rms, 0.5, 0.1);
}

TEST_F(MeasureApi, CodesConvertToVoltsExactly) {
  struct Case {
    std::uint16_t code;
    double volts_per_range;  // volts for a 1 V range
  };
  const Case cases[] = {{32768, 0.0}, {0, -1.0}, {0xFFF0, 32752.0 / 32768}, {0x7FFF, -1.0 / 32768}};
  for (double range : {0.1, 0.8, 2.0, 80.0}) {
    SCOPED_TRACE(range);
    SetRange(1, range);
    SetRange(2, range);
    Locked([&](VOz3& o) {
      for (int i = 0; i < 4; ++i) o.pDataCh1[i] = o.pDataCh2[i] = cases[i].code;
      o.awRecordRange[1] = o.awRange[1];  // as if measured on that range
      o.awRecordRange[2] = o.awRange[2];
    });
    std::vector<double> ch1(kRecord), ch2(kRecord);
    ASSERT_EQ(GetMeasurement(ch1.data(), ch2.data()), RU3_OK);
    for (int i = 0; i < 4; ++i) {
      const double expected = cases[i].code == 0xFFF0 ? range * 32752.0 / 32768.0 : range * cases[i].volts_per_range;
      EXPECT_EQ(ch1[i], expected) << std::hex << cases[i].code;
      EXPECT_EQ(ch2[i], expected) << std::hex << cases[i].code;
      double one1 = 0.0;
      double one2 = 0.0;
      ASSERT_EQ(GetOneMeasurement(i, &one1, &one2), RU3_OK);
      EXPECT_EQ(one1, expected);
    }
    EXPECT_EQ(std::signbit(ch1[0]), false);  // exactly +0.0
  }

  // After a fetch the factor of a channel is not refreshed again by reading
  // it once more: a range changed behind the table's back keeps the old one.
  SetRange(2, 2.0);
  ASSERT_EQ(ADC_Start(), RU3_OK);
  ASSERT_EQ(ADC_ForceTrig(), RU3_OK);
  ASSERT_TRUE(WaitReady());
  std::vector<std::uint16_t> raw(kRecord);
  std::vector<double> volts(kRecord);
  ASSERT_EQ(ADC_GetDataCh(2, raw.data()), RU3_OK);
  Locked([](VOz3& o) { o.SetSensitivity(2, 8.0); });
  ASSERT_EQ(ADC_GetDataVoltCh(2, volts.data()), RU3_OK);
  EXPECT_EQ(volts[100], (raw[100] - 32768) * (2.0 / 32768));
}

TEST_F(MeasureApi, ArgumentChecksWriteNothing) {
  constexpr std::uint16_t kU = 0xA5A5;
  constexpr double kD = -7.25;
  std::vector<std::uint16_t> u1(kRecord, kU), u2(kRecord, kU);
  std::vector<double> d1(kRecord, kD), d2(kRecord, kD);
  struct Case {
    const char* call;
    std::function<std::uint16_t()> run;
    std::uint16_t status;
  };
  const Case cases[] = {
      {"ADC_GetData(null, buf)", [&] { return ADC_GetData(nullptr, u2.data()); }, 32},
      {"ADC_GetData(buf, null)", [&] { return ADC_GetData(u1.data(), nullptr); }, 32},
      {"ADC_GetDataVolt(buf, null)", [&] { return ADC_GetDataVolt(d1.data(), nullptr); }, 32},
      {"ADC_GetDataCh(0, buf)", [&] { return ADC_GetDataCh(0, u1.data()); }, 16},
      {"ADC_GetDataCh(3, buf)", [&] { return ADC_GetDataCh(3, u1.data()); }, 16},
      {"ADC_GetDataCh(1, null)", [&] { return ADC_GetDataCh(1, nullptr); }, 32},
      {"ADC_GetDataVoltCh(0x10000, buf)", [&] { return ADC_GetDataVoltCh(0x10000, d1.data()); }, 16},
      {"ADC_GetDataVoltCh(2, null)", [&] { return ADC_GetDataVoltCh(2, nullptr); }, 32},
      {"GetMeasurement(null, buf)", [&] { return GetMeasurement(nullptr, d2.data()); }, 32},
      {"GetMeasurementRaw(buf, null)", [&] { return GetMeasurementRaw(u1.data(), nullptr); }, 32},
      {"GetOneMeasurement(-1, ...)", [&] { return GetOneMeasurement(-1, d1.data(), d2.data()); }, 32},
      {"GetOneMeasurement(512, ...)", [&] { return GetOneMeasurement(kRecord, d1.data(), d2.data()); }, 32},
      {"GetOneMeasurement(0, null, d)", [&] { return GetOneMeasurement(0, nullptr, d2.data()); }, 32},
      {"GetOneMeasurementRaw(512, ...)", [&] { return GetOneMeasurementRaw(kRecord, u1.data(), u2.data()); }, 32},
      {"GetOneMeasurementRaw(INT_MIN, ...)",
       [&] { return GetOneMeasurementRaw(std::numeric_limits<std::int32_t>::min(), u1.data(), u2.data()); }, 32},
      {"GetOneMeasurementRawCh(3, 0, p)", [&] { return GetOneMeasurementRawCh(3, 0, u1.data()); }, 16},
      {"GetOneMeasurementRawCh(1, 512, p)", [&] { return GetOneMeasurementRawCh(1, kRecord, u1.data()); }, 32},
      {"GetOneMeasurementRawCh(2, 0, null)", [&] { return GetOneMeasurementRawCh(2, 0, nullptr); }, 32},
      {"GetDigitalInputValues(buf)", [&] { return GetDigitalInputValues(u1.data()); }, 4},
      {"GetOneDigitalValue(0, p)", [&] { return GetOneDigitalValue(0, u1.data()); }, 4},
  };
  const std::uint64_t accesses = sim().AccessCount();
  api::State().DataFetched = false;  // a fetch would be due: a refused call must not do it
  for (const Case& c : cases) {
    EXPECT_EQ(c.run(), c.status) << c.call;
    EXPECT_TRUE(std::all_of(u1.begin(), u1.end(), [](auto v) { return v == kU; })) << c.call;
    EXPECT_TRUE(std::all_of(u2.begin(), u2.end(), [](auto v) { return v == kU; })) << c.call;
    EXPECT_TRUE(std::all_of(d1.begin(), d1.end(), [](auto v) { return v == kD; })) << c.call;
    EXPECT_TRUE(std::all_of(d2.begin(), d2.end(), [](auto v) { return v == kD; })) << c.call;
  }
  EXPECT_EQ(sim().AccessCount(), accesses);
  EXPECT_FALSE(api::State().DataFetched);

  // The last valid index and a channel in the high half-word that reads as 1.
  std::uint16_t value = kU;
  ASSERT_EQ(GetOneMeasurementRawCh(0x10001, kRecord - 1, &value), RU3_OK);
  EXPECT_EQ(value, Object().pDataCh1[kRecord - 1]);
}

TEST_F(MeasureApi, ARefusedSampleIndexStillRefreshesTheFactors) {
  // A record on 2 V fetched raw leaves the factor of the 80 V record before.
  sim().SetInput(1, SignalSource{Shape::kDc, 0.5, 0.0, 0.0, 0.0});
  SetRange(1, 2.0);
  ASSERT_EQ(ADC_Start(), RU3_OK);
  ASSERT_EQ(ADC_ForceTrig(), RU3_OK);
  ASSERT_TRUE(WaitReady());
  std::vector<std::uint16_t> raw1(kRecord), raw2(kRecord);
  ASSERT_EQ(ADC_GetData(raw1.data(), raw2.data()), RU3_OK);
  double v1 = 0.0;
  double v2 = 0.0;
  EXPECT_EQ(GetOneMeasurement(kRecord, &v1, &v2), RU3_BAD_VALUE);
  EXPECT_EQ(api::State().VoltPerCode[1], 2.0 / 32768);
}

TEST_F(MeasureApi, MeasurementControlNeedsAnInitialisedInstrument) {
  api::State().InstrumentInitialised = false;
  EXPECT_EQ(ADC_Start(), RU3_NOT_INITIALISED);
  EXPECT_EQ(ADC_Abort(), RU3_NOT_INITIALISED);
  EXPECT_EQ(ADC_ForceTrig(), RU3_NOT_INITIALISED);
  EXPECT_EQ(DoMeasure(-1), RU3_NOT_INITIALISED);
  EXPECT_EQ(StartMeasurement(), RU3_NOT_INITIALISED);
  EXPECT_FALSE(Object().bEnableMeasurements);
  api::State().InstrumentInitialised = true;
}

TEST_F(MeasureApi, AbortInBlockModeStopsReportingARunningMeasurement) {
  std::vector<std::uint16_t> before1(kRecord), before2(kRecord), after1(kRecord), after2(kRecord);
  ASSERT_EQ(GetMeasurementRaw(before1.data(), before2.data()), RU3_OK);
  ASSERT_EQ(SetTriggerLevel(1, 70.0), RU3_OK);  // never reached
  ASSERT_EQ(ADC_Start(), RU3_OK);
  EXPECT_EQ(ADC_Running(), 1);
  const std::uint64_t accesses = sim().AccessCount();
  ASSERT_EQ(ADC_Abort(), RU3_OK);
  EXPECT_EQ(sim().AccessCount(), accesses);
  EXPECT_EQ(ADC_Running(), 0);
  ASSERT_EQ(GetMeasurementRaw(after1.data(), after2.data()), RU3_OK);
  EXPECT_EQ(after1, before1);
  EXPECT_EQ(after2, before2);
  // The next start measures as usual.
  ASSERT_EQ(ADC_Start(), RU3_OK);
  ASSERT_EQ(ADC_ForceTrig(), RU3_OK);
  ASSERT_TRUE(WaitReady());
  ASSERT_EQ(ADC_GetData(after1.data(), after2.data()), RU3_OK);
  EXPECT_EQ(ADC_Running(), 0);
}

TEST_F(MeasureApi, MeasuringSwitchedOffStaysOffWhateverRanBefore) {
  sim().SetWallClockCoupling(true);
  ASSERT_EQ(SetTriggerSource(9), RU3_OK);  // free running: every record a new phase
  std::vector<std::uint16_t> ch1(kRecord), ch2(kRecord), before(kRecord);
  // Records keep coming until DoMeasure(0); afterwards neither the records
  // nor the port traffic change any more.
  auto expect_measuring = [&](bool on) {
    std::uint64_t accesses = 0;
    Locked([&](VOz3&) { accesses = sim().AccessCount(); });
    ASSERT_EQ(GetMeasurementRaw(before.data(), ch2.data()), RU3_OK);
    bool changed = false;
    for (int i = 0; i < 50 && !changed; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ASSERT_EQ(GetMeasurementRaw(ch1.data(), ch2.data()), RU3_OK);
      changed = ch1 != before;
    }
    EXPECT_EQ(changed, on);
    if (!on) Locked([&](VOz3&) { EXPECT_EQ(sim().AccessCount(), accesses); });
  };
  ASSERT_EQ(DoMeasure(-1), RU3_OK);
  expect_measuring(true);
  ASSERT_EQ(DoMeasure(0), RU3_OK);
  expect_measuring(false);
  // A blocking measure afterwards, then off once more.
  ASSERT_EQ(StartMeasurement(), RU3_OK);
  ASSERT_EQ(DoMeasure(0), RU3_OK);
  expect_measuring(false);
  // Device arrival resumes only measuring that is on.
  ASSERT_TRUE(api::DeliverDeviceMessage(0x40D));
  expect_measuring(false);
  ASSERT_EQ(DoMeasure(-1), RU3_OK);
  ASSERT_TRUE(api::DeliverDeviceMessage(0x40D));
  expect_measuring(true);
  ASSERT_EQ(DoMeasure(0), RU3_OK);
  expect_measuring(false);
}

TEST_F(MeasureApi, StreamTransferClearsTheBuffersAndMeasuresByTimer) {
  Locked([](VOz3& o) { o.tmTransferMode = TTransferMode::tmStream; });
  api::State().DataFetched = false;
  Locked([](VOz3& o) { o.pDataCh1[kRecord] = 0x1234; });
  ASSERT_EQ(ADC_Start(), RU3_OK);
  EXPECT_TRUE(api::State().DataFetched);
  Locked([](VOz3& o) {
    EXPECT_EQ(o.pDataCh1[0], 32768);
    EXPECT_EQ(o.pDataCh2[kRecord - 1], 32768);
    EXPECT_EQ(o.pDataCh1[kRecord], 0x1234);  // only the record length
    EXPECT_TRUE(o.bEnableMeasurements);
    EXPECT_EQ(o.amAcquisitionMode, TAcquisitionMode::amContinuous);
  });
  ASSERT_EQ(ADC_Abort(), RU3_OK);
  Locked([](VOz3& o) {
    EXPECT_FALSE(o.bEnableMeasurements);
    o.tmTransferMode = TTransferMode::tmBlock;
  });
}

// A back end that passes everything to the simulated PC until the cable is
// pulled; from then on the status lines float high. Time goes on.
class Unpluggable final : public platform::Backend {
 public:
  explicit Unpluggable(std::unique_ptr<platform::Backend> inner) : inner_(std::move(inner)) {}
  bool unplugged = false;
  void Out(std::uint16_t port, std::uint8_t value) override { inner_->Out(port, value); }
  std::uint8_t In(std::uint16_t port) override {
    const std::uint8_t v = inner_->In(port);
    return unplugged ? 0xFF : v;
  }
  bool PortDriverPresent() override { return inner_->PortDriverPresent(); }
  platform::DeviceHandle OpenDevice(const std::string& name) override { return inner_->OpenDevice(name); }
  void CloseDevice(platform::DeviceHandle handle) override { inner_->CloseDevice(handle); }
  std::uint32_t TickCount() override { return inner_->TickCount(); }
  void Delay(std::int32_t ms) override { inner_->Delay(ms); }

 private:
  std::unique_ptr<platform::Backend> inner_;
};

TEST_F(MeasureApi, AnInstrumentThatHasGoneEndsTheWaitAndClosesTheObject) {
  ASSERT_EQ(SetTriggerTimeOut(0xFFFFFFFFU), RU3_OK);  // no time-out: only a trigger would end it
  ASSERT_EQ(SetTriggerLevel(1, 70.0), RU3_OK);
  // Put the cable between the library and the simulated PC, then pull it.
  auto wrapper = std::make_unique<Unpluggable>(platform::ReplaceBackend(nullptr));
  Unpluggable* cable = wrapper.get();
  platform::ReplaceBackend(std::move(wrapper));
  cable->unplugged = true;
  const std::uint64_t start = sim().NowNs();
  EXPECT_EQ(StartMeasurement(), RU3_NO_INSTRUMENT);
  const double waited_s = static_cast<double>(sim().NowNs() - start) * 1e-9;
  EXPECT_GE(waited_s, 2.0);
  EXPECT_LT(waited_s, 2.5);
  // From now on every call reports no instrument, without a port access.
  const std::uint64_t accesses = sim().AccessCount();
  std::vector<double> d1(kRecord), d2(kRecord);
  EXPECT_EQ(ADC_Ready(), 0);
  EXPECT_EQ(GetMeasurement(d1.data(), d2.data()), RU3_NO_INSTRUMENT);
  EXPECT_EQ(StartMeasurement(), RU3_NO_INSTRUMENT);
  EXPECT_EQ(sim().AccessCount(), accesses);
  EXPECT_EQ(ExitInstrument(), RU3_OK);
}

TEST_F(MeasureApi, MeasuringAllocatesNothing) {
  sim().SetInput(1, SignalSource{Shape::kSine, 1.0, 1000.0, 0.0, 0.0});
  std::vector<std::uint16_t> u1(kRecord), u2(kRecord);
  std::vector<double> d1(kRecord), d2(kRecord);
  ASSERT_EQ(SetAutoRanging(1, 1), RU3_OK);
  ASSERT_EQ(SetTriggerTimeOut(5), RU3_OK);
  Locked([](VOz3& o) { o.nAverageNumber = 3; });
  double one = 0.0;
  double two = 0.0;
  std::uint16_t code = 0;

  g_allocations = 0;
  g_count_allocations = true;
  const auto measure = [&] {
    for (int i = 0; i < 3; ++i) {
      (void)StartMeasurement();
      (void)ADC_Start();
      (void)ADC_Running();
      (void)ADC_Triggered();
      (void)ADC_ForceTrig();
      while (ADC_Ready() == 0) {
      }
      (void)ADC_GetData(u1.data(), u2.data());
      (void)ADC_GetDataVolt(d1.data(), d2.data());
      (void)ADC_GetDataCh(2, u1.data());
      (void)ADC_GetDataVoltCh(1, d1.data());
      (void)GetMeasurement(d1.data(), d2.data());
      (void)GetMeasurementRaw(u1.data(), u2.data());
      (void)GetOneMeasurement(3, &one, &two);
      (void)GetOneMeasurementRaw(3, &code, &code);
      (void)GetOneMeasurementRawCh(1, 3, &code);
    }
    (void)DoMeasure(-1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the timer measures
    (void)DoMeasure(0);
  };
  measure();
  g_count_allocations = false;
  const std::size_t counted = g_allocations.load();
  EXPECT_EQ(counted, 0U) << "allocations while measuring against the simulator";

  // The same against a back end that cannot allocate either: whatever is
  // counted now is the library's own.
  auto quiet = std::make_unique<test::RegisterFake>(static_cast<std::uint16_t>(Object().nHardwareAddress));
  quiet->record = false;
  quiet->access_cost_us = 1;
  quiet->register_value = [](int reg) -> std::uint8_t { return reg == 2 ? 0x41 : 0x10; };
  std::unique_ptr<platform::Backend> pc = platform::ReplaceBackend(std::move(quiet));
  g_allocations = 0;
  g_count_allocations = true;
  measure();
  g_count_allocations = false;
  EXPECT_EQ(g_allocations.load(), 0U) << "allocations by the library while measuring";
  (void)ExitInstrument();
  platform::ReplaceBackend(std::move(pc));
}

TEST_F(MeasureApi, ATriggerForcedAfterTheHostWasIdleGivesAFullRecord) {
  sim().SetWallClockCoupling(true);
  sim().SetInput(1, SignalSource{Shape::kDc, 0.5, 0.0, 0.0, 0.0});
  SetRange(1, 2.0);
  ASSERT_EQ(SetTriggerLevel(1, 1.0), RU3_OK);  // never reached
  ASSERT_EQ(ADC_Start(), RU3_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the host's own work
  ASSERT_EQ(ADC_ForceTrig(), RU3_OK);
  ASSERT_TRUE(WaitReady());
  std::vector<std::uint16_t> raw1(kRecord), raw2(kRecord);
  ASSERT_EQ(ADC_GetData(raw1.data(), raw2.data()), RU3_OK);
  // The ring had filled long before the force: every position is a sample.
  EXPECT_EQ(std::count(raw1.begin(), raw1.end(), kIdleFill), 0);
  for (std::uint16_t w : raw1) ASSERT_NEAR((w - 32768) * 2.0 / 32768, 0.5, 2 * 2.0 / 2048);
}

}  // namespace
}  // namespace ru3
