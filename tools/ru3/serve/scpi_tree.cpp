// The command tree of the SCPI port: IEEE 488.2 common commands, the
// acquisition settings, run control, waveform transfer, measurements and the
// auxiliary outputs, each mapped onto one of the Engine's settings. The
// command set is documented in tools/ru3/serve/SCPI.md.
#include "scpi_tree.h"

#include <cmath>
#include <cstring>

#include "../csv.h"
#include "ru3/ru3.h"

namespace ru3serve {
namespace {

using std::chrono::milliseconds;
constexpr const char* kNotANumber = "9.91E+37";  // SCPI's NaN

std::string Num(double value) { return std::isfinite(value) ? ru3cli::ExactNumber(value) : kNotANumber; }

Value ValueOf(const Param& param) {
  if (param.numeric) return param.number;
  return param.text;
}

// Applies a setting; an error lands in the queue.
void Set(ScpiSession& s, const std::string& key, const Value& value) {
  const Error error = s.engine().Apply(key, value);
  if (error) s.Push(error.code, error.message);
  s.generation = s.engine().Generation();
}

std::string Key(const ScpiCall& call, const char* name) {
  return "ch" + std::to_string(call.suffix.empty() ? 1 : call.suffix[0]) + "." + name;
}

bool ChannelSuffixOk(ScpiSession& s, const ScpiCall& call) {
  if (!call.suffix.empty() && (call.suffix[0] < 1 || call.suffix[0] > 2)) {
    s.Push(-114, "channels 1 and 2");
    return false;
  }
  return true;
}

// CHANnel1, CHAN2, CH1 or 1; 0 when it is none of these.
int ChannelParam(const Param& param) {
  std::string word;
  for (char c : param.text) word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* prefix : {"CHANNEL", "CHAN", "CH", ""}) {
    const std::size_t n = std::strlen(prefix);
    if (word.size() == n + 1 && word.compare(0, n, prefix) == 0 && (word[n] == '1' || word[n] == '2')) {
      return word[n] - '0';
    }
  }
  return 0;
}

bool IsWord(const Param& param, const char* short_form, const char* long_form) {
  std::string word;
  for (char c : param.text) word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return !param.quoted && (word == short_form || word == long_form);
}

std::string OnOff(bool on) { return on ? "1" : "0"; }

// The record a transfer or measurement refers to: while measuring, the first
// one armed after this session's last change.
std::shared_ptr<const Frame> DataFrame(ScpiSession& s) {
  Engine& engine = s.engine();
  const Settings settings = engine.Current();
  auto frame = engine.Latest();
  if (settings.state != "stop" && (!frame || frame->generation < s.generation)) {
    const long wait_ms = settings.timeout_ms < 0 ? 10000 : settings.timeout_ms + 5000;
    frame = engine.WaitFrame(frame ? frame->seq : 0, s.generation, milliseconds(wait_ms));
    if (frame && frame->generation < s.generation) frame = nullptr;
  }
  if (!frame) s.Push(-230, "no record measured with the current settings yet");
  return frame;
}

const Frame::Trace* SourceTrace(ScpiSession& s, const Frame& frame, int channel) {
  const Frame::Trace* trace = frame.TraceOf(channel);
  if (!trace) s.Push(-221, "channel " + std::to_string(channel) + " is off");
  return trace;
}

std::string Preamble(ScpiSession& s) {
  const auto frame = DataFrame(s);
  if (!frame) return "";
  const Frame::Trace* trace = SourceTrace(s, *frame, s.source);
  if (!trace) return "";
  const int format = s.format == "BYTE" ? 0 : s.format == "WORD" ? 1 : 4;
  double increment = 1, reference = 0;
  if (format == 0) increment = trace->range / 128, reference = 128;
  if (format == 1) increment = trace->range / 32768, reference = 32768;
  const double xincrement = 1 / frame->rate;
  return std::to_string(format) + ",0," + std::to_string(trace->codes.size()) + ",1," + Num(xincrement) + "," +
         Num(-static_cast<double>(frame->pre_samples) * xincrement) + ",0," + Num(increment) + ",0," +
         Num(reference);
}

std::string Data(ScpiSession& s) {
  const auto frame = DataFrame(s);
  if (!frame) return "";
  const Frame::Trace* trace = SourceTrace(s, *frame, s.source);
  if (!trace) return "";
  std::string body;
  if (s.format == "ASC") {
    for (double v : trace->volts) body += (body.empty() ? "" : ",") + Num(v);
    return body;
  }
  const bool word = s.format == "WORD";
  body.reserve(trace->codes.size() * (word ? 2 : 1));
  for (std::uint16_t code : trace->codes) {
    if (!word) {
      body += static_cast<char>(code >> 8);
    } else if (s.big_endian) {
      body += static_cast<char>(code >> 8);
      body += static_cast<char>(code & 0xFF);
    } else {
      body += static_cast<char>(code & 0xFF);
      body += static_cast<char>(code >> 8);
    }
  }
  const std::string length = std::to_string(body.size());
  return "#" + std::to_string(length.size()) + length + body;
}

// :MEASure:<item>? [CHANnel<n>]: one figure of a channel's summary.
ScpiHandler Measure(double ru3cli::ChannelSummary::*field, bool frequency = false) {
  return [field, frequency](ScpiSession& s, const ScpiCall& call) -> std::string {
    int channel = s.source;
    if (!call.params.empty() && (channel = ChannelParam(call.params[0])) == 0) {
      s.Push(-224, "CHANnel1 or CHANnel2");
      return "";
    }
    const auto frame = DataFrame(s);
    if (!frame) return "";
    const Frame::Trace* trace = SourceTrace(s, *frame, channel);
    if (!trace) return "";
    if (frequency) return trace->summary.frequency ? Num(*trace->summary.frequency) : kNotANumber;
    return Num(trace->summary.*field);
  };
}

// A setting that takes one value and reads back as a number.
ScpiHandler Setting(const char* key, double Settings::*field) {
  return [key, field](ScpiSession& s, const ScpiCall& call) -> std::string {
    if (call.query) return Num(s.engine().Current().*field);
    Set(s, key, ValueOf(call.params[0]));
    return "";
  };
}

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
  auto add = [&](const char* pattern, bool set, bool query, int min, int max, ScpiHandler handler) {
    c.push_back({pattern, set, query, min, max, std::move(handler)});
  };
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
  add("ACQuire:STATe", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    std::string state = s.engine().Current().state;
    for (char& ch : state) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return state;
  });
  add("ACQuire:FORCed", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    const auto frame = s.engine().Latest();
    return OnOff(frame && frame->forced);
  });

  // ---- acquisition
  add("ACQuire:SRATe", true, true, 1, 1, Setting("rate", &Settings::rate));
  add("ACQuire:PRETrigger", true, true, 1, 1, Setting("pre", &Settings::pre));
  add("ACQuire:POINts", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return std::to_string(s.engine().Current().length);
    Set(s, "length", ValueOf(call.params[0]));
    return std::string();
  });
  add("CHANnel#:DISPlay", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (!ChannelSuffixOk(s, call)) return std::string();
    if (call.query) return OnOff(s.engine().Current().on[static_cast<std::size_t>(call.suffix[0] - 1)]);
    Set(s, Key(call, "on"), ValueOf(call.params[0]));
    return std::string();
  });
  add("CHANnel#:RANGe", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (!ChannelSuffixOk(s, call)) return std::string();
    if (call.query) return Num(s.engine().Current().range[static_cast<std::size_t>(call.suffix[0] - 1)]);
    Set(s, Key(call, "range"), ValueOf(call.params[0]));
    return std::string();
  });
  add("CHANnel#:RANGe:AUTO", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (!ChannelSuffixOk(s, call)) return std::string();
    const auto k = static_cast<std::size_t>(call.suffix[0] - 1);
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
  });
  add("CHANnel#:COUPling", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (!ChannelSuffixOk(s, call)) return std::string();
    if (call.query) {
      const int coupling = s.engine().Current().coupling[static_cast<std::size_t>(call.suffix[0] - 1)];
      return std::string(coupling == RU3_COUPLING_AC ? "AC" : "DC");
    }
    Set(s, Key(call, "coupling"), ValueOf(call.params[0]));
    return std::string();
  });
  add("CHANnel#:CLIPping", false, true, 0, 0, [](ScpiSession& s, const ScpiCall& call) {
    if (!ChannelSuffixOk(s, call)) return std::string();
    const auto frame = DataFrame(s);
    const Frame::Trace* trace = frame ? SourceTrace(s, *frame, call.suffix[0]) : nullptr;
    return OnOff(trace && trace->clipped);
  });

  // ---- trigger
  add("TRIGger:SOURce", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) {
      const int source = s.engine().Current().source;
      return std::string(source == RU3_TRIG_CH1 ? "CHAN1" : source == RU3_TRIG_CH2 ? "CHAN2" : "NONE");
    }
    const Param& p = call.params[0];
    const int channel = ChannelParam(p);
    if (channel == 0 && !IsWord(p, "NONE", "NONE")) {
      s.Push(-224, "CHANnel1, CHANnel2 or NONE");
      return std::string();
    }
    Set(s, "trigger.source", channel == 0 ? Value(std::string("none")) : Value(double(channel - 1)));
    return std::string();
  });
  add("TRIGger:LEVel", true, true, 1, 1, Setting("trigger.level", &Settings::level));
  add("TRIGger:HYSTeresis", true, true, 1, 1, Setting("trigger.hysteresis", &Settings::hysteresis));
  add("TRIGger:KIND", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return std::to_string(s.engine().Current().kind);
    Set(s, "trigger.kind", ValueOf(call.params[0]));
    return std::string();
  });
  add("TRIGger:SLOPe", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) {
      const int kind = s.engine().Current().kind;
      return std::string(kind == RU3_KIND_RISING ? "POS" : kind == RU3_KIND_EITHER ? "EITH" : "NEG");
    }
    const Param& p = call.params[0];
    const int kind = IsWord(p, "POS", "POSITIVE")    ? RU3_KIND_RISING
                     : IsWord(p, "NEG", "NEGATIVE")  ? RU3_KIND_FALLING
                     : IsWord(p, "EITH", "EITHER")   ? RU3_KIND_EITHER
                                                     : -1;
    if (kind < 0) s.Push(-224, "POSitive, NEGative or EITHer");
    else Set(s, "trigger.kind", double(kind));
    return std::string();
  });
  add("TRIGger:TIMeout", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) {
      const long ms = s.engine().Current().timeout_ms;
      return ms < 0 ? std::string("INF") : Num(static_cast<double>(ms) / 1000);
    }
    const Param& p = call.params[0];
    // Seconds, as SCPI times are; INFinity or NONE waits for ever.
    if (p.numeric && p.number < 0) s.Push(-222, "seconds, not negative");
    else if (p.numeric) Set(s, "trigger.timeout", std::round(p.number * 1000));
    else if (IsWord(p, "INF", "INFINITY") || IsWord(p, "NONE", "NONE")) Set(s, "trigger.timeout", std::string("none"));
    else s.Push(-224, "seconds, or INFinity");
    return std::string();
  });

  // ---- waveform transfer
  add("WAVeform:SOURce", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return "CHAN" + std::to_string(s.source);
    const int channel = ChannelParam(call.params[0]);
    if (channel == 0) s.Push(-224, "CHANnel1 or CHANnel2");
    else s.source = channel;
    return std::string();
  });
  add("WAVeform:FORMat", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return s.format;
    const Param& p = call.params[0];
    if (IsWord(p, "BYTE", "BYTE")) s.format = "BYTE";
    else if (IsWord(p, "WORD", "WORD")) s.format = "WORD";
    else if (IsWord(p, "ASC", "ASCII")) s.format = "ASC";
    else s.Push(-224, "BYTE, WORD or ASCii");
    return std::string();
  });
  add("WAVeform:BYTeorder", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return std::string(s.big_endian ? "MSBF" : "LSBF");
    const Param& p = call.params[0];
    if (IsWord(p, "MSBF", "MSBFIRST")) s.big_endian = true;
    else if (IsWord(p, "LSBF", "LSBFIRST")) s.big_endian = false;
    else s.Push(-224, "MSBFirst or LSBFirst");
    return std::string();
  });
  add("WAVeform:POINts", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    const auto frame = DataFrame(s);
    const Frame::Trace* trace = frame ? SourceTrace(s, *frame, s.source) : nullptr;
    return std::to_string(trace ? trace->codes.size() : 0);
  });
  add("WAVeform:PREamble", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) { return Preamble(s); });
  add("WAVeform:DATA", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) { return Data(s); });

  // ---- measurements of the last record
  using Summary = ru3cli::ChannelSummary;
  add("MEASure:VMIN", false, true, 0, 1, Measure(&Summary::min));
  add("MEASure:VMAX", false, true, 0, 1, Measure(&Summary::max));
  add("MEASure:VAVerage", false, true, 0, 1, Measure(&Summary::mean));
  add("MEASure:VRMS", false, true, 0, 1, Measure(&Summary::rms));
  add("MEASure:VPP", false, true, 0, 1, Measure(&Summary::peak_to_peak));
  add("MEASure:FREQuency", false, true, 0, 1, Measure(&Summary::mean, true));

  // ---- auxiliary outputs
  add("OUTPut:DAC#", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (!ChannelSuffixOk(s, call)) return std::string();
    if (call.query) return Num(s.engine().Current().dac[static_cast<std::size_t>(call.suffix[0] - 1)]);
    Set(s, "dac" + std::to_string(call.suffix[0]), ValueOf(call.params[0]));
    return std::string();
  });
  add("OUTPut:MOTor#", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (!ChannelSuffixOk(s, call)) return std::string();
    if (call.query) return OnOff(s.engine().Current().motor[static_cast<std::size_t>(call.suffix[0] - 1)]);
    Set(s, "motor" + std::to_string(call.suffix[0]), ValueOf(call.params[0]));
    return std::string();
  });

  // The quantities of the numbers: a unit of another one is refused.
  const std::pair<const char*, Quantity> quantities[] = {
      {"ACQuire:SRATe", Quantity::kHertz},       {"ACQuire:PRETrigger", Quantity::kShare},
      {"CHANnel#:RANGe", Quantity::kVolts},      {"TRIGger:LEVel", Quantity::kVolts},
      {"TRIGger:HYSTeresis", Quantity::kVolts},  {"TRIGger:TIMeout", Quantity::kSeconds},
      {"OUTPut:DAC#", Quantity::kVolts}};
  for (ScpiCommand& command : c) {
    for (const auto& [pattern, quantity] : quantities) {
      if (std::strcmp(command.pattern, pattern) == 0) command.unit = quantity;
    }
  }
  return c;
}

}  // namespace

const std::vector<ScpiCommand>& ScpiCommands() {
  static const std::vector<ScpiCommand> commands = Build();
  return commands;
}

}  // namespace ru3serve
