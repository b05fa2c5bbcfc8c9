// SPDX-License-Identifier: MIT
// The texts an adapter brings along (manufacturer, product, serial number,
// from sysfs or udev) under arbitrary bytes, cut at 0x1F: the by-id name
// formed from them is one name below /dev/serial/by-id/ of letters, digits,
// "#+-.:=@_" and UTF-8 characters; forming a text twice gives what forming
// it once gave; UART type names are known names or "UART type N"; and
// every such text, shown on a terminal, shows no control character.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "link/terminal_text.h"
#include "link/udev_ports.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace torvik::link;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> f = torvik::fuzz::Split(input, '\x1f', 4);
    f.resize(4);

    for (const std::string& text : f) {
        const std::string id = UdevIdText(text);
        CHECK(UdevIdText(id) == id);
        for (const unsigned char c : id) {
            CHECK(c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                  (c >= 'A' && c <= 'Z') || std::strchr("#+-.:=@_", c) != nullptr);
        }
        const std::string shown = TerminalSafe(text);
        CHECK(IsTerminalSafe(shown));
        CHECK(TerminalSafe(shown) == shown);
        CHECK(IsTerminalSafe(TerminalSafeLatin1(text)));
    }

    const std::string name = FormByIdName(f[0], f[1], f[2], "00", f[3].empty() ? -1 : f[3][0] & 7);
    const std::string prefix = "/dev/serial/by-id/usb-";
    CHECK(name.compare(0, prefix.size(), prefix) == 0);
    CHECK(name.find('/', prefix.size()) == std::string::npos);

    const std::string uart = UartTypeName(f[3]);
    if (!uart.empty()) {
        CHECK(uart.rfind("UART type ", 0) == 0 ||
              (uart.size() > 5 && uart.compare(uart.size() - 5, 5, " UART") == 0));
    }

    PortInfo port;
    port.vendor = f[0];
    port.model = f[1];
    port.driver = f[2];
    CHECK(IsTerminalSafe(TerminalSafe(port.adapter())));
    return 0;
}
