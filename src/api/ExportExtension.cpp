// The library's extension for modern hosts: full pre-trigger on or off, and
// the facts of the record in the channel buffers (FullPreTrigger.cpp holds
// the instrument's side). Beyond the instrument family's 115 exports; in
// DLL.dll at the ordinals after theirs.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "api/Exportin.h"

using ru3::api::OnInstrument;
using ru3::api::rcBadValue;
using ru3::api::rcNoInstrument;
using ru3::api::rcOk;

extern "C" {

RU3_API uint16_t RU3_CALL Ext_SetFullPreTrigger(uint32_t on) noexcept {
  return OnInstrument(rcBadValue, [&](ru3::VOz3* instrument) -> uint16_t {
    const auto code = static_cast<uint8_t>(on & 0xFF);
    if (code > 1) return rcBadValue;
    instrument->Extension.bOn = code == 1;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL Ext_GetFullPreTrigger(uint8_t* on) noexcept {
  return OnInstrument(rcBadValue, [&](ru3::VOz3* instrument) -> uint16_t {
    if (on == nullptr) return rcBadValue;
    *on = instrument->Extension.bOn ? 1 : 0;
    return rcOk;
  });
}

RU3_API uint16_t RU3_CALL Ext_GetRecordInfo(RU3RecordInfo* info) noexcept {
  return OnInstrument(rcBadValue, [&](ru3::VOz3* instrument) -> uint16_t {
    if (info == nullptr) return rcBadValue;
    std::uint32_t size = 0;
    std::memcpy(&size, info, sizeof size);
    constexpr std::uint32_t kSmallest = offsetof(RU3RecordInfo, sequence) + sizeof(info->sequence);
    if (size < kSmallest) return rcBadValue;

    const ru3::TRecordFacts& r = instrument->Extension.Record;
    RU3RecordInfo facts{};
    facts.sequence = r.nSequence;
    facts.sample_rate = static_cast<double>(r.rSampleFreq);
    for (int ch = 0; ch < 2; ++ch) {
      facts.range[ch] = static_cast<double>(r.arRange[static_cast<std::size_t>(ch + 1)]);
      facts.coupling[ch] = r.abyCoupling[static_cast<std::size_t>(ch + 1)];
    }
    facts.unit = r.nUnit;
    facts.length = r.lLength;
    facts.trigger_position = r.lTriggerPosition;
    facts.first_sample = r.lFirstSample;
    facts.forced = r.bForced ? 1 : 0;
    facts.full_pretrigger = r.bHeldOff ? 1 : 0;
    facts.channels = r.byChannels;
    // Only the bytes the caller has; a caller built against a longer struct
    // learns how many it got.
    const std::uint32_t filled = std::min<std::uint32_t>(size, sizeof facts);
    facts.size = filled;
    std::memcpy(info, &facts, filled);
    return rcOk;
  });
}

}  // extern "C"
