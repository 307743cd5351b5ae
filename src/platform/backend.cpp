// What every back end shares: the default busy wait, and the back end on
// which nothing answers.
#include "platform/backends.h"
#include "platform/host.h"

namespace ru3::platform {

namespace {

// No instrument and no port device anywhere: reads float high.
class NullBackend final : public Backend {
 public:
  void Out(std::uint16_t /*port*/, std::uint8_t /*value*/) override {}
  std::uint8_t In(std::uint16_t /*port*/) override { return 0xFF; }
  // Reports port access as present so that no driver notice is shown on top
  // of the configuration error: detection then simply finds nothing.
  bool PortDriverPresent() override { return true; }
  DeviceHandle OpenDevice(const std::string& /*name*/) override { return kNoDevice; }
  void CloseDevice(DeviceHandle /*handle*/) override {}
  std::uint32_t TickCount() override { return ticks_++; }

 private:
  std::uint32_t ticks_ = 0;
};

}  // namespace

std::unique_ptr<Backend> CreateNullBackend() { return std::make_unique<NullBackend>(); }

void Backend::Delay(std::int32_t ms) {
  const std::uint32_t start = TickCount();
  if (ms <= 0) {
    (void)TickCount();
    return;
  }
  // Unsigned difference: correct across the wrap of the 32-bit tick count.
  while (static_cast<std::uint32_t>(TickCount() - start) < static_cast<std::uint32_t>(ms)) {
  }
}

}  // namespace ru3::platform
