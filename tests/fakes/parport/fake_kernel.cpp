// The faked kernel parport layer: ports, registered devices, claims and the
// port registers, with the simulated instrument behind one of them.
#include "fake_kernel.h"

#include <sys/ioctl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>

#include "sim/instrument.h"

namespace ru3::fake {

namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kNewDeviceControl = 0x0C;  // what a new device's claim loads
constexpr std::uint8_t kFloatingStatus = 0x7F;

struct Config {
  std::vector<std::uint16_t> bases{0x378};
  int instrument = 0;
  bool ppdev = true;
  bool access = true;
  bool root = false;
  bool lp = false;
  int held = -1;
  bool hidden = false;
};

struct Device {
  std::string name;
  bool exclusive = false;
  bool external = false;  // another program's, or a kernel driver's
  // Whether /proc lists it: the kernel makes no devices/<name> entry for a
  // device registered while another one is (ppdev0 beside lp, say); the
  // holder still shows in devices/active.
  bool listed = true;
  // Queued for the port by a claim, also after a signal ended that claim
  // with EINTR: the next release hands the port to it all the same.
  bool waiting = false;
  std::uint8_t saved_control = kNewDeviceControl;
};

struct Port {
  int number = 0;
  std::uint16_t base = 0;
  std::uint8_t data = 0;
  std::uint8_t control = kNewDeviceControl;
  std::vector<std::shared_ptr<Device>> devices;
  std::shared_ptr<Device> holder;  // the device that has claimed it
};

struct OpenFile {
  int port = 0;
  bool lp_node = false;
  bool want_exclusive = false;
  bool claimed = false;            // a PPCLAIM returned 0 and no PPRELEASE since
  std::shared_ptr<Device> device;  // registered at the first claim
};

struct Kernel {
  Config config;
  fs::path root;
  std::vector<Port> ports;
  std::map<int, OpenFile> files;
  std::vector<RegisterWrite> writes;
  int refused = 0;
  int sleeping = 0;   // claims asleep in PPCLAIM now
  int forgotten = 0;  // devices unregistered while holding a port they never had a claim of
  std::set<std::uint16_t> permitted;
  std::unique_ptr<sim::Instrument> instrument;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// ppdev's one lock, kept by every ioctl of every port for its whole run, a
// sleeping PPCLAIM included; taken before g_mutex.
std::mutex& g_ppdev_lock = *new std::mutex;
// Recursive: the file-system calls the fake makes for its /proc tree pass
// through the interposers again.
// Never destroyed: a helper thread of the library may sleep in a claim while
// the process exits.
std::recursive_mutex& g_mutex = *new std::recursive_mutex;
Kernel* g_kernel = nullptr;  // built at the first use of a faked path

bool Yes(const std::string& value) { return value == "yes" || value == "1" || value == "rw"; }

Config ParseConfig(const char* text) {
  Config config;
  std::stringstream items(text != nullptr ? text : "");
  std::string item;
  while (std::getline(items, item, ';')) {
    const auto eq = item.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = item.substr(0, eq);
    const std::string value = item.substr(eq + 1);
    if (key == "ports") {
      config.bases.clear();
      std::stringstream list(value);
      std::string base;
      while (std::getline(list, base, ',')) config.bases.push_back(static_cast<std::uint16_t>(std::stoul(base, nullptr, 0)));
    } else if (key == "instrument") {
      config.instrument = std::stoi(value);
    } else if (key == "ppdev") {
      config.ppdev = Yes(value);
    } else if (key == "access") {
      config.access = Yes(value);
    } else if (key == "root") {
      config.root = Yes(value);
    } else if (key == "lp") {
      config.lp = Yes(value);
    } else if (key == "held") {
      config.held = std::stoi(value);
    } else if (key == "hidden") {
      config.hidden = Yes(value);
    }
  }
  return config;
}

fs::path ProcDir(const Kernel& k, int n) { return k.root / "proc/sys/dev/parport" / ("parport" + std::to_string(n)); }

// /proc/sys/dev/parport/parportN/devices as the kernel would show it now.
void ShowDevices(const Kernel& k, const Port& port) {
  const fs::path devices = ProcDir(k, port.number) / "devices";
  fs::remove_all(devices);
  fs::create_directories(devices);
  const bool hide = k.config.hidden;
  for (const auto& device : port.devices) {
    if (device->listed && !(hide && device->external && device->name.rfind("ppdev", 0) == 0)) {
      fs::create_directories(devices / device->name);
    }
  }
  const bool show_holder = port.holder && !(hide && port.holder->external);
  std::ofstream(devices / "active") << (show_holder ? port.holder->name : std::string("none")) << "\n";
}

std::uint64_t NowNs(const Kernel& k) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - k.start).count());
}

