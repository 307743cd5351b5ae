// The fixture of the measurement tests through the exports: the simulated
// instrument opened, simulated time running only with the port traffic, and
// the helpers a host-like test needs (waiting for a record, setting a range,
// touching the object under the library lock, a sine and its peak).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

#include "api/Exportin.h"
#include "support/sim_fixture.h"

namespace ru3::test {

using sim::Shape;
using sim::SignalSource;

constexpr int kRecord = 512;

class MeasureFixture : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_EQ(init_status, RU3_OK);
    // Simulated time runs only with the port traffic: every wait below is
    // exact and costs no real time.
    sim().SetWallClockCoupling(false);
  }

  static VOz3& Object() { return *api::State().Instrument; }

  // Polls ADC_Ready as a host does; false if it never came.
  static bool WaitReady(int limit = 1000000) {
    for (int i = 0; i < limit; ++i) {
      if (ADC_Ready() == 1) return true;
    }
    return false;
  }

  void SetRange(std::uint32_t ch, double volts) {
    double range = volts;
    ASSERT_EQ(SetSensitivity(ch, &range), RU3_OK);
    ASSERT_EQ(range, volts);
  }

  // Runs `action` on the object under the library lock, as the timer does.
  template <typename F>
  static void Locked(F action) {
    std::lock_guard lock(platform::LibraryMutex());
    action(Object());
  }

  // A 0.3 V sine on channel 1, measured on the 2 V range.
  void SineOnTwoVolts() {
    sim().SetInput(1, SignalSource{Shape::kSine, 0.3, 1000.0, 0.0, 0.0});
    SetRange(1, 2.0);
  }

  static double Peak(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

  static double Rms(const std::vector<double>& v) {
    double mean = 0.0;
    for (double x : v) mean += x;
    mean /= static_cast<double>(v.size());
    double sum = 0.0;
    for (double x : v) sum += (x - mean) * (x - mean);
    return std::sqrt(sum / static_cast<double>(v.size()));
  }
};

}  // namespace ru3::test
