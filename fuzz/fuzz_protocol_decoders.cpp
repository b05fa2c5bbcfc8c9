// SPDX-License-Identifier: MIT
// The reply decoders of the wire vocabulary on any reply text and receive
// count: byte 0 and 1 give the receive count (0..1023), the rest is the
// last reply's text up to its first zero byte, as the exchange leaves it.
// Every field comes out within the text, of its fixed width or shorter, and
// the hex text values agree with the digits they were taken from.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "link/protocol.h"

using namespace torvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int length = (data[0] << 8 | data[1]) % 1024;
    std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    const link::Reply reply{text, length};

    const auto within = [&text](const std::string& field, size_t width) {
        return field.size() <= width && (field.empty() || text.find(field) != std::string::npos);
    };

    const auto presence = link::DecodePresence(reply);
    CHECK(presence.has_value() == (length == 16));
    if (presence) CHECK(within(presence->id, 2) && within(presence->serial, 8));

    CHECK(within(link::DecodeVersion(reply), 8));

    const link::ModeDigits mode = link::DecodeOutputMode(reply);
    for (const int digit : {mode.interface, mode.wiegand, mode.rs485})
        CHECK(digit >= -1 && digit <= 9);

    const link::PlainReading plain = link::DecodePlainReading(reply);
    CHECK(within(plain.input, 1));
    CHECK(plain.carries == (length > 9));
    if (plain.key) {
        CHECK(plain.digits.empty() && plain.value == 0);
        if (!plain.shows_key) CHECK(plain.key_text.empty());
        CHECK(within(plain.key_text, static_cast<size_t>(length)));
    } else {
        CHECK(within(plain.digits, 8));
        CHECK(plain.value == link::HexTextValue(plain.digits, 8));
    }

    const link::EncodedReading encoded = link::DecodeEncodedReading(reply);
    CHECK(encoded.carries == (length > 9));
    if (encoded.carries) {
        CHECK(within(encoded.scrambled, 16));
        CHECK(encoded.digits.size() == 16);
        CHECK(encoded.digits.find_first_not_of("0123456789ABCDEF") == std::string::npos);
        // Unscrambling twice with the same mask gives the digits back.
        if (encoded.scrambled.size() == 16 &&
            encoded.scrambled.find_first_not_of("0123456789ABCDEF") == std::string::npos)
            CHECK(link::UnscrambleId(encoded.digits) == encoded.scrambled);
        CHECK(encoded.value == link::HexTextValue(encoded.digits, 16));
    }

    CHECK(within(link::DecodeTemplatePiece(reply), link::kPieceLength));
    CHECK(link::IsAddCardReply(reply) == (length == 20));
    CHECK(within(link::DecodeRawAnswer(reply), length > 11 ? static_cast<size_t>(length - 11) : 0));
    return 0;
}
