// A test fixture that puts the simulated PC and RU3 behind the port
// primitives and opens the instrument on it through InitInstrument.
//
//   class MyTest : public test::SimFixture {};            // default instrument
//   TEST_F(MyTest, X) { ASSERT_EQ(init_status, 0); ... sim().Register(1, 10) ... }
//
//   class Fast : public test::SimFixture {
//     std::string Config() const override { return "variant=0x11"; }
//   };
//
// Config() is an RU3_SIMULATOR value. A test may also call Open() again with
// another configuration; ExitInstrument runs first. TearDown exits and puts
// the previous back end back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "instrument/DUDA3.h"
#include "platform/host.h"
#include "ru3/ru3.h"
#include "sim/simulator.h"

namespace ru3::test {

class SimFixture : public ::testing::Test {
 protected:
  // The simulator configuration, RU3_SIMULATOR syntax; empty = defaults.
  [[nodiscard]] virtual std::string Config() const { return {}; }

  void SetUp() override {
    platform::SetMessageSink([this](const std::string& text) { messages.push_back(text); });
    Open(Config());
  }

  void TearDown() override {
    ExitInstrument();
    platform::SetMessageSink(nullptr);
    if (installed_) platform::ReplaceBackend(std::move(previous_));
    installed_ = false;
  }

  // Builds a simulator from `config`, installs it and runs InitInstrument;
  // the status lands in init_status.
  void Open(const std::string& config) {
    std::string error;
    std::unique_ptr<platform::Backend> backend = sim::CreateSimulatorBackend(config, &error);
    ASSERT_NE(backend, nullptr) << "simulator configuration '" << config << "': " << error;
    Install(std::move(backend));
  }
  void Open(const sim::SimConfig& config) { Install(std::make_unique<sim::SimulatedPc>(config)); }

  // The simulated PC now in use.
  [[nodiscard]] sim::SimulatedPc& sim() const { return *sim_; }

  std::uint16_t init_status = 0xFFFF;
  std::vector<std::string> messages;  // every notice shown, in order

 private:
  void Install(std::unique_ptr<platform::Backend> backend) {
    ExitInstrument();
    sim_ = dynamic_cast<sim::SimulatedPc*>(backend.get());
    ASSERT_NE(sim_, nullptr) << "not a simulated PC";
    std::unique_ptr<platform::Backend> replaced = platform::ReplaceBackend(std::move(backend));
    if (!installed_) previous_ = std::move(replaced);
    installed_ = true;
    init_status = InitInstrument(0);
  }

  sim::SimulatedPc* sim_ = nullptr;
  std::unique_ptr<platform::Backend> previous_;
  bool installed_ = false;
};

}  // namespace ru3::test
