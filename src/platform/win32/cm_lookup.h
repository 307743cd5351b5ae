// Printer-port base addresses from the Windows device configuration: the
// Configuration Manager, and the registry for the ports' names. The calls go
// through a table so that tests can stand in for a machine's device tree.
#pragma once

// clang-format off
#include <windows.h>
#include <cfgmgr32.h>
// clang-format on

#include <cstdint>
#include <string>

namespace ru3::platform::win32 {

// The Configuration Manager and registry functions the lookup uses, with
// their documented signatures and contracts.
struct ConfigManagerApi {
  decltype(&CM_Get_Device_ID_List_SizeA) get_device_id_list_size;
  decltype(&CM_Get_Device_ID_ListA) get_device_id_list;
  decltype(&CM_Locate_DevNodeA) locate_devnode;
  decltype(&CM_Get_DevNode_Registry_PropertyA) get_devnode_registry_property;
  decltype(&CM_Open_DevNode_Key) open_devnode_key;
  decltype(&CM_Get_First_Log_Conf) get_first_log_conf;
  decltype(&CM_Get_Next_Log_Conf) get_next_log_conf;
  decltype(&CM_Free_Log_Conf_Handle) free_log_conf_handle;
  decltype(&CM_Get_Next_Res_Des) get_next_res_des;
  decltype(&CM_Free_Res_Des_Handle) free_res_des_handle;
  decltype(&CM_Get_Res_Des_Data_Size) get_res_des_data_size;
  decltype(&CM_Get_Res_Des_Data) get_res_des_data;
  decltype(&RegOpenKeyExA) reg_open_key;
  decltype(&RegQueryValueExA) reg_query_value;
  decltype(&RegCloseKey) reg_close_key;
};

// The system's own functions.
const ConfigManagerApi& SystemConfigManager();

// Base I/O address of the printer port `name` ("LPT1".."LPT3") among the
// devices of class "Ports": the first I/O range of the first allocated
// logical configuration of that device that has one; 0 when there is none.
// When several devices match, the last one in the device list decides.
//  - 9x family: the port's name is the value PORTNAME of
//    HKEY_LOCAL_MACHINE\Enum\<device id>, and any name containing `name`
//    matches.
//  - NT family: the name is the value PortName of the device's hardware key
//    and must equal `name` (letter case aside); this finds the ports that
//    probing the classic addresses misses, such as PCI Express cards.
std::uint64_t LookupPortBase(const ConfigManagerApi& api, int platform_id, const std::string& name);

// Base of the first I/O range of a logical configuration; 0 when it has none.
std::uint64_t FirstIoBase(const ConfigManagerApi& api, LOG_CONF log_conf);

}  // namespace ru3::platform::win32
