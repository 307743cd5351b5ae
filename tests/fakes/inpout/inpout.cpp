// Stand-in for the InpOut driver's DLL (inpout32.dll, inpoutx64.dll): its
// documented functions Inp32, Out32 and IsInpOutDriverOpen, answered by the
// simulated PC and instrument instead of a kernel driver. DLL.dll loads it
// as it loads the real one and takes its real port-access path, so what the
// host measures went through that path.
//
// RU3_INPOUT_SIMULATOR configures the simulated PC (the syntax of
// RU3_SIMULATOR; `driver=missing` makes IsInpOutDriverOpen answer FALSE).
// InpOutAccessCount, not part of InpOut, tells a test how many port accesses
// came through.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "sim/simulator.h"

namespace ru3::platform {
// The seam's only out-of-line member; the simulated PC overrides it, so it
// never runs here.
void Backend::Delay(std::int32_t /*ms*/) {}
}  // namespace ru3::platform

namespace {

std::string ConfigFromEnvironment() {
  char value[1024] = {};
  const DWORD length = GetEnvironmentVariableA("RU3_INPOUT_SIMULATOR", value, sizeof(value));
  return length < sizeof(value) ? std::string(value, length) : std::string();
}

ru3::sim::SimulatedPc& Pc() {
  static const std::unique_ptr<ru3::sim::SimulatedPc> pc = [] {
    ru3::sim::SimConfig config;
    std::string error;
    if (!ru3::sim::ParseSimConfig(ConfigFromEnvironment(), &config, &error)) {
      std::fprintf(stderr, "stand-in InpOut: %s\n", error.c_str());
      config.driver_present = false;
    }
    return std::make_unique<ru3::sim::SimulatedPc>(config);
  }();
  return *pc;
}

}  // namespace

extern "C" {

__attribute__((dllexport)) short WINAPI Inp32(short port) {
  return static_cast<short>(Pc().In(static_cast<std::uint16_t>(port)));
}

__attribute__((dllexport)) void WINAPI Out32(short port, short value) {
  Pc().Out(static_cast<std::uint16_t>(port), static_cast<std::uint8_t>(value));
}

__attribute__((dllexport)) BOOL WINAPI IsInpOutDriverOpen() { return Pc().PortDriverPresent() ? TRUE : FALSE; }

__attribute__((dllexport)) unsigned long long WINAPI InpOutAccessCount() { return Pc().AccessCount(); }

}  // extern "C"
