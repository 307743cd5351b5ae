// The acquisition-settings exports: channels, record and timebase, input
// ranges and coupling, and the trigger.
//
// Each export makes the presence check, tests its arguments in a fixed order
// against the instrument's capabilities, translates the host's codes and units
// (enumeration ordinals, volts, milliseconds) into the object's (raw trigger
// codes, seconds) and calls one setter or getter of the object. What a setting
// then does in the hardware belongs to the object's settings model.
//
// Byte and 16-bit arguments use only the low bits of their 32-bit slot. A null
// output pointer gives rcBadValue after the presence check and the function's
// own tests, and nothing is written.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "api/Exportin.h"

namespace ru3::api {
namespace {

std::uint8_t LowByte(std::uint32_t value) { return static_cast<std::uint8_t>(value & 0xFFU); }
std::uint16_t LowWord(std::uint32_t value) { return static_cast<std::uint16_t>(value & 0xFFFFU); }

// Channel check: 1 .. number of channels (and never beyond the object's four
// per-channel slots).
bool ChannelOk(const VOz3& instrument, std::uint8_t ch) { return ch >= 1 && ch <= instrument.wNrChannels && ch <= 4; }

// Trigger inputs: 0 is the external trigger input, 1 .. channels the channels.
bool TriggerInputOk(const VOz3& instrument, std::uint8_t input) {
  if (input == 0) return instrument.bTrigExternal;
  return ChannelOk(instrument, input);
}

bool KindHasTransferMode(std::uint8_t kind) { return kind == 18 || kind == 22 || kind == 23; }

bool ExternalClockAvailable(const VOz3& instrument) {
  return (instrument.byInstrumentKind == 18 || instrument.byInstrumentKind == 22) &&
         instrument.rMaxSampleFreq >= 50.0e6L;
}

// A channel's range in volts as the host sees it (a double). Limits on volts
// the host passes are taken against this value, so that the range the library
// reports is itself accepted: 0.8 as a double lies above 0.8 in extended
// precision.
double RangeVolts(const VOz3& instrument, int ch) { return static_cast<double>(instrument.Sensitivity(ch)); }

// Conversion between volts and raw trigger codes for the object's trigger
// resolution: 8 bits (and anything other than 16) or 16 bits.
struct TriggerScale {
  double offset;
  double scale;
  double largest_level;
  double largest_hysteresis;
};

TriggerScale ScaleOf(const VOz3& instrument) {
  if (instrument.wTrigLevelBits == 16) return {32767.0, 32768.0, 65535.0, 65535.0};
  return {127.0, 128.0, 256.0, 256.0};
}

double TriggerLevelVolts(const VOz3& instrument, int ch) {
  const TriggerScale s = ScaleOf(instrument);
  return (static_cast<double>(instrument.TrigLevel(ch)) - s.offset) * RangeVolts(instrument, ch) / s.scale;
}

bool TriggerSourceAvailable(const VOz3& instrument, std::uint8_t source) {
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

bool TriggerModeAvailable(const VOz3& instrument, std::uint8_t mode) {
  if (mode <= 1) return true;
  if (mode <= 3) return instrument.bTrigModes2And3;
  if (mode == 4) return instrument.bTrigMode4;
  if (mode <= 6) return instrument.bTrigModes5And6;
  if (mode <= 11) return false;
  return true;  // 12 and above are refused as bad values
}

// Rounded to the nearest integer (ties to even) and limited to the int32 range;
// not-a-number gives 0.
std::int32_t RoundToInt32(long double value) {
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

}  // namespace
}  // namespace ru3::api

using ru3::TMeasureMode;
using ru3::TTransferMode;
using ru3::TTrigSource;
using ru3::VOz3;
using ru3::api::Guarded;
using ru3::api::OnInstrument;
using ru3::api::Present;
using ru3::api::State;
using namespace ru3::api;  // status codes and the helpers above

extern "C" {

// ---- Channels, record and timebase ---------------------------------------

RU3_API uint16_t RU3_CALL GetMeasureMode(uint8_t* mode) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const auto code = static_cast<uint8_t>(instrument->mMeasureMode);
    if (code > static_cast<uint8_t>(TMeasureMode::mXY)) return rcBadValue;
    if (mode == nullptr) return rcBadValue;
    *mode = code;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetMeasureMode(uint32_t mode) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t code = LowByte(mode);
    if ((code == 2 || code == 3) && instrument->wNrChannels < 2) return rcNotAvailable;
    if (code >= 4 && code <= 15 && instrument->wNrChannels < 4) return rcNotAvailable;
    if (code > static_cast<uint8_t>(TMeasureMode::mXY)) return rcBadValue;
    instrument->SetMeasureMode(static_cast<TMeasureMode>(code));
    return rcOk;
  });
}

