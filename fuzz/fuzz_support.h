// SPDX-License-Identifier: MIT
// What the frame targets share: the link on a scripted in-process port
// that they feed (and the invariants of fuzz/fuzz_check.h).
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "link/exchange.h"
#include "link/port.h"
#include "tests/doubles/fake_line.h"
#include "tests/doubles/virtual_clock.h"

namespace torvik::fuzz {

struct NoPump final : link::EventPump {
    void process_pending() override {}
};

// The tool's link on port 1 of an in-process line whose next reply is the
// fuzz input: byte 0 sets the gap between reply bytes (0..3 ms).
struct FrameRig {
    FrameRig(const uint8_t* data, size_t size)
        : line(clock), port(line, clock), link(port, clock, pump) {
        line.set_port(1, doubles::FakeLine::PortKind::Scripted);
        opened = port.OpenPort(1, "19200,e,8,1");
        const uint64_t gap_us = uint64_t{data[0]} * 3000 / 255;
        line.reply_next(std::string(reinterpret_cast<const char*>(data + 1), size - 1), 1000,
                        gap_us);
    }
    doubles::VirtualClock clock;
    doubles::FakeLine line;
    NoPump pump;
    link::Port port;
    link::Link link;
    bool opened = false;
};

}  // namespace torvik::fuzz