void SetRegister(Kernel& k, Port& port, unsigned offset, std::uint8_t value, RegisterWrite::Origin origin) {
  const bool instrument = k.instrument && port.number == k.config.instrument;
  if (offset == 0) {
    port.data = value;
    if (instrument) k.instrument->WriteData(value);
  } else if (offset == 2) {
    port.control = value;
    if (instrument) k.instrument->WriteControl(value, NowNs(k));
  } else {
    return;  // the status register takes no writes
  }
  k.writes.push_back({origin, static_cast<std::uint16_t>(port.base + offset), value});
}

std::uint8_t GetRegister(Kernel& k, Port& port, unsigned offset) {
  if (offset == 0) return port.data;
  if (offset == 2) return port.control;
  if (!k.instrument || port.number != k.config.instrument) return kFloatingStatus;
  return k.instrument->ReadStatus(NowNs(k));
}

Kernel& TheKernel() {
  if (g_kernel != nullptr) return *g_kernel;
  g_kernel = new Kernel;  // lives as long as the process: interposers run until its end
  Kernel& k = *g_kernel;
  k.config = ParseConfig(std::getenv("RU3_FAKE_PARPORT"));
  std::string pattern = (fs::temp_directory_path() / "ru3-fake-parport.XXXXXX").string();
  k.root = ::mkdtemp(pattern.data()) != nullptr ? fs::path(pattern) : fs::temp_directory_path() / "ru3-fake-parport";
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(g_kernel->root, ignored);
  });
  fs::create_directories(k.root / "proc/sys/dev/parport");
  fs::create_directories(k.root / "dev");
  if (k.config.instrument >= 0 && k.config.instrument < static_cast<int>(k.config.bases.size())) {
    k.instrument = std::make_unique<sim::Instrument>(sim::SimConfig{});
    k.instrument->WriteControl(kNewDeviceControl, 0);
  }
  for (std::size_t i = 0; i < k.config.bases.size(); ++i) {
    Port port;
    port.number = static_cast<int>(i);
    port.base = k.config.bases[i];
    // The lp driver's device is "lp" on every port (its lpN is its own numbering).
    if (k.config.lp) port.devices.push_back(std::make_shared<Device>(Device{"lp", false, true}));
    if (k.config.held == port.number) {
      port.holder = std::make_shared<Device>(Device{"ppdev" + std::to_string(i), false, true, port.devices.empty()});
      port.devices.push_back(port.holder);
    }
    const fs::path dir = ProcDir(k, port.number);
    fs::create_directories(dir);
    std::ofstream(dir / "base-addr") << port.base << "\t0\n";
    std::ofstream(dir / "irq") << "-1\n";
    ShowDevices(k, port);
    if (k.config.ppdev) std::ofstream(k.root / "dev" / ("parport" + std::to_string(i)));
    k.ports.push_back(std::move(port));
  }
  return k;
}

// N of "/dev/parportN" or "/dev/parports/N"; -1 for other names.
int ParportNumber(const std::string& path) {
  for (const char* prefix : {"/dev/parports/", "/dev/parport"}) {
    const std::string p = prefix;
    if (path.rfind(p, 0) == 0 && path.size() > p.size() &&
        path.find_first_not_of("0123456789", p.size()) == std::string::npos) {
      return std::stoi(path.substr(p.size()));
    }
  }
  return -1;
}

Port* PortOf(Kernel& k, int n) { return n >= 0 && n < static_cast<int>(k.ports.size()) ? &k.ports[static_cast<std::size_t>(n)] : nullptr; }

void Release(Kernel& k, Port& port) {
  port.holder->saved_control = port.control;
  port.holder.reset();
  // The first device queued for the port gets it.
  for (const auto& device : port.devices) {
    if (device->waiting) {
      device->waiting = false;
      port.holder = device;
      SetRegister(k, port, 2, device->saved_control, RegisterWrite::Origin::kClaim);
      break;
    }
  }
  ShowDevices(k, port);
}

int Fail(int error) {
  errno = error;
  return -1;
}

}  // namespace

