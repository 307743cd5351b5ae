// The poll timer of the fuzz build: no thread and no real time. The fuzz
// build links this PollTimer in place of the threaded one
// (src/platform/linux/poll_timer.cpp), so the timer ticks only when the
// harness calls TickPollTimers: a run is the same every time and never waits
// for a millisecond to pass.
#pragma once

namespace ru3::fuzz {

// One tick of every enabled poll timer, in the order they were created, under
// the library lock.
void TickPollTimers();

}  // namespace ru3::fuzz
