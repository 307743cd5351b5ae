// A port-level driver for simulator tests: the register protocol and the
// instrument's serial and acquisition sequences written out byte by byte, with
// no library code, so that the simulated instrument is tested on its own.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/simulator.h"

namespace ru3::sim::test {

class PortDriver {
 public:
  explicit PortDriver(platform::Backend& pc, std::uint16_t base = 0x378) : pc_(pc), base_(base) {}

  // Units 1..4.
  void SelectUnit(int unit) { unit_bits_ = static_cast<std::uint8_t>((4 - unit) << 4); }
  void SetSlowIo(bool on) { repeat_ = on ? 2 : 1; }

  [[nodiscard]] std::uint8_t Byte(int nibble) const {
    return static_cast<std::uint8_t>(0xC0 | unit_bits_ | (nibble & 0x0F));
  }
  [[nodiscard]] std::uint8_t Idle() const { return Byte(15); }

  void Data(std::uint8_t v) { pc_.Out(base_, v); }
  std::uint8_t Status() { return pc_.In(static_cast<std::uint16_t>(base_ + 1)); }
  void Control(std::uint8_t v) { pc_.Out(static_cast<std::uint16_t>(base_ + 2), v); }

  void Write(int reg, int value) {
    Cycle(reg, 0x0C);
    Cycle(value, 0x06);
    Data(Idle());
  }

  int Read(int reg) {
    Cycle(15, 0x0C);
    Cycle(reg, 0x06);
    int hi = 0;
    int lo = 0;
    for (int i = 0; i < repeat_; ++i) Data(Idle() | 0x80);
    for (int i = 0; i < repeat_; ++i) hi = (Status() >> 3) & 0x0F;
    for (int i = 0; i < repeat_; ++i) Data(Idle() & 0x7F);
    for (int i = 0; i < repeat_; ++i) lo = (Status() >> 3) & 0x0F;
    Data(Idle());
    return hi * 16 + lo;
  }

  void Latch16(int strobe, std::uint16_t w) {
    for (int i = 0; i < 4; ++i) {
      const int q = (w >> (4 * i)) & 0x0F;
      for (int j = 0; j < 4; ++j) {
        Write(5, j + 4 * ((q >> (3 - j)) & 1));
        Write(strobe, 1 << i);
        Write(strobe, 0);
      }
    }
  }

  void Shift16(int target, std::uint16_t w) {
    Write(5, 7);
    Write(12, 0);
    Write(5, 3);
    Write(5, 7);
    Write(5, 5);
    for (int bit = 15; bit >= 0; --bit) {
      Write(8, ((w >> bit) & 1) != 0 ? (target == 1 ? 1 : 2) : 0);
      Write(5, 4);
      Write(5, 5);
    }
    Write(5, 7);
    Write(8, 0);
    Write(12, 1);
  }

  void ConverterLoad(int target, int p, int q) {
    Shift16(target, 0xC300);
    Shift16(target, static_cast<std::uint16_t>(0x8000 | (p & 0x3FFF)));
    Shift16(target, static_cast<std::uint16_t>(0x8000 | (q & 0x3FFF)));
    for (int i = 0; i < 8; ++i) Shift16(target, 0xA000);
  }

  void RelayByte(std::uint8_t b) {
    Write(5, 0);
    int d = 0;
    for (int bit = 7; bit >= 0; --bit) {
      d = ((b >> bit) & 1) != 0 ? 4 : 0;
      Write(5, d);
      Write(5, d + 8);
    }
    Write(5, d);
    Write(5, 0);
  }

  void TrimPair(int ch, int a, int b) {
    const int inv = 255 - b;
    const int s = ch == 1 ? 2 : 1;
    const int first = ch == 1 ? a : inv;
    const int second = ch == 1 ? inv + 256 : a + 256;
    for (const int word : {first, second}) {
      Write(9, s);
      for (int bit = 9; bit >= 0; --bit) {
        const int d = ((word >> bit) & 1) != 0 ? 4 : 0;
        Write(5, d);
        Write(5, d + 1);
      }
      Write(9, 3);
    }
  }

  // The channel's codes of range r from the factory table, loaded the way the
  // front-end upload loads them; `relay` the whole relay byte.
  void LoadRange(int ch, int range) {
    const CalibrationCodes c = FactoryCalibration(ch, range);
    TrimPair(ch, c.trim_a, c.trim_b);
    Shift16(ch, 0x4000);
    ConverterLoad(ch, c.gain, (c.offset + c.gain) / 2);
  }

  void SetDac(int code1, int code2) {
    Write(5, 0);
    for (const auto& [select, code] : {std::pair{7, code1}, std::pair{11, code2}}) {
      Write(9, select);
      for (int mask = 0x800; mask != 0; mask >>= 1) {
        const int d = (code & mask) != 0 ? 4 : 0;
        Write(5, d);
        Write(5, d + 1);
        Write(5, d);
      }
      Write(9, 3);
    }
  }

