// Choice of the current back end, and the OS services every platform shares.
#include "platform/host.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Global.h"
#include "platform/backends.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ru3::platform {

namespace {

// What the current back end was built from: the values of RU3_SIMULATOR and
// RU3_PORT_TRACE (nullopt = unset), or "replaced" when a test installed one.
struct Choice {
  std::optional<std::string> simulator;
  std::optional<std::string> trace;
  bool operator==(const Choice&) const = default;
};

struct State {
  std::unique_ptr<Backend> backend;
  Choice choice;
  bool replaced = false;
};

State& Current() {
  static State state;
  return state;
}

std::optional<std::string> Env(const char* name) {
#ifdef _WIN32
  // The process environment as it stands now, also when the host changed it
  // after the runtime started.
  const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  if (size == 0) return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<std::string>("");
  std::string value(size, '\0');
  const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
  value.resize(length);
  return value;
#else
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
#endif
}

Choice ChoiceFromEnvironment() { return Choice{Env("RU3_SIMULATOR"), Env("RU3_PORT_TRACE")}; }

// Builds the back end for `choice`; false when the simulator configuration
// was malformed (a back end without port access is built instead).
bool Build(const Choice& choice) {
  State& state = Current();
  bool ok = true;
  std::unique_ptr<Backend> backend;
  if (choice.simulator) {
    std::string error;
    backend = sim::CreateSimulatorBackend(*choice.simulator, &error);
    if (!backend) {
      std::fprintf(stderr, "%s\n", error.c_str());
      backend = CreateNullBackend();
      ok = false;
    }
  } else {
    backend = CreateSystemBackend();
  }
  if (choice.trace && !choice.trace->empty()) {
    backend = CreateTraceBackend(std::move(backend), *choice.trace);
  }
  if (state.backend) state.backend->Flush();
  state.backend = std::move(backend);
  state.choice = choice;
  state.replaced = false;
  return ok;
}

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

// A malformed configuration keeps failing for as long as it is set, so that
// every InitInstrument under it reports no instrument.
bool g_configuration_ok = true;

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

Backend& CurrentBackend() {
  State& state = Current();
  if (!state.backend) g_configuration_ok = Build(ChoiceFromEnvironment());
  return *state.backend;
}

bool RefreshBackendFromEnvironment() {
  State& state = Current();
  if (state.replaced && state.backend) return true;
  const Choice choice = ChoiceFromEnvironment();
  if (!state.backend || !(choice == state.choice)) g_configuration_ok = Build(choice);
  return g_configuration_ok;
}

std::unique_ptr<Backend> ReplaceBackend(std::unique_ptr<Backend> backend) {
  State& state = Current();
  if (state.backend) state.backend->Flush();
  std::unique_ptr<Backend> previous = std::move(state.backend);
  state.backend = std::move(backend);
  state.replaced = state.backend != nullptr;
  g_configuration_ok = true;
  return previous;
}

void FlushBackend() {
  State& state = Current();
  if (state.backend) state.backend->Flush();
}

LibraryLock& LibraryMutex() {
  static LibraryLock mutex;
  return mutex;
}

namespace {
std::function<void(const std::string&)>& MessageSink() {
  static std::function<void(const std::string&)> sink;
  return sink;
}
std::vector<std::string>& MessageNames() {
  static std::vector<std::string> names;
  return names;
}
}  // namespace

void SetMessageSink(std::function<void(const std::string&)> sink) { MessageSink() = std::move(sink); }

void ShowMessage(const std::string& text) {
  if (MessageSink()) {
    MessageSink()(text);
    return;
  }
  ShowSystemMessage(text);
}

std::uint32_t RegisterWindowMessageName(const std::string& name) {
  // Every name is recorded once, in the order of first registration, and
  // keeps the id it got first, as registered window messages do (a host that
  // opens the instrument again and again registers the same names again).
  std::vector<std::string>& names = MessageNames();
  std::size_t index = 0;
  while (index < names.size() && names[index] != name) ++index;
  if (index == names.size()) names.push_back(name);
  return RegisterSystemMessage(name, static_cast<std::uint32_t>(0xC000 + index));
}

std::vector<std::string> RegisteredMessageNames() { return MessageNames(); }

}  // namespace ru3::platform