RU3_API int32_t RU3_CALL GetRecordLength(void) noexcept {
  return Guarded<int32_t>(0, [&]() -> int32_t {
    VOz3* instrument = Present();
    return instrument != nullptr ? instrument->lRecordLength : 0;
  });
}

RU3_API uint16_t RU3_CALL SetRecordLength(uint32_t length) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    // Unsigned: a length that is negative as a signed number is far too long.
    if (instrument->nMaxRecordLength < 0 || length > static_cast<uint32_t>(instrument->nMaxRecordLength)) {
      return rcBadValue;
    }
    instrument->SetRecordLength(static_cast<int32_t>(length));
    return rcOk;
  });
}

RU3_API int32_t RU3_CALL GetPostSamples(void) noexcept {
  return Guarded<int32_t>(0, [&]() -> int32_t {
    VOz3* instrument = Present();
    return instrument != nullptr ? instrument->lPostSamples : 0;
  });
}

RU3_API uint16_t RU3_CALL SetPostSamples(uint32_t count) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (instrument->lRecordLength < 0 || count > static_cast<uint32_t>(instrument->lRecordLength)) {
      return rcBadValue;
    }
    instrument->SetPostSamples(static_cast<int32_t>(count));
    return rcOk;
  });
}

RU3_API double RU3_CALL GetSampleFrequencyF(void) noexcept {
  return Guarded<double>(0.0, [&]() -> double {
    VOz3* instrument = Present();
    return instrument != nullptr ? static_cast<double>(instrument->SampleFreq()) : 0.0;
  });
}

RU3_API uint16_t RU3_CALL SetSampleFrequencyF(double* frequency) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (frequency == nullptr) return rcBadValue;
    // The object never refuses a frequency: it picks the nearest one the
    // clock produces, and the host learns it from the written-back value.
    instrument->SetSampleFreq(static_cast<long double>(*frequency));
    *frequency = static_cast<double>(instrument->SampleFreq());
    return rcOk;
  });
}

// The integer forms go through the F forms and have no presence check of
// their own.
RU3_API int32_t RU3_CALL GetSampleFrequency(void) noexcept {
  return Guarded<int32_t>(0, [&]() -> int32_t { return RoundToInt32(GetSampleFrequencyF()); });
}

RU3_API uint16_t RU3_CALL SetSampleFrequency(uint32_t* frequency) noexcept {
  return Guarded<uint16_t>(rcBadValue, [&]() -> uint16_t {
    if (frequency == nullptr) return SetSampleFrequencyF(nullptr);
    double value = static_cast<double>(*frequency);
    const uint16_t status = SetSampleFrequencyF(&value);
    // Written back whatever the status: without an instrument the value comes
    // back unchanged.
    const long double rounded = std::isnan(value) ? 0.0L : ru3::RoundHalfEven(static_cast<long double>(value));
    if (rounded <= 0.0L) {
      *frequency = 0;
    } else if (rounded >= static_cast<long double>(std::numeric_limits<uint32_t>::max())) {
      *frequency = std::numeric_limits<uint32_t>::max();
    } else {
      *frequency = static_cast<uint32_t>(rounded);
    }
    return status;
  });
}

