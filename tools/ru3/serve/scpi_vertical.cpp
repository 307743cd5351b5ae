// The vertical part of the SCPI tree, per channel: measured or not, the
// input range as full scale (+-RANGe) or per division (8 divisions span
// both halves, so SCALe is RANGe / 4), coupling, the probe's attenuation
// (volts reported at the probe tip), and the offset the RU3 does not have.
#include <cmath>

#include "ru3/ru3.h"
#include "scpi_common.h"

namespace ru3serve {
namespace {

constexpr double kDivisionsPerRange = 4;  // 8 divisions across -range..+range

// A CHANnel<n> command: -114 for another channel, else the handler.
template <typename F>
ScpiHandler Channel(F handler) {
  return [handler](ScpiSession& s, const ScpiCall& call) -> std::string {
    if (!ChannelSuffixOk(s, call)) return "";
    return handler(s, call, ChannelIndex(call));
  };
}

}  // namespace

void AddVertical(CommandList& add) {
  add("CHANnel#:DISPlay", true, true, 1, 1, Channel([](ScpiSession& s, const ScpiCall& call, std::size_t k) {
        if (call.query) return OnOff(s.engine().Current().on[k]);
        Set(s, Key(call, "on"), ValueOf(call.params[0]));
        return std::string();
      }));
  add("CHANnel#:RANGe", true, true, 1, 1, Channel([](ScpiSession& s, const ScpiCall& call, std::size_t k) {
        if (call.query) return Num(s.engine().Current().range[k]);
        Set(s, Key(call, "range"), ValueOf(call.params[0]));
        return std::string();
      }),
      Quantity::kVolts);
  add("CHANnel#:SCALe", true, true, 1, 1, Channel([](ScpiSession& s, const ScpiCall& call, std::size_t k) {
        if (call.query) return Num(s.engine().Current().range[k] / kDivisionsPerRange);
        const Param& p = call.params[0];
        if (!p.numeric)
          s.Push(-104, "volts per division");
        else
          Set(s, Key(call, "range"), p.number * kDivisionsPerRange);
        return std::string();
      }),
      Quantity::kVolts);
  add("CHANnel#:RANGe:AUTO", true, true, 1, 1, Channel([](ScpiSession& s, const ScpiCall& call, std::size_t k) {
        const Settings now = s.engine().Current();
        if (call.query) return OnOff(now.autorange[k]);
        const Param& p = call.params[0];
        const bool on = p.numeric ? p.number != 0 : IsWord(p, "ON", "ON");
        if (!p.numeric && !on && !IsWord(p, "OFF", "OFF")) {
          s.Push(-224, "ON or OFF");
          return std::string();
        }
        Set(s, Key(call, "range"), on ? Value(std::string("auto")) : Value(now.range[k]));
        return std::string();
      }));
  add("CHANnel#:COUPling", true, true, 1, 1, Channel([](ScpiSession& s, const ScpiCall& call, std::size_t k) {
        if (call.query) return std::string(s.engine().Current().coupling[k] == RU3_COUPLING_AC ? "AC" : "DC");
        Set(s, Key(call, "coupling"), ValueOf(call.params[0]));
        return std::string();
      }));
  add("CHANnel#:PROBe", true, true, 1, 1, Channel([](ScpiSession& s, const ScpiCall& call, std::size_t k) {
        if (call.query) return Num(s.engine().Current().probe[k]);
        Set(s, Key(call, "probe"), ValueOf(call.params[0]));
        return std::string();
      }));
  // The inputs are centred on 0 V: an offset of 0 is all there is.
  add("CHANnel#:OFFSet", true, true, 1, 1, Channel([](ScpiSession& s, const ScpiCall& call, std::size_t) {
        if (call.query) return std::string("0");
        const Param& p = call.params[0];
        if (!p.numeric)
          s.Push(-104, "offset: volts");
        else if (p.number != 0)
          s.Push(-221, "the RU3 has no offset: its inputs are centred on 0 V");
        return std::string();
      }),
      Quantity::kVolts);
  add("CHANnel#:CLIPping", false, true, 0, 0, Channel([](ScpiSession& s, const ScpiCall& call, std::size_t) {
        const auto frame = DataFrame(s);
        const Frame::Trace* trace = frame ? SourceTrace(s, *frame, call.suffix[0]) : nullptr;
        return trace ? OnOff(trace->clipped) : std::string();
      }));
}

}  // namespace ru3serve
