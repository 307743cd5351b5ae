// `ru3 watch`: timer-driven measuring (DoMeasure(-1)) shown in the terminal,
// redrawn in place and fitted to the terminal's size (followed when it
// changes) until interrupted or a number of frames is reached.
#pragma once

#include <string>
#include <vector>

#include "acquisition.h"
#include "record.h"

namespace ru3cli {

struct WatchOptions {
  long interval_ms = 200;
  long frames = 0;  // 0: until interrupted
};

// Runs on the open instrument with `acquisition` applied; returns when the
// frames are done, throws Failure (exit status 130) when interrupted. Leaves
// measuring switched off and the terminal as it found it.
void Watch(const Acquisition& acquisition, const WatchOptions& options);

// One frame of the terminal picture in exactly `rows` lines of at most `cols`
// characters: a heading, the screen with both traces (as wide as the
// terminal), the time axis, and a summary line per channel. `colour` adds
// ANSI colours (which take no room).
std::vector<std::string> RenderFrame(const Record& record, int cols, int rows, bool colour, long frame);

}  // namespace ru3cli
