// Detection and opening against the simulated PC: which ports are claimed and
// identified in which order, what an opened instrument looks like, and every
// way opening fails.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "api/Exportin.h"
#include "instrument/DUDA3.h"
#include "sim/simulator.h"
#include "support/sim_fixture.h"

namespace ru3 {
namespace {

// Wraps a simulated PC and watches the named devices. A claim whose first port
// write is the probe pattern 0xAA belongs to port discovery; every other
// claim is detection's own. On request it refuses to open a port a second
// time after detection identified on it, or fails a port read while
// detection examines a port.
class DeviceSpy final : public platform::Backend {
 public:
  explicit DeviceSpy(const sim::SimConfig& config) : pc(config) {}

  sim::SimulatedPc pc;
  std::string refuse_after_identification;  // device name
  bool fail_during_identification = false;

  // Names of detection's claims, in the order they were opened.
  [[nodiscard]] std::vector<std::string> Claims() const {
    std::vector<std::string> names;
    for (const Claim& c : claims_) {
      if (!c.probe) names.push_back(c.name);
    }
    return names;
  }
  // Names of the devices open now.
  [[nodiscard]] std::vector<std::string> Held() const {
    std::vector<std::string> names;
    for (const Claim& c : claims_) {
      if (c.open) names.push_back(c.name);
    }
    return names;
  }

  void Out(std::uint16_t port, std::uint8_t value) override {
    for (Claim& c : claims_) {
      if (c.open && c.first_out) {
        c.probe = value == 0xAA;
        c.first_out = false;
      }
    }
    pc.Out(port, value);
  }
  std::uint8_t In(std::uint16_t port) override {
    if (fail_during_identification) {
      for (const Claim& c : claims_) {
        if (c.open && !c.first_out && !c.probe) throw std::runtime_error("port read failed");
      }
    }
    return pc.In(port);
  }
  bool PortDriverPresent() override { return pc.PortDriverPresent(); }
  platform::DeviceHandle OpenDevice(const std::string& name) override {
    if (name == refuse_after_identification) {
      for (const Claim& c : claims_) {
        if (c.name == name && !c.probe && !c.open) return platform::kNoDevice;
      }
    }
    const platform::DeviceHandle handle = pc.OpenDevice(name);
    if (handle != platform::kNoDevice) {
      claims_.push_back({name, handle});
    }
    return handle;
  }
  void CloseDevice(platform::DeviceHandle handle) override {
    for (Claim& c : claims_) {
      if (c.open && c.handle == handle) c.open = false;
    }
    pc.CloseDevice(handle);
  }
  int PlatformId() override { return pc.PlatformId(); }
  std::uint64_t LookupPortBase(const std::string& name) override { return pc.LookupPortBase(name); }
  std::uint32_t TickCount() override { return pc.TickCount(); }
  void Delay(std::int32_t ms) override { pc.Delay(ms); }

 private:
  struct Claim {
    std::string name;
    platform::DeviceHandle handle = platform::kNoDevice;
    bool open = true;
    bool first_out = true;
    bool probe = false;
  };
  std::vector<Claim> claims_;
};

sim::SimConfig Ports(std::array<std::uint16_t, 3> bases, int instrument_port) {
  sim::SimConfig config;
  config.port_bases = bases;
  config.instrument_port = instrument_port;
  return config;
}

class Detection : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMessageSink([this](const std::string& text) { messages.push_back(text); });
    ExitInstrument();
  }
  void TearDown() override {
    ExitInstrument();
    object.reset();
    platform::SetMessageSink(nullptr);
    if (spy != nullptr) platform::ReplaceBackend(std::move(previous));
  }

  void Install(const sim::SimConfig& config) {
    auto backend = std::make_unique<DeviceSpy>(config);
    std::unique_ptr<platform::Backend> replaced = platform::ReplaceBackend(nullptr);
    if (spy == nullptr) previous = std::move(replaced);
    spy = backend.get();
    platform::ReplaceBackend(std::move(backend));
  }

  [[nodiscard]] static VOz3& Instrument() { return *api::State().Instrument; }

