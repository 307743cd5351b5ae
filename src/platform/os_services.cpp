// The OS services every platform shares: the environment, the library-wide
// lock, notices and registered window messages. What differs per operating
// system is below them (ShowSystemMessage, RegisterSystemMessage, in
// linux/posix_services.cpp and win32/win32_services.cpp).
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include "platform/backends.h"
#include "platform/host.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ru3::platform {

std::optional<std::string> EnvironmentVariable(const char* name) {
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
