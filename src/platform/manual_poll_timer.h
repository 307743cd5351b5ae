// The poll timer of the fuzz build: no thread and no real time. With
// RU3_MANUAL_POLL_TIMER defined, PollTimer ticks only when its host calls
// TickPollTimers, so a run is the same every time and never waits for a
// millisecond to pass.
#pragma once

namespace ru3::platform {

// One tick of every enabled poll timer, in the order they were created, under
// LibraryMutex(). Does nothing in a build with the threaded timer.
void TickPollTimers();

}  // namespace ru3::platform
