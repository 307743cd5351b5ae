// The trigger's acquisition-settings exports: source, kind per input, level,
// hysteresis, the PXI trigger lines and the trigger time-out.
//
// Like the other settings exports, each makes the presence check, tests its
// arguments in a fixed order, translates volts and milliseconds into the
// object's raw trigger codes and seconds, and calls one setter or getter.
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
