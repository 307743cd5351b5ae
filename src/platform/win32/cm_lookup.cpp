// Printer-port base addresses from the Configuration Manager and the registry.
//
// Every device of class "Ports" whose name is the port asked for is asked for
// its allocated logical configurations; the first I/O range of the first
// configuration that has one gives the base. The registry is only read.
#include "platform/win32/cm_lookup.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/host.h"

namespace ru3::platform::win32 {

namespace {

constexpr ULONG kClassBufferBytes = 6001;

// A string value of an open key; empty when the value is missing or is not
// a string.
std::string StringValue(const ConfigManagerApi& api, HKEY key, const char* value_name) {
  std::string value;
  DWORD type = 0;
  DWORD size = 0;
  if (api.reg_query_value(key, value_name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<char> buffer(size + 1, '\0');
    if (api.reg_query_value(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
        ERROR_SUCCESS) {
      value = buffer.data();  // the extra terminator covers a value stored without one
    }
  }
  return value;
}

// 9x family: the value PORTNAME of HKEY_LOCAL_MACHINE\Enum\<device id>.
std::string PortName9x(const ConfigManagerApi& api, const char* device_id) {
  const std::string path = std::string("Enum\\") + device_id;
  HKEY key = nullptr;
  if (api.reg_open_key(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  std::string value = StringValue(api, key, "PORTNAME");
  api.reg_close_key(key);
  return value;
}

// NT family: the value PortName of the device's hardware key ("Device
// Parameters").
std::string PortNameNT(const ConfigManagerApi& api, DEVINST node) {
  HKEY key = nullptr;
  if (api.open_devnode_key(node, KEY_READ, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_HARDWARE) !=
      CR_SUCCESS) {
    return {};
  }
  std::string value = StringValue(api, key, "PortName");
  api.reg_close_key(key);
  return value;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

bool IsPortsClass(const ConfigManagerApi& api, DEVINST node) {
  std::vector<char> cls(kClassBufferBytes, '\0');
  ULONG length = kClassBufferBytes;
  if (api.get_devnode_registry_property(node, CM_DRP_CLASS, nullptr, cls.data(), &length, 0) != CR_SUCCESS) {
    return false;
  }
  cls.back() = '\0';
  return std::strcmp(cls.data(), "Ports") == 0;
}

// False when the device has no allocated configuration. Otherwise *base :=
// the I/O base of the first allocated configuration that has an I/O range, 0
// when none has; the walk ends at the last configuration or at any failure
// to step to the next one.
bool AllocatedIoBase(const ConfigManagerApi& api, DEVINST node, std::uint64_t* base_out) {
  LOG_CONF current = 0;
  if (api.get_first_log_conf(&current, node, ALLOC_LOG_CONF) != CR_SUCCESS) return false;
  std::uint64_t base = FirstIoBase(api, current);
  while (base == 0) {
    LOG_CONF next = 0;
    if (api.get_next_log_conf(&next, current, 0) != CR_SUCCESS) break;  // CR_NO_MORE_LOG_CONF or a failure
    api.free_log_conf_handle(current);
    current = next;
    base = FirstIoBase(api, current);
  }
  api.free_log_conf_handle(current);
  *base_out = base;
  return true;
}

}  // namespace

const ConfigManagerApi& SystemConfigManager() {
  static const ConfigManagerApi api{
      CM_Get_Device_ID_List_SizeA, CM_Get_Device_ID_ListA, CM_Locate_DevNodeA, CM_Get_DevNode_Registry_PropertyA,
      CM_Open_DevNode_Key,         CM_Get_First_Log_Conf,  CM_Get_Next_Log_Conf, CM_Free_Log_Conf_Handle,
      CM_Get_Next_Res_Des,         CM_Free_Res_Des_Handle, CM_Get_Res_Des_Data_Size, CM_Get_Res_Des_Data,
      RegOpenKeyExA,               RegQueryValueExA,       RegCloseKey};
  return api;
}

std::uint64_t FirstIoBase(const ConfigManagerApi& api, LOG_CONF log_conf) {
  std::uint64_t base = 0;
  RES_DES current = static_cast<RES_DES>(log_conf);
  bool own_current = false;  // the configuration handle itself is the caller's
  while (base == 0) {
    // Filtered by ResType_IO, every descriptor the step finds is an I/O
    // range; the call reports the type only when asked for all types.
    RES_DES next = 0;
    const CONFIGRET stepped = api.get_next_res_des(&next, current, ResType_IO, nullptr, 0);
    if (own_current) api.free_res_des_handle(current);
    own_current = false;
    if (stepped != CR_SUCCESS) break;  // CR_NO_MORE_RES_DES or a failure: never retry the same step
    current = next;
    own_current = true;

    ULONG size = 0;
    if (api.get_res_des_data_size(&size, current, 0) != CR_SUCCESS) continue;
    if (size < offsetof(IO_DES, IOD_Alloc_Base) + sizeof(std::uint64_t)) continue;
    std::vector<unsigned char> data(size);
    if (api.get_res_des_data(current, data.data(), size, 0) != CR_SUCCESS) continue;
    std::memcpy(&base, data.data() + offsetof(IO_DES, IOD_Alloc_Base), sizeof(base));
  }
  if (own_current) api.free_res_des_handle(current);
  return base;
}

std::uint64_t LookupPortBase(const ConfigManagerApi& api, int platform_id, const std::string& name) {
  ULONG length = 0;
  if (api.get_device_id_list_size(&length, nullptr, 0) != CR_SUCCESS || length == 0) return 0;
  // Two spare terminators keep the walk inside the buffer even if the list
  // comes back without its closing empty string.
  std::vector<char> ids(static_cast<std::size_t>(length) + 2, '\0');
  if (api.get_device_id_list(nullptr, ids.data(), length, 0) != CR_SUCCESS) return 0;

  std::uint64_t result = 0;
  for (char* id = ids.data(); *id != '\0'; id += std::strlen(id) + 1) {
    DEVINST node = 0;
    if (api.locate_devnode(&node, id, 0) != CR_SUCCESS) continue;
    if (!IsPortsClass(api, node)) continue;
    // A device without a readable port name matches nothing.
    const bool match = platform_id == kPlatformNT ? SameNameIgnoringCase(PortNameNT(api, node), name)
                                                  : PortName9x(api, id).find(name) != std::string::npos;
    if (!match) continue;
    // Every match overwrites: the last matching device with an allocated
    // configuration decides.
    std::uint64_t base = 0;
    if (AllocatedIoBase(api, node, &base)) result = base;
  }
  return result;
}

}  // namespace ru3::platform::win32
