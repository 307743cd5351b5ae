// The library's composition root: which back end serves the ports, chosen
// from the environment, and kept current as the environment changes.
//
// The whole choice is the table below. A base back end is the first of
// kBases whose variable is set (even empty), built from its value; when none
// is set, the operating system's own port access (libieee1284 on Linux,
// IN/OUT on Windows). Each wrapper of kWrappers whose variable is set and not
// empty then wraps what was built, in table order.
//
//   RU3_SIMULATOR=CONFIG   the simulated PC and instrument, configured by
//                          CONFIG; a malformed CONFIG: the null back end (no
//                          port answers) and one line naming the fault on
//                          standard error, for as long as it stays set
//   RU3_PORT_TRACE=FILE    the port trace: every access appended to FILE
//
// The platform layer declares CurrentBackend() and its kin (platform/host.h)
// and builds each back end; only this file knows all of them.
#include <array>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/backends.h"
#include "platform/host.h"
#include "sim/simulator.h"

namespace ru3::platform {

namespace {

// A base back end built from its variable's value; null, with a one-line
// reason in *error, when the value is malformed.
struct BaseChoice {
  const char* variable;
  std::unique_ptr<Backend> (*build)(const std::string& value, std::string* error);
};

// A back end wrapped around what the table built before it.
struct WrapperChoice {
  const char* variable;
  std::unique_ptr<Backend> (*wrap)(std::unique_ptr<Backend> inner, const std::string& value);
};

constexpr BaseChoice kBases[] = {
    {"RU3_SIMULATOR", &sim::CreateSimulatorBackend},
};

constexpr WrapperChoice kWrappers[] = {
    {"RU3_PORT_TRACE", &CreateTraceBackend},
};

constexpr std::size_t kVariables = std::size(kBases) + std::size(kWrappers);

// What the current back end was built from: the value of each variable of
// the table, bases first (nullopt = unset).
using Choice = std::array<std::optional<std::string>, kVariables>;

// The current back end as a plain pointer, for the one question every port
// access asks (CurrentBackend); kept equal to Current().backend, and null
// again once the state is destroyed at exit.
Backend* g_backend = nullptr;

struct State {
  ~State() { g_backend = nullptr; }
  std::unique_ptr<Backend> backend;
  Choice choice;
  bool replaced = false;  // a test or benchmark installed the back end
};

State& Current() {
  static State state;
  return state;
}

void Install(std::unique_ptr<Backend> backend) {
  State& state = Current();
  state.backend = std::move(backend);
  g_backend = state.backend.get();
}

Choice ChoiceFromEnvironment() {
  Choice choice;
  std::size_t i = 0;
  for (const BaseChoice& base : kBases) choice[i++] = EnvironmentVariable(base.variable);
  for (const WrapperChoice& wrapper : kWrappers) choice[i++] = EnvironmentVariable(wrapper.variable);
  return choice;
}

// Builds the back end for `choice`; false when a base's value was malformed
// (the null back end is built in its place).
bool Build(const Choice& choice) {
  State& state = Current();
  bool ok = true;
  std::unique_ptr<Backend> backend;
  std::size_t i = 0;
  for (const BaseChoice& base : kBases) {
    const std::optional<std::string>& value = choice[i++];
    if (backend || !value) continue;
    std::string error;
    backend = base.build(*value, &error);
    if (!backend) {
      std::fprintf(stderr, "%s\n", error.c_str());
      backend = CreateNullBackend();
      ok = false;
    }
  }
  if (!backend) backend = CreateSystemBackend();
  for (const WrapperChoice& wrapper : kWrappers) {
    const std::optional<std::string>& value = choice[i++];
    if (value && !value->empty()) backend = wrapper.wrap(std::move(backend), *value);
  }
  if (state.backend) state.backend->Flush();
  Install(std::move(backend));
  state.choice = choice;
  state.replaced = false;
  return ok;
}

// A malformed configuration keeps failing for as long as it is set, so that
// every InitInstrument under it reports no instrument.
bool g_configuration_ok = true;

// The first use builds the back end the environment chooses. Kept out of
// CurrentBackend, which every port access calls, so that its fast path is a
// load and a test with no frame to set up.
[[gnu::noinline]] Backend& BuildFromEnvironment() {
  g_configuration_ok = Build(ChoiceFromEnvironment());
  return *g_backend;
}

}  // namespace

Backend& CurrentBackend() {
  if (g_backend != nullptr) [[likely]] return *g_backend;
  return BuildFromEnvironment();
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
  Install(std::move(backend));
  state.replaced = state.backend != nullptr;
  g_configuration_ok = true;
  return previous;
}

void FlushBackend() {
  State& state = Current();
  if (state.backend) state.backend->Flush();
}

}  // namespace ru3::platform
