// SPDX-License-Identifier: MIT
// Kept apart from the rest of the serial code: the kernel's own terminal
// record (with its exact speed fields) cannot be declared beside <termios.h>.
#include "link/tty_state.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace torvik::link {

#if defined(TCGETS2) && defined(TCSETS2)
using KernelTermios = struct termios2;
constexpr unsigned long kGet = TCGETS2;
constexpr unsigned long kSet = TCSETS2;
#else
using KernelTermios = struct termios;
constexpr unsigned long kGet = TCGETS;
constexpr unsigned long kSet = TCSETS;
#endif
static_assert(sizeof(KernelTermios) <= sizeof(TtyState::bytes));

bool save_tty_state(int fd, TtyState& out) {
    KernelTermios t{};
    out.valid = ::ioctl(fd, kGet, &t) == 0;
    std::memset(out.bytes, 0, sizeof out.bytes);
    if (out.valid) std::memcpy(out.bytes, &t, sizeof t);
    return out.valid;
}

bool restore_tty_state(int fd, const TtyState& state) {
    if (!state.valid || fd < 0) return false;
    KernelTermios t;
    std::memcpy(&t, state.bytes, sizeof t);
    int rc = 0;
    do {
        rc = ::ioctl(fd, kSet, &t);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool same_tty_state(const TtyState& a, const TtyState& b) {
    return a.valid == b.valid && std::memcmp(a.bytes, b.bytes, sizeof(KernelTermios)) == 0;
}

}  // namespace torvik::link
