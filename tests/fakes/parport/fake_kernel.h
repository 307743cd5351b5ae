// A faked Linux parport layer: the kernel's printer ports as ppdev, the lp
// driver, raw port I/O and /proc/sys/dev/parport present them, with the
// simulated RU3 behind one port's registers. The interposers in
// intercept.cpp route the process's system calls here; the library under
// test and libieee1284 run unchanged above them.
//
// The kernel's rules kept here: a ppdev device registers at its first claim,
// exclusively when PPEXCL asked for it, and exclusive registration is refused
// (ENXIO) while another device is registered, as is any registration while
// an exclusive one is; a device registered beside another gets no entry
// under /proc/sys/dev/parport/parportN/devices (devices/active still names
// the holder), and the lp driver's device is "lp"; a claim of a port another
// device holds sleeps until it is released, keeping ppdev's one lock for all
// ioctls meanwhile, and a signal ends it with EINTR; a claim loads the claimant's
// saved control register (0x0C for a new device), a release saves it;
// PPWCONTROL and PPFCONTROL change bits 0-3 only; PPRDATA, PPRSTATUS and
// PPRCONTROL read the hardware; register access without a claim is refused
// (EINVAL).
//
// Configured by RU3_FAKE_PARPORT, `key=value` pairs separated by ';':
//   ports=0x378,0x278   bases of parport0, parport1, ...  (default 0x378)
//   instrument=N        the port the instrument hangs on   (default 0; -1 none)
//   ppdev=yes|no        /dev/parportN exist                (default yes)
//   access=rw|none      the process may open them          (default rw)
//   root=yes|no         ioperm is granted                  (default no)
//   lp=yes|no           the lp driver is registered on every port (default no)
//   held=N              another program holds parportN     (default none)
//   hidden=yes          ... without /proc showing it (a claim racing ours)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ru3::fake {

// One write that reached a port register.
struct RegisterWrite {
  enum class Origin : std::uint8_t {
    kProgram,  // PPWDATA, PPWCONTROL or an OUT instruction
    kFrob,     // PPFCONTROL
    kClaim,    // the kernel's restore at a claim
  };
  Origin origin;
  std::uint16_t address;  // base + register offset
  std::uint8_t value;     // the register afterwards
};

// Everything that reached the registers so far, in order.
std::vector<RegisterWrite> Writes();

// Register accesses the kernel refused because the caller held no claim.
int RefusedAccesses();

// Claims asleep in PPCLAIM now (each keeps ppdev's one lock: no other ppdev
// ioctl of any port, nor the holder's release, runs meanwhile).
int SleepingClaims();
// Ports handed to a claim that a signal had already ended, then let go only
// when its descriptor closed ("forgot to release port").
int ForgottenClaims();

// Devices registered on parportN now ("ppdev0", "lp", ...), listed in /proc
// or not.
std::vector<std::string> Registered(int n);
// True while a device is registered exclusively on parportN.
bool Exclusive(int n);

// The other program holding a port lets go of it.
void ReleaseHolder();

// ---- Used by the interposers ------------------------------------------

// Where a path of the faked kernel lies in the real file system (the /proc
// tree is a directory the fake keeps up to date); empty for other paths.
std::string RedirectedPath(const char* path);

// True for the device nodes the fake answers itself (/dev/parportN, ...).
bool IsDeviceNode(const char* path);
// Opens one: a descriptor of the fake's, or -1 with errno set.
int OpenDevice(const char* path, int flags, int real_fd);
// True when `fd` is a device of the fake's.
bool IsDevice(int fd);
void CloseDevice(int fd);
// ioctl on a device of the fake's: 0 or -1 with errno set.
int Ioctl(int fd, unsigned long request, void* arg);

// Raw port I/O: ioperm grants (root only), and the IN and OUT instructions
// that then trap.
int Ioperm(unsigned long from, unsigned long count, int on);
bool PortPermitted(std::uint16_t port);
std::uint8_t RawIn(std::uint16_t port);
void RawOut(std::uint16_t port, std::uint8_t value);

}  // namespace ru3::fake
