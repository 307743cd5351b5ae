// Port access on Linux through libieee1284.
//
// LPTn is the kernel's parport(n-1), found at the base the kernel lists for
// it (an onboard port's or a PCI card's alike). A port is reached through
// ppdev (users in group lp) or, for root without ppdev, raw port I/O, as
// libieee1284 chooses. Every access goes to the port the library holds at
// that address: an access to any other address touches nothing and reads
// 0xFF. libieee1284 speaks in IEEE 1284 line values, where the PC's registers
// invert some lines; the conversions below turn them back into the register
// values the instrument protocol is written in.
//
// Claims: exclusive where the kernel grants it (no other kernel device, such
// as the lp driver, registered on the port); otherwise an ordinary claim,
// which no other driver or program can take over while it is held. Raw port
// I/O has no claim in the kernel at all. No claim is left sleeping in the
// kernel: a port another program holds is reported busy without one, and a
// claim still sleeping at its deadline is interrupted (ppdev's one lock for
// all its ioctls would otherwise stop the holder's release).
#include <ieee1284.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/backends.h"
#include "platform/linux/bounded_call.h"
#include "platform/linux/kernel_ports.h"

namespace ru3::platform {

namespace {

using namespace std::chrono_literals;
namespace lp = linux_ports;

// The longest a port scan or a claim may wait in the kernel. A scan claims
// the first /dev/parportN it opens (libieee1284 does so once a process); an
// ordinary claim sleeps while another device holds the port. Together they
// keep InitInstrument well within 2 s.
constexpr auto kScanLimit = 500ms;
constexpr auto kClaimLimit = 300ms;

enum class Claim { kNone, kExclusive, kShared, kRaw };

struct Port {
  parport* port = nullptr;
  int number = 0;       // N of parportN
  std::string name;     // "LPT1".."LPT3"
  std::uint16_t base = 0;
  Claim claim = Claim::kNone;
  // Set while a claim of this port that ran past its deadline is still
  // waiting in the kernel; the port's libieee1284 state is the helper's then.
  std::shared_ptr<std::atomic<bool>> in_kernel = std::make_shared<std::atomic<bool>>(false);
  bool control_known = false;
  std::uint8_t control = 0;  // the control register as this library last wrote it
};

// A scan of the ports that ran past its deadline and still waits in the kernel.
std::atomic<bool> g_scan_in_kernel{false};
// A scan has come back in this process (libieee1284 claims a port only in its first).
std::atomic<bool> g_scanned{false};

// Each notice is given once a process: true the first time for `text`.
bool FirstTime(const std::string& text) {
  static std::mutex mutex;
  static std::set<std::string> said;
  std::lock_guard lock(mutex);
  return said.insert(text).second;
}

void Notify(const std::string& text) {
  if (FirstTime(text)) ShowMessage("RU3 driver: " + text);
}

std::string PortLabel(const Port& p) { return p.name + " (parport" + std::to_string(p.number) + ")"; }

// Control register value to IEEE 1284 line levels (bits 0-3 only: the
// kernel's control write changes nothing else).
unsigned char ControlLines(std::uint8_t value) { return static_cast<unsigned char>((value ^ C1284_INVERTED) & 0x0F); }

class Ieee1284Backend final : public Backend {
 public:
  Ieee1284Backend() { Scan(); }

  ~Ieee1284Backend() override {
    bool helper_busy = false;
    for (Port& p : ports_) {
      Release(p);
      helper_busy = helper_busy || p.in_kernel->load();
    }
    // A helper still in a claim closes its port itself; freeing the list
    // alongside would race with it, so the list is left to the process then.
    if (list_ && !helper_busy) ieee1284_free_ports(list_.get());
  }

  void Out(std::uint16_t address, std::uint8_t value) override {
    unsigned offset = 0;
    Port* p = HeldAt(address, &offset);
    if (p == nullptr) return;
    if (offset == 0) ieee1284_write_data(p->port, value);
    if (offset == 2) {
      ieee1284_write_control(p->port, ControlLines(value));
      p->control = value;
      p->control_known = true;
    }
  }