std::vector<RegisterWrite> Writes() {
  std::lock_guard lock(g_mutex);
  return TheKernel().writes;
}

int RefusedAccesses() {
  std::lock_guard lock(g_mutex);
  return TheKernel().refused;
}

int SleepingClaims() {
  std::lock_guard lock(g_mutex);
  return TheKernel().sleeping;
}

int ForgottenClaims() {
  std::lock_guard lock(g_mutex);
  return TheKernel().forgotten;
}

std::vector<std::string> Registered(int n) {
  std::lock_guard lock(g_mutex);
  std::vector<std::string> names;
  if (Port* port = PortOf(TheKernel(), n)) {
    for (const auto& device : port->devices) names.push_back(device->name);
  }
  return names;
}

bool Exclusive(int n) {
  std::lock_guard lock(g_mutex);
  Port* port = PortOf(TheKernel(), n);
  return port != nullptr && std::any_of(port->devices.begin(), port->devices.end(), [](const auto& d) { return d->exclusive; });
}

void ReleaseHolder() {
  std::lock_guard driver(g_ppdev_lock);  // the other program's PPRELEASE
  std::lock_guard lock(g_mutex);
  Kernel& k = TheKernel();
  for (Port& port : k.ports) {
    if (port.holder && port.holder->external) Release(k, port);
    std::erase_if(port.devices, [](const auto& d) { return d->external && d->name.rfind("ppdev", 0) == 0; });
    ShowDevices(k, port);
  }
}

std::string RedirectedPath(const char* path) {
  if (path == nullptr) return {};
  const std::string p = path;
  for (const char* prefix : {"/proc/sys/dev/parport", "/proc/parport", "/dev/parport"}) {
    if (p.rfind(prefix, 0) == 0) {
      std::lock_guard lock(g_mutex);
      return (TheKernel().root / p.substr(1)).string();
    }
  }
  return {};
}

bool IsDeviceNode(const char* path) {
  if (path == nullptr) return false;
  const std::string p = path;
  return p.rfind("/dev/parport", 0) == 0 || p.rfind("/dev/lp", 0) == 0 || p == "/dev/port";
}

int OpenDevice(const char* path, int /*flags*/, int real_fd) {
  std::lock_guard lock(g_mutex);
  Kernel& k = TheKernel();
  const std::string p = path;
  OpenFile file;
  if (p.rfind("/dev/lp", 0) == 0) {
    // The lp driver's nodes: there only while it is loaded.
    const int n = std::atoi(p.c_str() + 7);
    if (!k.config.lp || PortOf(k, n) == nullptr) return Fail(ENOENT);
    file.port = n;
    file.lp_node = true;
  } else {
    const int n = ParportNumber(p);
    if (!k.config.ppdev || n < 0 || p.rfind("/dev/parports/", 0) == 0) return Fail(ENOENT);
    if (PortOf(k, n) == nullptr) return Fail(ENXIO);
    if (!k.config.access && !k.config.root) return Fail(EACCES);
    file.port = n;
  }
  k.files[real_fd] = std::move(file);
  return real_fd;
}

bool IsDevice(int fd) {
  std::lock_guard lock(g_mutex);
  return g_kernel != nullptr && g_kernel->files.count(fd) != 0;
}

void CloseDevice(int fd) {
  std::lock_guard lock(g_mutex);
  Kernel& k = TheKernel();
  const auto it = k.files.find(fd);
  if (it == k.files.end()) return;
  OpenFile& file = it->second;
  if (file.device) {
    Port& port = *PortOf(k, file.port);
    if (port.holder == file.device) {
      if (!file.claimed) ++k.forgotten;  // the kernel: "ppdevN forgot to release port"
      Release(k, port);
    }
    std::erase(port.devices, file.device);
    ShowDevices(k, port);
  }
  k.files.erase(it);
}

