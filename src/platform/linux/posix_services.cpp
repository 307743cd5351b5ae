// OS services on POSIX: notices on standard error, recorded window messages
// and the device window that has no window.
#include <cstdio>

#include "platform/backends.h"
#include "platform/host.h"

namespace ru3::platform {

void ShowSystemMessage(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

std::uint32_t RegisterSystemMessage(const std::string& /*name*/, std::uint32_t fallback_id) {
  return fallback_id;
}

struct DeviceWindow::Impl {};

DeviceWindow::DeviceWindow(std::function<void(std::uint32_t)> /*on_message*/) {}

DeviceWindow::~DeviceWindow() = default;

}  // namespace ru3::platform