RU3_API uint16_t RU3_CALL GetExternalClock(uint16_t* on) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!ExternalClockAvailable(*instrument)) {
      if (on != nullptr) *on = 0;
      return rcNotAvailable;
    }
    if (on == nullptr) return rcBadValue;
    *on = instrument->bExternalClock ? 1 : 0;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetExternalClock(uint32_t on) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint16_t value = LowWord(on);
    if (!ExternalClockAvailable(*instrument)) {
      instrument->bExternalClock = false;
      return rcNotAvailable;
    }
    if (value > 1) {
      instrument->bExternalClock = false;
      return rcBadValue;
    }
    instrument->bExternalClock = value == 1;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetResolution(uint8_t* bits) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (bits == nullptr) return rcBadValue;
    *bits = static_cast<uint8_t>(instrument->nResolution & 0xFF);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetResolution(uint32_t bits) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t wanted = LowByte(bits);
    const std::size_t count = std::min<std::size_t>(instrument->wNrResolutions, instrument->awResolutions.size());
    for (std::size_t i = 0; i < count; ++i) {
      if (instrument->awResolutions[i] != wanted) continue;
      // A resolution change must not disturb the generator settings the
      // object holds; they are kept across it at double precision.
      const uint16_t signal_type = instrument->wFuncGenSignalType;
      const auto frequency = static_cast<double>(instrument->rFuncGenFrequency);
      const auto amplitude = static_cast<double>(instrument->rFuncGenAmplitude);
      const auto offset = static_cast<double>(instrument->rFuncGenDCOffset);
      const auto symmetry = static_cast<double>(instrument->rFuncGenSymmetry);
      instrument->SetResolutionBits(wanted);
      instrument->wFuncGenSignalType = signal_type;
      instrument->rFuncGenFrequency = frequency;
      instrument->rFuncGenAmplitude = amplitude;
      instrument->rFuncGenDCOffset = offset;
      instrument->rFuncGenSymmetry = symmetry;
      return rcOk;
    }
    return rcBadValue;
  });
}

RU3_API uint16_t RU3_CALL SetTransferMode(uint32_t mode) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!KindHasTransferMode(instrument->byInstrumentKind)) return rcNotAvailable;
    instrument->tmTransferMode = static_cast<TTransferMode>(LowByte(mode));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetTransferMode(uint32_t* mode) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!KindHasTransferMode(instrument->byInstrumentKind)) return rcNotAvailable;
    if (mode == nullptr) return rcBadValue;
    *mode = static_cast<uint32_t>(instrument->tmTransferMode);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetInstrumentConfig(uint32_t config) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (instrument->byInstrumentKind != 18) return rcNotAvailable;
    const long double frequency = instrument->SampleFreq();
    const int32_t record_length = instrument->lRecordLength;
    const long double range1 = instrument->Sensitivity(1);
    const long double range2 = instrument->Sensitivity(2);
    const int32_t post_samples = instrument->lPostSamples;

    const uint16_t value = LowWord(config);
    uint16_t status = rcOk;
    if (value <= 2) {
      instrument->byInstrumentConfig = static_cast<uint8_t>(value);
    } else {
      status = rcBadValue;
    }
    // The timebase and the ranges are applied again in every case.
    instrument->SetSampleFreq(frequency);
    instrument->SetRecordLength(record_length);
    instrument->SetSensitivity(1, range1);
    instrument->SetSensitivity(2, range2);
    instrument->SetPostSamples(post_samples);
    return status;
  });
}

RU3_API uint16_t RU3_CALL GetInstrumentConfig(uint16_t* config) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (instrument->byInstrumentKind != 18) return rcNotAvailable;
    if (instrument->byInstrumentConfig > 2) return rcBadValue;
    if (config == nullptr) return rcBadValue;
    *config = instrument->byInstrumentConfig;
    return rcOk;
  });
}

// ---- Input ranges and coupling --------------------------------------------

