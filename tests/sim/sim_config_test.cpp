// RU3_SIMULATOR values: what each key sets, and one clear line for every
// malformed value.
#include <gtest/gtest.h>

#include <chrono>

#include "sim/simulator.h"

namespace ru3::sim {
namespace {

TEST(SimConfigParse, EveryKeyReachesTheSimulatedPc) {
  SimConfig c;
  std::string error;
  ASSERT_TRUE(ParseSimConfig(
      " ports=0x378, 0x278 ,0x3BC; port=lpt2; variant=0x11; serial=123456; caldate=2003-03-15T14:30;"
      " eeprom=erased; ch1=triangle,2.5,50,-0.5; ch2=DC,1.25; noise=0.01; driver=missing; bus_ns=250;"
      " tick=0xFFFFFF00;",
      &c, &error))
      << error;
  EXPECT_EQ(c.port_bases, (std::array<std::uint16_t, 3>{0x378, 0x278, 0x3BC}));
  EXPECT_EQ(c.instrument_port, 1);
  EXPECT_EQ(c.variant, 0x11);
  EXPECT_EQ(c.serial, 123456U);
  EXPECT_EQ(c.calibration_date.year, 2003);
  EXPECT_EQ(c.calibration_date.minute, 30);
  EXPECT_TRUE(c.erased_eeprom);
  EXPECT_EQ(c.inputs[0].shape, Shape::kTriangle);
  EXPECT_EQ(c.inputs[0].amplitude, 2.5);
  EXPECT_EQ(c.inputs[0].frequency, 50.0);
  EXPECT_EQ(c.inputs[0].offset, -0.5);
  EXPECT_EQ(c.inputs[1].shape, Shape::kDc);
  EXPECT_EQ(c.inputs[1].amplitude, 1.25);
  EXPECT_EQ(c.inputs[0].noise_rms, 0.01);  // noise applies to both, wherever it stands
  EXPECT_EQ(c.inputs[1].noise_rms, 0.01);
  EXPECT_FALSE(c.driver_present);
  EXPECT_EQ(c.bus_ns, 250U);
  EXPECT_EQ(c.start_tick, 0xFFFFFF00U);

  // The backend built from it.
  auto backend = CreateSimulatorBackend("tick=4294967000;driver=missing;port=none", &error);
  ASSERT_NE(backend, nullptr) << error;
  EXPECT_FALSE(backend->PortDriverPresent());
  EXPECT_EQ(backend->PlatformId(), 2);
  EXPECT_GE(backend->TickCount(), 4294967000U);
}

TEST(SimConfigParse, EmptyValueGivesTheDefaultInstrument) {
  SimConfig c;
  c.serial = 1;
  std::string error;
  ASSERT_TRUE(ParseSimConfig("", &c, &error));
  EXPECT_EQ(c.port_bases, (std::array<std::uint16_t, 3>{0x378, 0, 0}));
  EXPECT_EQ(c.instrument_port, 0);
  EXPECT_EQ(c.variant, 0x10);
  EXPECT_EQ(c.serial, 10001U);
  EXPECT_FALSE(c.erased_eeprom);
  EXPECT_TRUE(c.driver_present);
  EXPECT_EQ(c.bus_ns, 1000U);
  EXPECT_EQ(c.inputs[0].shape, Shape::kSine);
  EXPECT_EQ(c.inputs[1].shape, Shape::kSquare);
  ASSERT_TRUE(ParseSimConfig(" ; ;", &c, &error));
}

TEST(SimConfigParse, MalformedValuesNameTheKeyAndTheProblem) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"bus_ns=abc", "RU3_SIMULATOR: key 'bus_ns': not a number: \"abc\""},
      {"bus_ns=-5", "RU3_SIMULATOR: key 'bus_ns': not a number: \"-5\""},
      {"bus_ns=2000000000", "RU3_SIMULATOR: key 'bus_ns': out of range (0..1000000000): \"2000000000\""},
      {"variant=0x100", "RU3_SIMULATOR: key 'variant': out of range (0..255): \"0x100\""},
      {"serial=16777216", "RU3_SIMULATOR: key 'serial': out of range (0..16777215): \"16777216\""},
      {"tick=0x1FFFFFFFF", "RU3_SIMULATOR: key 'tick': out of range (0..4294967295): \"0x1FFFFFFFF\""},
      {"ports=0x378,0x278,0x3BC,0x2BC", "RU3_SIMULATOR: key 'ports': at most three base addresses: \"0x378,0x278,0x3BC,0x2BC\""},
      {"ports=0x378,,x", "RU3_SIMULATOR: key 'ports': not a number: \"0x378,,x\""},
      {"ports=0xFFFF", "RU3_SIMULATOR: key 'ports': base address out of range (0..0xFFFD): \"0xFFFF\""},
      {"port=LPT4", "RU3_SIMULATOR: key 'port': expected LPT1, LPT2, LPT3 or none: \"LPT4\""},
      {"port=LPT2", "RU3_SIMULATOR: key 'port': LPT2 has no base address (see 'ports')"},
      {"caldate=2003-03-15", "RU3_SIMULATOR: key 'caldate': expected YYYY-MM-DDTHH:MM: \"2003-03-15\""},
      {"caldate=2003-13-15T14:30", "RU3_SIMULATOR: key 'caldate': date or time field out of range: \"2003-13-15T14:30\""},
      {"caldate=2003-03-15T24:00", "RU3_SIMULATOR: key 'caldate': date or time field out of range: \"2003-03-15T24:00\""},
      {"eeprom=blank", "RU3_SIMULATOR: key 'eeprom': expected factory or erased: \"blank\""},
      {"driver=no", "RU3_SIMULATOR: key 'driver': expected present or missing: \"no\""},
      {"ch1=sine", "RU3_SIMULATOR: key 'ch1': expected shape,amplitude,frequency[,offset]: \"sine\""},
      {"ch2=pulse,1,2", "RU3_SIMULATOR: key 'ch2': shape must be sine, square, triangle, sawtooth, dc or noise: \"pulse,1,2\""},
      {"ch1=sine,1,fast", "RU3_SIMULATOR: key 'ch1': frequency is not a number: \"sine,1,fast\""},
      {"ch1=sine,1,-3", "RU3_SIMULATOR: key 'ch1': frequency must not be negative: \"sine,1,-3\""},
      {"ch1=sine,nan,3", "RU3_SIMULATOR: key 'ch1': amplitude is not a number: \"sine,nan,3\""},
      {"noise=-0.1", "RU3_SIMULATOR: key 'noise': must not be negative: \"-0.1\""},
      {"colour=blue", "RU3_SIMULATOR: unknown key 'colour'"},
      {"bus_ns=10;verbose", "RU3_SIMULATOR: expected key=value, got \"verbose\""},
  };
  for (const Case& c : cases) {
    SimConfig config;
    std::string error;
    EXPECT_FALSE(ParseSimConfig(c.text, &config, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    std::string factory_error;
    EXPECT_EQ(CreateSimulatorBackend(c.text, &factory_error), nullptr) << c.text;
    EXPECT_EQ(factory_error, c.error);
  }
}

}  // namespace
}  // namespace ru3::sim

namespace ru3::sim {
namespace {

// A lead that identification's delays give simulated time must not stop the
// clock: from there on it still runs at least at wall-clock speed.
TEST(SimTime, KeepsRunningAtWallClockSpeedAfterADelayTookItAhead) {
  SimConfig config;
  SimulatedPc pc(config);
  pc.Delay(2000);  // two seconds ahead of real time
  const std::uint64_t before = pc.NowNs();
  const auto wall_start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - wall_start < std::chrono::milliseconds(30)) {
    (void)pc.In(0x379);
  }
  EXPECT_GE(pc.NowNs() - before, 30'000'000U);
}

}  // namespace
}  // namespace ru3::sim
