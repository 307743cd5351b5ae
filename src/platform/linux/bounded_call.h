// A call into the kernel that may sleep for as long as another program
// wishes (a printer-port claim while someone else holds the port), made with
// a deadline.
//
// The call runs on a helper thread; the caller waits for it at most `limit`.
// At the deadline the helper is interrupted: it is sent a signal whose
// handler does nothing, so the sleeping claim returns EINTR (the kernel's
// claim is never restarted). This matters beyond our own wait: ppdev runs
// every ioctl of every port under one driver-wide lock, which a sleeping
// claim keeps, so a claim left sleeping would stop the holder's own release
// and every other ppdev user until this process ended. The helper hands the
// late result to `late` (which undoes what the call did: releases a claim,
// closes the port, frees a list) before the caller goes on.
//
// Only where the helper cannot be interrupted (the signal is the host's, or
// the call does not come back) does the caller go on without it; the helper
// then runs `late` whenever the kernel lets it go, and the library stays
// loaded until the process ends, since the helper may still run its code.
#pragma once

#include <pthread.h>
#include <signal.h>

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

// The signal that interrupts a helper (its handler installed once, without
// SA_RESTART); 0 when the host has a handler of its own for it.
int InterruptSignal();
// Lets the interrupting signal reach the calling thread.
void AcceptInterrupt(int signal);

// How long the caller keeps interrupting a helper that has not come back.
constexpr std::chrono::milliseconds kInterruptLimit{200};

template <typename R>
std::optional<R> CallWithin(std::chrono::milliseconds limit, std::function<R()> work, std::function<void(R)> late) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done_cv;
    std::optional<R> result;
    bool abandoned = false;
    bool finished = false;  // the helper is past `late`: it touches nothing more
    pthread_t thread{};
  };
  auto shared = std::make_shared<Shared>();
  const int signal = InterruptSignal();
  std::unique_lock lock(shared->mutex);
  try {
    std::thread helper([shared, signal, work = std::move(work), late = std::move(late)] {
      if (signal != 0) AcceptInterrupt(signal);
      R result = work();
      std::unique_lock helper_lock(shared->mutex);
      if (shared->abandoned) {
        helper_lock.unlock();
        late(result);
        helper_lock.lock();
      } else {
        shared->result = result;
      }
      shared->finished = true;
      shared->done_cv.notify_all();
    });
    shared->thread = helper.native_handle();
    helper.detach();
  } catch (const std::system_error&) {
    return std::nullopt;  // no helper thread: the call is not made at all
  }
  if (shared->done_cv.wait_for(lock, limit, [&] { return shared->finished; })) return shared->result;
  shared->abandoned = true;
  if (signal != 0) {
    // Signalled again and again: one that lands before the call starts to
    // sleep is lost. The helper cannot end while the lock is held here.
    const auto give_up = std::chrono::steady_clock::now() + kInterruptLimit;
    while (!shared->finished && std::chrono::steady_clock::now() < give_up) {
      pthread_kill(shared->thread, signal);
      shared->done_cv.wait_for(lock, std::chrono::milliseconds(2), [&] { return shared->finished; });
    }
    if (shared->finished) return std::nullopt;
  }
  PinLibrary();
  return std::nullopt;
}

}  // namespace ru3::platform::linux_ports
