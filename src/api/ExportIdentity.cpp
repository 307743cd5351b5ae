// The identity, generator and auxiliary-output exports: calibration date and
// serial number, the lists of ranges and resolutions, unit selection, the
// auxiliary DAC and motor outputs, and the families of functions for
// facilities this instrument lacks (square-wave and function generator,
// digital outputs, resistance measurement, a host-driven serial bus), which
// exist so that a host written for the whole family can call them and only
// report that the facility is absent.
//
// Byte and 16-bit arguments use only the low bits of their 32-bit slot. A null
// output pointer gives rcBadValue after the presence check and the function's
// own tests, and nothing is written.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "api/Exportin.h"

namespace ru3::api {
namespace {

constexpr std::size_t kListLength = 20;  // the host's buffer for either list

// Packs a date value (days since 30 December 1899, time of day as the
// fraction) as day << 24 | month << 16 | year. The time of day is dropped:
// the whole days are the integer part towards zero, as date values before the
// epoch carry their time as a negative fraction. A value outside the years
// 1..9999 (never produced by the calibration store) packs as its fallback
// date, 1 January 1980.
std::uint32_t PackDate(double value) {
  using namespace std::chrono;
  constexpr sys_days kEpoch{year{1899} / December / 30};
  constexpr sys_days kFirst{year{1} / January / 1};
  constexpr sys_days kLast{year{9999} / December / 31};
  const long double whole = std::isfinite(value) ? std::trunc(static_cast<long double>(value)) : 0.0L;
  const long double first = (kFirst - kEpoch).count();
  const long double last = (kLast - kEpoch).count();
  year_month_day date{year{1980} / January / 1};
  if (std::isfinite(value) && whole >= first && whole <= last) {
    date = year_month_day{kEpoch + days{static_cast<int>(whole)}};
  }
  const auto day = static_cast<std::uint32_t>(static_cast<unsigned>(date.day()));
  const auto month = static_cast<std::uint32_t>(static_cast<unsigned>(date.month()));
  const auto year_number = static_cast<std::uint32_t>(static_cast<int>(date.year()));
  return day << 24 | month << 16 | year_number;
}

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

// ---- Calibration and identity ---------------------------------------------

RU3_API uint16_t RU3_CALL GetCalibrationDate(int32_t* date) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (ru3::KindLacksIdentity(instrument->byInstrumentKind)) return rcNotAvailable;
    if (date == nullptr) return rcBadValue;
    *date = static_cast<int32_t>(PackDate(instrument->CalibrationDate()));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetSerialNumber(int32_t* serial) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (ru3::KindLacksIdentity(instrument->byInstrumentKind)) {
      if (serial != nullptr) *serial = 0;
      return rcNotAvailable;
    }
    if (serial == nullptr) return rcBadValue;
    *serial = instrument->nSerialNumber;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetAvailableSensitivities(double* ranges) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (ranges == nullptr) return rcBadValue;
    std::fill_n(ranges, kListLength, 0.0);
    // Largest range first: element i is range number nNrRanges - i.
    const int count = std::clamp<int>(instrument->nNrRanges, 0, static_cast<int>(instrument->arRanges.size()) - 1);
    for (int i = 0; i < count; ++i) {
      ranges[i] = static_cast<double>(instrument->arRanges[static_cast<std::size_t>(count - i)]);
    }
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetAvailableResolutions(double* resolutions) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (resolutions == nullptr) return rcBadValue;
    std::fill_n(resolutions, kListLength, 0.0);
    const std::size_t count = std::min<std::size_t>(instrument->wNrResolutions, instrument->awResolutions.size());
    for (std::size_t i = 0; i < count; ++i) resolutions[i] = instrument->awResolutions[i];
    return rcOk;
  });
}

// ---- Unit selection, DAC, motor ---------------------------------------------
// Without an open instrument these touch nothing (its port address may be 0,
// which is not a printer port) and report rcNoInstrument.

RU3_API uint16_t RU3_CALL GetActiveRU3(uint8_t* unit) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (unit == nullptr) return rcBadValue;
    *unit = static_cast<uint8_t>(instrument->nActiveUnit & 0xFF);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetActiveRU3(uint32_t unit) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    instrument->SelectUnit(static_cast<int32_t>(unit & 0xFFU));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetDAC7394(double ch1, double ch2) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    instrument->SetDac(static_cast<long double>(ch1), static_cast<long double>(ch2));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetMotorOn(uint32_t first, uint32_t second) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    instrument->SetMotor((first & 0xFFU) != 0, (second & 0xFFU) != 0);
    return rcOk;
  });
}

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
