// SPDX-License-Identifier: MIT
// The line-settings text ("19200,e,8,1") under arbitrary text: what is read
// is a standard speed, a known parity, 5 to 8 data bits and 1 or 2 stop
// bits; written out it reads back the same; and put on a terminal's
// settings it sets exactly those bits and that speed.
#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "link/posix_serial.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace torvik::link;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto line = parse_line_settings(text);
    if (!line) return 0;
    CHECK(std::string_view("neoms").find(line->parity) != std::string_view::npos);
    CHECK(line->data_bits >= 5 && line->data_bits <= 8);
    CHECK(line->stop_bits == 1 || line->stop_bits == 2);
    const std::string written = std::to_string(line->baud) + "," + line->parity + "," +
                                std::to_string(line->data_bits) + "," +
                                std::to_string(line->stop_bits);
    CHECK(parse_line_settings(written) == line);

    termios t{};
    t.c_cflag = CREAD | CLOCAL | HUPCL | CRTSCTS | CS7 | PARENB | PARODD | CSTOPB | CMSPAR;
    apply_line_settings(t, *line);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    CHECK((t.c_cflag & CSIZE) == kSizes[line->data_bits - 5]);
    CHECK(((t.c_cflag & PARENB) != 0) == (line->parity != 'n'));
    CHECK(((t.c_cflag & PARODD) != 0) == (line->parity == 'o' || line->parity == 'm'));
    CHECK(((t.c_cflag & CMSPAR) != 0) == (line->parity == 'm' || line->parity == 's'));
    CHECK(((t.c_cflag & CSTOPB) != 0) == (line->stop_bits == 2));
    // Everything else stays as it was.
    CHECK((t.c_cflag & (CREAD | CLOCAL | HUPCL | CRTSCTS)) == (CREAD | CLOCAL | HUPCL | CRTSCTS));
    CHECK(cfgetospeed(&t) == cfgetispeed(&t));
    termios again{};
    apply_line_settings(again, *parse_line_settings(written));
    CHECK(cfgetospeed(&again) == cfgetospeed(&t));
    return 0;
}
