// The tool's own look at the printer ports of the system it runs on (Linux:
// /proc/sys/dev/parport and /dev/parportN), to say in the system's terms why
// no instrument was found and how the library holds the port it uses.
#pragma once

#include <string>
#include <vector>

namespace ru3cli {

// The kernel devices registered on parport0..parport2 now, one list a port
// (the holder among them).
std::vector<std::vector<std::string>> RegisteredPortDevices();

// How the port LPTn (`port`, "LPT1".."LPT3") was held, from the devices
// registered while the instrument was open: exclusive, shared (with whom) or
// raw port I/O. Empty when it cannot tell.
std::string ClaimText(const std::string& port, const std::vector<std::vector<std::string>>& registered);

// Why no port could be used: no parallel port, no ppdev, no permission on
// /dev/parportN, or the port held by another program or the lp driver.
// Empty when the ports look usable.
std::string SystemPortProblem();

}  // namespace ru3cli
