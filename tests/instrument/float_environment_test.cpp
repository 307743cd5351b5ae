// The library's results do not depend on the host's floating-point
// environment: rounding mode, and on x86 the x87 unit's precision control.
#include <gtest/gtest.h>

#include <cfenv>
#include <cstdint>
#include <mutex>
#include <vector>

#include "api/Exportin.h"
#include "support/sim_fixture.h"

namespace ru3 {
namespace {

#if defined(__i386__) || defined(__x86_64__)
constexpr bool kHasX87 = true;
std::uint16_t X87Control() {
  std::uint16_t cw = 0;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}
void SetX87Control(std::uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }
#else
constexpr bool kHasX87 = false;
std::uint16_t X87Control() { return 0; }
void SetX87Control(std::uint16_t) {}
#endif

// The environment a host may run in: a rounding mode and an x87 precision
// (24, 53 or 64 bits). Restored at the end of the scope.
class HostEnvironment {
 public:
  HostEnvironment(int rounding, int precision_bits) {
    std::fegetenv(&saved_);
    std::fesetround(rounding);
    if (kHasX87) {
      const std::uint16_t pc = precision_bits == 24 ? 0x000 : precision_bits == 53 ? 0x200 : 0x300;
      SetX87Control(static_cast<std::uint16_t>((X87Control() & ~0x0300) | pc));
    }
    rounding_ = std::fegetround();
    x87_ = X87Control();
  }
  ~HostEnvironment() { std::fesetenv(&saved_); }
  HostEnvironment(const HostEnvironment&) = delete;
  HostEnvironment& operator=(const HostEnvironment&) = delete;

  // The library left the host's settings as they were.
  [[nodiscard]] bool Intact() const { return std::fegetround() == rounding_ && X87Control() == x87_; }

 private:
  std::fenv_t saved_{};
  int rounding_ = 0;
  std::uint16_t x87_ = 0;
};

struct Case {
  const char* name;
  int rounding;
  int precision_bits;
};
const Case kHosts[] = {
    {"toward zero", FE_TOWARDZERO, 64},
    {"downward", FE_DOWNWARD, 64},
    {"x87 at 53 bits", FE_TONEAREST, 53},
    {"x87 at 24 bits", FE_TONEAREST, 24},
    {"toward zero, x87 at 53 bits", FE_TOWARDZERO, 53},
};

class FloatEnvironmentTest : public test::SimFixture {
 protected:
  void SetUp() override {
    test::SimFixture::SetUp();
    ASSERT_EQ(init_status, RU3_OK);
    sim().SetWallClockCoupling(false);
  }

  // What a host reads back from the library.
  struct Results {
    std::uint16_t dac_code = 0;
    double rate_31000 = 0.0;
    std::uint16_t divider_31000 = 0;
    double rate_of_10239 = 0.0;  // 400 kHz / 10239: its quotient rounds differently at 53 bits
    double trigger_level = 0.0;
    std::vector<double> volts;
    bool operator==(const Results&) const = default;
  };

  Results Run() {
    Results r;
    EXPECT_EQ(SetDAC7394(-7.3, 0.0), RU3_OK);
    r.dac_code = sim().DacCode(1, 1);
    r.rate_31000 = 31000.0;
    EXPECT_EQ(SetSampleFrequencyF(&r.rate_31000), RU3_OK);
    r.divider_31000 = sim().Counter(3);
    r.rate_of_10239 = 400000.0 / 10239;
    EXPECT_EQ(SetSampleFrequencyF(&r.rate_of_10239), RU3_OK);
    EXPECT_EQ(SetTriggerLevel(1, 0.3), RU3_OK);
    EXPECT_EQ(GetTriggerLevel(1, &r.trigger_level), RU3_OK);
    r.volts.resize(512);
    std::vector<double> ch2(512);
    EXPECT_EQ(GetMeasurement(r.volts.data(), ch2.data()), RU3_OK);
    return r;
  }
};

TEST_F(FloatEnvironmentTest, ResultsAreTheSameWhateverTheHostHasSet) {
  double range = 0.8;
  ASSERT_EQ(SetSensitivity(1, &range), RU3_OK);
  ASSERT_EQ(SetTriggerTimeOut(0), RU3_OK);
  ASSERT_EQ(StartMeasurement(), RU3_OK);  // a record on 0.8 V to convert
  const Results expected = Run();
  EXPECT_EQ(expected.dac_code, 553);  // (-7.3 + 10) / 20 * 4096 = 552.96
  EXPECT_EQ(expected.rate_31000, static_cast<double>(400000.0L / 13));
  EXPECT_EQ(expected.divider_31000, 0xFFFF - 11);

  for (const Case& c : kHosts) {
    SCOPED_TRACE(c.name);
    const HostEnvironment host(c.rounding, c.precision_bits);
    const Results seen = Run();
    EXPECT_TRUE(host.Intact());
    EXPECT_EQ(seen.dac_code, expected.dac_code);
    EXPECT_EQ(seen.rate_31000, expected.rate_31000);
    EXPECT_EQ(seen.divider_31000, expected.divider_31000);
    EXPECT_EQ(seen.rate_of_10239, expected.rate_of_10239);
    EXPECT_EQ(seen.trigger_level, expected.trigger_level);
    EXPECT_EQ(seen.volts, expected.volts);
  }
}

TEST_F(FloatEnvironmentTest, ATimerTickFromTheHostsThreadComputesLikeTheExports) {
  // On Windows the tick arrives through the host's message loop, in the
  // host's environment: the clock it programs at the arm stays exact.
  double rate = 31000.0;
  ASSERT_EQ(SetSampleFrequencyF(&rate), RU3_OK);
  VOz3& o = *api::State().Instrument;
  for (const Case& c : kHosts) {
    SCOPED_TRACE(c.name);
    {
      const HostEnvironment host(c.rounding, c.precision_bits);
      std::lock_guard lock(platform::LibraryMutex());
      o.amAcquisitionMode = TAcquisitionMode::amContinuous;
      o.bArmed = false;
      o.TimerTick();
      o.amAcquisitionMode = TAcquisitionMode::amHold;
      EXPECT_TRUE(host.Intact());
    }
    EXPECT_EQ(GetSampleFrequencyF(), static_cast<double>(400000.0L / 13));
    EXPECT_EQ(sim().Counter(3), 0xFFFF - 11);
  }
}

}  // namespace
}  // namespace ru3
