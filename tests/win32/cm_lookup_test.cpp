// The Configuration Manager lookup of printer-port bases against a faked
// device tree: Configuration Manager and registry functions that keep the
// documented contracts (a resource type is reported only when all types were
// asked for; every handle handed out must be given back). Run under Wine.
// Prints one line per check and "N passed, N failed"; exit status 0 when all
// passed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/win32/cm_lookup.h"

namespace {

using ru3::platform::kPlatform9x;
using ru3::platform::kPlatformNT;
using ru3::platform::win32::ConfigManagerApi;
using ru3::platform::win32::LookupPortBase;

struct Resource {
  RESOURCEID type;
  std::uint64_t base;
};
using LogConf = std::vector<Resource>;

struct Device {
  std::string id;
  std::string device_class;
  std::string port_name;  // PORTNAME (9x) and PortName (NT) alike
  std::vector<LogConf> allocated;
  bool failing_step = false;  // stepping its resources fails with CR_FAILURE
};

// What a LOG_CONF, RES_DES or HKEY handle stands for.
struct Handle {
  std::size_t device;
  std::size_t conf;
  int resource;  // -1: the configuration itself
};

std::vector<Device> g_devices;
int g_open_handles = 0;

template <typename T>
T NewHandle(const Handle& h) {
  ++g_open_handles;
  return reinterpret_cast<T>(new Handle(h));
}
template <typename T>
Handle* From(T handle) {
  return reinterpret_cast<Handle*>(handle);
}
template <typename T>
void Release(T handle) {
  --g_open_handles;
  delete From(handle);
}

std::string IdList() {
  std::string list;
  for (const Device& d : g_devices) list += d.id + '\0';
  return list;
}

CONFIGRET WINAPI IdListSize(PULONG length, PCSTR /*filter*/, ULONG /*flags*/) {
  *length = static_cast<ULONG>(IdList().size() + 1);
  return CR_SUCCESS;
}
CONFIGRET WINAPI IdListFetch(PCSTR /*filter*/, PCHAR buffer, ULONG length, ULONG /*flags*/) {
  const std::string list = IdList() + '\0';
  if (list.size() > length) return CR_BUFFER_SMALL;
  std::memcpy(buffer, list.data(), list.size());
  return CR_SUCCESS;
}
CONFIGRET WINAPI Locate(PDEVINST node, DEVINSTID_A id, ULONG /*flags*/) {
  for (std::size_t i = 0; i < g_devices.size(); ++i) {
    if (g_devices[i].id == id) {
      *node = static_cast<DEVINST>(i + 1);
      return CR_SUCCESS;
    }
  }
  return CR_NO_SUCH_DEVNODE;
}
CONFIGRET WINAPI Property(DEVINST node, ULONG property, PULONG /*type*/, PVOID buffer, PULONG length, ULONG) {
  const std::string& cls = g_devices[node - 1].device_class;
  if (property != CM_DRP_CLASS || cls.empty()) return CR_NO_SUCH_VALUE;
  if (cls.size() + 1 > *length) return CR_BUFFER_SMALL;
  std::memcpy(buffer, cls.c_str(), cls.size() + 1);
  *length = static_cast<ULONG>(cls.size() + 1);
  return CR_SUCCESS;
}
CONFIGRET WINAPI OpenDevNodeKey(DEVINST node, REGSAM, ULONG, REGDISPOSITION disposition, PHKEY key, ULONG flags) {
  if (disposition != RegDisposition_OpenExisting || flags != CM_REGISTRY_HARDWARE) return CR_INVALID_FLAG;
  *key = NewHandle<HKEY>({node - 1, 0, -1});
  return CR_SUCCESS;
}
LONG WINAPI RegOpen(HKEY root, LPCSTR path, DWORD, REGSAM, PHKEY key) {
  for (std::size_t i = 0; i < g_devices.size(); ++i) {
    if (root == HKEY_LOCAL_MACHINE && "Enum\\" + g_devices[i].id == path) {
      *key = NewHandle<HKEY>({i, 0, -1});
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}
LONG WINAPI RegQuery(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  const std::string& value = g_devices[From(key)->device].port_name;
  if (value.empty() || (std::strcmp(name, "PORTNAME") != 0 && std::strcmp(name, "PortName") != 0)) {
    return ERROR_FILE_NOT_FOUND;
  }
  *type = REG_SZ;
  const DWORD needed = static_cast<DWORD>(value.size() + 1);
  if (data != nullptr && *size < needed) return ERROR_MORE_DATA;
  if (data != nullptr) std::memcpy(data, value.c_str(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}
LONG WINAPI RegClose(HKEY key) {
  Release(key);
  return ERROR_SUCCESS;
}
CONFIGRET WINAPI FirstLogConf(PLOG_CONF conf, DEVINST node, ULONG kind) {
  if (kind != ALLOC_LOG_CONF || g_devices[node - 1].allocated.empty()) return CR_NO_MORE_LOG_CONF;
  *conf = NewHandle<LOG_CONF>({node - 1, 0, -1});
  return CR_SUCCESS;
}
CONFIGRET WINAPI NextLogConf(PLOG_CONF next, LOG_CONF conf, ULONG) {
  const Handle h = *From(conf);
  if (h.conf + 1 >= g_devices[h.device].allocated.size()) return CR_NO_MORE_LOG_CONF;
  *next = NewHandle<LOG_CONF>({h.device, h.conf + 1, -1});
  return CR_SUCCESS;
}
CONFIGRET WINAPI FreeLogConf(LOG_CONF conf) {
  Release(conf);
  return CR_SUCCESS;
}
CONFIGRET WINAPI NextResDes(PRES_DES next, RES_DES current, RESOURCEID for_resource, PRESOURCEID type, ULONG) {
  const Handle h = *From(current);
  const Device& device = g_devices[h.device];
  if (device.failing_step) return CR_FAILURE;
  const LogConf& conf = device.allocated[h.conf];
  for (std::size_t r = static_cast<std::size_t>(h.resource + 1); r < conf.size(); ++r) {
    if (for_resource != ResType_All && conf[r].type != for_resource) continue;
    if (for_resource == ResType_All && type != nullptr) *type = conf[r].type;
    *next = NewHandle<RES_DES>({h.device, h.conf, static_cast<int>(r)});
    return CR_SUCCESS;
  }
  return CR_NO_MORE_RES_DES;
}
CONFIGRET WINAPI FreeResDes(RES_DES res) {
  Release(res);
  return CR_SUCCESS;
}
CONFIGRET WINAPI ResDesSize(PULONG size, RES_DES, ULONG) {
  *size = sizeof(IO_DES);
  return CR_SUCCESS;
}
CONFIGRET WINAPI ResDesData(RES_DES res, PVOID buffer, ULONG length, ULONG) {
  const Handle h = *From(res);
  const Resource& r = g_devices[h.device].allocated[h.conf][static_cast<std::size_t>(h.resource)];
  if (length < sizeof(IO_DES)) return CR_BUFFER_SMALL;
  IO_DES header{};
  header.IOD_Count = 1;
  header.IOD_Type = IOType_Range;
  header.IOD_Alloc_Base = r.base;
  header.IOD_Alloc_End = r.base + 7;
  std::memcpy(buffer, &header, sizeof(header));
  return CR_SUCCESS;
}

const ConfigManagerApi kFake{IdListSize, IdListFetch, Locate,     Property,   OpenDevNodeKey,
                             FirstLogConf, NextLogConf, FreeLogConf, NextResDes, FreeResDes,
                             ResDesSize,   ResDesData,  RegOpen,     RegQuery,   RegClose};

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  ++(ok ? g_passed : g_failed);
}

void CheckBase(int platform, const char* name, std::uint64_t expected, const char* what) {
  const std::uint64_t base = LookupPortBase(kFake, platform, name);
  if (base != expected) {
    std::printf("  %s: 0x%llX, expected 0x%llX\n", name, static_cast<unsigned long long>(base),
                static_cast<unsigned long long>(expected));
  }
  Check(base == expected, what);
  Check(g_open_handles == 0, "  every handle and key was given back");
}

}  // namespace

int main() {
  const Resource irq{ResType_IRQ, 7};
  const Resource memory{ResType_Mem, 0xFE000000};

  // NT family: a PCI Express card beside the motherboard's port, a serial
  // port, and devices of other classes.
  g_devices = {
      {"ACPI\\PNP0A03\\0", "System", "", {{{ResType_IO, 0xCF8}}}},
      {"ACPI\\PNP0400\\0", "Ports", "LPT1", {{{ResType_IO, 0x378}, irq}}},
      {"ACPI\\PNP0501\\1", "Ports", "COM1", {{{ResType_IO, 0x3F8}, {ResType_IRQ, 4}}}},
      {"PCI\\VEN_1C00&DEV_3050\\4&1", "Ports", "LPT2", {{memory, {ResType_IO, 0xD010}, {ResType_IO, 0xD000}, irq}}},
      {"PCI\\VEN_8086&DEV_1234\\3&0", "Net", "LPT3", {{{ResType_IO, 0xE000}}}},
  };
  CheckBase(kPlatformNT, "LPT2", 0xD010, "NT: the PCI Express card's first I/O range, past its memory range");
  CheckBase(kPlatformNT, "LPT1", 0x378, "NT: the motherboard port");
  CheckBase(kPlatformNT, "LPT3", 0, "NT: only devices of class Ports count");
  g_devices[1].port_name = "lpt1";
  CheckBase(kPlatformNT, "LPT1", 0x378, "NT: the port name's letter case does not matter");
  g_devices[1].port_name = "LPT12";
  CheckBase(kPlatformNT, "LPT1", 0, "NT: the port name must be the whole name");

  // 9x family: names that contain the port's match; the last matching
  // device decides; a configuration without an I/O range gives way to the
  // next one.
  g_devices = {
      {"BIOS\\*PNP0400\\0D", "Ports", "LPT1", {{{ResType_IO, 0x378}}}},
      {"ISAPNP\\ABC0401\\0", "Ports", "LPT1.DOS", {{irq}, {memory, {ResType_IO, 0x3BC}}}},
      {"BIOS\\*PNP0400\\0E", "Ports", "LPT2", {}},
  };
  CheckBase(kPlatform9x, "LPT1", 0x3BC, "9x: the later matching device, from its second configuration");
  CheckBase(kPlatform9x, "LPT2", 0, "9x: a device without an allocated configuration gives 0");

  // A stepping failure other than the end codes ends the search.
  g_devices = {{"PCI\\VEN_1C00&DEV_3050\\4&1", "Ports", "LPT1", {{{ResType_IO, 0xD010}}}, true}};
  CheckBase(kPlatformNT, "LPT1", 0, "a failing step ends the walk instead of repeating it");

  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
