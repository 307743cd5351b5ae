// The exports of facilities other models of the family have and this one
// lacks: square-wave and function generator, digital outputs, resistance
// measurement and a host-driven serial bus. They exist so that a host written
// for the whole family can call them; each reports the facility absent.
//
// Byte and 16-bit arguments use only the low bits of their 32-bit slot. A null
// output pointer gives rcBadValue after the presence check and the function's
// own tests, and nothing is written.
#include <cstdint>

#include "api/Exportin.h"

namespace ru3::api {
namespace {

// Every generator function ends here when the capability flag says the
// facility exists: this library drives no generator.
constexpr std::uint16_t kNoGeneratorCode = rcNotAvailable;

// The status of a function generator function: presence, then the generator.
std::uint16_t FunctionGeneratorStatus() {
  VOz3* instrument = Present();
  if (instrument == nullptr) return rcNoInstrument;
  if (!instrument->bFunctionGen) return rcNoGenerator;
  return kNoGeneratorCode;
}

// The serial-bus functions share one routine per direction; the stop flag is
// taken but nothing reaches the instrument's own bus.
std::uint16_t HostBusWrite(bool /*stop*/) { return Present() == nullptr ? rcNoInstrument : rcNotAvailable; }
std::uint16_t HostBusRead(bool /*stop*/) { return Present() == nullptr ? rcNoInstrument : rcNotAvailable; }

}  // namespace
}  // namespace ru3::api

using ru3::VOz3;
using ru3::api::Guarded;
using ru3::api::OnInstrument;
using ru3::api::Present;
using ru3::api::State;
using namespace ru3::api;  // status codes and the helpers above

extern "C" {

// ---- Square-wave generator ------------------------------------------------

RU3_API int32_t RU3_CALL GetSquareWaveGenFrequency(void) noexcept {
  return Guarded<int32_t>(0, [&]() -> int32_t { return State().SquareWaveGenFrequency; });
}

RU3_API uint16_t RU3_CALL SetSquareWaveGenFrequency(uint32_t* /*frequency*/) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!instrument->bSquareWaveGen) return rcNoGenerator;
    return kNoGeneratorCode;
  });
}

// ---- Function generator -------------------------------------------------------

RU3_API uint16_t RU3_CALL SetFuncGenSignalType(uint32_t /*type*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

RU3_API uint16_t RU3_CALL GetFuncGenSignalType(uint16_t* /*type*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

RU3_API uint16_t RU3_CALL SetFuncGenAmplitude(double /*amplitude*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

RU3_API uint16_t RU3_CALL GetFuncGenAmplitude(double* /*amplitude*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

RU3_API uint16_t RU3_CALL SetFuncGenAmplitudeRange(uint32_t /*unused*/) noexcept { return rcNotAvailable; }

RU3_API uint16_t RU3_CALL GetFuncGenAmplitudeRange(uint32_t /*unused*/) noexcept { return rcNotAvailable; }

RU3_API uint16_t RU3_CALL SetFuncGenDCOffset(double /*offset*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

RU3_API uint16_t RU3_CALL GetFuncGenDCOffset(double* /*offset*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

RU3_API uint16_t RU3_CALL SetFuncGenSymmetry(double /*symmetry*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

RU3_API uint16_t RU3_CALL GetFuncGenSymmetry(double* /*symmetry*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

RU3_API uint16_t RU3_CALL SetFuncGenFrequency(double* /*frequency*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

RU3_API uint16_t RU3_CALL GetFuncGenFrequency(double* /*frequency*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

RU3_API uint16_t RU3_CALL SetFuncGenTrigSource(uint32_t /*source*/) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!instrument->bFuncGenTrigSource) return rcNotAvailable;
    return kNoGeneratorCode;
  });
}

RU3_API uint16_t RU3_CALL GetFuncGenTrigSource(uint8_t* /*source*/) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!instrument->bFuncGenTrigSource) return rcNotAvailable;
    return kNoGeneratorCode;
  });
}

RU3_API uint16_t RU3_CALL FillFuncGenMemory(uint32_t /*count*/, const uint16_t* /*samples*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

RU3_API uint16_t RU3_CALL SetFuncGenOutputOn(uint32_t /*on*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return FunctionGeneratorStatus(); });
}

// Writes "off" before any check, so the host reads off even without an
// instrument.
RU3_API uint16_t RU3_CALL GetFuncGenOutputOn(uint16_t* on) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&]() -> uint16_t {
    if (on != nullptr) *on = 0;
    return FunctionGeneratorStatus();
  });
}

RU3_API uint16_t RU3_CALL SetFuncGenEnable(uint32_t /*on*/) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (instrument->byInstrumentKind != ru3::kKindConfigurable) return rcNotAvailable;
    return kNoGeneratorCode;
  });
}

RU3_API uint16_t RU3_CALL GetFuncGenEnable(uint16_t* on) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&]() -> uint16_t {
    if (on != nullptr) *on = 0;
    return FunctionGeneratorStatus();
  });
}

RU3_API uint16_t RU3_CALL FuncGenBurst(uint32_t /*count*/) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!instrument->bFuncGenBurst) return rcNotAvailable;
    return kNoGeneratorCode;
  });
}

RU3_API uint16_t RU3_CALL SetFuncGenMode(uint32_t /*unused*/) noexcept { return rcNotAvailable; }

RU3_API uint16_t RU3_CALL GetFuncGenMode(uint32_t /*unused*/) noexcept { return rcNotAvailable; }

// ---- Digital outputs, resistance measurement, serial bus --------------------

RU3_API uint16_t RU3_CALL SetDigitalOutputs(uint32_t /*unused*/) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* /*instrument*/) -> uint16_t {
    return rcNotAvailable;  // with or without outputs: none are driven
  });
}

RU3_API uint16_t RU3_CALL GetDigitalOutputs(uint32_t /*unused*/) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* /*instrument*/) -> uint16_t {
    return rcNotAvailable;
  });
}

RU3_API uint16_t RU3_CALL SetupOhmMeasurements(uint32_t /*unused*/) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* /*instrument*/) -> uint16_t {
    return rcNotAvailable;
  });
}

RU3_API uint16_t RU3_CALL GetOhmValues(uint32_t /*unused1*/, uint32_t /*unused2*/) noexcept { return rcNotAvailable; }

RU3_API uint16_t RU3_CALL I2CWrite(uint32_t /*a*/, uint32_t /*b*/, uint32_t /*c*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return HostBusWrite(true); });
}

RU3_API uint16_t RU3_CALL I2CWriteNoStop(uint32_t /*a*/, uint32_t /*b*/, uint32_t /*c*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return HostBusWrite(false); });
}

RU3_API uint16_t RU3_CALL I2CRead(uint32_t /*a*/, uint32_t /*b*/, uint32_t /*c*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return HostBusRead(true); });
}

RU3_API uint16_t RU3_CALL I2CReadNoStop(uint32_t /*a*/, uint32_t /*b*/, uint32_t /*c*/) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&] { return HostBusRead(false); });
}

RU3_API uint16_t RU3_CALL I2CSetSpeed(uint32_t /*unused*/) noexcept {
  return Guarded<uint16_t>(rcBadValue,
                           [&]() -> uint16_t { return Present() == nullptr ? rcNoInstrument : rcNotAvailable; });
}

RU3_API uint16_t RU3_CALL I2CGetSpeed(uint32_t /*unused*/) noexcept {
  return Guarded<uint16_t>(rcBadValue,
                           [&]() -> uint16_t { return Present() == nullptr ? rcNoInstrument : rcNotAvailable; });
}

}  // extern "C"
