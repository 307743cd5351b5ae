// The command tree of the SCPI port: IEEE 488.2 common commands, the system
// and run-control commands and the auxiliary outputs here; the horizontal,
// vertical, trigger, waveform and measurement parts in scpi_<part>.cpp. The
// command set is documented in tools/ru3/serve/SCPI.md.
#include "scpi_tree.h"

#include <cmath>
#include <cstring>

#include "ru3/ru3.h"
#include "scpi_common.h"

namespace ru3serve {
namespace {

using std::chrono::milliseconds;

std::string Status(ScpiSession& s) {
  std::uint8_t stb = 0;
  if (!s.errors.empty()) stb |= 0x04;
  if (s.esr & s.ese) stb |= 0x20;
  if (stb & s.sre) stb |= 0x40;
  return std::to_string(stb);
}

ScpiHandler Register(std::uint8_t ScpiSession::*field) {
  return [field](ScpiSession& s, const ScpiCall& call) -> std::string {
    if (call.query) return std::to_string(s.*field);
    const Param& p = call.params[0];
    if (!p.numeric || p.number < 0 || p.number > 255 || p.number != std::floor(p.number)) {
      s.Push(-222, "0 to 255");
    } else {
      s.*field = static_cast<std::uint8_t>(p.number);
    }
    return "";
  };
}

std::string RunState(ScpiSession& s, const char* state) {
  Set(s, "state", std::string(state));
  return "";
}

std::vector<ScpiCommand> Build() {
  std::vector<ScpiCommand> c;
  CommandList add{c};
  // ---- IEEE 488.2 common commands
  add("*IDN", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    const char* model = s.engine().MaxRate() > 200000 ? "RU3-400" : "RU3";
    return std::string("Zevizezave,") + model + "," + std::to_string(s.engine().Serial()) + ",ru3-serve 1.0";
  });
  add("*RST", true, false, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    s.engine().Reset();
    s.generation = s.engine().Generation();
    s.source = 1;
    s.format = "WORD";
    s.big_endian = true;
    s.first = 1;
    s.last = 0;
    s.average_count = 8;
    return std::string();
  });
  add("*CLS", true, false, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    s.errors.clear();
    s.esr = 0;
    return std::string();
  });
  // Operations complete when a single record asked for has been taken.
  add("*OPC", true, true, 0, 0, [](ScpiSession& s, const ScpiCall& call) {
    const bool done = s.engine().WaitIdle(milliseconds(60000));
    if (!done) s.Push(-200, "the single record has not come within 60 s");
    if (!call.query) s.esr |= 0x01;
    return std::string("1");
  });
  add("*WAI", true, false, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    (void)s.engine().WaitIdle(milliseconds(60000));
    return std::string();
  });
  add("*ESR", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    const std::uint8_t esr = s.esr;
    s.esr = 0;
    return std::to_string(esr);
  });
  add("*ESE", true, true, 1, 1, Register(&ScpiSession::ese));
  add("*SRE", true, true, 1, 1, Register(&ScpiSession::sre));
  add("*STB", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) { return Status(s); });
  add("*TST", false, true, 0, 0, [](ScpiSession&, const ScpiCall&) { return std::string("0"); });

  // ---- system
  for (const char* pattern : {"SYSTem:ERRor", "SYSTem:ERRor:NEXT"}) {
    add(pattern, false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) {
      if (s.errors.empty()) return std::string("0,\"No error\"");
      const auto [code, text] = s.errors.front();
      s.errors.pop_front();
      return std::to_string(code) + ",\"" + text + "\"";
    });
  }
  add("SYSTem:ERRor:COUNt", false, true, 0, 0,
      [](ScpiSession& s, const ScpiCall&) { return std::to_string(s.errors.size()); });
  add("SYSTem:VERSion", false, true, 0, 0, [](ScpiSession&, const ScpiCall&) { return std::string("1999.0"); });
  add("SYSTem:TOKen", true, false, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    const std::string& given = call.params[0].text;
    // Compares every byte, so the time taken says nothing about the token.
    unsigned diff = given.size() == s.token.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size() && i < s.token.size(); ++i) diff |= given[i] ^ s.token[i];
    if (s.token.empty() || diff == 0) s.authorised = true;
    else s.Push(-203, "wrong token");
    return std::string();
  });

  // ---- run control
  add("RUN", true, false, 0, 0, [](ScpiSession& s, const ScpiCall&) { return RunState(s, "run"); });
  add("STOP", true, false, 0, 0, [](ScpiSession& s, const ScpiCall&) { return RunState(s, "stop"); });
  add("SINGle", true, false, 0, 0, [](ScpiSession& s, const ScpiCall&) { return RunState(s, "single"); });
  add("DIGitize", true, false, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    RunState(s, "single");
    if (!s.engine().WaitIdle(milliseconds(60000))) s.Push(-200, "no record within 60 s");
    return std::string();
  });
  add("AUToscale", true, false, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    Set(s, "autoscale", 1.0);
    return std::string();
  });
  for (const char* pattern : {"FORCe", "TRIGger:FORCe"}) {
    add(pattern, true, false, 0, 0, [](ScpiSession& s, const ScpiCall&) { return RunState(s, "force"); });
  }
  AddHorizontal(add);
  AddVertical(add);
  AddTrigger(add);
  AddWaveform(add);
  AddMeasure(add);

  // ---- auxiliary outputs
  add("OUTPut:DAC#", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (!ChannelSuffixOk(s, call)) return std::string();
    if (call.query) return Num(s.engine().Current().dac[static_cast<std::size_t>(call.suffix[0] - 1)]);
    Set(s, "dac" + std::to_string(call.suffix[0]), ValueOf(call.params[0]));
    return std::string();
  }, Quantity::kVolts);
  add("OUTPut:MOTor#", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (!ChannelSuffixOk(s, call)) return std::string();
    if (call.query) return OnOff(s.engine().Current().motor[static_cast<std::size_t>(call.suffix[0] - 1)]);
    Set(s, "motor" + std::to_string(call.suffix[0]), ValueOf(call.params[0]));
    return std::string();
  });

  return c;
}

}  // namespace

const std::vector<ScpiCommand>& ScpiCommands() {
  static const std::vector<ScpiCommand> commands = Build();
  return commands;
}

}  // namespace ru3serve
