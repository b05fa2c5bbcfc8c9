// SPDX-License-Identifier: MIT
// The window model under arbitrary reply contents: a scan, or a live reading,
// on a scripted COM3 that answers the first frames with well-framed short
// replies (correct check digits) around fuzzed bodies. Whatever the bodies
// hold, the window must end idle with the port closed.
//
// Input: byte 0 selects the operation (bits 0..1: 0/3 scan, 1 plain reading,
// 2 encoded reading; bits 2..3: a stop press of the reading button after
// 0 = never, 1..3 = that many hundred ms); then up to three reply bodies,
// each a length byte and that many bytes (CR bytes are dropped).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "tests/harness.h"

namespace {

using namespace torvik;

// LF, the body, its XOR check digits, CR.
std::string ShortReply(const std::string& body) {
    std::string frame = "\n" + body;
    uint8_t x = 0;
    for (char c : frame) x ^= static_cast<uint8_t>(c);
    static constexpr char kHex[] = "0123456789ABCDEF";
    return frame + kHex[x >> 4] + kHex[x & 0xF] + '\r';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int operation = data[0] & 3;
    const int stop_after = (data[0] >> 2) & 3;

    test::Harness h;
    h.line.set_port(3, doubles::FakeLine::PortKind::Scripted);
    size_t pos = 1;
    for (int i = 0; i < 3 && pos < size; ++i) {
        const size_t wanted = data[pos++];
        const size_t length = std::min(wanted, size - pos);
        std::string body;
        for (size_t k = 0; k < length; ++k) {
            if (data[pos + k] != '\r') body.push_back(static_cast<char>(data[pos + k]));
        }
        pos += length;
        h.line.reply_next(ShortReply(body));
    }

    // The link settings of a reader last found on COM3.
    auto& key = h.store.keys["\\Software\\KELDO\\ReaderConfig"];
    key["ScanCommNo"] = doubles::MemorySettingsStore::dword(3);
    key["ScanBaudRate"] = doubles::MemorySettingsStore::text("19200,e,8,1");
    key["ScanBaudRateNo"] = doubles::MemorySettingsStore::dword(5);
    h.start();

    if (operation == 1 || operation == 2) {
        app::Control& button = operation == 1 ? h.form.btnReadCard : h.form.btnEncode;
        h.form.state.reader_found = true;
        if (stop_after > 0) {
            h.pump.at_ms(h.clock.now_us() / 1000 + 100u * unsigned(stop_after),
                         [&h, &button] { h.form.press(button); });
        }
        h.form.press(button);
        CHECK(!h.form.state.reading && !h.form.core.reading_loop);
    } else {
        h.form.press(h.form.btnScan);
    }

    // Idle: enabled, normal cursor, port closed, blinker off, no error.
    CHECK(h.form.window_enabled());
    CHECK(!h.form.cursor_busy());
    CHECK(h.cursor.changes.empty() || !h.cursor.changes.back());
    CHECK(!h.form.port.is_open() && !h.line.is_open());
    CHECK(!h.form.tmrBusy.enabled());
    CHECK(h.errors.shown.empty());
    return 0;
}
