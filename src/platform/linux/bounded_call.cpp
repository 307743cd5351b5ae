// Keeping the library loaded while a helper thread may still run its code.
#include "platform/linux/bounded_call.h"

#include <dlfcn.h>

namespace ru3::platform::linux_ports {

void PinLibrary() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&PinLibrary), &info) == 0 || info.dli_fname == nullptr) return;
  // Opening ourselves again with RTLD_NODELETE makes every later dlclose a
  // no-op; RTLD_NOLOAD loads nothing new. The handle is kept on purpose.
  (void)dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace ru3::platform::linux_ports
