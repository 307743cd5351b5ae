// Factories of the back ends that host.cpp chooses between.
#pragma once

#include <memory>
#include <string>

#include "platform/host.h"

namespace ru3::platform {

// The operating system's own port access (libieee1284 on Linux, IN/OUT on
// Windows).
std::unique_ptr<Backend> CreateSystemBackend();

// A back end on which nothing answers: no port device opens, reads give
// 0xFF. Stands in when the simulator was asked for with a malformed configuration.
std::unique_ptr<Backend> CreateNullBackend();

// Wraps `inner` and appends one line per port access to `path`:
// "O PPPP VV" for an output, "I PPPP VV" for an input (upper-case hex).
std::unique_ptr<Backend> CreateTraceBackend(std::unique_ptr<Backend> inner, const std::string& path);

// The operating system's notice: a message box on Windows, standard error
// elsewhere.
void ShowSystemMessage(const std::string& text);

// Registers a window message with the operating system; where there is no
// such thing, `fallback_id` is the id.
std::uint32_t RegisterSystemMessage(const std::string& name, std::uint32_t fallback_id);

}  // namespace ru3::platform

namespace ru3::sim {
// The simulated PC and instrument, configured by RU3_SIMULATOR's value.
// Null, with a one-line reason in *error, when the configuration is malformed.
std::unique_ptr<platform::Backend> CreateSimulatorBackend(const std::string& config, std::string* error);
}  // namespace ru3::sim
