#include "truth.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "instrument/DUDA3.h"
#include "ru3/ru3.h"

namespace ru3::fuzz {

namespace {

constexpr std::uint16_t kNoSample = 0x7FFF;
constexpr int kRing = 32768;
// The factory calibration cancels the front end's errors to within a few
// tenths of a percent of full scale; a factor from another range is off by
// at least a factor of two.
constexpr double kCalibrationTolerance = 0.006;

// Range index 1..10 of a full scale in volts; 0 when it is none of them.
// A few units in the last place are allowed: the library's extended-precision
// value reaches the host in whatever rounding mode the host has set.
int RangeIndex(double volts) {
  for (int r = 1; r <= sim::kRangeCount; ++r) {
    if (std::fabs(volts - sim::NominalFullScale(r)) <= 1e-12 * sim::NominalFullScale(r)) return r;
  }
  return 0;
}

}  // namespace

void Violated(const char* invariant, const char* detail) {
  // RU3_FUZZ_IGNORE=a|b|...: invariants whose name contains one of these are
  // reported once and not enforced (to look for other faults while a known
  // one is still there).
  static const std::string ignored = std::getenv("RU3_FUZZ_IGNORE") != nullptr ? std::getenv("RU3_FUZZ_IGNORE") : "";
  for (std::size_t begin = 0; !ignored.empty() && begin <= ignored.size();) {
    const std::size_t end = std::min(ignored.find('|', begin), ignored.size());
    const std::string part = ignored.substr(begin, end - begin);
    if (!part.empty() && std::strstr(invariant, part.c_str()) != nullptr) {
      static std::set<std::string> reported;
      if (reported.insert(invariant).second) std::fprintf(stderr, "\n==== invariant ignored: %s\n", invariant);
      return;
    }
    begin = end + 1;
  }
  std::fprintf(stderr, "\n==== invariant violated: %s%s%s\n", invariant, *detail != 0 ? ": " : "", detail);
  std::fflush(stderr);
  std::abort();
}

std::uint16_t Status(std::uint16_t code) {
  switch (code) {
    case RU3_OK:
    case RU3_NO_INSTRUMENT:
    case RU3_NOT_INITIALISED:
    case RU3_NOT_AVAILABLE:
    case RU3_NO_GENERATOR:
    case RU3_BAD_CHANNEL:
    case RU3_BAD_VALUE:
      return code;
    default:
      Violated("every status code is one of the seven");
      return code;
  }
}

void Truth::Before() { accesses_before_ = pc_.AccessCount(); }

void Truth::After(HostAct act, std::uint16_t status) {
  const bool was_open = open_;
  if (pc_.UnclaimedAccesses() != 0) Violated("the library touches only ports it has claimed");
  if (!was_open && act != HostAct::kInit && pc_.AccessCount() != accesses_before_) {
    Violated("a library without an open instrument touches no port");
  }

  switch (act) {
    case HostAct::kInit:
      if (!was_open && status != RU3_OK) Violated("InitInstrument opens the instrument that is there");
      if (!was_open) {
        open_ = true;
        measuring_ = false;
        selected_unit_ = false;
        range_set_ = true;
        other_unit_ = false;
        clock_due_ = false;
        record_.known = false;
        chosen_range_ = {};  // opening sets the ranges anew
        armed_on_other_ = false;
      }
      break;
    case HostAct::kExit:
      open_ = false;
      chosen_range_ = {};
      measuring_ = false;
      record_.known = false;
      break;
    case HostAct::kRangeSetting:
      range_set_ = true;
      break;
    case HostAct::kStopMeasuring:
      measuring_ = false;
      break;
    case HostAct::kStartMeasuring:
      measuring_ = true;
      break;
    case HostAct::kSelectUnit: {
      selected_unit_ = true;
      // Units 1..4 switch the register traffic; any other number is only
      // stored and leaves it on the unit it was on.
      std::uint8_t unit = 0;
      if (GetActiveRU3(&unit) == RU3_OK && unit >= 1 && unit <= 4) {
        // Back on the measuring unit, its clock runs at the rate it was
        // last given; a rate set meanwhile reached the other unit, and
        // reaches this one at its next arming (every arming programs it).
        if (other_unit_ && unit == 1) clock_due_ = true;
        other_unit_ = unit != 1;
      }
      break;
    }
    case HostAct::kOther:
    case HostAct::kTimerTick:
    case HostAct::kFetch:
    case HostAct::kMeasure:
      break;
  }

  const RecordState now = oracle_.State();
  static const bool print = std::getenv("RU3_FUZZ_PRINT") != nullptr;
  if (print && open_) PrintState(act, now);
  if (open_) {
    // With another unit addressed, a call that reaches the instrument may
    // arm and read out that unit (the host asked for it): what the library
    // holds then is no record of the measuring unit, whose read-outs alone
    // the simulated PC observes.
    if (other_unit_ && pc_.AccessCount() != accesses_before_ && now.read_outs == seen_.read_outs) {
      record_.known = false;
    }
    if (now.records != seen_.records) CheckArming(now, act);
    if (now.other_unit_arms != seen_.other_unit_arms) {
      armed_on_other_ = true;
    } else if (now.records != seen_.records) {
      armed_on_other_ = false;
    }
    // The poll's records: the timer's and the synchronous measure's.
    const bool polled = act == HostAct::kTimerTick || act == HostAct::kMeasure;
    if (polled && now.other_unit_read_outs != seen_.other_unit_read_outs && !armed_on_other_) {
      Violated("a record is polled and read on the unit it was armed on");
    }
    if (polled && now.read_outs != seen_.read_outs) CheckDelivered(now);
    if (act == HostAct::kMeasure && now.read_outs != seen_.read_outs && now.read_out_record <= seen_.records &&
        now.other_unit_arms == seen_.other_unit_arms) {
      Violated("StartMeasurement measures a record of its own");
    }
    if (now.read_outs != seen_.read_outs || now.other_unit_read_outs != seen_.other_unit_read_outs) {
      chosen_range_ = {};  // a read-out judges the ranges afresh
    }
    if (now.read_outs != seen_.read_outs) TakeRecord(now);
    if (now.reads_past_pointer != seen_.reads_past_pointer) {
      // The record went on after the library had read where it ends: only a
      // host that fetches before the hardware is ready gets such a record
      // (the window the library saw, not the record's newest samples).
      if (act != HostAct::kFetch) Violated("a record is read out once it has ended");
      record_.known = false;
    }
    // A read-out addressed to another unit (the host selected it) fills the
    // buffers with what that unit's lines gave: no record of the measuring unit.
    // Its samples may also move an auto-ranging channel by a step (applied
    // at the next arming, of whichever unit): no read-out the measuring
    // unit's ranges can be judged by.
    if (now.other_unit_read_outs != seen_.other_unit_read_outs) {
      record_.known = false;
      range_set_ = true;
    }
    // A read-out in a mode that measures no channel reads no sample and
    // leaves both buffers empty, unseen by the instrument's sample lane.
    std::uint8_t mode = 0;
    if (GetMeasureMode(&mode) != RU3_OK || !(mode == 1 || mode == 2 || mode == 3 || mode == 16)) {
      record_.known = false;
    }
    CheckClock();
  }
  seen_ = now;
}

// RU3_FUZZ_PRINT: after every call, what the library holds beside what the
// instrument had at its last arming (to follow a finding step by step).
void Truth::PrintState(HostAct act, const RecordState& now) {
  double range[3] = {};
  std::uint8_t auto_ranging[3] = {};
  std::uint8_t unit = 0;
  std::uint8_t mode = 0;
  for (std::uint32_t ch = 1; ch <= 2; ++ch) {
    GetSensitivity(ch, &range[ch]);
    GetAutoRanging(ch, &auto_ranging[ch]);
  }
  GetActiveRU3(&unit);
  GetMeasureMode(&mode);
  std::fprintf(stderr,
               "  after act %d: ranges %g/%g V, auto %d/%d, unit %d, mode %d | records %llu, read-outs %llu "
               "(of record %llu), front end %g/%g V%s\n",
               static_cast<int>(act), range[1], range[2], auto_ranging[1], auto_ranging[2], unit, mode,
               static_cast<unsigned long long>(now.records), static_cast<unsigned long long>(now.read_outs),
               static_cast<unsigned long long>(now.read_out_record), now.input[0].full_scale_volts,
               now.input[1].full_scale_volts, now.cut_short ? ", cut short" : "");
}

void Truth::CheckArming(const RecordState& now, HostAct act) {
  if (!other_unit_) clock_due_ = false;
  if (act == HostAct::kTimerTick && !measuring_) Violated("after DoMeasure(0) no further arming happens");
  const bool read_since = now.read_outs != read_outs_at_arming_;
  for (int ch = 1; ch <= 2; ++ch) {
    const sim::InputStageState& stage = now.input[static_cast<std::size_t>(ch - 1)];
    double range = 0.0;
    std::uint8_t coupling = 0;
    std::uint8_t auto_ranging = 0;
    if (GetSensitivity(static_cast<std::uint32_t>(ch), &range) != RU3_OK ||
        GetCoupling(static_cast<std::uint32_t>(ch), &coupling) != RU3_OK ||
        GetAutoRanging(static_cast<std::uint32_t>(ch), &auto_ranging) != RU3_OK) {
      Violated("the settings of an open instrument can be read");
    }
    const int index = RangeIndex(range);
    if (stage.range != index) {
      char detail[96];
      std::snprintf(detail, sizeof detail, "channel %d armed at %g V full scale, the library holds %g V", ch,
                    stage.full_scale_volts, range);
      Violated("at every arming the front end is the one the library's ranges give", detail);
    }
    if (stage.dc_coupled != (coupling != 1)) {
      Violated("at every arming the front end is the one the library's coupling gives");
    }
    if (std::fabs(stage.offset_volts) > kCalibrationTolerance * stage.full_scale_volts) {
      Violated("at every arming the front end is calibrated (no offset)");
    }
    // Without the host setting a range, a range moves only by the one step a
    // read-out judged, and only on a channel that auto-ranges.
    const int before = armed_range_[static_cast<std::size_t>(ch)];
    if (!range_set_ && before != 0 && now.records == seen_.records + 1) {
      const int allowed = read_since && auto_ranging != 0 ? 1 : 0;
      if (std::abs(index - before) > allowed) Violated("an auto-ranging step is applied once, after a read-out");
    }
    armed_range_[static_cast<std::size_t>(ch)] = index;
    const int chosen = chosen_range_[static_cast<std::size_t>(ch)];
    if (chosen != 0 && index != chosen) {
      char detail[96];
      std::snprintf(detail, sizeof detail, "channel %d set to range %d, armed on range %d", ch, chosen, index);
      Violated("a range the host sets is the one the next record is measured on", detail);
    }
  }
  chosen_range_ = {};
  armed_with_ = Report();
  range_set_ = false;
  // A read-out of the record just started, in the same step, counts for the next.
  read_outs_at_arming_ = now.read_out_record == now.records ? now.read_outs - 1 : now.read_outs;
}

void Truth::RangeChosen(std::uint32_t ch) {
  double range = 0.0;
  if (open_ && (ch == 1 || ch == 2) && GetSensitivity(ch, &range) == RU3_OK) chosen_range_[ch] = RangeIndex(range);
}

Truth::Reported Truth::Report() {
  Reported r;
  r.rate = GetSampleFrequencyF();
  r.length = GetRecordLength();
  r.post = GetPostSamples();
  r.timeout = GetTriggerTimeOut();
  GetTriggerSource(&r.source);
  GetTriggerMode(&r.kind);
  for (std::uint32_t ch = 1; ch <= 2; ++ch) {
    GetTriggerModeCh(ch, &r.kind_ch[ch]);
    GetTriggerLevel(ch, &r.level[ch]);
    GetTriggerHys(ch, &r.hysteresis[ch]);
    GetSensitivity(ch, &r.range[ch]);
  }
  return r;
}

bool Truth::Alike(const Reported& a, const Reported& b) {
  const auto near = [](double x, double y) {
    return x == y || (std::isnan(x) && std::isnan(y)) || std::fabs(x - y) <= 1e-12 * std::fabs(x);
  };
  for (std::size_t ch = 1; ch <= 2; ++ch) {
    if (a.kind_ch[ch] != b.kind_ch[ch] || !near(a.level[ch], b.level[ch]) ||
        !near(a.hysteresis[ch], b.hysteresis[ch]) || !near(a.range[ch], b.range[ch])) {
      return false;
    }
  }
  return near(a.rate, b.rate) && a.length == b.length && a.post == b.post && a.timeout == b.timeout &&
         a.source == b.source && a.kind == b.kind;
}

// A record the poll has just read (timer-driven or synchronous) is the one it
// armed, on the settings the library reports for it: one sample rate, the
// post count, the front end and the trigger set-up as armed.
void Truth::CheckDelivered(const RecordState& now) const {
  if (now.cut_short || now.read_out_record != now.records || now.records == 0) return;
  const Reported reported = Report();
  if (now.rate_changed) Violated("a delivered record was sampled at one rate");
  if (!(std::fabs(now.sample_rate_hz - reported.rate) <= 1e-9 * now.sample_rate_hz)) {
    char detail[96];
    std::snprintf(detail, sizeof detail, "sampled at %.10g Hz, the library reports %.10g Hz", now.sample_rate_hz,
                  reported.rate);
    Violated("a delivered record was sampled at the rate the library reports", detail);
  }
  const auto post = static_cast<std::uint16_t>((2 * (static_cast<std::int64_t>(kRing) - reported.post) - 1) & 0xFFFF);
  if (now.post_count != post) Violated("a delivered record has the post-trigger count the library reports");
  for (int ch = 1; ch <= 2; ++ch) {
    if (now.input[static_cast<std::size_t>(ch - 1)].range != RangeIndex(reported.range[static_cast<std::size_t>(ch)])) {
      Violated("a delivered record was measured on the front end the library reports");
    }
  }
  if (!Alike(reported, armed_with_)) Violated("a delivered record was armed on the settings the library reports");
}

void Truth::TakeRecord(const RecordState& now) {
  record_.known = false;
  // A record whose run was stopped before it ended, or that a new arming has
  // overwritten already, is no measurement the checks can know.
  if (now.cut_short || now.read_out_record != now.records || now.records == 0) return;
  std::uint8_t mode = 0;
  if (GetMeasureMode(&mode) != RU3_OK) return;
  const std::int32_t n = GetRecordLength();
  const sim::AcquisitionState acquisition = pc_.Acquisition();
  // The newest position as the read-out computes it from the 16-bit count.
  const auto count = static_cast<std::int32_t>((0xFFFB - acquisition.half_steps) & 0xFFFF);
  std::int32_t w = 32765 - (count >> 1);
  if (w < 0) w += kRing;
  const std::int64_t newest = acquisition.half_steps >> 1;  // newest address written in this record

  record_.read = {false, mode == 1 || mode == 3 || mode == 16, mode == 2 || mode == 3 || mode == 16};
  for (int ch = 1; ch <= 2; ++ch) {
    const auto c = static_cast<std::size_t>(ch);
    record_.full_scale[c] = now.input[c - 1].full_scale_volts;
    // Two alignments: a channel trigger's record lies two samples later in
    // the ring than a free-running or forced one with the same post count.
    for (int o = 0; o < 2; ++o) {
      std::vector<std::uint16_t>& words = record_.words[2 * (c - 1) + static_cast<std::size_t>(o)];
      words.assign(static_cast<std::size_t>(n), kNoSample);
      if (!record_.read[c]) continue;
      for (std::int32_t p = 0; p < n; ++p) {
        const std::int64_t a = static_cast<std::int64_t>(w) - n + 1 - 2 * o + p;
        if (!acquisition.wrapped && (a < 0 || a > newest)) continue;
        const int address = static_cast<int>(((a % kRing) + kRing) % kRing);
        words[static_cast<std::size_t>(p)] = static_cast<std::uint16_t>(pc_.RingSample(ch, address) << 4);
      }
    }
  }
  record_.known = true;
}

// Index of the first of `count` values at positions first.. that `same`
// finds different from the record as channel `ch`'s alignment k has it, or
// -1 when all agree.
template <typename T, typename Same>
std::int32_t FirstDifference(const std::vector<std::uint16_t>& truth, std::int32_t first, const T* values,
                             std::int32_t count, Same same) {
  for (std::int32_t i = 0; i < count && first + i < static_cast<std::int32_t>(truth.size()); ++i) {
    if (!same(values[i], truth[static_cast<std::size_t>(first + i)])) return i;
  }
  return -1;
}

void Truth::CheckRaw(int ch, std::int32_t first, const std::uint16_t* words, std::int32_t count) const {
  if (!record_.known || !record_.read[static_cast<std::size_t>(ch)]) return;
  const auto same = [](std::uint16_t word, std::uint16_t truth) { return word == truth; };
  const std::vector<std::uint16_t>& forced = record_.words[2 * static_cast<std::size_t>(ch - 1)];
  const std::vector<std::uint16_t>& channel = record_.words[2 * static_cast<std::size_t>(ch - 1) + 1];
  if (FirstDifference(forced, first, words, count, same) < 0) return;
  const std::int32_t i = FirstDifference(channel, first, words, count, same);
  if (i < 0) return;
  char detail[128];
  std::snprintf(detail, sizeof detail, "channel %d position %d holds 0x%04X, the instrument had 0x%04X", ch, first + i,
                words[i], channel[static_cast<std::size_t>(first + i)]);
  Violated("every position of a record holds a sample of it, or 0x7FFF where it has none (nothing stale)", detail);
}

void Truth::CheckVolts(int ch, std::int32_t first, const double* volts, std::int32_t count) const {
  if (!record_.known || !record_.read[static_cast<std::size_t>(ch)]) return;
  const double full_scale = record_.full_scale[static_cast<std::size_t>(ch)];
  const auto input = [full_scale](std::uint16_t word) { return (word - 32768.0) / 32768.0 * full_scale; };
  const auto same = [&](double v, std::uint16_t truth) {
    return std::fabs(v - input(truth)) <= kCalibrationTolerance * full_scale;
  };
  const std::vector<std::uint16_t>& forced = record_.words[2 * static_cast<std::size_t>(ch - 1)];
  const std::vector<std::uint16_t>& channel = record_.words[2 * static_cast<std::size_t>(ch - 1) + 1];
  if (FirstDifference(forced, first, volts, count, same) < 0) return;
  const std::int32_t i = FirstDifference(channel, first, volts, count, same);
  if (i < 0) return;
  char detail[128];
  std::snprintf(detail, sizeof detail, "channel %d position %d reads %.6g V, the instrument measured %.6g V", ch,
                first + i, volts[i], input(channel[static_cast<std::size_t>(first + i)]));
  Violated("a record's volts are the input the instrument measured, within the calibration", detail);
}

void Truth::CheckClock() const {
  // With another unit addressed the clock's registers are that unit's, as
  // the host asked: the measuring unit's clock keeps its rate. (A number
  // other than 1..4 is only stored and leaves the traffic where it was.)
  if (other_unit_ || clock_due_) return;
  const double reported = GetSampleFrequencyF();
  const double runs = pc_.SampleRateHz();
  if (!(std::fabs(reported - runs) <= 1e-9 * runs)) {
    char detail[96];
    std::snprintf(detail, sizeof detail, "reported %.10g Hz, the clock runs at %.10g Hz", reported, runs);
    Violated("the sample frequency the getters report is the rate the clock runs at", detail);
  }
}

// The DAC codes of the selected unit are those of the volts asked for, as
// the library computes them in the default floating-point environment.
void CheckDac(const sim::SimulatedPc& pc, double first, double second) {
  std::fenv_t host;
  std::feholdexcept(&host);
  std::fesetenv(FE_DFL_ENV);
  const std::uint16_t want1 = VOz3::DacCode(first);
  const std::uint16_t want2 = VOz3::DacCode(second);
  std::fesetenv(&host);
  for (int unit = 1; unit <= 4; ++unit) {
    if (pc.DacCode(unit, 1) == want1 && pc.DacCode(unit, 2) == want2) return;
  }
  Violated("DAC codes do not depend on the host's floating-point environment");
}

}  // namespace ru3::fuzz
