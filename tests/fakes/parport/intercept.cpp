// The system calls of the faked parport layer: linked into a test program
// (or preloaded into the ru3 tool), these definitions come before the C
// library's, so libieee1284 and the library under test reach the fake
// kernel without a change. Every other path and descriptor goes on to the C
// library.
//
// Raw port I/O never reaches hardware: ioperm and iopl are answered here and
// never granted by the real kernel, so an IN or OUT instruction traps; the
// trap handler carries it out on the fake's registers when the fake has
// granted the port, and otherwise lets the process die of the fault.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <ucontext.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fake_kernel.h"

namespace {

template <typename F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

#define RU3_REAL(name) static const auto real = Next<decltype(&::name)>(#name)

// A path under the faked kernel's names, moved into its directory; the path
// itself otherwise.
struct Path {
  explicit Path(const char* path) : redirected(ru3::fake::RedirectedPath(path)), original(path) {}
  const char* get() const { return redirected.empty() ? original : redirected.c_str(); }
  std::string redirected;
  const char* original;
};

int OpenWith(int (*real_open)(const char*, int, ...), const char* path, int flags, mode_t mode) {
  if (ru3::fake::IsDeviceNode(path)) {
    // A descriptor of the real kernel's keeps the number unique; the fake
    // answers everything done with it.
    const int fd = real_open("/dev/null", O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return fd;
    const int result = ru3::fake::OpenDevice(path, flags, fd);
    if (result < 0) {
      const int error = errno;
      static const auto real_close = Next<int (*)(int)>("close");
      real_close(fd);
      errno = error;
    }
    return result;
  }
  return real_open(Path(path).get(), flags, mode);
}

mode_t ModeArgument(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

#if defined(__x86_64__)
// IN AL,DX (EC), IN AL,imm8 (E4), OUT DX,AL (EE), OUT imm8,AL (E6): the
// instructions libieee1284's raw access uses. Carried out on the fake's
// registers when the port was granted; anything else faults for real.
void TrapPortInstruction(int /*signal*/, siginfo_t* info, void* context) {
  auto* uc = static_cast<ucontext_t*>(context);
  greg_t& rip = uc->uc_mcontext.gregs[REG_RIP];
  greg_t& rax = uc->uc_mcontext.gregs[REG_RAX];
  const auto dx = static_cast<std::uint16_t>(uc->uc_mcontext.gregs[REG_RDX]);
  const auto* code = reinterpret_cast<const std::uint8_t*>(rip);
  if (info->si_code == SI_KERNEL) {
    std::uint16_t port = 0;
    int length = 1;
    bool input = false;
    bool known = true;
    switch (code[0]) {
      case 0xEC: port = dx, input = true; break;
      case 0xE4: port = code[1], input = true, length = 2; break;
      case 0xEE: port = dx; break;
      case 0xE6: port = code[1], length = 2; break;
      default: known = false; break;
    }
    if (known && ru3::fake::PortPermitted(port)) {
      if (input) {
        rax = (rax & ~static_cast<greg_t>(0xFF)) | ru3::fake::RawIn(port);
      } else {
        ru3::fake::RawOut(port, static_cast<std::uint8_t>(rax & 0xFF));
      }
      rip += length;
      return;
    }
  }
  signal(SIGSEGV, SIG_DFL);  // the instruction runs again and ends the process
}

void InstallTrap() {
  static bool installed = false;
  if (installed) return;
  struct sigaction action {};
  action.sa_sigaction = TrapPortInstruction;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, nullptr);
  installed = true;
}
#else
void InstallTrap() {}
#endif

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArgument(flags, args);
  va_end(args);
  RU3_REAL(open);
  return OpenWith(real, path, flags, mode);
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArgument(flags, args);
  va_end(args);
  RU3_REAL(open64);
  return OpenWith(real, path, flags, mode);
}

__attribute__((visibility("default"))) int __open_2(const char* path, int flags) {
  RU3_REAL(open);
  return OpenWith(real, path, flags, 0);
}

__attribute__((visibility("default"))) int __open64_2(const char* path, int flags) {
  RU3_REAL(open64);
  return OpenWith(real, path, flags, 0);
}

__attribute__((visibility("default"))) int openat(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArgument(flags, args);
  va_end(args);
  RU3_REAL(openat);
  if (ru3::fake::IsDeviceNode(path)) {
    static const auto real_open = Next<int (*)(const char*, int, ...)>("open");
    return OpenWith(real_open, path, flags, mode);
  }
  return real(dirfd, Path(path).get(), flags, mode);
}

__attribute__((visibility("default"))) int close(int fd) {
  RU3_REAL(close);
  if (ru3::fake::IsDevice(fd)) ru3::fake::CloseDevice(fd);
  return real(fd);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (ru3::fake::IsDevice(fd)) return ru3::fake::Ioctl(fd, request, arg);
  static const auto real = Next<int (*)(int, unsigned long, ...)>("ioctl");
  return real(fd, request, arg);
}

__attribute__((visibility("default"))) int __xstat(int version, const char* path, struct stat* buffer) {
  static const auto real = Next<int (*)(int, const char*, struct stat*)>("__xstat");
  return real(version, Path(path).get(), buffer);
}

__attribute__((visibility("default"))) int stat(const char* path, struct stat* buffer) {
  RU3_REAL(stat);
  return real(Path(path).get(), buffer);
}

__attribute__((visibility("default"))) int lstat(const char* path, struct stat* buffer) {
  RU3_REAL(lstat);
  return real(Path(path).get(), buffer);
}

__attribute__((visibility("default"))) int access(const char* path, int mode) {
  RU3_REAL(access);
  return real(Path(path).get(), mode);
}

__attribute__((visibility("default"))) FILE* fopen(const char* path, const char* mode) {
  RU3_REAL(fopen);
  return real(Path(path).get(), mode);
}

__attribute__((visibility("default"))) FILE* fopen64(const char* path, const char* mode) {
  RU3_REAL(fopen64);
  return real(Path(path).get(), mode);
}

__attribute__((visibility("default"))) DIR* opendir(const char* path) {
  RU3_REAL(opendir);
  return real(Path(path).get());
}

__attribute__((visibility("default"))) int ioperm(unsigned long from, unsigned long count, int on) {
  const int result = ru3::fake::Ioperm(from, count, on);
  if (result == 0 && on != 0) InstallTrap();
  return result;
}

__attribute__((visibility("default"))) int iopl(int /*level*/) {
  errno = EPERM;  // never: the whole I/O space would be open to real hardware
  return -1;
}

}  // extern "C"
