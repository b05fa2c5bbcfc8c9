// SPDX-License-Identifier: MIT
#include "link/checksum.h"

#include <array>

namespace torvik::link {

namespace {

// The published table of CRC-16/ARC, kept as its high and low bytes.
constexpr std::array<uint16_t, 256> make_table() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
        }
        table[i] = crc;
    }
    return table;
}

constexpr auto kTable = make_table();
static_assert(kTable[1] == 0xC0C1 && kTable[255] == 0x4040, "CRC-16/ARC table");

}  // namespace

uint8_t xor8(const uint8_t* data, size_t count, uint8_t initial) {
    uint8_t x = initial;
    for (size_t i = 0; i < count; ++i) x ^= data[i];
    return x;
}

uint16_t crc16_arc(const uint8_t* data, size_t count, uint16_t crc) {
    for (size_t i = 0; i < count; ++i) {
        crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFF]);
    }
    return crc;
}

}  // namespace torvik::link
