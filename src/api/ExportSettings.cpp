// The acquisition-settings exports: channels, record and timebase, input
// ranges and coupling (the trigger's are in ExportTrigger.cpp).
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

#include "api/SettingsArgs.h"

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
    if (!ru3::KindHasTransferMode(instrument->byInstrumentKind)) return rcNotAvailable;
    instrument->tmTransferMode = static_cast<TTransferMode>(LowByte(mode));
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL GetTransferMode(uint32_t* mode) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (!ru3::KindHasTransferMode(instrument->byInstrumentKind)) return rcNotAvailable;
    if (mode == nullptr) return rcBadValue;
    *mode = static_cast<uint32_t>(instrument->tmTransferMode);
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL SetInstrumentConfig(uint32_t config) noexcept {
  return OnInstrument(rcBadValue, [&](VOz3* instrument) -> uint16_t {
    if (instrument->byInstrumentKind != ru3::kKindConfigurable) return rcNotAvailable;
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
    if (instrument->byInstrumentKind != ru3::kKindConfigurable) return rcNotAvailable;
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
    instrument->ChooseRange(channel, *range == static_cast<double>(current) ? current : *range);
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

}  // extern "C"