  std::uint8_t In(std::uint16_t address) override {
    unsigned offset = 0;
    Port* p = HeldAt(address, &offset);
    if (p == nullptr) return 0xFF;  // nothing of ours answers at this address
    int v = 0xFF;
    if (offset == 0) v = ieee1284_read_data(p->port);
    if (offset == 1) v = ieee1284_read_status(p->port) ^ S1284_INVERTED;
    if (offset == 2) v = ieee1284_read_control(p->port) ^ C1284_INVERTED;
    return v < 0 ? 0xFF : static_cast<std::uint8_t>(v);
  }

  bool PortDriverPresent() override {
    if (!list_) Scan();  // a scan that waited in the kernel may have come back since
    for (Port& p : ports_) {
      if (p.claim != Claim::kNone) return true;
      if (p.in_kernel->load()) continue;
      // Opening does not claim: it cannot sleep.
      if (ieee1284_open(p.port, 0, nullptr) == E1284_OK) {
        ieee1284_close(p.port);
        return true;
      }
    }
    return false;
  }

  std::string PortDriverNotice() override {
    const std::string text = WhatIsMissing();
    return FirstTime(text) ? "RU3 driver: " + text : std::string();
  }

  DeviceHandle OpenDevice(const std::string& name) override {
    for (std::size_t i = 0; i < ports_.size(); ++i) {
      Port& p = ports_[i];
      if (p.name != name) continue;
      if (p.claim != Claim::kNone || p.in_kernel->load()) return kNoDevice;
      p.claim = TakeClaim(p);
      if (p.claim == Claim::kNone) return kNoDevice;
      // The kernel's claim loads the control register it saved for this
      // claimant (0x0C for a new one, an address strobe to the instrument):
      // put back what this library last wrote there.
      if (p.claim != Claim::kRaw && p.control_known) ieee1284_frob_control(p.port, 0x0F, ControlLines(p.control));
      return static_cast<DeviceHandle>(i + 1);
    }
    return kNoDevice;
  }

  void CloseDevice(DeviceHandle handle) override {
    if (handle <= 0 || static_cast<std::size_t>(handle) > ports_.size()) return;
    Release(ports_[static_cast<std::size_t>(handle) - 1]);
  }

  std::uint64_t LookupPortBase(const std::string& name) override {
    for (const Port& p : ports_) {
      if (p.name == name) return p.base;
    }
    return 0;
  }

  bool PortBasesFromSystem() override { return true; }

  std::uint32_t TickCount() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000U + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000U;
    return static_cast<std::uint32_t>(ms);
  }

 private:
  void Scan() {
    // A scan that waited past its deadline may be about to come back (the
    // other program let go): give it the same time again.
    const auto give_up = std::chrono::steady_clock::now() + kScanLimit;
    while (g_scan_in_kernel.load() && std::chrono::steady_clock::now() < give_up) std::this_thread::sleep_for(5ms);
    if (g_scan_in_kernel.load()) return;
    // The first scan of a process claims the first /dev/parportN it can
    // open, to learn that ppdev works; that claim would sleep while another
    // program holds the port. A held port is left alone: the scan waits for
    // a later try.
    if (!g_scanned && lp::HeldBeforeScan()) return;
    auto list = std::make_shared<parport_list>();
    g_scan_in_kernel.store(true);
    const std::optional<int> scanned = lp::CallWithin<int>(
        kScanLimit, [list] { return ieee1284_find_ports(list.get(), 0); },
        [list](int result) {
          if (result == E1284_OK) ieee1284_free_ports(list.get());
          g_scan_in_kernel.store(false);
        });
    if (!scanned) return;  // still waiting: the helper clears the flag when it returns
    g_scan_in_kernel.store(false);
    if (*scanned != E1284_OK) return;
    g_scanned = true;
    list_ = list;
    for (int i = 0; i < list_->portc; ++i) {
      parport* p = list_->portv[i];
      const std::string name = p->name != nullptr ? p->name : "";
      // parportN is LPT(N+1); other names (USB adapters without a number)
      // are not printer ports for this instrument.
      if (name.rfind("parport", 0) != 0 || name.size() != 8) continue;
      const int n = name[7] - '0';
      if (n < 0 || n > 2) continue;
      Port port;
      port.port = p;
      port.number = n;
      port.name = "LPT" + std::to_string(n + 1);
      port.base = p->base_addr <= 0xFFFD ? static_cast<std::uint16_t>(p->base_addr) : 0;
      ports_.push_back(std::move(port));
    }
  }

