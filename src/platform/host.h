// The one seam between the driver and the machine it runs on.
//
// Everything the instrument code needs from outside the process goes through a
// `Backend`: byte-wide port access, the port-driver check, named printer-port
// devices, the platform family and the millisecond tick count. The Linux back
// end (libieee1284), the Win32 back end (IN/OUT), the simulated PC with its
// instrument, the recording back end of the tests and the port trace all
// implement it. Exactly one back end is current at a time.
//
// The OS services that do not depend on where the ports come from (the poll
// timer, message boxes, registered window messages, the library-wide lock) are
// plain functions declared at the end of this file and implemented once per
// operating system.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Global.h"

namespace ru3::platform {

// Handle of an opened named device ("LPT1".."LPT3"); kNoDevice when none.
using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle kNoDevice = 0;

// Platform identifier as the runtime reports it: 1 = 9x family, 2 = NT family.
inline constexpr int kPlatform9x = 1;
inline constexpr int kPlatformNT = 2;

class Backend {
 public:
  Backend() = default;
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;
  virtual ~Backend() = default;

  // Port access: one byte-wide output or input at a 16-bit I/O address.
  virtual void Out(std::uint16_t port, std::uint8_t value) = 0;
  virtual std::uint8_t In(std::uint16_t port) = 0;

  // True when this process may reach printer ports at all. Shows nothing:
  // the caller (CheckPortDriver) shows the notice.
  virtual bool PortDriverPresent() = 0;
  // The notice CheckPortDriver shows when PortDriverPresent() is false: the
  // NT driver notice unless a back end names what is missing in its own
  // system's terms; empty when nothing is to be shown (said once already).
  virtual std::string PortDriverNotice() { return kPortDriverMessage; }

  // Named devices: open a device name without sharing, as the claim of
  // detection and the device test of probing do. kNoDevice when the name
  // cannot be opened (absent, or held by anyone else, this process included).
  virtual DeviceHandle OpenDevice(const std::string& name) = 0;
  virtual void CloseDevice(DeviceHandle handle) = 0;

  // 1 = 9x family (addresses from the system configuration), 2 = NT family
  // (addresses found by probing). Linux and the simulator probe: 2.
  virtual int PlatformId() { return kPlatformNT; }
  // Base address of the named port from the system's device configuration,
  // 0 when not found: the only source on the 9x family; on the NT family
  // asked for the entries that probing the classic addresses left empty; and
  // the port's own base where PortBasesFromSystem().
  virtual std::uint64_t LookupPortBase(const std::string& /*name*/) { return 0; }
  // True when the system itself knows where each named port sits (Linux: the
  // kernel's port list, cards included): discovery then probes each port at
  // its LookupPortBase() instead of trying the classic addresses.
  virtual bool PortBasesFromSystem() { return false; }

  // Millisecond tick count; 32 bits, wraps after 2^32 ms.
  virtual std::uint32_t TickCount() = 0;
  // Busy wait of `ms` milliseconds on the tick count. The default spins on
  // TickCount() and is correct across the wrap; simulated time overrides it.
  virtual void Delay(std::int32_t ms);

  // Makes everything written so far durable (the port trace's file).
  virtual void Flush() {}
};

// The current back end and its choice: declared here for every layer, defined
// by the library's composition root (src/api/Backends.cpp), which alone knows
// every back end.
//
// The current back end, chosen at first use from the environment
// (RU3_SIMULATOR, RU3_PORT_TRACE: the root's table says how). Never null.
Backend& CurrentBackend();

// Re-reads the environment and, when the variables of the choice differ
// from what the current back end was built from, builds a new one. Called
// whenever a new instrument object is built, so a host may choose the
// simulator after the library was loaded. Returns false (and leaves a back end
// without port access in place) when the configuration is malformed;
// the reason has been written to standard error.
bool RefreshBackendFromEnvironment();

// Replaces the back end (tests, benchmarks). Passing null restores the
// environment's choice at the next use. Returns the previous one.
std::unique_ptr<Backend> ReplaceBackend(std::unique_ptr<Backend> backend);

// Flushes the current back end (the trace file is complete afterwards).
void FlushBackend();

// ---- Operating-system services ------------------------------------------

// The one library-wide lock: every exported call and every poll-timer tick
// hold it for their whole duration. Recursive, as exports call exports.
// On Windows the library is single-threaded by design (the poll timer and the
// hidden window run on the host's message loop), so the lock does nothing and
// the DLL needs no thread runtime.
#ifdef _WIN32
class LibraryLock {
 public:
  void lock() {}
  void unlock() {}
  bool try_lock() { return true; }
};
#else
using LibraryLock = std::recursive_mutex;
#endif
LibraryLock& LibraryMutex();

// A periodic 1 ms callback. On POSIX it runs on a timer thread of its own,
// under LibraryMutex(); a tick is skipped rather than waited for while a call
// holds the lock, so destroying the timer under the lock cannot deadlock.
class PollTimer {
 public:
  explicit PollTimer(std::function<void()> on_tick);
  PollTimer(const PollTimer&) = delete;
  PollTimer& operator=(const PollTimer&) = delete;
  ~PollTimer();

  void SetEnabled(bool enabled);
  [[nodiscard]] bool Enabled() const;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

// The hidden window that receives device messages (WM_DEVICECHANGE 0x219 and
// the private message 0x40D). On Windows a real, never shown window of class
// "TDeviceMessageReceiver" on the calling thread, whose messages reach
// `on_message` through the host's message loop. Elsewhere it has no window
// and messages are delivered by the library itself.
class DeviceWindow {
 public:
  explicit DeviceWindow(std::function<void(std::uint32_t)> on_message);
  DeviceWindow(const DeviceWindow&) = delete;
  DeviceWindow& operator=(const DeviceWindow&) = delete;
  ~DeviceWindow();

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

// A modal notice to the user. Windows: a message box. POSIX: one line (or
// lines) on standard error. Tests may capture them.
void ShowMessage(const std::string& text);
// Installs a sink that receives every ShowMessage text instead of the
// default output; null restores the default.
void SetMessageSink(std::function<void(const std::string&)> sink);

// Registers a window message name and returns its id. POSIX records the
// names in order and hands out ids from 0xC000 upwards.
std::uint32_t RegisterWindowMessageName(const std::string& name);
// Every name registered so far, once each, in order (POSIX; empty on Windows).
std::vector<std::string> RegisteredMessageNames();

}  // namespace ru3::platform
