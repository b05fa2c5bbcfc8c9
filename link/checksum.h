// SPDX-License-Identifier: MIT
// The two frame checks of the reader protocol.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvik::link {

// Upper-case hex digit of a nibble (0..15).
inline char hex_digit(unsigned nibble) {
    return "0123456789ABCDEF"[nibble & 0xF];
}

// Two upper-case hex digits of a byte, high nibble first.
inline std::string hex_byte(uint8_t value) {
    return {hex_digit(value >> 4), hex_digit(value & 0xF)};
}

// XOR of a byte run starting from a given value (short frames start from the
// frame's leading TAB or LF, which is part of the run).
uint8_t xor8(const uint8_t* data, size_t count, uint8_t initial = 0);

// CRC-16/ARC: polynomial 0x8005 reflected (0xA001), initial 0, no final XOR,
// computed byte-wise with its standard 256-entry table.
uint16_t crc16_arc(const uint8_t* data, size_t count, uint16_t crc = 0);
inline uint16_t crc16_arc(std::string_view text) {
    return crc16_arc(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Four upper-case hex digits of a CRC, high byte first.
inline std::string crc_digits(uint16_t crc) {
    return hex_byte(static_cast<uint8_t>(crc >> 8)) + hex_byte(static_cast<uint8_t>(crc & 0xFF));
}

}  // namespace torvik::link
