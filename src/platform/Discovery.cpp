// Printer-port discovery: the base addresses of LPT1, LPT2 and LPT3.
//
// On the 9x family the system's device configuration knows them. Where the
// system lists its ports with their bases (Linux), each port is probed at its
// own base. On the NT family (and the simulator) the classic addresses are
// probed: a port counts as present when a device of that name opens and the
// data register at the address holds the pattern 0xAA written to it 100 ms
// earlier. Every entry is probed at its first-choice address, then the entries
// still empty try the other addresses in a fixed order, never taking an
// address that another entry already holds at its own first choice. An entry
// still empty then takes the base the system's configuration gives for it,
// when that is not one of the probed addresses and a port answers there.
#include <string>

#include "platform/Global.h"
#include "platform/host.h"

namespace ru3 {

namespace {

constexpr std::uint16_t kLpt1Classic = 0x378;
constexpr std::uint16_t kLpt2Classic = 0x278;
constexpr std::uint16_t kLpt3Classic = 0x3BC;
constexpr std::uint16_t kLpt1LastResort = 0xEC00;  // a common PCI card base

constexpr std::uint8_t kProbePattern = 0xAA;
constexpr std::uint8_t kControlProbe = 0x00;
constexpr std::int32_t kProbeSettleMs = 100;

// Device names are copied into a buffer of ten characters and a terminator
// before they are opened; longer names are cut there.
constexpr std::size_t kDeviceNameChars = 10;

bool IsProbedAddress(std::uint64_t base) {
  return base == kLpt1Classic || base == kLpt2Classic || base == kLpt3Classic || base == kLpt1LastResort;
}

// Entry `entry` (0..2) := address when the probe answers, else 0.
void ProbeInto(int entry, std::uint16_t address, const char* name) {
  LptAddress[static_cast<std::size_t>(entry)] = ProbePort(address, name) ? address : 0;
}

}  // namespace

bool ProbePort(std::uint16_t address, const std::string& name) {
  platform::Backend& backend = platform::CurrentBackend();
  const platform::DeviceHandle device = backend.OpenDevice(name.substr(0, kDeviceNameChars));
  if (device == platform::kNoDevice) return false;  // no such port: nothing touched, no wait
  PortOut(address, kProbePattern);
  PortOut(static_cast<std::uint16_t>(address + 2), kControlProbe);
  Delay(kProbeSettleMs);
  const bool answered = PortIn(address) == kProbePattern;
  backend.CloseDevice(device);
  return answered;
}

void DiscoverPorts() {
  platform::Backend& backend = platform::CurrentBackend();
  switch (backend.PlatformId()) {
    case platform::kPlatform9x:
      // The configuration decides alone, found or not: no probing follows.
      for (int i = 0; i < 3; ++i) {
        const std::uint64_t base = backend.LookupPortBase(LptName(i));
        LptAddress[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(static_cast<std::uint32_t>(base));
      }
      return;
    case platform::kPlatformNT: {
      if (backend.PortBasesFromSystem()) {
        // The system knows each port's base (a PCI card's too): that base is
        // the one probed, and the only one.
        for (int i = 0; i < 3; ++i) {
          const std::uint64_t base = backend.LookupPortBase(LptName(i));
          const bool answered = base != 0 && base <= 0xFFFD && ProbePort(static_cast<std::uint16_t>(base), LptName(i));
          LptAddress[static_cast<std::size_t>(i)] = answered ? static_cast<std::int32_t>(base) : 0;
        }
        return;
      }
      // First choices.
      ProbeInto(0, kLpt1Classic, "LPT1");
      ProbeInto(1, kLpt2Classic, "LPT2");
      ProbeInto(2, kLpt3Classic, "LPT3");
      const auto lpt = [](int i) { return LptAddress[static_cast<std::size_t>(i)]; };
      // LPT1 fallbacks.
      if (lpt(0) == 0 && lpt(1) != kLpt2Classic) ProbeInto(0, kLpt2Classic, "LPT1");
      if (lpt(0) == 0 && lpt(2) != kLpt3Classic) ProbeInto(0, kLpt3Classic, "LPT1");
      if (lpt(0) == 0) ProbeInto(0, kLpt1LastResort, "LPT1");
      // LPT2 fallbacks.
      if (lpt(1) == 0 && lpt(0) != kLpt1Classic) ProbeInto(1, kLpt1Classic, "LPT2");
      if (lpt(1) == 0 && lpt(2) != kLpt3Classic) ProbeInto(1, kLpt3Classic, "LPT2");
      // LPT3 fallbacks.
      if (lpt(2) == 0 && lpt(0) != kLpt1Classic) ProbeInto(2, kLpt1Classic, "LPT3");
      if (lpt(2) == 0 && lpt(0) != kLpt2Classic) ProbeInto(2, kLpt2Classic, "LPT3");
      // Ports away from the probed addresses (PCI and PCI Express cards):
      // the system's configuration knows their base, the probe confirms it.
      // A probed address stays with the steps above, which decided on it.
      for (int i = 0; i < 3; ++i) {
        if (lpt(i) != 0) continue;
        const std::string name = LptName(i);
        const std::uint64_t base = backend.LookupPortBase(name);
        if (base == 0 || base > 0xFFFD || IsProbedAddress(base)) continue;
        ProbeInto(i, static_cast<std::uint16_t>(base), name.c_str());
      }
      return;
    }
    default:
      return;  // an unknown family: the table stays as it is
  }
}

}  // namespace ru3
