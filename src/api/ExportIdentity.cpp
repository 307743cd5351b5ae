// The identity exports: the calibration date and serial number from the
// instrument's memory image, and the lists of input ranges and resolutions a
// host offers its user.
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

}  // namespace
}  // namespace ru3::api

using ru3::VOz3;
using ru3::api::OnInstrument;
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

}  // extern "C"