  DeviceSpy* spy = nullptr;
  std::unique_ptr<platform::Backend> previous;
  std::unique_ptr<VOz3> object;  // an instrument object built without the frame
  std::vector<std::string> messages;
};

using Names = std::vector<std::string>;

TEST_F(Detection, InstrumentOnLpt2IsFoundAfterLpt1AndKeepsItsClaimUntilExit) {
  Install(Ports({0x378, 0x278, 0}, 1));
  ASSERT_EQ(InitInstrument(0), RU3_OK);
  EXPECT_EQ(Instrument().sPortName, "LPT2");
  EXPECT_EQ(Instrument().nHardwareAddress, 0x278);
  // LPT1 was claimed, found silent and released; LPT2 identified, released
  // and claimed again for good.
  EXPECT_EQ(spy->Claims(), (Names{"LPT1", "LPT2", "LPT2"}));
  EXPECT_EQ(spy->Held(), Names{"LPT2"});
  EXPECT_EQ(spy->pc.OpenDevice("LPT2"), platform::kNoDevice) << "nobody else gets the port";

  EXPECT_EQ(ExitInstrument(), RU3_OK);
  EXPECT_TRUE(spy->Held().empty());
}

TEST_F(Detection, TwoPortsAtOneBaseOpenUnderTheFirstName) {
  Install(Ports({0x3BC, 0x3BC, 0}, 0));
  ASSERT_EQ(InitInstrument(0), RU3_OK);
  EXPECT_EQ(LptAddress, (std::array<std::int32_t, 3>{0x3BC, 0x3BC, 0}));
  EXPECT_EQ(Instrument().sPortName, "LPT1");
  EXPECT_EQ(spy->Held(), Names{"LPT1"});
}

TEST_F(Detection, PreferredPortIsTriedFirstAndAgainInItsTurn) {
  struct Case {
    const char* name;
    int instrument_port;
    std::int32_t preferred;
    Names claims;
    bool open;
    std::int32_t address_after;
  };
  const std::vector<Case> cases = {
      {"instrument on the preferred port", 1, 0x278, {"LPT2", "LPT2"}, true, 0x278},
      {"instrument elsewhere", 0, 0x278, {"LPT2", "LPT1", "LPT1"}, true, 0x378},
      {"no instrument", -1, 0x278, {"LPT2", "LPT1", "LPT2"}, false, 0},
      {"preferred base unknown", 1, 0x1234, {"LPT1", "LPT2", "LPT2"}, true, 0x278},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Install(Ports({0x378, 0x278, 0}, c.instrument_port));
    object = std::make_unique<VOz3>();
    object->nHardwareAddress = c.preferred;
    EXPECT_EQ(object->OpenInstrument(), c.open);
    EXPECT_EQ(object->bInstrumentOpen, c.open);
    EXPECT_EQ(spy->Claims(), c.claims);
    EXPECT_EQ(object->nHardwareAddress, c.address_after);
    object->CloseHardware();
    EXPECT_TRUE(spy->Held().empty());
    object.reset();
  }
}