  // ---- Two-wire bus on register 6 / status bit 4 of register 2 ----
  void Lines(int sda, int scl) { Write(6, 0x0C + 2 * sda + scl); }
  int Sample(int scl) {
    Write(6, 0x08 + scl);
    return (Read(2) >> 4) & 1;
  }
  // Sends a byte and returns the acknowledge bit the device drove (0 = ack).
  int SendByte(int b) {
    for (int bit = 7; bit >= 0; --bit) {
      const int d = (b >> bit) & 1;
      Lines(d, 0);
      Lines(d, 1);
      Lines(d, 0);
    }
    Sample(0);
    const int ack = Sample(1);
    Lines(0, 0);
    return ack;
  }
  int Start(int device_byte) {
    Lines(1, 1);
    Lines(0, 1);
    Lines(0, 0);
    return SendByte(device_byte);
  }
  void Stop() {
    Lines(0, 1);
    Lines(1, 1);
  }
  int ReceiveByte(bool ack) {
    int v = 0;
    for (int bit = 7; bit >= 0; --bit) {
      Sample(0);
      v |= Sample(1) << bit;
      Sample(0);
    }
    const int d = ack ? 0 : 1;
    Lines(d, 0);
    Lines(d, 1);
    Lines(d, 0);
    return v;
  }
  // Random read: address write, stop, start, read.
  std::vector<int> ReadMemory(int address, int count) {
    Start(0xA0);
    SendByte(address);
    Stop();
    Start(0xA1);
    std::vector<int> bytes;
    for (int i = 0; i < count; ++i) bytes.push_back(ReceiveByte(i + 1 < count));
    Stop();
    return bytes;
  }

  // ---- Acquisition ----
  void Arm(int post_samples) {
    Latch16(4, static_cast<std::uint16_t>(2 * (32768 - post_samples) - 1));
    for (const auto& [r, v] : {std::pair{12, 1}, {8, 0}, {0, 2}, {13, 7}, {1, 14}, {1, 0}, {13, 15}}) Write(r, v);
  }
  bool Ready() { return (Read(2) & 0x80) == 0; }
  int WritePointer() {
    const int p = ((Read(1) << 8) | Read(0)) >> 1;
    const int w = 32765 - p;
    return w < 0 ? w + 32768 : w;
  }
  // Positions the read address at s: the seek of the read-out (s > 0).
  void Seek(int s, int clock_select = 8) {
    Latch16(4, static_cast<std::uint16_t>(2 * (32768 - s) - 1));
    Write(0, 0);
    Write(7, clock_select + 3);
    for (const auto& [r, v] : {std::pair{13, 2}, {1, 6}, {1, 0}, {13, 10}}) Write(r, v);
    for (int i = 0; i < 100000 && !Ready(); ++i) {
    }
    Write(13, 2);
    Write(7, clock_select + 1);
  }
  // The read-out of one channel: buffer positions 0..n+1 with o = 0 or 2, as
  // the library's read-out fills them (0x7FFF where nothing lands).
  std::vector<std::uint16_t> ReadSamples(int ch, int s, int k, int n, int o) {
    std::vector<std::uint16_t> buffer(static_cast<std::size_t>(n + 2), 0x7FFF);
    if (s == 0) {
      Write(1, 4);
      Write(1, 0);
    } else {
      Seek(s);
    }
    Write(13, 0);
    Write(0, 1);
    Write(15, 3);
    const std::uint8_t idle = Idle();
    const auto h = static_cast<std::uint8_t>(ch == 1 ? idle : idle & 0xBF);
    const auto l = static_cast<std::uint8_t>(ch == 1 ? idle & 0x7F : idle & 0x3F);
    for (int i = 0; i < (s == 0 ? 3 : 2); ++i) {
      Data(h);
      Data(l);
    }
    for (int i = n - k - 2 + o; i <= n - 1 + o; ++i) {
      Data(l);
      const int s1 = Status();
      Data(h);
      const int s2 = Status();
      Data(l);
      Data(h);
      const int s3 = Status();
      const int code = (((s1 << 1) & 0xF0) | ((s2 << 5) & 0xF00) | ((s3 >> 3) & 0x0F)) ^ 0xFFF;
      if (i >= 0) buffer[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(code << 4);
    }
    Write(13, 2);
    Write(0, 0);
    return buffer;
  }
  // Where the read-out of a record of n = pre + post starts (s) and how many
  // samples it asks for (k), from the wrap bit and the write pointer.
  struct Plan {
    int s;
    int k;
  };
  Plan PlanReadout(int n) {
    const bool wrapped = (Read(2) & 0x40) != 0;
    const int w = WritePointer();
    Plan plan{w - n, n};
    if (wrapped) {
      if (plan.s < 0) plan.s += 32768;
    } else if (plan.s < 0) {
      plan = Plan{0, w};
    }
    return plan;
  }
  std::vector<std::uint16_t> Readout(int ch, int n, int o) {
    const Plan plan = PlanReadout(n);
    return ReadSamples(ch, plan.s, plan.k, n, o);
  }

 private:
  void Cycle(int nibble, std::uint8_t strobe) {
    for (int i = 0; i < repeat_; ++i) Data(Byte(nibble));
    for (int i = 0; i < repeat_; ++i) Control(strobe);
    for (int i = 0; i < repeat_; ++i) Control(0x04);
  }

  platform::Backend& pc_;
  std::uint16_t base_;
  std::uint8_t unit_bits_ = 0x30;
  int repeat_ = 1;
};

}  // namespace ru3::sim::test
