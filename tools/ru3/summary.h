// What the tool says about a record in words: one summary line per channel
// (min, max, mean, RMS, peak-to-peak, frequency) and the notes a scope user
// must see, each with a hint: a trigger forced after the time-out, samples
// at the ends of a range (clipping), a record cut short because the trigger
// came before the pre-trigger share was sampled.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "record.h"

namespace ru3cli {

// One channel's summary, e.g. "CH1 (range 2 V): min -1.5 V, max ...".
std::string SummaryLine(const Channel& channel, double sample_rate);

// The notes on a record, each a sentence with its hint; empty when there is
// nothing to say.
std::vector<std::string> RecordNotes(const Record& record);

// Short marks for headers and plots: "trigger forced", "CH1 clipped".
std::string TriggerMark(const Record& record);
std::string ClippedMark(const Channel& channel);

// The heading line (`title`: rate, samples, trigger), the channel lines and
// the notes.
void PrintSummary(std::FILE* out, const Record& record, const std::string& title);

}  // namespace ru3cli
