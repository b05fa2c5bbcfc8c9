// SPDX-License-Identifier: MIT
// The whole state of a terminal line as the kernel keeps it: speeds (also
// ones outside the standard list), character size, parity, stop bits, modes,
// echo, flow control, control characters and read time-outs. Saved when the
// tool opens a port and put back when it lets go, so that a console, a
// getty or the next program finds the line exactly as it was.
#pragma once
#include <cstddef>

namespace torvik::link {

struct TtyState {
    // The kernel's record, opaque here; large enough on every architecture.
    alignas(8) unsigned char bytes[96] = {};
    bool valid = false;
};

// Reads the line's state. False when `fd` is not a terminal.
bool save_tty_state(int fd, TtyState& out);

// Puts a saved state back at once. Only system calls, no allocation and no
// locks: safe inside a signal handler. False when it was refused or `state`
// holds nothing.
bool restore_tty_state(int fd, const TtyState& state);

// True when both hold the same line state.
bool same_tty_state(const TtyState& a, const TtyState& b);

}  // namespace torvik::link
