// Port access on Linux through libieee1284.
//
// The printer ports are libieee1284's ports: LPTn is "parport(n-1)", and the
// base addresses come from its port list. libieee1284 reaches the lines
// through ppdev (users in group lp) or raw I/O (root), whichever the process
// may use. It speaks in IEEE 1284 line values, where the PC's registers invert
// some lines; the conversions below turn them back into the register values
// the instrument protocol is written in.
#include <ieee1284.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/backends.h"

namespace ru3::platform {

namespace {

struct Port {
  parport* port = nullptr;
  std::string name;       // "LPT1".."LPT3"
  unsigned long base = 0;
  bool held = false;      // opened and claimed, exclusively, by OpenDevice
};

class Ieee1284Backend final : public Backend {
 public:
  Ieee1284Backend() {
    found_ = ieee1284_find_ports(&list_, 0) == E1284_OK;
    if (!found_) return;
    for (int i = 0; i < list_.portc; ++i) {
      parport* p = list_.portv[i];
      const std::string name = p->name != nullptr ? p->name : "";
      // parportN is LPT(N+1); other names (USB adapters without a number) are
      // not printer ports for this instrument.
      if (name.rfind("parport", 0) != 0 || name.size() != 8) continue;
      const int n = name[7] - '0';
      if (n < 0 || n > 2) continue;
      ports_.push_back(Port{p, "LPT" + std::to_string(n + 1), p->base_addr, false});
    }
  }

  ~Ieee1284Backend() override {
    for (Port& p : ports_) {
      if (p.held) Close(p);
    }
    if (found_) ieee1284_free_ports(&list_);
  }

  void Out(std::uint16_t address, std::uint8_t value) override {
    Access(address, [value](parport* p, unsigned offset) -> std::uint8_t {
      if (offset == 0) ieee1284_write_data(p, value);
      if (offset == 2) ieee1284_write_control(p, static_cast<unsigned char>((value ^ C1284_INVERTED) & 0x0F));
      return 0;
    });
  }

  std::uint8_t In(std::uint16_t address) override {
    return Access(address, [](parport* p, unsigned offset) -> std::uint8_t {
      int v = 0xFF;
      if (offset == 0) v = ieee1284_read_data(p);
      if (offset == 1) v = ieee1284_read_status(p) ^ S1284_INVERTED;
      if (offset == 2) v = ieee1284_read_control(p) ^ C1284_INVERTED;
      return v < 0 ? 0xFF : static_cast<std::uint8_t>(v);
    });
  }

  bool PortDriverPresent() override {
    // Port access is available when at least one printer port can be opened.
    for (Port& p : ports_) {
      if (p.held) return true;
      int caps = 0;
      if (ieee1284_open(p.port, 0, &caps) == E1284_OK) {
        ieee1284_close(p.port);
        return true;
      }
    }
    return false;
  }

  DeviceHandle OpenDevice(const std::string& name) override {
    for (std::size_t i = 0; i < ports_.size(); ++i) {
      Port& p = ports_[i];
      if (p.name != name) continue;
      if (p.held) return kNoDevice;
      int caps = 0;
      if (ieee1284_open(p.port, F1284_EXCL, &caps) != E1284_OK) return kNoDevice;
      if (ieee1284_claim(p.port) != E1284_OK) {
        ieee1284_close(p.port);
        return kNoDevice;
      }
      p.held = true;
      return static_cast<DeviceHandle>(i + 1);
    }
    return kNoDevice;
  }

  void CloseDevice(DeviceHandle handle) override {
    if (handle <= 0 || static_cast<std::size_t>(handle) > ports_.size()) return;
    Port& p = ports_[static_cast<std::size_t>(handle) - 1];
    if (p.held) Close(p);
  }

  std::uint32_t TickCount() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000U + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000U;
    return static_cast<std::uint32_t>(ms);
  }

 private:
  static void Close(Port& p) {
    ieee1284_release(p.port);
    ieee1284_close(p.port);
    p.held = false;
  }

  // Runs `op` on the port whose registers include `address`. A port that is
  // not held is opened and claimed for this one access.
  template <typename Op>
  std::uint8_t Access(std::uint16_t address, Op op) {
    for (Port& p : ports_) {
      if (p.base == 0 || address < p.base || address > p.base + 2) continue;
      const auto offset = static_cast<unsigned>(address - p.base);
      if (p.held) return op(p.port, offset);
      int caps = 0;
      if (ieee1284_open(p.port, 0, &caps) != E1284_OK) return 0xFF;
      std::uint8_t v = 0xFF;
      if (ieee1284_claim(p.port) == E1284_OK) {
        v = op(p.port, offset);
        ieee1284_release(p.port);
      }
      ieee1284_close(p.port);
      return v;
    }
    return 0xFF;  // nothing answers at this address
  }

  parport_list list_{};
  bool found_ = false;
  std::vector<Port> ports_;
};

}  // namespace

std::unique_ptr<Backend> CreateSystemBackend() { return std::make_unique<Ieee1284Backend>(); }

}  // namespace ru3::platform
