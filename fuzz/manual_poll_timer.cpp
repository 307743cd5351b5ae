// PollTimer without a thread, for the fuzz build: the harness fires the
// ticks with TickPollTimers. A tick takes the library lock
// like the threaded timer's, and a timer destroyed from its own tick ends
// cleanly because the list holds the timers' state weakly.
#include "manual_poll_timer.h"

#include <algorithm>
#include <vector>

#include "platform/host.h"

namespace ru3::platform {

struct PollTimer::Impl {
  std::function<void()> on_tick;
  bool enabled = false;
};

namespace {
std::vector<std::weak_ptr<PollTimer::Impl>>& Timers() {
  static std::vector<std::weak_ptr<PollTimer::Impl>> timers;
  return timers;
}
}  // namespace

PollTimer::PollTimer(std::function<void()> on_tick) : impl_(std::make_shared<Impl>()) {
  impl_->on_tick = std::move(on_tick);
  auto& timers = Timers();
  std::erase_if(timers, [](const auto& timer) { return timer.expired(); });
  timers.push_back(impl_);
}

PollTimer::~PollTimer() = default;

void PollTimer::SetEnabled(bool enabled) { impl_->enabled = enabled; }

bool PollTimer::Enabled() const { return impl_->enabled; }

}  // namespace ru3::platform

namespace ru3::fuzz {

void TickPollTimers() {
  using platform::PollTimer;
  std::lock_guard lock(platform::LibraryMutex());
  // A copy: a tick may create or destroy timers.
  const std::vector<std::weak_ptr<PollTimer::Impl>> timers = platform::Timers();
  for (const auto& weak : timers) {
    if (const std::shared_ptr<PollTimer::Impl> timer = weak.lock(); timer && timer->enabled) timer->on_tick();
  }
}

}  // namespace ru3::fuzz
