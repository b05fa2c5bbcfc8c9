// SPDX-License-Identifier: MIT
// The requests the serial device makes of a port's driver beyond the
// terminal settings: the kernel's RS-485 mode and the low-latency flag. They
// go through one function so that a test can stand in for a driver that has
// them (a pseudo-terminal has neither) and see every request, the put-back
// by a signal handler included. Only system calls: safe in a handler.
#pragma once
#include <cstddef>

namespace torvik::link {

// ioctl(fd, request, arg), or a stand-in.
using DriverRequest = int (*)(int fd, unsigned long request, void* arg);

// nullptr puts the system's ioctl back.
void SetDriverRequest(DriverRequest request);
int AskDriver(int fd, unsigned long request, void* arg);

// The driver's RS-485 and serial settings as found, kept to be put back;
// opaque here (the kernel's records), large enough for them.
struct DriverState {
    alignas(8) unsigned char rs485[64] = {};
    bool has_rs485 = false;  // RS-485 settings were changed and are put back
    alignas(8) unsigned char serial[128] = {};
    bool has_serial = false;  // the serial flags were changed and are put back
};

// Puts what was changed back. Safe in a signal handler.
void RestoreDriverState(int fd, const DriverState& state);

}  // namespace torvik::link
