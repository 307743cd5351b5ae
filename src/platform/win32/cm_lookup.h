// Printer-port base addresses from the Windows device configuration (the
// Configuration Manager and the registry), as the 9x family keeps them.
#pragma once

#include <cstdint>
#include <string>

namespace ru3::platform::win32 {

// Base I/O address of the port whose PORTNAME contains `name` ("LPT1"..
// "LPT3"), from the first allocated logical configuration of that device that
// has an I/O range; 0 when there is none. When several "Ports" devices match,
// the last one in the device list decides.
std::uint64_t LookupPortBase(const std::string& name);

// Base of the first I/O range of a logical configuration (a LOG_CONF
// handle); 0 when it has none.
std::uint64_t FirstIoBase(std::uintptr_t log_conf);

}  // namespace ru3::platform::win32