RU3_API uint16_t RU3_CALL GetSensitivity(uint32_t ch, double* range) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    if (range == nullptr) return rcBadValue;
    *range = static_cast<double>(instrument->Sensitivity(channel));
    RefreshVoltPerCode(*instrument, channel);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetSensitivity(uint32_t ch, double* range) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    if (range == nullptr) return rcBadValue;
    // The range the host read back selects that very range: no restart of the
    // average, no reprogramming.
    const long double current = instrument->Sensitivity(channel);
    instrument->SetSensitivity(channel, *range == static_cast<double>(current) ? current : *range);
    const long double actual = instrument->Sensitivity(channel);
    *range = static_cast<double>(actual);
    RefreshVoltPerCode(*instrument, channel);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetAutoRanging(uint32_t ch, uint8_t* on) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    if (on == nullptr) return rcBadValue;
    *on = instrument->AutoRanging(channel) ? 1 : 0;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetAutoRanging(uint32_t ch, uint32_t on) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    const uint8_t value = LowByte(on);
    if (value > 1) return rcBadValue;
    (void)instrument->SetAutoRanging(channel, value == 1);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetCoupling(uint32_t ch, uint8_t* coupling) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    const uint8_t code = instrument->Coupling(channel);
    if (code > 1) return rcBadValue;
    if (coupling == nullptr) return rcBadValue;
    *coupling = code;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetCoupling(uint32_t ch, uint32_t coupling) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    const uint8_t code = LowByte(coupling);
    if (code > 1) return rcBadValue;
    instrument->SetCoupling(channel, code);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetDcLevel(uint32_t ch, double* level) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!instrument->bDcLevel) return rcNotAvailable;
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    if (level == nullptr) return rcBadValue;
    *level = static_cast<double>(instrument->DcLevel(channel));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetDcLevel(uint32_t ch, double level) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!instrument->bDcLevel) return rcNotAvailable;
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    const double limit = 2.0 * RangeVolts(*instrument, channel);
    if (!(level >= -limit && level <= limit)) return rcBadValue;  // also not-a-number
    instrument->SetDcLevel(channel, level);
    return rcOk;
  });
}

// ---- Trigger ---------------------------------------------------------------

RU3_API uint16_t RU3_CALL GetTriggerSource(uint8_t* source) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const auto code = static_cast<uint8_t>(instrument->tsTriggerSource);
    if (code > static_cast<uint8_t>(TTrigSource::tsUnknown)) return rcBadValue;
    if (source == nullptr) return rcBadValue;
    *source = code;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetTriggerSource(uint32_t source) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t code = LowByte(source);
    if (!TriggerSourceAvailable(*instrument, code)) return rcNotAvailable;
    if (code > static_cast<uint8_t>(TTrigSource::tsGenNew)) return rcBadValue;
    instrument->SetTriggerSource(static_cast<TTrigSource>(code));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetTriggerModeCh(uint32_t input, uint8_t* mode) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t index = LowByte(input);
    if (!TriggerInputOk(*instrument, index)) return rcBadChannel;
    const auto code = static_cast<uint8_t>(instrument->TrigMode(index) & 0x7F);
    if (code > 6) return rcBadValue;
    if (mode == nullptr) return rcBadValue;
    *mode = code;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetTriggerModeCh(uint32_t input, uint32_t mode) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t index = LowByte(input);
    if (!TriggerInputOk(*instrument, index)) return rcBadChannel;
    const uint8_t code = LowByte(mode);
    if (!TriggerModeAvailable(*instrument, code)) return rcNotAvailable;
    if (code > 11) return rcBadValue;
    instrument->SetTrigMode(index, code);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetTriggerMode(uint8_t* mode) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    uint8_t code = 0;
    switch (instrument->tsTriggerSource) {
      case TTrigSource::tsCh1:
      case TTrigSource::tsCh2:
      case TTrigSource::tsCh3:
      case TTrigSource::tsCh4:
      case TTrigSource::tsAnaExt:
      case TTrigSource::tsAnd:
      case TTrigSource::tsOr:
      case TTrigSource::tsXor:
        // The channels share the trigger kind of channel 1.
        code = static_cast<uint8_t>(instrument->TrigMode(1) & 0x7F);
        if (code > 6) return rcBadValue;
        break;
      case TTrigSource::tsExternal:
        code = static_cast<uint8_t>(instrument->TrigMode(0) & 0x7F);
        if (code > 1) return rcBadValue;
        break;
      default:
        return rcOk;  // no trigger mode to report; nothing is written
    }
    if (mode == nullptr) return rcBadValue;
    *mode = code;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetTriggerMode(uint32_t mode) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t code = LowByte(mode);
    // Every channel that accepts the mode gets it; the last refusal is reported.
    uint16_t status = rcOk;
    const int channels = instrument->wNrChannels;
    for (int ch = 1; ch <= channels; ++ch) {
      const uint16_t s = SetTriggerModeCh(static_cast<uint32_t>(ch), code);
      if (s != rcOk) status = s;
    }
    // The external input follows the slope modes where it exists.
    if (code <= 1) (void)SetTriggerModeCh(0, code);
    return status;
  });
}

