// SPDX-License-Identifier: MIT
// Short frame receiver under arbitrary reply bytes: sends "I00B" on a
// scripted port and delivers the input as the reply. Byte 0 sets the gap
// between reply bytes (0..3 ms), the rest is the reply.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"

using namespace torvik;

namespace {

bool UpperHex(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz::FrameRig rig(data, size);
    CHECK(rig.opened);
    auto& clock = rig.clock;
    auto& link = rig.link;

    const uint64_t start_us = clock.now_us();
    const bool ok = link.SendShort("I00B");
    const uint64_t elapsed_us = clock.now_us() - start_us;

    // The exchange always ends, whatever arrives: 9 ms to send the frame,
    // at most the 200 ms budget plus the bytes' arrival to wait.
    CHECK(elapsed_us < uint64_t{size} * 4000 + 300000);
    const int count = link.receive_count();
    CHECK(count >= 0 && count <= 1023);
    if (!ok) return 0;

    // The accepted frame: LF first, CR last, and two upper-case check digits
    // that are the XOR of everything before them.
    const auto& buf = link.buffer();
    CHECK(count >= 4);
    const auto n = static_cast<size_t>(count);
    CHECK(buf[0] == link::kLF && buf[n - 1] == link::kCR);
    CHECK(UpperHex(buf[n - 3]) && UpperHex(buf[n - 2]));
    uint8_t x = 0;
    for (size_t i = 0; i < n - 3; ++i) x ^= buf[i];
    static constexpr char kHex[] = "0123456789ABCDEF";
    CHECK(buf[n - 3] == kHex[x >> 4] && buf[n - 2] == kHex[x & 0xF]);

    // last_reply is that frame up to its first zero byte.
    const std::string frame(reinterpret_cast<const char*>(buf.data()), n);
    const std::string& last = link.last_reply();
    CHECK(last == frame.substr(0, frame.find('\0')));
    CHECK(!last.empty() && last.front() == char(link::kLF));
    if (last.size() == n) {
        CHECK(last.back() == char(link::kCR));
        CHECK(UpperHex(uint8_t(last[n - 3])) && UpperHex(uint8_t(last[n - 2])));
    }
    return 0;
}
