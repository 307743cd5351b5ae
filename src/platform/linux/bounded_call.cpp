// Keeping the library loaded while a helper thread may still run its code,
// and the signal that interrupts a helper's sleeping call.
#include "platform/linux/bounded_call.h"

#include <dlfcn.h>
#include <signal.h>

#include <mutex>

namespace ru3::platform::linux_ports {

namespace {

void Interrupted(int /*signal*/) {}  // only to end the sleeping call with EINTR

}  // namespace

void PinLibrary() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&PinLibrary), &info) == 0 || info.dli_fname == nullptr) return;
  // Opening ourselves again with RTLD_NODELETE makes every later dlclose a
  // no-op; RTLD_NOLOAD loads nothing new. The handle is kept on purpose.
  (void)dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

int InterruptSignal() {
  // A real-time signal well above those the C library keeps for itself. It
  // is taken only while its disposition is the default one, which would end
  // the process: no host can be relying on it then.
  static const int chosen = [] {
    const int candidate = SIGRTMIN + 6;
    struct sigaction current {};
    if (candidate > SIGRTMAX || sigaction(candidate, nullptr, &current) != 0) return 0;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) return 0;
    struct sigaction action {};
    action.sa_handler = Interrupted;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the interrupted call returns EINTR
    return sigaction(candidate, &action, nullptr) == 0 ? candidate : 0;
  }();
  return chosen;
}

void AcceptInterrupt(int signal) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace ru3::platform::linux_ports