TEST_F(Detection, FailedOpeningsLeaveNothingOpenAndTouchNoPortOnClose) {
  struct Case {
    const char* name;
    sim::SimConfig config;
    Names claims;
    std::size_t notices;
  };
  sim::SimConfig no_driver = Ports({0x378, 0x278, 0}, 0);
  no_driver.driver_present = false;
  sim::SimConfig erased = Ports({0x378, 0, 0}, 0);
  erased.erased_eeprom = true;
  const std::vector<Case> cases = {
      {"driver missing", no_driver, {}, 1},
      {"no printer port", Ports({0, 0, 0}, -1), {}, 0},
      {"erased memory", erased, {"LPT1"}, 0},
      {"nothing connected", Ports({0x378, 0x278, 0x3BC}, -1), {"LPT1", "LPT2", "LPT3"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages.clear();
    Install(c.config);
    EXPECT_EQ(InitInstrument(0), RU3_NO_INSTRUMENT);
    ASSERT_NE(api::State().Instrument, nullptr);
    EXPECT_FALSE(Instrument().bInstrumentOpen);
    EXPECT_FALSE(Instrument().TimerEnabled());
    EXPECT_EQ(Instrument().nHardwareAddress, c.config.port_bases[2]);
    EXPECT_EQ(spy->Claims(), c.claims);
    EXPECT_TRUE(spy->Held().empty());
    EXPECT_EQ(GetMaxSampleFrequency(), 0);
    EXPECT_EQ(messages.size(), c.notices);
    if (!c.config.driver_present) {
      EXPECT_EQ(messages.front(), kPortDriverMessage);
      EXPECT_EQ(spy->pc.AccessCount(), 0U);
    }
    // Closing after a failed open resets no outputs: no port is touched.
    const std::uint64_t accesses = spy->pc.AccessCount();
    EXPECT_EQ(ExitInstrument(), RU3_OK);
    EXPECT_EQ(spy->pc.AccessCount(), accesses);
    EXPECT_EQ(messages.size(), c.notices) << "the notice is shown once";
  }
}

TEST_F(Detection, AFailureWhileIdentifyingLeavesNoClaimAndNoInstrument) {
  Install(Ports({0x378, 0, 0}, 0));
  spy->fail_during_identification = true;
  EXPECT_EQ(InitInstrument(0), RU3_NO_INSTRUMENT);
  EXPECT_FALSE(Instrument().bInstrumentOpen);
  EXPECT_EQ(Instrument().hPortClaim, platform::kNoDevice);
  EXPECT_TRUE(spy->Held().empty());
}

TEST_F(Detection, AnInstrumentWhosePortCannotBeClaimedAgainIsNotOpen) {
  Install(Ports({0x378, 0x278, 0}, 1));
  spy->refuse_after_identification = "LPT2";
  EXPECT_EQ(InitInstrument(0), RU3_NO_INSTRUMENT);
  EXPECT_FALSE(Instrument().bInstrumentOpen);
  EXPECT_TRUE(spy->Held().empty());
}

TEST_F(Detection, ClaimsAreExclusiveAndReleasingTwiceIsHarmless) {
  Install(Ports({0x378, 0x278, 0}, 0));
  object = std::make_unique<VOz3>();
  const platform::DeviceHandle other = spy->pc.OpenDevice("LPT1");  // another program holds LPT1
  ASSERT_NE(other, platform::kNoDevice);
  EXPECT_FALSE(object->ClaimPort("LPT1"));
  EXPECT_EQ(object->hPortClaim, platform::kNoDevice);
  EXPECT_TRUE(object->ClaimPort("LPT2"));
  // Claiming again gives up the earlier claim first.
  EXPECT_TRUE(object->ClaimPort("LPT2"));
  EXPECT_EQ(spy->Held(), Names{"LPT2"});
  object->ReleasePort();
  object->ReleasePort();
  EXPECT_TRUE(spy->Held().empty());
  spy->pc.CloseDevice(other);
}

// ---- Through the frame, with the shared simulator fixture -------------------

class OpenedInstrument : public test::SimFixture {};

TEST_F(OpenedInstrument, IsIdentifiedCalibratedAndHasItsOutputsAtZero) {
  ASSERT_EQ(init_status, RU3_OK);
  VOz3& instrument = *api::State().Instrument;
  EXPECT_EQ(instrument.nSerialNumber, static_cast<std::int32_t>(sim().config().serial));
  EXPECT_EQ(instrument.nMaxRecordLength, 32760);
  EXPECT_FALSE(instrument.bTrigMode4);
  // The front end holds the calibration of range 10 on both channels.
  for (int ch = 1; ch <= 2; ++ch) {
    SCOPED_TRACE(ch);
    const sim::CalibrationCodes cal = sim::FactoryCalibration(ch, 10);
    const sim::InputStageState stage = sim().InputStage(ch);
    EXPECT_EQ(stage.range, 10);
    EXPECT_EQ(stage.group, 3);
    EXPECT_EQ(stage.gain_code, cal.gain);
    EXPECT_EQ(stage.offset_mean_code, static_cast<std::uint16_t>(RoundHalfEven((cal.gain + cal.offset) / 2.0L)));
    EXPECT_EQ(stage.trim_a, cal.trim_a);
    EXPECT_EQ(stage.trim_b, cal.trim_b);
    EXPECT_EQ(sim().DacCode(1, ch), 2048);
  }
  EXPECT_EQ(sim().MotorBits(), 0);
  // Identification alone waits half a second of instrument time.
  EXPECT_GE(sim().NowNs(), 500'000'000U);
}

TEST_F(OpenedInstrument, ExitWithAnotherUnitSelectedThenInitOpensAgain) {
  ASSERT_EQ(init_status, RU3_OK);
  ASSERT_EQ(SetActiveRU3(2), RU3_OK);
  ASSERT_EQ(ExitInstrument(), RU3_OK);
  ASSERT_EQ(InitInstrument(0), RU3_OK);
  std::uint8_t unit = 0xEE;
  EXPECT_EQ(GetActiveRU3(&unit), RU3_OK);
  EXPECT_EQ(unit, 0);
  std::int32_t serial = 0;
  EXPECT_EQ(GetSerialNumber(&serial), RU3_OK);
  EXPECT_EQ(serial, static_cast<std::int32_t>(sim().config().serial));
  // Unit 1 is addressed: its front end took range 10 again, and a
  // measurement comes back.
  EXPECT_EQ(sim().InputStage(1).range, 10);
  ASSERT_EQ(SetTriggerTimeOut(0), RU3_OK);
  EXPECT_EQ(StartMeasurement(), RU3_OK);
}

TEST_F(OpenedInstrument, VariantByteSetsTheClockLimits) {
  struct Case {
    std::uint8_t variant;
    std::int32_t max_frequency;
    double sample_rate;
    int register7;
  };
  const std::vector<Case> cases = {{0x10, 200000, 200000, 9}, {0xFF, 200000, 200000, 9}, {0x11, 400000, 400000, 9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.variant));
    sim::SimConfig config;
    config.variant = c.variant;
    Open(config);
    ASSERT_EQ(init_status, RU3_OK);
    EXPECT_EQ(GetMaxSampleFrequency(), c.max_frequency);
    EXPECT_EQ(GetMaxSampleFrequencyF(), c.max_frequency);
    EXPECT_EQ(api::State().Instrument->rSampleFreq, c.max_frequency);
    EXPECT_EQ(sim().SampleRateHz(), c.sample_rate);
    EXPECT_EQ(int{sim().Register(1, 7)}, c.register7);
  }
  // The fast variant (opened last) divides its clock with clock select 0.
  double rate = 200000;
  EXPECT_EQ(SetSampleFrequencyF(&rate), RU3_OK);
  EXPECT_EQ(int{sim().Register(1, 7)}, 1);
  EXPECT_EQ(sim().SampleRateHz(), 200000);
}

TEST_F(OpenedInstrument, AFrequencyAtOrAbove400kHzReportsTheRateTheClockRuns) {
  for (const std::uint8_t variant : {0x10, 0x11}) {
    SCOPED_TRACE(int(variant));
    sim::SimConfig config;
    config.variant = variant;
    Open(config);
    ASSERT_EQ(init_status, RU3_OK);
    for (const double wanted : {400000.0, 1e6, 5e9}) {
      double rate = wanted;
      EXPECT_EQ(SetSampleFrequencyF(&rate), RU3_OK);
      EXPECT_EQ(rate, sim().SampleRateHz()) << wanted;
      EXPECT_EQ(GetSampleFrequencyF(), sim().SampleRateHz()) << wanted;
      EXPECT_EQ(int{sim().Register(1, 7)}, 9);  // the registers as before
      EXPECT_EQ(sim().Counter(3), 0xFFFF);
    }
    EXPECT_EQ(sim().SampleRateHz(), variant == 0x11 ? 400000 : 200000);
  }
}

}  // namespace
}  // namespace ru3
