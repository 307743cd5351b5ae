// The poll timer on POSIX: a thread of its own that ticks every millisecond
// under the library lock.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/host.h"

namespace ru3::platform {

struct PollTimer::Impl {
  std::function<void()> on_tick;
  std::atomic<bool> enabled{false};
  std::atomic<bool> stop{false};
  std::thread thread;

  void Run() {
    using namespace std::chrono_literals;
    auto next = std::chrono::steady_clock::now();
    while (!stop.load()) {
      next += 1ms;
      const auto now = std::chrono::steady_clock::now();
      if (next < now) next = now;  // a long tick does not cause a burst
      std::this_thread::sleep_until(next);
      if (stop.load() || !enabled.load()) continue;
      // Skip the tick while an exported call holds the lock: the timer must
      // never block on it, or destroying the timer under the lock would wait
      // for ever on this thread.
      std::unique_lock lock(LibraryMutex(), std::try_to_lock);
      if (!lock.owns_lock()) continue;
      if (!stop.load() && enabled.load()) on_tick();
    }
  }
};

PollTimer::PollTimer(std::function<void()> on_tick) : impl_(std::make_shared<Impl>()) {
  impl_->on_tick = std::move(on_tick);
  // The thread shares the state, so it stays valid if the timer is destroyed
  // from its own tick and the thread is detached.
  impl_->thread = std::thread([impl = impl_] { impl->Run(); });
}

PollTimer::~PollTimer() {
  impl_->stop.store(true);
  if (impl_->thread.joinable()) {
    if (impl_->thread.get_id() == std::this_thread::get_id()) {
      impl_->thread.detach();  // destroyed from its own tick: let it end
    } else {
      impl_->thread.join();
    }
  }
}

void PollTimer::SetEnabled(bool enabled) { impl_->enabled.store(enabled); }

bool PollTimer::Enabled() const { return impl_->enabled.load(); }

}  // namespace ru3::platform
