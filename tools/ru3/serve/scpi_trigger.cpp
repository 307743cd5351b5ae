// The trigger part of the SCPI tree: source, level, hysteresis, kind and
// slope (also as a scope's :TRIGger:EDGE commands), the time-out after which
// the trigger is forced (a scope's AUTO sweep; NORMal waits for ever), and
// whether the records come triggered (:TRIGger:STATus?, :TER?).
#include <cmath>

#include "ru3/ru3.h"
#include "scpi_common.h"

namespace ru3serve {
namespace {

constexpr double kAutoTimeoutMs = 1000;  // AUTO from NORMal: the instrument's own time-out

std::string Source(ScpiSession& s, const ScpiCall& call) {
  if (call.query) {
    const int source = s.engine().Current().source;
    return source == RU3_TRIG_CH1 ? "CHAN1" : source == RU3_TRIG_CH2 ? "CHAN2" : "NONE";
  }
  const Param& p = call.params[0];
  const int channel = ChannelParam(p);
  if (IsWord(p, "EXT", "EXTERNAL")) {
    s.Push(-221, "the RU3 has no external trigger input");
  } else if (channel == 0 && !IsWord(p, "NONE", "NONE")) {
    s.Push(-224, "CHANnel1, CHANnel2 or NONE");
  } else {
    Set(s, "trigger.source", channel == 0 ? Value(std::string("none")) : Value(double(channel - 1)));
  }
  return "";
}

std::string Level(ScpiSession& s, const ScpiCall& call) {
  if (call.query) return Num(s.engine().Current().level);
  Set(s, "trigger.level", ValueOf(call.params[0]));
  return "";
}

std::string Slope(ScpiSession& s, const ScpiCall& call) {
  if (call.query) {
    const int kind = s.engine().Current().kind;
    return kind == RU3_KIND_RISING ? "POS" : kind == RU3_KIND_EITHER ? "EITH" : "NEG";
  }
  const Param& p = call.params[0];
  const int kind = IsWord(p, "POS", "POSITIVE")   ? RU3_KIND_RISING
                   : IsWord(p, "NEG", "NEGATIVE") ? RU3_KIND_FALLING
                   : IsWord(p, "EITH", "EITHER")  ? RU3_KIND_EITHER
                                                  : -1;
  if (kind < 0)
    s.Push(-224, "POSitive, NEGative or EITHer");
  else
    Set(s, "trigger.kind", double(kind));
  return "";
}

}  // namespace

void AddTrigger(CommandList& add) {
  for (const char* pattern : {"TRIGger:SOURce", "TRIGger:EDGE:SOURce"}) add(pattern, true, true, 1, 1, Source);
  for (const char* pattern : {"TRIGger:LEVel", "TRIGger:EDGE:LEVel"}) {
    add(pattern, true, true, 1, 1, Level, Quantity::kVolts);
  }
  for (const char* pattern : {"TRIGger:SLOPe", "TRIGger:EDGE:SLOPe"}) add(pattern, true, true, 1, 1, Slope);
  add(
      "TRIGger:HYSTeresis", true, true, 1, 1,
      [](ScpiSession& s, const ScpiCall& call) {
        if (call.query) return Num(s.engine().Current().hysteresis);
        Set(s, "trigger.hysteresis", ValueOf(call.params[0]));
        return std::string();
      },
      Quantity::kVolts);
  add("TRIGger:KIND", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return std::to_string(s.engine().Current().kind);
    Set(s, "trigger.kind", ValueOf(call.params[0]));
    return std::string();
  });
  add(
      "TRIGger:TIMeout", true, true, 1, 1,
      [](ScpiSession& s, const ScpiCall& call) {
        if (call.query) {
          const long ms = s.engine().Current().timeout_ms;
          return ms < 0 ? std::string("INF") : Num(static_cast<double>(ms) / 1000);
        }
        const Param& p = call.params[0];
        // Seconds, as SCPI times are; INFinity or NONE waits for ever.
        if (p.numeric && p.number < 0)
          s.Push(-222, "trigger time-out: seconds, not negative");
        else if (p.numeric)
          Set(s, "trigger.timeout", std::round(p.number * 1000));
        else if (IsWord(p, "INF", "INFINITY") || IsWord(p, "NONE", "NONE"))
          Set(s, "trigger.timeout", std::string("none"));
        else
          s.Push(-224, "trigger time-out: seconds, or INFinity");
        return std::string();
      },
      Quantity::kSeconds);
  // AUTO: the trigger is forced after the time-out; NORMal: it waits for ever.
  add("TRIGger:SWEep", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    const long ms = s.engine().Current().timeout_ms;
    if (call.query) return std::string(ms < 0 ? "NORM" : "AUTO");
    const Param& p = call.params[0];
    if (IsWord(p, "AUTO", "AUTO")) {
      if (ms < 0) Set(s, "trigger.timeout", kAutoTimeoutMs);
    } else if (IsWord(p, "NORM", "NORMAL")) {
      Set(s, "trigger.timeout", std::string("none"));
    } else {
      s.Push(-224, "AUTO or NORMal");
    }
    return std::string();
  });
  // STOP when stopped; WAIT while no record of the current settings has
  // come; else TD (the latest record was triggered) or AUTO (forced).
  add("TRIGger:STATus", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    Engine& engine = s.engine();
    if (engine.Current().state == "stop") return std::string("STOP");
    const auto frame = engine.Latest();
    if (!frame || frame->generation < s.generation) return std::string("WAIT");
    return std::string(frame->forced ? "AUTO" : "TD");
  });
  // 1 once a triggered record has come since the last :TER?; reading clears it.
  add("TER", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    const auto frame = s.engine().Latest();
    const bool fresh = frame && frame->seq > s.ter_seq && !frame->forced;
    if (frame) s.ter_seq = frame->seq;
    return OnOff(fresh);
  });
}

}  // namespace ru3serve
