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

HINSTANCE ModuleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ModuleInstance), &module);
  return module;
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

HWND CreateHiddenWindow(const char* class_name, WindowTarget* target) {
  HINSTANCE instance = ModuleInstance();
  WNDCLASSA wc{};
  if (GetClassInfoA(instance, class_name, &wc) == 0) {
    wc = WNDCLASSA{};
    wc.lpfnWndProc = HiddenWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = class_name;
    RegisterClassA(&wc);
  }
  HWND hwnd = CreateWindowExA(0, class_name, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
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
  impl_->hwnd = CreateHiddenWindow("RU3PollTimer", impl_.get());
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
  impl_->hwnd = CreateHiddenWindow("TDeviceMessageReceiver", impl_.get());
}

DeviceWindow::~DeviceWindow() {
  if (impl_->hwnd != nullptr) {
    SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, 0);
    DestroyWindow(impl_->hwnd);
  }
}

}  // namespace ru3::platform
