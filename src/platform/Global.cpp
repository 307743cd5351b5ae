#include "platform/Global.h"

#include "platform/host.h"

namespace ru3 {

std::array<std::int32_t, 3> LptAddress{0, 0, 0};

void PortOut(std::uint16_t port, std::uint8_t value) {
  platform::CurrentBackend().Out(port, value);
}

std::uint8_t PortIn(std::uint16_t port) { return platform::CurrentBackend().In(port); }

void Delay(std::int32_t ms) { platform::CurrentBackend().Delay(ms); }

std::uint32_t TickCount() { return platform::CurrentBackend().TickCount(); }

bool CheckPortDriver() {
  platform::Backend& backend = platform::CurrentBackend();
  if (backend.PortDriverPresent()) return true;
  const std::string notice = backend.PortDriverNotice();
  if (!notice.empty()) platform::ShowMessage(notice);
  return false;
}

std::string LptName(int index) { return "LPT" + std::to_string(index + 1); }

}  // namespace ru3
