// SPDX-License-Identifier: MIT
#include "link/driver_requests.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <atomic>

namespace torvik::link {

static_assert(sizeof(serial_rs485) <= sizeof(DriverState::rs485));
static_assert(sizeof(serial_struct) <= sizeof(DriverState::serial));

namespace {

int SystemRequest(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}

std::atomic<DriverRequest> g_request{&SystemRequest};

}  // namespace

void SetDriverRequest(DriverRequest request) {
    g_request.store(request != nullptr ? request : &SystemRequest);
}

int AskDriver(int fd, unsigned long request, void* arg) {
    return g_request.load()(fd, request, arg);
}

void RestoreDriverState(int fd, const DriverState& state) {
    if (state.has_rs485) {
        serial_rs485 rs485;
        __builtin_memcpy(&rs485, state.rs485, sizeof rs485);
        AskDriver(fd, TIOCSRS485, &rs485);
    }
    if (state.has_serial) {
        serial_struct serial;
        __builtin_memcpy(&serial, state.serial, sizeof serial);
        AskDriver(fd, TIOCSSERIAL, &serial);
    }
}

}  // namespace torvik::link
