// Preloaded into qemu-system-x86: the build machine's /dev/parport0 and
// /dev/parport1 as QEMU's passthrough parallel device reaches them, answered
// by the simulated RU3 behind the registers of one of them. QEMU issues the
// ppdev ioctls of a port it owns; nothing is shared here: the guest's
// kernel does all the claiming and sharing on its side of the device.
//
// RU3_SHIM_INSTRUMENT=N puts the instrument on /dev/parportN (default 0; -1
// none). A port without it reads a floating status (0x7F).
// RU3_SHIM_LOG=FILE appends every register write that reaches the shim, in
// the form of the library's port trace ("O 0378 AA"; the bases are QEMU's:
// 0x378 for /dev/parport0, 0x278 for /dev/parport1).
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "sim/instrument.h"

namespace {

constexpr int kPorts = 2;
constexpr std::uint8_t kFloatingStatus = 0x7F;

struct Registers {
  int fd = -1;
  std::uint8_t data = 0;
  std::uint8_t control = 0x0C;
};

struct Shim {
  std::mutex mutex;
  Registers ports[kPorts];
  int instrument_port = 0;
  std::unique_ptr<ru3::sim::Instrument> instrument;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  FILE* log = nullptr;  // written at exit: QEMU ends the guest with exit()
};

Shim& TheShim() {
  static Shim* shim = [] {
    auto* s = new Shim;  // lives as long as QEMU
    if (const char* n = std::getenv("RU3_SHIM_INSTRUMENT")) s->instrument_port = std::atoi(n);
    if (s->instrument_port >= 0 && s->instrument_port < kPorts) {
      s->instrument = std::make_unique<ru3::sim::Instrument>(ru3::sim::SimConfig{});
      s->instrument->WriteControl(0x0C, 0);
    }
    if (const char* path = std::getenv("RU3_SHIM_LOG")) s->log = std::fopen(path, "a");
    return s;
  }();
  return *shim;
}

std::uint64_t NowNs(const Shim& s) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - s.start).count());
}

// N of "/dev/parportN" for the ports the shim answers; -1 otherwise.
int PortNumber(const char* path) {
  if (path == nullptr || std::strncmp(path, "/dev/parport", 12) != 0) return -1;
  if (path[12] < '0' || path[12] >= '0' + kPorts || path[13] != '\0') return -1;
  return path[12] - '0';
}

int PortOfFd(Shim& s, int fd) {
  for (int n = 0; n < kPorts; ++n) {
    if (fd >= 0 && s.ports[n].fd == fd) return n;
  }
  return -1;
}

template <typename F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int OpenPort(int n) {
  static const auto real_open = Next<int (*)(const char*, int, ...)>("open");
  // A descriptor of the real kernel's keeps the number unique and pollable.
  const int fd = real_open("/dev/null", O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return fd;
  Shim& s = TheShim();
  std::lock_guard lock(s.mutex);
  s.ports[n].fd = fd;
  return fd;
}

int PortIoctl(Shim& s, int n, unsigned long request, void* arg) {
  Registers& r = s.ports[n];
  auto* byte = static_cast<unsigned char*>(arg);
  const bool instrument = s.instrument && n == s.instrument_port;
  const unsigned base = n == 0 ? 0x378 : 0x278;
  if (s.log != nullptr && (request == PPWDATA || request == PPWCONTROL)) {
    std::fprintf(s.log, "O %04X %02X\n", base + (request == PPWDATA ? 0 : 2), *byte);
  }
  switch (request) {
    case PPRDATA: *byte = r.data; return 0;
    case PPWDATA:
      r.data = *byte;
      if (instrument) s.instrument->WriteData(*byte);
      return 0;
    case PPRCONTROL: *byte = r.control; return 0;
    case PPWCONTROL:
      r.control = *byte;
      if (instrument) s.instrument->WriteControl(*byte, NowNs(s));
      return 0;
    case PPRSTATUS: *byte = instrument ? s.instrument->ReadStatus(NowNs(s)) : kFloatingStatus; return 0;
    case PPCLAIM: case PPRELEASE: case PPDATADIR: case PPSETMODE: case PPEXCL: case PPNEGOT: return 0;
    case PPGETMODES: *static_cast<unsigned int*>(arg) = 1; return 0;  // PARPORT_MODE_PCSPP
    default: errno = EINVAL; return -1;  // EPP and ECP transfers: none behind this port
  }
}

mode_t ModeArgument(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArgument(flags, args);
  va_end(args);
  if (const int n = PortNumber(path); n >= 0) return OpenPort(n);
  static const auto real = Next<int (*)(const char*, int, ...)>("open");
  return real(path, flags, mode);
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArgument(flags, args);
  va_end(args);
  if (const int n = PortNumber(path); n >= 0) return OpenPort(n);
  static const auto real = Next<int (*)(const char*, int, ...)>("open64");
  return real(path, flags, mode);
}

__attribute__((visibility("default"))) int openat(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArgument(flags, args);
  va_end(args);
  if (const int n = PortNumber(path); n >= 0) return OpenPort(n);
  static const auto real = Next<int (*)(int, const char*, int, ...)>("openat");
  return real(dirfd, path, flags, mode);
}

__attribute__((visibility("default"))) int openat64(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArgument(flags, args);
  va_end(args);
  if (const int n = PortNumber(path); n >= 0) return OpenPort(n);
  static const auto real = Next<int (*)(int, const char*, int, ...)>("openat64");
  return real(dirfd, path, flags, mode);
}

__attribute__((visibility("default"))) int __open_2(const char* path, int flags) { return open(path, flags); }
__attribute__((visibility("default"))) int __open64_2(const char* path, int flags) { return open64(path, flags); }

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  Shim& s = TheShim();
  {
    std::lock_guard lock(s.mutex);
    if (const int n = PortOfFd(s, fd); n >= 0) return PortIoctl(s, n, request, arg);
  }
  static const auto real = Next<int (*)(int, unsigned long, ...)>("ioctl");
  return real(fd, request, arg);
}

__attribute__((visibility("default"))) int close(int fd) {
  Shim& s = TheShim();
  {
    std::lock_guard lock(s.mutex);
    if (const int n = PortOfFd(s, fd); n >= 0) s.ports[n].fd = -1;
  }
  static const auto real = Next<int (*)(int)>("close");
  return real(fd);
}

}  // extern "C"
