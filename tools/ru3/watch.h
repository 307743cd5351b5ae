// `ru3 watch`: timer-driven measuring (DoMeasure(-1)) shown in the terminal,
// redrawn in place until interrupted or a number of frames is reached.
#pragma once

#include <string>

#include "capture.h"
#include "record.h"

namespace ru3cli {

struct WatchOptions {
  long interval_ms = 200;
  long frames = 0;  // 0: until interrupted
};

// Runs on the open instrument with `acquisition` applied; returns when done.
// Leaves measuring switched off and the terminal as it found it.
void Watch(const Acquisition& acquisition, const WatchOptions& options);

// One frame of the terminal picture: heading, a cols x rows screen with both
// traces, and a summary line per channel. `colour` adds ANSI colours.
std::string RenderFrame(const Record& record, int cols, int rows, bool colour, long frame);

// One channel's summary as the tool prints it.
std::string SummaryLine(const Channel& channel, double sample_rate);

}  // namespace ru3cli
