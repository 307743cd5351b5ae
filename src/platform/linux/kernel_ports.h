// What the Linux kernel says about its printer ports, in its own terms: the
// ports /proc/sys/dev/parport lists, the kernel devices registered on each
// and the one holding it now, and why /dev/parportN cannot be opened.
// Used to claim without sleeping in the kernel and to name what is wrong.
#pragma once

#include <string>
#include <vector>

namespace ru3::platform::linux_ports {

// The device that holds parportN now; empty when none does.
std::string ActiveDevice(int n);

// Who a kernel device name stands for: "the lp printer driver (lp0)" or
// "another program (ppdev0)".
std::string HolderText(const std::string& device);

// True when the port a first scan of libieee1284 claims (the lowest
// /dev/parportN this process can open) is held by another device now.
bool HeldBeforeScan();

// True when /proc/sys/dev/parport lists at least one parportN.
bool KernelListsPorts();

// Why this process cannot open /dev/parportN for reading and writing, as a
// user would fix it; empty when it can.
std::string DeviceProblem(int n);

}  // namespace ru3::platform::linux_ports
