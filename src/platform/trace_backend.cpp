// The port trace: a back end that passes every access on to another one and
// appends a line per access to a file, for a user to send when a real
// instrument misbehaves ("O 0378 F7", "I 0379 50").
#include <cstdio>

#include "platform/backends.h"

namespace ru3::platform {

namespace {

class TraceBackend final : public Backend {
 public:
  TraceBackend(std::unique_ptr<Backend> inner, const std::string& path)
      : inner_(std::move(inner)), file_(std::fopen(path.c_str(), "a")) {
    if (file_ == nullptr) std::fprintf(stderr, "RU3_PORT_TRACE: cannot open \"%s\" for appending\n", path.c_str());
  }
  ~TraceBackend() override {
    if (file_ != nullptr) std::fclose(file_);
  }

  void Out(std::uint16_t port, std::uint8_t value) override {
    inner_->Out(port, value);
    Line('O', port, value);
  }
  std::uint8_t In(std::uint16_t port) override {
    const std::uint8_t value = inner_->In(port);
    Line('I', port, value);
    return value;
  }
  bool PortDriverPresent() override { return inner_->PortDriverPresent(); }
  std::string PortDriverNotice() override { return inner_->PortDriverNotice(); }
  DeviceHandle OpenDevice(const std::string& name) override { return inner_->OpenDevice(name); }
  void CloseDevice(DeviceHandle handle) override { inner_->CloseDevice(handle); }
  int PlatformId() override { return inner_->PlatformId(); }
  std::uint64_t LookupPortBase(const std::string& name) override { return inner_->LookupPortBase(name); }
  bool PortBasesFromSystem() override { return inner_->PortBasesFromSystem(); }
  std::uint32_t TickCount() override { return inner_->TickCount(); }
  void Delay(std::int32_t ms) override { inner_->Delay(ms); }
  void Flush() override {
    inner_->Flush();
    if (file_ != nullptr) std::fflush(file_);
  }

 private:
  void Line(char kind, std::uint16_t port, std::uint8_t value) {
    if (file_ != nullptr) std::fprintf(file_, "%c %04X %02X\n", kind, port, value);
  }

  std::unique_ptr<Backend> inner_;
  std::FILE* file_;
};

}  // namespace

std::unique_ptr<Backend> CreateTraceBackend(std::unique_ptr<Backend> inner, const std::string& path) {
  return std::make_unique<TraceBackend>(std::move(inner), path);
}

}  // namespace ru3::platform
