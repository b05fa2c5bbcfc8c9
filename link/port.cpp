// SPDX-License-Identifier: MIT
#include "link/port.h"

namespace torvik::link {

bool Port::OpenPort(int port_number, const std::string& settings) {
    if (open_) return false;
    open_ = device_.open(port_number, settings);
    if (open_) ++openings_;
    port_number_ = port_number;
    settings_ = settings;
    if (watcher_) watcher_(PortEvent{true, port_number, settings, open_});
    return open_;
}

void Port::ClosePort() {
    if (!open_) return;
    device_.close();
    open_ = false;
    if (watcher_) watcher_(PortEvent{false, port_number_, settings_, false});
}

void Port::WriteByte(uint8_t byte) {
    if (open_) device_.write(&byte, 1);
    clock_.sleep_ms(1);
}

void Port::WriteBlock(const uint8_t* data, size_t count) {
    if (open_ && count > 0) device_.write(data, count);
    clock_.sleep_ms(5);
}

bool Port::ReadByte(uint8_t& byte) {
    if (!open_) {
        // Nothing to read from: still take the read's millisecond so that
        // no wait loop can spin.
        clock_.sleep_ms(1);
        return false;
    }
    return device_.read_byte(byte);
}

}  // namespace torvik::link
