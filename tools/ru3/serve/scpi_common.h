// What the parts of the SCPI command tree share: number formatting, the
// setting a command hands to the Engine, channel suffixes and parameters,
// words in short or long form, and the record a query answers from. Each
// part (horizontal, vertical, trigger, waveform, measurements) adds its
// commands with a CommandList.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scpi_tree.h"

namespace ru3serve {

constexpr const char* kNotANumber = "9.91E+37";  // SCPI's not-a-number

// The shortest exact decimal, or 9.91E+37 for NaN and infinities.
std::string Num(double value);
std::string OnOff(bool on);

Value ValueOf(const Param& param);
// Applies a setting of the Engine; a refusal lands in the error queue.
void Set(ScpiSession& s, const std::string& key, const Value& value);

// The channel of a CHANnel<n> header: its suffix less one, after
// ChannelSuffixOk (-114 outside 1 and 2).
bool ChannelSuffixOk(ScpiSession& s, const ScpiCall& call);
inline std::size_t ChannelIndex(const ScpiCall& call) {
  return static_cast<std::size_t>(call.suffix.empty() ? 0 : call.suffix[0] - 1);
}
// "ch<n>.<name>" of a CHANnel<n> header.
std::string Key(const ScpiCall& call, const char* name);

// CHANnel1, CHAN2, CH1 or 1 (any case); 0 when it is none of these.
int ChannelParam(const Param& param);
// The parameter is the word in its short or long form, in any case.
bool IsWord(const Param& param, const char* short_form, const char* long_form);

// The record a transfer or measurement refers to: while measuring, the
// first one armed after this session's last change (-230 when none comes).
std::shared_ptr<const Frame> DataFrame(ScpiSession& s);
// A channel of it; -221 when the channel was off.
const Frame::Trace* SourceTrace(ScpiSession& s, const Frame& frame, int channel);

struct CommandList {
  std::vector<ScpiCommand>& commands;
  void operator()(const char* pattern, bool set, bool query, int min, int max, ScpiHandler handler,
                  Quantity unit = Quantity::kNone) {
    commands.push_back({pattern, set, query, min, max, std::move(handler), unit});
  }
};

void AddHorizontal(CommandList& add);  // ACQuire, TIMebase
void AddVertical(CommandList& add);    // CHANnel<n>
void AddTrigger(CommandList& add);     // TRIGger, TER
void AddWaveform(CommandList& add);    // WAVeform, DISPlay:DATA
void AddMeasure(CommandList& add);     // MEASure

}  // namespace ru3serve
