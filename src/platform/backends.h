// The back ends the platform builds, and the OS services below the shared
// ones, for the composition root (src/api/Backends.cpp) and os_services.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/host.h"

namespace ru3::platform {

// The operating system's own port access (libieee1284 on Linux, IN/OUT on
// Windows).
std::unique_ptr<Backend> CreateSystemBackend();

// A back end on which nothing answers: no port device opens, reads give
// 0xFF. Stands in for a back end asked for with a malformed
// configuration.
std::unique_ptr<Backend> CreateNullBackend();

// Wraps `inner` and appends one line per port access to `path`:
// "O PPPP VV" for an output, "I PPPP VV" for an input (upper-case hex).
std::unique_ptr<Backend> CreateTraceBackend(std::unique_ptr<Backend> inner, const std::string& path);

// The operating system's notice: a message box on Windows, standard error
// elsewhere.
void ShowSystemMessage(const std::string& text);

// The value of an environment variable as the process has it now; nullopt
// when it is unset.
std::optional<std::string> EnvironmentVariable(const char* name);

// Registers a window message with the operating system; where there is no
// such thing, `fallback_id` is the id.
std::uint32_t RegisterSystemMessage(const std::string& name, std::uint32_t fallback_id);

}  // namespace ru3::platform
