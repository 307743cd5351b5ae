// A call into the kernel that may sleep for as long as another program
// wishes (a printer-port claim while someone else holds the port), made with
// a deadline.
//
// The call runs on a helper thread; the caller waits for it at most `limit`.
// When the deadline passes the caller goes on without the result, and the
// helper, once the kernel lets it go, hands the late result to `late` (which
// undoes what the call did: releases a claim, frees a list). The library then
// stays loaded until the process ends, since a helper may still run its code.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace ru3::platform::linux_ports {

// Keeps this library in memory for the rest of the process.
void PinLibrary();

template <typename R>
std::optional<R> CallWithin(std::chrono::milliseconds limit, std::function<R()> work, std::function<void(R)> late) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done_cv;
    std::optional<R> result;
    bool abandoned = false;
  };
  auto shared = std::make_shared<Shared>();
  try {
    std::thread([shared, work = std::move(work), late = std::move(late)] {
      R result = work();
      std::unique_lock lock(shared->mutex);
      if (shared->abandoned) {
        lock.unlock();
        late(result);
        return;
      }
      shared->result = result;
      shared->done_cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return std::nullopt;  // no helper thread: the call is not made at all
  }
  std::unique_lock lock(shared->mutex);
  if (shared->done_cv.wait_for(lock, limit, [&] { return shared->result.has_value(); })) return shared->result;
  shared->abandoned = true;
  PinLibrary();
  return std::nullopt;
}

}  // namespace ru3::platform::linux_ports
