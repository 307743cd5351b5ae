// A recording back end that also understands the register protocol: it
// decodes every register write, answers register reads from a function of the
// register number, and presents samples on the sample lane (read-back select
// 3). Tests of the acquisition engine and the read-out use it to script the
// status register, the write pointer and the samples without a simulator.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "support/recording_backend.h"

namespace ru3::test {

class RegisterFake : public RecordingBackend {
 public:
  explicit RegisterFake(std::uint16_t base = 0x378) : base_(base) {}

  // Value read back from a register (8 bits). Asked once per register read.
  std::function<std::uint8_t(int reg)> register_value = [](int) -> std::uint8_t { return 0; };
  // 12-bit sample j (0-based, counted from the lane's selection) of channel ch.
  std::function<std::uint16_t(int ch, int j)> sample = [](int, int) -> std::uint16_t { return 0x800; };
  // Repeat count of the library's port accesses (2 with bSlowIO).
  int repeats = 1;
  // Simulated time per port access, in microseconds (0: time stands still
  // except through Delay).
  std::uint64_t access_cost_us = 0;
  // When set, every status read answers this byte, as a port with nothing
  // attached floats.
  bool floating = false;
  std::uint8_t floating_value = 0xFF;
  // False: nothing is logged (long runs, allocation counts); register
  // writes are still decoded.
  bool record = true;
  // Status bits outside 3..6 that the lane drives as well (the library must
  // ignore them).
  std::uint8_t lane_noise = 0;

  // Called on every decoded register write.
  std::function<void(int reg, int value)> on_write;

  // Decoded register writes, in order.
  std::vector<std::pair<int, int>> writes;
  // Samples presented per channel since the last lane selection, and in all.
  int lane_samples[3] = {0, 0, 0};
  int total_samples[3] = {0, 0, 0};

  void Out(std::uint16_t port, std::uint8_t value) override {
    if (record) RecordingBackend::Out(port, value);
    Spend();
    if (port == base_) {
      data_ = value;
    } else if (port == base_ + 2) {
      // A strobe acts on its leading edge; a slow port repeats it.
      if (value == 0x0C && control_ != 0x0C) address_ = data_ & 0x0F;
      if (value == 0x06 && control_ != 0x06) OnWrite(address_, data_ & 0x0F);
      control_ = value;
    }
  }

  std::uint8_t In(std::uint16_t port) override {
    Spend();
    std::uint8_t v = 0;
    if (floating) {
      v = floating_value;
    } else if (select_ == 3) {
      v = LaneRead();
    } else {
      if (!cached_) {
        value_ = register_value(select_);
        cached_ = true;
      }
      const int nibble = (data_ & 0x80) != 0 ? value_ >> 4 : value_ & 0x0F;
      v = static_cast<std::uint8_t>(nibble << 3);
    }
    if (record) log.push_back({false, port, v});
    return v;
  }

  void Delay(std::int32_t ms) override {
    if (record) {
      RecordingBackend::Delay(ms);
    } else if (ms > 0) {
      ticks_ms += static_cast<std::uint64_t>(ms);
    }
  }

  std::uint32_t TickCount() override { return static_cast<std::uint32_t>(tick_base + ticks_ms + micros_ / 1000); }

  [[nodiscard]] std::uint64_t ElapsedMs() const { return ticks_ms + micros_ / 1000; }
  [[nodiscard]] std::uint64_t ElapsedUs() const { return ticks_ms * 1000 + micros_; }

  // The 16-bit values loaded into counter `strobe` (2, 3 or 4), decoded from
  // the bit-by-bit latch writes through register 5.
  [[nodiscard]] std::vector<std::uint16_t> CounterLoads(int strobe) const {
    std::vector<std::uint16_t> loads;
    int reg5 = 0;
    std::uint16_t value = 0;
    int bits = 0;
    for (const auto& [reg, v] : writes) {
      if (reg == 5) reg5 = v;
      if (reg != strobe || v == 0) continue;
      int latch = 0;
      while ((1 << latch) != v && latch < 4) ++latch;
      const int bit = 4 * latch + 3 - (reg5 & 3);
      if ((reg5 & 4) != 0) value = static_cast<std::uint16_t>(value | (1U << bit));
      if (++bits == 16) {
        loads.push_back(value);
        value = 0;
        bits = 0;
      }
    }
    return loads;
  }

  // Status bytes that present the 12-bit sample v in three reads.
  static std::uint8_t LaneNibble(std::uint16_t v, int part) {
    const std::uint16_t inverted = v ^ 0xFFF;
    const int shift = part == 0 ? 4 : part == 1 ? 8 : 0;
    return static_cast<std::uint8_t>(((inverted >> shift) & 0x0F) << 3);
  }

  // The register read-back count that places the newest sample at w.
  static std::uint16_t PointerCount(int w) { return static_cast<std::uint16_t>(2 * (32765 - w)); }

 private:
  void Spend() { micros_ += access_cost_us; }

  void OnWrite(int reg, int value) {
    if (record) writes.emplace_back(reg, value);
    if (on_write) on_write(reg, value);
    if (reg == 15) {
      select_ = value;
      cached_ = false;
      if (value == 3) {
        lane_reads_ = 0;
        lane_samples[1] = lane_samples[2] = 0;
      }
    }
  }

  std::uint8_t LaneRead() {
    const int ch = (data_ & 0x40) != 0 ? 1 : 2;
    const int index = lane_reads_++ / repeats;
    const int part = index % 3;
    const int j = index / 3;
    if (part == 2 && (lane_reads_ % repeats) == 0) {
      lane_samples[ch] = j + 1;
      ++total_samples[ch];
    }
    return static_cast<std::uint8_t>(LaneNibble(sample(ch, j), part) | lane_noise);
  }

  std::uint16_t base_;
  std::uint8_t data_ = 0xFF;
  std::uint8_t control_ = 0x04;
  int address_ = 0;
  int select_ = 0;
  bool cached_ = false;
  std::uint8_t value_ = 0;
  int lane_reads_ = 0;
  std::uint64_t micros_ = 0;
};

}  // namespace ru3::test
