// Printer-port base addresses from the Configuration Manager and the registry.
//
// Every device of class "Ports" whose registry entry under
// HKEY_LOCAL_MACHINE\Enum\<device id> names the port (value PORTNAME) is
// asked for its allocated logical configurations; the first I/O range of the
// first configuration that has one gives the base. The registry is only read.
#include "platform/win32/cm_lookup.h"

// clang-format off
#include <windows.h>
#include <cfgmgr32.h>
// clang-format on

#include <cstddef>
#include <cstring>
#include <vector>

namespace ru3::platform::win32 {

namespace {

constexpr ULONG kClassBufferBytes = 6001;

// The string value PORTNAME of HKEY_LOCAL_MACHINE\Enum\<device id>; empty
// when the key or the value is missing or the value is not a string.
std::string PortNameOf(const char* device_id) {
  const std::string path = std::string("Enum\\") + device_id;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  std::string value;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, "PORTNAME", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<char> buffer(size + 1, '\0');
    if (RegQueryValueExA(key, "PORTNAME", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
        ERROR_SUCCESS) {
      value = buffer.data();  // the extra terminator covers a value stored without one
    }
  }
  RegCloseKey(key);
  return value;
}

bool IsPortsClass(DEVINST node) {
  std::vector<char> cls(kClassBufferBytes, '\0');
  ULONG length = kClassBufferBytes;
  if (CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_CLASS, nullptr, cls.data(), &length, 0) != CR_SUCCESS) {
    return false;
  }
  cls.back() = '\0';
  return std::strcmp(cls.data(), "Ports") == 0;
}

// False when the device has no allocated configuration. Otherwise *base :=
// the I/O base of the first allocated configuration that has an I/O range, 0
// when none has; the walk ends at the last configuration or at any failure
// to step to the next one.
bool AllocatedIoBase(DEVINST node, std::uint64_t* base_out) {
  LOG_CONF current = 0;
  if (CM_Get_First_Log_Conf(&current, node, ALLOC_LOG_CONF) != CR_SUCCESS) return false;
  std::uint64_t base = FirstIoBase(current);
  while (base == 0) {
    LOG_CONF next = 0;
    if (CM_Get_Next_Log_Conf(&next, current, 0) != CR_SUCCESS) break;  // CR_NO_MORE_LOG_CONF or a failure
    CM_Free_Log_Conf_Handle(current);
    current = next;
    base = FirstIoBase(current);
  }
  CM_Free_Log_Conf_Handle(current);
  *base_out = base;
  return true;
}

}  // namespace

std::uint64_t FirstIoBase(std::uintptr_t log_conf) {
  std::uint64_t base = 0;
  RES_DES current = static_cast<RES_DES>(log_conf);
  bool own_current = false;  // the configuration handle itself is the caller's
  while (base == 0) {
    RES_DES next = 0;
    RESOURCEID type = 0;
    const CONFIGRET stepped = CM_Get_Next_Res_Des(&next, current, ResType_IO, &type, 0);
    if (own_current) CM_Free_Res_Des_Handle(current);
    own_current = false;
    if (stepped != CR_SUCCESS) break;  // CR_NO_MORE_RES_DES or a failure: never retry the same step
    current = next;
    own_current = true;

    ULONG size = 0;
    if (CM_Get_Res_Des_Data_Size(&size, current, 0) != CR_SUCCESS) continue;
    if (size < offsetof(IO_DES, IOD_Alloc_Base) + sizeof(std::uint64_t)) continue;
    std::vector<unsigned char> data(size);
    if (CM_Get_Res_Des_Data(current, data.data(), size, 0) != CR_SUCCESS) continue;
    if (type == ResType_IO) {
      std::memcpy(&base, data.data() + offsetof(IO_DES, IOD_Alloc_Base), sizeof(base));
    }
  }
  if (own_current) CM_Free_Res_Des_Handle(current);
  return base;
}

std::uint64_t LookupPortBase(const std::string& name) {
  ULONG length = 0;
  if (CM_Get_Device_ID_List_SizeA(&length, nullptr, 0) != CR_SUCCESS || length == 0) return 0;
  // Two spare terminators keep the walk inside the buffer even if the list
  // comes back without its closing empty string.
  std::vector<char> ids(static_cast<std::size_t>(length) + 2, '\0');
  if (CM_Get_Device_ID_ListA(nullptr, ids.data(), length, 0) != CR_SUCCESS) return 0;

  std::uint64_t result = 0;
  for (char* id = ids.data(); *id != '\0'; id += std::strlen(id) + 1) {
    DEVINST node = 0;
    if (CM_Locate_DevNodeA(&node, id, 0) != CR_SUCCESS) continue;
    if (!IsPortsClass(node)) continue;
    // A device without a readable PORTNAME matches nothing.
    if (PortNameOf(id).find(name) == std::string::npos) continue;
    // Every match overwrites: the last matching device with an allocated
    // configuration decides.
    std::uint64_t base = 0;
    if (AllocatedIoBase(node, &base)) result = base;
  }
  return result;
}

}  // namespace ru3::platform::win32