RU3_API uint16_t RU3_CALL GetTriggerLevel(uint32_t ch, double* level) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    if (level == nullptr) return rcBadValue;
    *level = static_cast<double>(TriggerLevelVolts(*instrument, channel));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetTriggerLevel(uint32_t ch, double level) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    const double range = RangeVolts(*instrument, channel);
    if (!(level >= -range && level <= range)) return rcBadValue;  // also not-a-number
    const TriggerScale s = ScaleOf(*instrument);
    double code = static_cast<double>(ru3::RoundHalfEven(level / range * s.scale)) + s.offset;
    if (code < 0.0) code = 0.0;
    if (code > s.largest_level) code = s.largest_level;
    instrument->SetTrigLevel(channel, static_cast<int32_t>(code));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetTriggerHys(uint32_t ch, double* hysteresis) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    if (hysteresis == nullptr) return rcBadValue;
    const TriggerScale s = ScaleOf(*instrument);
    *hysteresis = static_cast<double>(instrument->TrigHys(channel)) * RangeVolts(*instrument, channel) / s.scale;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetTriggerHys(uint32_t ch, double hysteresis) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    const uint8_t channel = LowByte(ch);
    if (!ChannelOk(*instrument, channel)) return rcBadChannel;
    const double range = RangeVolts(*instrument, channel);
    const double level = TriggerLevelVolts(*instrument, channel);
    const double hys = hysteresis;
    // The kind of channel 1 (its whole stored byte) decides which side of the
    // level the hysteresis lies on, whichever channel is being set.
    bool accepted = false;
    switch (instrument->TrigMode(1)) {
      case 0:
        accepted = level - hys >= -range;
        break;
      case 1:
        accepted = level + hys <= range;
        break;
      case 2:
      case 3:
        accepted = level - hys >= -range || hys >= 0.0;
        break;
      default:
        accepted = false;
        break;
    }
    // A negative hysteresis has no meaning; refused rather than turned into
    // the largest code.
    if (!accepted || !(hys >= 0.0)) return rcBadValue;
    const TriggerScale s = ScaleOf(*instrument);
    // Limited to the largest code: a hysteresis far beyond the range saturates
    // instead of wrapping around to a small code.
    double code = static_cast<double>(ru3::RoundHalfEven(hys / range * s.scale));
    if (!(code <= s.largest_hysteresis)) code = s.largest_hysteresis;
    instrument->SetTrigHys(channel, static_cast<int32_t>(code));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetPXITriggerSlopes(uint8_t* slopes) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!instrument->bPxi) return rcNotAvailable;
    if (slopes == nullptr) return rcBadValue;
    *slopes = instrument->byPxiTrigSlopes;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetPXITriggerSlopes(uint32_t slopes) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!instrument->bPxi) return rcNotAvailable;
    instrument->byPxiTrigSlopes = LowByte(slopes);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetPXITriggerEnables(uint8_t* enables) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!instrument->bPxi) return rcNotAvailable;
    if (enables == nullptr) return rcBadValue;
    *enables = instrument->byPxiTrigEnables;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetPXITriggerEnables(uint32_t enables) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!instrument->bPxi) return rcNotAvailable;
    instrument->byPxiTrigEnables = LowByte(enables);
    return rcOk;
  });
}

RU3_API int32_t RU3_CALL GetTriggerTimeOut(void) noexcept {
  return Guarded<int32_t>(rcNoInstrument, [&]() -> int32_t {
    VOz3* instrument = Present();
    if (instrument == nullptr) return rcNoInstrument;
    if (instrument->rTrigTimeOut == -1.0L) return -1;
    const long double ms = ru3::RoundHalfEven(instrument->rTrigTimeOut * 1000.0L);
    // Time-outs are set as unsigned milliseconds; one beyond the signed range
    // comes back as the same 32 bits the host gave.
    if (ms >= 0.0L && ms <= static_cast<long double>(std::numeric_limits<uint32_t>::max())) {
      return static_cast<int32_t>(static_cast<uint32_t>(ms));
    }
    return RoundToInt32(ms);
  });
}

RU3_API uint16_t RU3_CALL SetTriggerTimeOut(uint32_t milliseconds) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (milliseconds == RU3_TIMEOUT_NONE) {
      instrument->SetTrigTimeOut(-1.0L);
    } else {
      instrument->SetTrigTimeOut(static_cast<long double>(milliseconds) / 1000.0L);
    }
    return rcOk;
  });
}

}  // extern "C"
