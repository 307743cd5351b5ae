// OS services on Windows: message boxes, registered window messages, the poll
// timer as a message-loop timer on the thread that built it, and the hidden
// device-message window. Everything runs on the host's thread through its
// message loop, as the original driver model has it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/backends.h"
#include "platform/host.h"

namespace ru3::platform {

void ShowSystemMessage(const std::string& text) {
  // RU3_NOTICES=stderr routes notices to standard error instead of a modal
  // box, for unattended hosts and tests.
  char mode[16] = {};
  if (GetEnvironmentVariableA("RU3_NOTICES", mode, sizeof(mode)) > 0 && std::string(mode) == "stderr") {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    return;
  }
  MessageBoxA(nullptr, text.c_str(), "RU3", MB_OK | MB_TASKMODAL);
}

std::uint32_t RegisterSystemMessage(const std::string& name, std::uint32_t /*fallback_id*/) {
  return RegisterWindowMessageA(name.c_str());
}

namespace {

// The module this code was loaded with: the allocation base of the memory
// that holds it (every Windows has VirtualQuery; GetModuleHandleExA came
// with XP).
HINSTANCE ModuleInstance() {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<LPCVOID>(&ModuleInstance), &info, sizeof(info)) == 0) return nullptr;
  return static_cast<HINSTANCE>(info.AllocationBase);
}

// A hidden window class whose procedure hands every message to the object
// stored in the window's user data.
struct WindowTarget {
  virtual ~WindowTarget() = default;
  virtual bool Handle(UINT message, WPARAM wparam) = 0;
};

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* target = reinterpret_cast<WindowTarget*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (target != nullptr && target->Handle(message, wparam)) return 0;
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

// Creates a never shown window of the class. A top-level window receives the
// system's broadcasts (WM_DEVICECHANGE); where no top-level window can be
// made (a desktop-less session), or none is wanted, a message-only window
// still receives the messages posted to it.
HWND CreateHiddenWindow(const char* class_name, WindowTarget* target, bool top_level) {
  HINSTANCE instance = ModuleInstance();
  WNDCLASSA wc{};
  if (GetClassInfoA(instance, class_name, &wc) == 0) {
    wc = WNDCLASSA{};
    wc.lpfnWndProc = HiddenWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = class_name;
    RegisterClassA(&wc);
  }
  HWND hwnd = nullptr;
  if (top_level) hwnd = CreateWindowExA(0, class_name, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
  if (hwnd == nullptr) {
    hwnd = CreateWindowExA(0, class_name, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  }
  if (hwnd != nullptr) SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(target));
  return hwnd;
}

constexpr UINT_PTR kTimerId = 1;

}  // namespace

struct PollTimer::Impl : WindowTarget {
  std::function<void()> on_tick;
  HWND hwnd = nullptr;
  bool enabled = false;

  bool Handle(UINT message, WPARAM wparam) override {
    if (message != WM_TIMER || wparam != kTimerId) return false;
    if (enabled) {
      std::lock_guard lock(LibraryMutex());
      on_tick();
    }
    return true;
  }
};

PollTimer::PollTimer(std::function<void()> on_tick) : impl_(std::make_shared<Impl>()) {
  impl_->on_tick = std::move(on_tick);
  impl_->hwnd = CreateHiddenWindow("RU3PollTimer", impl_.get(), false);
}

PollTimer::~PollTimer() {
  if (impl_->hwnd != nullptr) {
    KillTimer(impl_->hwnd, kTimerId);
    SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, 0);
    DestroyWindow(impl_->hwnd);
  }
}

void PollTimer::SetEnabled(bool enabled) {
  if (enabled == impl_->enabled) return;
  impl_->enabled = enabled;
  if (impl_->hwnd == nullptr) return;
  if (enabled) {
    SetTimer(impl_->hwnd, kTimerId, 1, nullptr);
  } else {
    KillTimer(impl_->hwnd, kTimerId);
  }
}

bool PollTimer::Enabled() const { return impl_->enabled; }

struct DeviceWindow::Impl : WindowTarget {
  std::function<void(std::uint32_t)> on_message;
  HWND hwnd = nullptr;

  bool Handle(UINT message, WPARAM /*wparam*/) override {
    if (message != WM_DEVICECHANGE && message != WM_USER + 13) return false;
    on_message(message);
    return true;
  }
};

DeviceWindow::DeviceWindow(std::function<void(std::uint32_t)> on_message) : impl_(std::make_shared<Impl>()) {
  impl_->on_message = std::move(on_message);
  impl_->hwnd = CreateHiddenWindow("TDeviceMessageReceiver", impl_.get(), true);
}

DeviceWindow::~DeviceWindow() {
  if (impl_->hwnd != nullptr) {
    SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, 0);
    DestroyWindow(impl_->hwnd);
  }
}

}  // namespace ru3::platform
