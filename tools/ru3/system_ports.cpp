#include "system_ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace ru3cli {

namespace {

std::string ProcDir(int n) { return "/proc/sys/dev/parport/parport" + std::to_string(n); }

std::string ActiveDevice(int n) {
  std::ifstream in(ProcDir(n) + "/devices/active");
  std::string name;
  if (!(in >> name) || name == "none") return {};
  return name;
}

std::string Holder(const std::string& device) {
  return device.rfind("lp", 0) == 0 ? "the lp printer driver (" + device + ")"
                                    : "another program (kernel device " + device + ")";
}

}  // namespace

std::vector<std::vector<std::string>> RegisteredPortDevices() {
  std::vector<std::vector<std::string>> ports(3);
  for (int n = 0; n < 3; ++n) {
    DIR* dir = ::opendir((ProcDir(n) + "/devices").c_str());
    if (dir == nullptr) continue;
    auto& devices = ports[static_cast<std::size_t>(n)];
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != ".." && name != "active") devices.push_back(name);
    }
    ::closedir(dir);
    // The kernel lists no entry for a device registered beside another
    // (ppdev0 beside lp): the holder, named in devices/active, is registered too.
    const std::string holder = ActiveDevice(n);
    if (!holder.empty() && std::find(devices.begin(), devices.end(), holder) == devices.end()) devices.push_back(holder);
  }
  return ports;
}

std::string ClaimText(const std::string& port, const std::vector<std::vector<std::string>>& registered) {
  if (port.size() != 4 || port[3] < '1' || port[3] > '3') return {};
  const auto n = static_cast<std::size_t>(port[3] - '1');
  const std::string parport = "parport" + std::to_string(n);
  std::string others;
  bool ours = false;
  for (const std::string& device : registered[n]) {
    if (device.rfind("ppdev", 0) == 0) {
      ours = true;
    } else {
      others += (others.empty() ? "" : ", ") + Holder(device);
    }
  }
  if (!ours) return "raw port I/O (no claim in the kernel: nothing keeps other drivers off " + parport + ")";
  if (others.empty()) return "exclusive (no other driver or program can use " + parport + " while the instrument is open)";
  return "shared with " + others + ": held while the instrument is open, so nothing else drives " + parport +
         " meanwhile (for exclusive use unload lp: modprobe -r lp)";
}

std::string SystemPortProblem() {
  std::string text;
  bool any = false;
  for (int n = 0; n < 8; ++n) {
    struct stat info {};
    if (::stat(ProcDir(n).c_str(), &info) != 0) continue;
    any = true;
    const std::string device = "/dev/parport" + std::to_string(n);
    std::string why;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      if (const std::string holder = ActiveDevice(n); !holder.empty()) why = "held by " + Holder(holder);
    } else if (errno == ENOENT || errno == ENODEV || errno == ENXIO) {
      why = "no " + device + ": the ppdev module is not loaded (modprobe ppdev; or run as root for raw port I/O)";
    } else if (errno == EACCES || errno == EPERM) {
      why = "no permission on " + device + " (join the group that owns it, usually lp, and log in again)";
    } else {
      why = "cannot open " + device + ": " + std::strerror(errno);
    }
    if (!why.empty()) text += (text.empty() ? "" : "; ") + ("parport" + std::to_string(n)) + ": " + why;
  }
  if (!any) return "no printer port: the kernel lists no parallel port (/proc/sys/dev/parport)";
  return text;
}

}  // namespace ru3cli
