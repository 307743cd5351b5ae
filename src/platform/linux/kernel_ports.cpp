// The kernel's printer ports as /proc/sys/dev/parport and /dev show them.
// Plain POSIX calls only, so that a faked kernel below them sees them too.
#include "platform/linux/kernel_ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace ru3::platform::linux_ports {

namespace {

const std::string kProcRoot = "/proc/sys/dev/parport/";

std::string ReadFirstLine(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  std::array<char, 128> buffer{};
  const ssize_t got = ::read(fd, buffer.data(), buffer.size() - 1);
  ::close(fd);
  if (got <= 0) return {};
  std::string text(buffer.data(), static_cast<std::size_t>(got));
  return text.substr(0, text.find('\n'));
}

std::vector<std::string> Entries(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

std::string GroupOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  std::array<char, 1024> buffer{};
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  return found->gr_name;
}

}  // namespace

std::string ActiveDevice(int n) {
  const std::string active = ReadFirstLine(kProcRoot + "parport" + std::to_string(n) + "/devices/active");
  return active == "none" ? std::string() : active;
}

std::string HolderText(const std::string& device) {
  if (device.rfind("lp", 0) == 0) return "the lp printer driver (" + device + ")";
  return "another program (kernel device " + device + ")";
}

bool HeldBeforeScan() {
  for (int n = 0; n < 8; ++n) {
    if (DeviceProblem(n).empty()) return !ActiveDevice(n).empty();
  }
  return false;
}

bool KernelListsPorts() {
  for (const std::string& name : Entries(kProcRoot)) {
    if (name.rfind("parport", 0) == 0) return true;
  }
  return false;
}

std::string DeviceProblem(int n) {
  const std::string path = "/dev/parport" + std::to_string(n);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return {};
  }
  const int error = errno;
  if (error == ENOENT || error == ENODEV || error == ENXIO) {
    return "no " + path + ": the ppdev module is not loaded (load it with \"modprobe ppdev\", or run as root for raw port I/O)";
  }
  if (error == EACCES || error == EPERM) {
    const std::string group = GroupOf(path);
    return "no permission on " + path + (group.empty() ? "" : " (group " + group + ")") + ": add the user to group " +
           (group.empty() ? std::string("lp") : group) + " and log in again";
  }
  return "cannot open " + path + ": " + std::strerror(error);
}

}  // namespace ru3::platform::linux_ports
