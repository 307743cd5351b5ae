// Argument checks and conversions shared by the acquisition-settings
// exports: channel and trigger-input numbers, the instrument's capabilities,
// volts against trigger codes, and integer results.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "api/Exportin.h"

namespace ru3::api {

inline std::uint8_t LowByte(std::uint32_t value) { return static_cast<std::uint8_t>(value & 0xFFU); }
inline std::uint16_t LowWord(std::uint32_t value) { return static_cast<std::uint16_t>(value & 0xFFFFU); }

// Channel check: 1 .. number of channels (and never beyond the object's four
// per-channel slots).
inline bool ChannelOk(const VOz3& instrument, std::uint8_t ch) { return ch >= 1 && ch <= instrument.wNrChannels && ch <= 4; }

// Trigger inputs: 0 is the external trigger input, 1 .. channels the channels.
inline bool TriggerInputOk(const VOz3& instrument, std::uint8_t input) {
  if (input == 0) return instrument.bTrigExternal;
  return ChannelOk(instrument, input);
}

inline bool ExternalClockAvailable(const VOz3& instrument) {
  return KindHasExternalClock(instrument.byInstrumentKind) && instrument.rMaxSampleFreq >= kExternalClockMinMaxFreq;
}

// A channel's range in volts as the host sees it (a double). Limits on volts
// the host passes are taken against this value, so that the range the library
// reports is itself accepted: 0.8 as a double lies above 0.8 in extended
// precision.
inline double RangeVolts(const VOz3& instrument, int ch) { return static_cast<double>(instrument.Sensitivity(ch)); }

// Conversion between volts and raw trigger codes for the object's trigger
// resolution: 8 bits (and anything other than 16) or 16 bits.
struct TriggerScale {
  double offset;
  double scale;
  double largest_level;
  double largest_hysteresis;
};

inline TriggerScale ScaleOf(const VOz3& instrument) {
  if (instrument.wTrigLevelBits == 16) return {32767.0, 32768.0, 65535.0, 65535.0};
  return {127.0, 128.0, 256.0, 256.0};
}

inline double TriggerLevelVolts(const VOz3& instrument, int ch) {
  const TriggerScale s = ScaleOf(instrument);
  return (static_cast<double>(instrument.TrigLevel(ch)) - s.offset) * RangeVolts(instrument, ch) / s.scale;
}

inline bool TriggerSourceAvailable(const VOz3& instrument, std::uint8_t source) {
  switch (source) {
    case 0:  // tsCh1
    case 9:  // tsNoTrig
      return true;
    case 1:  // tsCh2
      return instrument.byInstrumentConfig == 2 || instrument.wNrChannels >= 2;
    case 2:  // tsCh3
      return instrument.wNrChannels >= 3;
    case 3:  // tsCh4
      return instrument.wNrChannels >= 4;
    case 4:  // tsExternal
      return instrument.bTrigExternal;
    case 5:  // tsAnaExt
      return instrument.bTrigAnaExt;
    case 6:  // tsAnd
    case 7:  // tsOr
      return instrument.bTrigAndOr;
    case 8:  // tsXor
      return instrument.bTrigXor;
    case 10:  // tsNeverTrig
      return false;
    case 11:  // tsPxiExt
      return instrument.bPxi;
    case 12:  // tsGenStart
    case 13:  // tsGenStop
    case 14:  // tsGenNew
      return instrument.bTrigGen;
    default:  // 15 and above are refused as bad values, not as unavailable
      return true;
  }
}

inline bool TriggerModeAvailable(const VOz3& instrument, std::uint8_t mode) {
  if (mode <= 1) return true;
  if (mode <= 3) return instrument.bTrigModes2And3;
  if (mode == 4) return instrument.bTrigMode4;
  if (mode <= 6) return instrument.bTrigModes5And6;
  if (mode <= 11) return false;
  return true;  // 12 and above are refused as bad values
}

// Rounded to the nearest integer (ties to even) and limited to the int32 range;
// not-a-number gives 0.
inline std::int32_t RoundToInt32(long double value) {
  if (std::isnan(value)) return 0;
  const long double r = RoundHalfEven(value);
  if (r <= static_cast<long double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  if (r >= static_cast<long double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(r);
}

}  // namespace ru3::api
