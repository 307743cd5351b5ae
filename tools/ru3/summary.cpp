#include "summary.h"

#include <algorithm>
#include <cmath>

#include "format.h"

namespace ru3cli {

namespace {

std::string Volts(double v) { return Quantity(v, "V", 4); }

const Channel* ChannelOf(const Record& record, int number) {
  for (const Channel& ch : record.channels) {
    if (ch.number == number) return &ch;
  }
  return nullptr;
}

}  // namespace

std::string SummaryLine(const Channel& channel, double sample_rate) {
  const ChannelSummary s = Summarise(channel.volts, sample_rate);
  std::string line = "CH" + std::to_string(channel.number) + " (range " + Quantity(channel.range, "V") + "): min " +
                     Volts(s.min) + ", max " + Volts(s.max) + ", mean " + Volts(s.mean) + ", rms " + Volts(s.rms) +
                     ", p-p " + Volts(s.peak_to_peak) + ", ";
  line += s.frequency ? "frequency " + Engineering(*s.frequency, "Hz") : std::string("frequency unknown");
  if (s.frequency && s.may_alias) line += " (may be aliased: raise --rate)";
  if (s.missing > 0) line += " (" + std::to_string(s.missing) + " positions without a sample)";
  if (channel.clipped > 0) line += ", CLIPPED";
  return line;
}

std::string TriggerMark(const Record& record) { return record.trigger.forced ? "trigger forced" : ""; }

std::string ClippedMark(const Channel& channel) {
  return channel.clipped > 0 ? "clipped: " + std::to_string(channel.clipped) + " samples at the ends of the range" : "";
}

std::vector<std::string> RecordNotes(const Record& record) {
  std::vector<std::string> notes;
  const Trigger& trigger = record.trigger;
  if (trigger.forced) {
    std::string note = "trigger forced: no " + trigger.source + " trigger at " + Volts(trigger.level) + " within " +
                       std::to_string(trigger.timeout_ms) + " ms, so the record is not aligned on the signal";
    if (const Channel* ch = ChannelOf(record, trigger.channel)) {
      const ChannelSummary s = Summarise(ch->volts, record.sample_rate);
      note += "; " + trigger.source + " spans " + Volts(s.min) + " to " + Volts(s.max);
      if (trigger.level > s.max) {
        note += ": try a lower --level";
      } else if (trigger.level < s.min) {
        note += ": try a higher --level";
      } else {
        note += ": try another --kind or a smaller --hysteresis";
      }
    } else {
      note += ": try a lower --level";
    }
    notes.push_back(note);
  }
  for (const Channel& ch : record.channels) {
    if (ch.clipped == 0) continue;
    const bool largest = record.largest_range > 0 && ch.range >= record.largest_range;
    notes.push_back("CH" + std::to_string(ch.number) + " clipped: " + std::to_string(ch.clipped) +
                    " samples at the ends of the " + Quantity(ch.range, "V") + " range, the input went beyond it" +
                    (largest ? ": the input exceeds the instrument's largest range" : ": try a larger --range, or auto"));
  }
  const std::size_t gap = LeadingGap(record);
  if (gap > 0 && gap < record.length() && record.pre_samples > 0) {
    const long sampled = std::max(0L, record.pre_samples - static_cast<long>(gap));
    const double share = std::floor(static_cast<double>(sampled) / static_cast<double>(record.length()) * 1000) / 1000;
    notes.push_back("record cut short: the trigger came " + std::to_string(sampled) +
                    " samples after arming, before the " + std::to_string(record.pre_samples) +
                    " pre-trigger samples were taken, so the first " + std::to_string(gap) +
                    " positions hold no sample: --pre " + Decimal(share, 3) + " or less gives a full record");
  }
  return notes;
}

void PrintSummary(std::FILE* out, const Record& record, const std::string& title) {
  std::string heading = title + ": sample rate " + RateText(record.sample_rate);
  if (record.asked_rate > 0 && std::fabs(record.asked_rate - record.sample_rate) > 1e-9 * record.sample_rate) {
    heading += " (the nearest rate to the " + RateText(record.asked_rate) + " asked)";
  }
  heading += ", " + Count(static_cast<long>(record.length()), "sample") + ", trigger " + record.trigger.source;
  if (record.trigger.channel != 0) heading += " at " + Volts(record.trigger.level);
  if (record.trigger.forced) heading += " (forced)";
  if (record.averaged > 1) heading += ", mean of " + std::to_string(record.averaged);
  std::fprintf(out, "%s\n", heading.c_str());
  for (const Channel& ch : record.channels) std::fprintf(out, "  %s\n", SummaryLine(ch, record.sample_rate).c_str());
  for (const std::string& note : RecordNotes(record)) std::fprintf(out, "  note: %s\n", note.c_str());
}

}  // namespace ru3cli
