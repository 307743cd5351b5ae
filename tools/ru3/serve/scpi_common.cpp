// Helpers shared by the parts of the SCPI command tree (scpi_common.h).
#include "scpi_common.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "../csv.h"

namespace ru3serve {

using std::chrono::milliseconds;

std::string Num(double value) { return std::isfinite(value) ? ru3cli::ExactNumber(value) : kNotANumber; }

std::string OnOff(bool on) { return on ? "1" : "0"; }

Value ValueOf(const Param& param) {
  if (param.numeric) return param.number;
  return param.text;
}

void Set(ScpiSession& s, const std::string& key, const Value& value) {
  const Error error = s.engine().Apply(key, value);
  if (error) s.Push(error.code, error.message);
  s.generation = s.engine().Generation();
}

std::string Key(const ScpiCall& call, const char* name) {
  return "ch" + std::to_string(ChannelIndex(call) + 1) + "." + name;
}

bool ChannelSuffixOk(ScpiSession& s, const ScpiCall& call) {
  if (!call.suffix.empty() && (call.suffix[0] < 1 || call.suffix[0] > 2)) {
    s.Push(-114, "channels 1 and 2");
    return false;
  }
  return true;
}

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

std::shared_ptr<const Frame> DataFrame(ScpiSession& s) {
  Engine& engine = s.engine();
  const Settings settings = engine.Current();
  auto frame = engine.Latest();
  if (settings.state != "stop" && (!frame || frame->generation < s.generation)) {
    // A record takes its own duration (the pre-trigger part is sampled
    // before the trigger may fire), the trigger's time-out, and a margin.
    const long record_ms =
        settings.rate > 0 ? static_cast<long>(1000.0 * static_cast<double>(settings.length) / settings.rate) : 0;
    const long per_record = (settings.timeout_ms < 0 ? 10000 : settings.timeout_ms + 5000) + record_ms;
    const long wait_ms = per_record * std::max(1, settings.averages);
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

}  // namespace ru3serve