int Ioctl(int fd, unsigned long request, void* arg) {
  std::unique_lock driver(g_ppdev_lock);
  std::unique_lock lock(g_mutex);
  Kernel& k = TheKernel();
  OpenFile& file = k.files.at(fd);
  if (file.lp_node) return Fail(ENOTTY);
  Port& port = *PortOf(k, file.port);
  const bool claimed = file.claimed;
  auto* byte = static_cast<unsigned char*>(arg);
  switch (request) {
    case PPEXCL:
      if (file.device) return file.device->exclusive ? 0 : Fail(EINVAL);
      file.want_exclusive = true;
      return 0;
    case PPCLAIM: {
      if (claimed) return Fail(EINVAL);
      if (!file.device) {
        const bool exclusive_there = std::any_of(port.devices.begin(), port.devices.end(), [](const auto& d) { return d->exclusive; });
        if (exclusive_there || (file.want_exclusive && !port.devices.empty())) return Fail(ENXIO);
        file.device = std::make_shared<Device>(
            Device{"ppdev" + std::to_string(port.number), file.want_exclusive, false, port.devices.empty()});
        port.devices.push_back(file.device);
        ShowDevices(k, port);
      }
      const std::shared_ptr<Device> device = file.device;
      if (!port.holder) {
        port.holder = device;
        SetRegister(k, port, 2, device->saved_control, RegisterWrite::Origin::kClaim);
        ShowDevices(k, port);
      } else if (port.holder != device) {
        // Sleeps, keeping ppdev's lock, until a release hands it the port;
        // a signal ends the sleep with EINTR (never restarted), the device
        // still queued.
        device->waiting = true;
        ++k.sleeping;
        while (port.holder != device) {
          lock.unlock();
          const int slept = ::poll(nullptr, 0, 5);
          const int error = errno;
          lock.lock();
          if (slept < 0 && error == EINTR && port.holder != device) {
            --k.sleeping;
            return Fail(EINTR);
          }
        }
        --k.sleeping;
      }
      file.claimed = true;
      return 0;
    }
    case PPRELEASE:
      if (!claimed) return Fail(EINVAL);
      file.claimed = false;
      Release(k, port);
      return 0;
    case PPGETMODES:
      *static_cast<unsigned int*>(arg) = PARPORT_MODE_PCSPP;
      return 0;
    default:
      break;
  }
  if (!claimed) {
    ++k.refused;
    return Fail(EINVAL);
  }
  switch (request) {
    case PPRDATA:
      *byte = GetRegister(k, port, 0);
      return 0;
    case PPRSTATUS:
      *byte = GetRegister(k, port, 1);
      return 0;
    case PPRCONTROL:
      *byte = GetRegister(k, port, 2);
      return 0;
    case PPWDATA:
      SetRegister(k, port, 0, *byte, RegisterWrite::Origin::kProgram);
      return 0;
    case PPWCONTROL:
      SetRegister(k, port, 2, static_cast<std::uint8_t>((port.control & 0xF0) | (*byte & 0x0F)), RegisterWrite::Origin::kProgram);
      return 0;
    case PPFCONTROL: {
      const auto* frob = static_cast<const ppdev_frob_struct*>(arg);
      const unsigned mask = frob->mask & 0x0F;
      SetRegister(k, port, 2, static_cast<std::uint8_t>((port.control & ~mask) ^ (frob->val & mask)), RegisterWrite::Origin::kFrob);
      return 0;
    }
    case PPDATADIR:
      return 0;
    default:
      return Fail(EINVAL);
  }
}

int Ioperm(unsigned long from, unsigned long count, int on) {
  std::lock_guard lock(g_mutex);
  Kernel& k = TheKernel();
  if (!k.config.root) return Fail(EPERM);
  if (from + count > 0x10000) return Fail(EINVAL);
  for (unsigned long p = from; p < from + count; ++p) {
    if (on != 0) {
      k.permitted.insert(static_cast<std::uint16_t>(p));
    } else {
      k.permitted.erase(static_cast<std::uint16_t>(p));
    }
  }
  return 0;
}

bool PortPermitted(std::uint16_t port) {
  std::lock_guard lock(g_mutex);
  return TheKernel().permitted.count(port) != 0;
}

std::uint8_t RawIn(std::uint16_t address) {
  std::lock_guard lock(g_mutex);
  Kernel& k = TheKernel();
  for (Port& port : k.ports) {
    if (address >= port.base && address < port.base + 3) return GetRegister(k, port, address - port.base);
  }
  return 0xFF;
}

void RawOut(std::uint16_t address, std::uint8_t value) {
  std::lock_guard lock(g_mutex);
  Kernel& k = TheKernel();
  for (Port& port : k.ports) {
    if (address >= port.base && address < port.base + 3) {
      SetRegister(k, port, address - port.base, value, RegisterWrite::Origin::kProgram);
      return;
    }
  }
  // Anything else (the delay port 0x80 that outb_p writes) reaches nothing.
}

}  // namespace ru3::fake