  Claim TakeClaim(Port& p) {
    // Exclusive: the kernel refuses it at once while any other device is
    // registered on the port, and no other can register while it is held.
    // It never sleeps. Raw access takes no open flags and refuses it too.
    if (ieee1284_open(p.port, F1284_EXCL, nullptr) == E1284_OK) {
      if (ieee1284_claim(p.port) == E1284_OK) return Claim::kExclusive;
      ieee1284_close(p.port);
    }
    // An ordinary claim would sleep until the device holding the port lets
    // go: a port held now is busy.
    const std::string holder = lp::ActiveDevice(p.number);
    if (!holder.empty()) {
      Notify(PortLabel(p) + " is held by " + lp::HolderText(holder) + "; the instrument cannot be used there now");
      return Claim::kNone;
    }
    if (ieee1284_open(p.port, 0, nullptr) != E1284_OK) return Claim::kNone;
    // libieee1284 went through ppdev or raw port I/O, which it does not say;
    // the claim is bounded either way (a raw one returns at once).
    parport* port = p.port;
    std::shared_ptr<std::atomic<bool>> in_kernel = p.in_kernel;
    in_kernel->store(true);
    const std::optional<int> claimed = lp::CallWithin<int>(
        kClaimLimit, [port] { return ieee1284_claim(port); },
        [port, in_kernel](int result) {
          if (result == E1284_OK) ieee1284_release(port);
          ieee1284_close(port);
          in_kernel->store(false);
        });
    if (!claimed) {
      Notify(PortLabel(p) + " is held by another program (the kernel did not grant the claim); the instrument cannot be used there now");
      return Claim::kNone;
    }
    in_kernel->store(false);
    if (*claimed != E1284_OK) {
      ieee1284_close(p.port);
      return Claim::kNone;
    }
    // A ppdev claim makes our device the port's holder; raw port I/O has no
    // device in the kernel.
    return lp::ActiveDevice(p.number) == "ppdev" + std::to_string(p.number) ? Claim::kShared : Claim::kRaw;
  }

  static void Release(Port& p) {
    if (p.claim == Claim::kNone) return;
    ieee1284_release(p.port);
    ieee1284_close(p.port);
    p.claim = Claim::kNone;
  }

  Port* HeldAt(std::uint16_t address, unsigned* offset) {
    for (Port& p : ports_) {
      if (p.claim == Claim::kNone || p.base == 0) continue;
      const unsigned off = static_cast<unsigned>(address) - p.base;
      if (off < 3) {
        *offset = off;
        return &p;
      }
    }
    return nullptr;
  }

  std::string WhatIsMissing() const {
    if (!list_) {
      std::string held;
      for (int n = 0; n < 3; ++n) {
        const std::string holder = lp::ActiveDevice(n);
        if (!holder.empty()) held += "; LPT" + std::to_string(n + 1) + " (parport" + std::to_string(n) + ") is held by " + lp::HolderText(holder);
      }
      return "the printer ports cannot be scanned while another program holds the first of them" + held;
    }
    if (ports_.empty()) {
      return lp::KernelListsPorts()
                 ? "no parallel port among parport0..parport2 in /proc/sys/dev/parport"
                 : "no parallel port: the kernel lists none in /proc/sys/dev/parport (an onboard port, or a PCI or PCIe "
                   "card, needs the parport_pc module)";
    }
    std::string text;
    for (const Port& p : ports_) {
      std::string problem = lp::DeviceProblem(p.number);
      if (problem.empty()) problem = "cannot be opened";
      text += (text.empty() ? "" : "; ") + PortLabel(p) + ": " + problem;
    }
    return text;
  }

  std::shared_ptr<parport_list> list_;
  std::vector<Port> ports_;
};

}  // namespace

std::unique_ptr<Backend> CreateSystemBackend() { return std::make_unique<Ieee1284Backend>(); }

}  // namespace ru3::platform
