// A back end for protocol tests: records every port access in order and
// answers reads from a script (a queue of status values, then a default).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/host.h"

namespace ru3::test {

struct Access {
  bool out;  // true: output, false: input
  std::uint16_t port;
  std::uint8_t value;
  bool operator==(const Access&) const = default;
};

class RecordingBackend : public platform::Backend {
 public:
  std::vector<Access> log;
  std::deque<std::uint8_t> reads;   // answers to the next inputs, in order
  std::uint8_t default_read = 0xFF;
  bool driver_present = true;
  std::set<std::string> devices{"LPT1", "LPT2", "LPT3"};  // names that open
  std::set<std::string> held;
  std::uint64_t ticks_ms = 0;       // simulated tick count
  std::uint32_t tick_base = 0;
  std::vector<std::int32_t> delays;
  std::vector<std::string> opened;  // every successful OpenDevice, in order

  void Out(std::uint16_t port, std::uint8_t value) override { log.push_back({true, port, value}); }
  std::uint8_t In(std::uint16_t port) override {
    std::uint8_t v = default_read;
    if (!reads.empty()) {
      v = reads.front();
      reads.pop_front();
    }
    log.push_back({false, port, v});
    return v;
  }
  bool PortDriverPresent() override { return driver_present; }
  platform::DeviceHandle OpenDevice(const std::string& name) override {
    if (devices.count(name) == 0 || held.count(name) != 0) return platform::kNoDevice;
    held.insert(name);
    opened.push_back(name);
    return static_cast<platform::DeviceHandle>(name.back() - '0');
  }
  void CloseDevice(platform::DeviceHandle handle) override {
    held.erase("LPT" + std::to_string(static_cast<int>(handle)));
  }
  std::uint32_t TickCount() override { return static_cast<std::uint32_t>(tick_base + ticks_ms); }
  void Delay(std::int32_t ms) override {
    delays.push_back(ms);
    if (ms > 0) ticks_ms += static_cast<std::uint64_t>(ms);
  }

  // Only the outputs to one port, in order.
  [[nodiscard]] std::vector<std::uint8_t> OutputsTo(std::uint16_t port) const {
    std::vector<std::uint8_t> values;
    for (const Access& a : log) {
      if (a.out && a.port == port) values.push_back(a.value);
    }
    return values;
  }
};

}  // namespace ru3::test
