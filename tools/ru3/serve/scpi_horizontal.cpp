// The horizontal part of the SCPI tree: the sample rate, record length and
// share before the trigger as the instrument has them (:ACQuire), the same
// as a scope's time base (:TIMebase, 10 divisions across the record), the
// acquisition type (normal, or an average of records) and the run state.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "scpi_common.h"

namespace ru3serve {
namespace {

constexpr double kDivisions = 10;

double Span(const Settings& s) { return static_cast<double>(s.length) / s.rate; }

// Seconds from the trigger to the centre of the record (a scope's delay):
// 0 with half the record before the trigger, +5 divisions with none.
double Position(const Settings& s) {
  const double pre_samples = std::round(s.pre * static_cast<double>(s.length));
  return (static_cast<double>(s.length) / 2 - pre_samples) / s.rate;
}

}  // namespace

void AddHorizontal(CommandList& add) {
  add(
      "ACQuire:SRATe", true, true, 1, 1,
      [](ScpiSession& s, const ScpiCall& call) {
        if (call.query) return Num(s.engine().Current().rate);
        Set(s, "rate", ValueOf(call.params[0]));
        return std::string();
      },
      Quantity::kHertz);
  add(
      "ACQuire:PRETrigger", true, true, 1, 1,
      [](ScpiSession& s, const ScpiCall& call) {
        if (call.query) return Num(s.engine().Current().pre);
        Set(s, "pre", ValueOf(call.params[0]));
        return std::string();
      },
      Quantity::kShare);
  add("ACQuire:POINts", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return std::to_string(s.engine().Current().length);
    Set(s, "length", ValueOf(call.params[0]));
    return std::string();
  });
  // NORMal: each record as measured; AVERage: the mean of :ACQuire:COUNt records.
  add("ACQuire:TYPE", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return std::string(s.engine().Current().averages > 1 ? "AVER" : "NORM");
    const Param& p = call.params[0];
    if (IsWord(p, "NORM", "NORMAL")) {
      Set(s, "average", 1.0);
    } else if (IsWord(p, "AVER", "AVERAGE")) {
      if (s.engine().Current().averages == 1) Set(s, "average", static_cast<double>(s.average_count));
    } else {
      s.Push(-224, "NORMal or AVERage");
    }
    return std::string();
  });
  add("ACQuire:COUNt", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    const int averages = s.engine().Current().averages;
    if (call.query) return std::to_string(averages > 1 ? averages : s.average_count);
    const Param& p = call.params[0];
    if (!p.numeric || p.number != std::floor(p.number)) {
      s.Push(-104, "averages: a whole number");
    } else if (p.number < 2 || p.number > 4096) {
      s.Push(-222, "averages: 2 to 4096");
    } else {
      s.average_count = static_cast<int>(p.number);
      if (averages > 1) Set(s, "average", p.number);
    }
    return std::string();
  });
  // The instrument samples in real time only.
  add("ACQuire:MODE", true, true, 1, 1, [](ScpiSession& s, const ScpiCall& call) {
    if (call.query) return std::string("RTIM");
    if (!IsWord(call.params[0], "RTIM", "RTIME")) s.Push(-224, "RTIMe: the RU3 samples in real time only");
    return std::string();
  });
  add("ACQuire:STATe", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    std::string state = s.engine().Current().state;
    for (char& ch : state) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return state;
  });
  add("ACQuire:FORCed", false, true, 0, 0, [](ScpiSession& s, const ScpiCall&) {
    const auto frame = s.engine().Latest();
    return OnOff(frame && frame->forced);
  });

  // The time base: the record spans 10 divisions.
  add(
      "TIMebase:SCALe", true, true, 1, 1,
      [](ScpiSession& s, const ScpiCall& call) {
        if (call.query) {
          const Settings now = s.engine().Current();
          return Num(static_cast<double>(now.length) / (now.rate * kDivisions));
        }
        const Param& p = call.params[0];
        if (!p.numeric)
          s.Push(-104, "time per division: seconds");
        else
          Set(s, "timebase.scale", p.number);
        return std::string();
      },
      Quantity::kSeconds);
  add(
      "TIMebase:RANGe", true, true, 1, 1,
      [](ScpiSession& s, const ScpiCall& call) {
        if (call.query) return Num(Span(s.engine().Current()));
        const Param& p = call.params[0];
        if (!p.numeric)
          s.Push(-104, "time across the record: seconds");
        else
          Set(s, "timebase.scale", p.number / kDivisions);
        return std::string();
      },
      Quantity::kSeconds);
  add(
      "TIMebase:POSition", true, true, 1, 1,
      [](ScpiSession& s, const ScpiCall& call) {
        const Settings now = s.engine().Current();
        if (call.query) return Num(Position(now));
        const Param& p = call.params[0];
        const double pre = 0.5 - p.number / Span(now);
        if (!p.numeric)
          s.Push(-104, "position: seconds");
        else if (pre < -1e-9 || pre > 1 + 1e-9)
          s.Push(-222, "position: -5 to +5 divisions from the trigger");
        else
          Set(s, "pre", std::clamp(pre, 0.0, 1.0));
        return std::string();
      },
      Quantity::kSeconds);
}

}  // namespace ru3serve
