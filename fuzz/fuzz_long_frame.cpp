// SPDX-License-Identifier: MIT
// Long frame receiver under arbitrary reply bytes: sends "001AB" on a
// scripted port and delivers the input as the reply. Byte 0 sets the gap
// between reply bytes (0..3 ms), the rest is the reply.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"

using namespace torvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz::FrameRig rig(data, size);
    CHECK(rig.opened);
    auto& clock = rig.clock;
    auto& link = rig.link;

    const uint64_t start_us = clock.now_us();
    const bool ok = link.SendLong("001AB");
    const uint64_t elapsed_us = clock.now_us() - start_us;

    // The exchange always ends: sending the frame takes 12 ms, the wait for
    // the reply at most the 300 ms budget plus the bytes' arrival.
    CHECK(elapsed_us < uint64_t{size} * 4000 + (link::kLongBudgetMs + 20) * 1000);
    const int count = link.receive_count();
    CHECK(count >= 0 && count <= 1023);
    if (!ok) return 0;

    // The accepted frame (the bytes stored since its ETX): ETX first, an EOT
    // at least five positions after it, CR last.
    const auto& buf = link.buffer();
    const auto n = static_cast<size_t>(count);
    CHECK(n >= 7);
    const std::string frame(reinterpret_cast<const char*>(buf.data()), n);
    CHECK(frame.front() == char(link::kETX) && frame.back() == char(link::kCR));
    const size_t eot = frame.find(char(link::kEOT), 5);
    CHECK(eot != std::string::npos && eot + 1 < n);

    // last_reply is that frame up to its first zero byte.
    const std::string& last = link.last_reply();
    CHECK(last == frame.substr(0, frame.find('\0')));
    CHECK(!last.empty() && last.front() == char(link::kETX));
    if (last.size() == n) {
        CHECK(last.back() == char(link::kCR));
        CHECK(last.find(char(link::kEOT), 5) != std::string::npos);
    }
    return 0;
}
