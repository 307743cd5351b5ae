// Port access on Windows. The 9x family lets every process use the
// processor's IN and OUT instructions. On the NT family the 32-bit DLL uses
// them once the "\\.\giveio" driver has opened the ports to user mode; where
// giveio is absent (always on 64-bit Windows), the InpOut driver's DLL
// (inpout32.dll, or inpoutx64.dll for the 64-bit DLL) is loaded at run time
// and used when its driver is open. Device names are opened with CreateFileA,
// time is GetTickCount, and printer-port bases come from the system's
// configuration (9x), or from probing with the configuration as the fallback
// (NT).
#include <windows.h>

#include "platform/backends.h"
#include "platform/win32/cm_lookup.h"

namespace ru3::platform {

namespace {

#if defined(__i386__)
constexpr bool kDirectPortAccess = true;  // IN/OUT, on 9x or after giveio
constexpr const char* kInpOutLibrary = "inpout32.dll";
#else
constexpr bool kDirectPortAccess = false;  // 64-bit: InpOut only
constexpr const char* kInpOutLibrary = "inpoutx64.dll";
#endif

int SystemPlatformId() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExA(&info) == 0) return kPlatformNT;
#pragma GCC diagnostic pop
  return static_cast<int>(info.dwPlatformId);
}

// The documented functions of the InpOut DLLs (the same names, undecorated,
// in both; port and value are passed as 16-bit numbers).
struct InpOut {
  using Inp32Fn = short(WINAPI*)(short port);
  using Out32Fn = void(WINAPI*)(short port, short value);
  using IsDriverOpenFn = BOOL(WINAPI*)();
  Inp32Fn inp32 = nullptr;
  Out32Fn out32 = nullptr;
  IsDriverOpenFn is_driver_open = nullptr;
};

template <typename Fn>
Fn Proc(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The InpOut DLL, loaded once per process on first need and kept loaded
// (it is never unloaded from within our own unload); null when it is not
// there or lacks one of its functions.
const InpOut* InpOutLibrary() {
  static const InpOut* const library = []() -> const InpOut* {
    HMODULE module = LoadLibraryA(kInpOutLibrary);
    if (module == nullptr) return nullptr;
    static InpOut functions;
    functions.inp32 = Proc<InpOut::Inp32Fn>(module, "Inp32");
    functions.out32 = Proc<InpOut::Out32Fn>(module, "Out32");
    functions.is_driver_open = Proc<InpOut::IsDriverOpenFn>(module, "IsInpOutDriverOpen");
    if (functions.inp32 == nullptr || functions.out32 == nullptr || functions.is_driver_open == nullptr) {
      FreeLibrary(module);
      return nullptr;
    }
    return &functions;
  }();
  return library;
}

bool GiveioPresent() {
  HANDLE h = CreateFileA("\\\\.\\giveio", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

class Win32Backend final : public Backend {
 public:
  Win32Backend() : platform_id_(SystemPlatformId()) {}

  // Until the port-access check has found a way to the ports, outputs are
  // dropped and inputs read as a floating bus: an IN or OUT without giveio
  // would fault on the NT family.
  void Out(std::uint16_t port, std::uint8_t value) override {
    if (access_ == Access::kDirect) {
      DirectOut(port, value);
    } else if (access_ == Access::kInpOut) {
      inpout_->out32(static_cast<short>(port), static_cast<short>(value));
    }
  }

  std::uint8_t In(std::uint16_t port) override {
    if (access_ == Access::kDirect) return DirectIn(port);
    if (access_ == Access::kInpOut) return static_cast<std::uint8_t>(inpout_->inp32(static_cast<short>(port)));
    return 0xFF;
  }

  // Decides the way to the ports, each time an instrument object is built
  // (a driver may have been installed or started meanwhile).
  bool PortDriverPresent() override {
    access_ = Access::kNone;
    if (kDirectPortAccess && (platform_id_ != kPlatformNT || GiveioPresent())) {
      access_ = Access::kDirect;
    } else if (const InpOut* inpout = InpOutLibrary(); inpout != nullptr && inpout->is_driver_open() != FALSE) {
      inpout_ = inpout;
      access_ = Access::kInpOut;
    }
    return access_ != Access::kNone;
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

  std::uint64_t LookupPortBase(const std::string& name) override {
    return win32::LookupPortBase(win32::SystemConfigManager(), platform_id_, name);
  }

  std::uint32_t TickCount() override { return GetTickCount(); }

 private:
  enum class Access : std::uint8_t { kNone, kDirect, kInpOut };

  static void DirectOut(std::uint16_t port, std::uint8_t value) {
#if defined(__i386__)
    __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port));
#else
    (void)port;
    (void)value;
#endif
  }

  static std::uint8_t DirectIn(std::uint16_t port) {
    std::uint8_t value = 0xFF;
#if defined(__i386__)
    __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port));
#else
    (void)port;
#endif
    return value;
  }

  int platform_id_;
  Access access_ = Access::kNone;
  const InpOut* inpout_ = nullptr;
};

}  // namespace

std::unique_ptr<Backend> CreateSystemBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace ru3::platform
