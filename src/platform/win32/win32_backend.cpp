// Port access on Windows: the processor's IN and OUT instructions, the
// "\\.\giveio" driver check of the NT family, device names opened with
// CreateFileA, GetTickCount, and the system's printer-port configuration on
// the 9x family.
#include <windows.h>

#include "platform/backends.h"
#include "platform/win32/cm_lookup.h"

namespace ru3::platform {

namespace {

int SystemPlatformId() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExA(&info) == 0) return kPlatformNT;
#pragma GCC diagnostic pop
  return static_cast<int>(info.dwPlatformId);
}

class Win32Backend final : public Backend {
 public:
  Win32Backend() : platform_id_(SystemPlatformId()) {}

  void Out(std::uint16_t port, std::uint8_t value) override {
    __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port));
  }

  std::uint8_t In(std::uint16_t port) override {
    std::uint8_t value = 0;
    __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port));
    return value;
  }

  bool PortDriverPresent() override {
    // The 9x family lets every process reach the ports directly.
    if (platform_id_ != kPlatformNT) return true;
    HANDLE h = CreateFileA("\\\\.\\giveio", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
  }

  DeviceHandle OpenDevice(const std::string& name) override {
    HANDLE h = CreateFileA(name.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kNoDevice;
    return reinterpret_cast<DeviceHandle>(h);
  }

  void CloseDevice(DeviceHandle handle) override {
    if (handle != kNoDevice) CloseHandle(reinterpret_cast<HANDLE>(handle));
  }

  int PlatformId() override { return platform_id_; }

  std::uint64_t LookupPortBase(const std::string& name) override { return win32::LookupPortBase(name); }

  std::uint32_t TickCount() override { return GetTickCount(); }

 private:
  int platform_id_;
};

}  // namespace

std::unique_ptr<Backend> CreateSystemBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace ru3::platform
