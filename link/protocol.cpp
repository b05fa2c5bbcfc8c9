// SPDX-License-Identifier: MIT
#include "link/protocol.h"

#include "link/checksum.h"

namespace torvik::link {

namespace {

std::string Short(Command command, std::string_view arguments = {}) {
    std::string payload(kShortCommandPrefix);
    payload.push_back(static_cast<char>(command));
    payload.append(arguments);
    return payload;
}

std::string StandAlone(StandAloneSelector selector, std::string_view value = {}) {
    std::string arguments(1, static_cast<char>(selector));
    arguments.append(value);
    return Short(Command::kStandAlone, arguments);
}

std::string Finger(int finger) {
    return Decimal(finger, 6);
}

// Characters of the reply at 1-based positions first..first+count-1,
// clipped to the text.
Bytes Field(const Reply& reply, int first, int count) {
    if (first < 1 || count <= 0) return {};
    const auto start = static_cast<size_t>(first - 1);
    if (start >= reply.text.size()) return {};
    return Bytes(reply.text.substr(start, static_cast<size_t>(count)));
}

// The character at a 1-based position, '\0' beyond the text.
char At(const Reply& reply, int position) {
    if (position < 1 || static_cast<size_t>(position) > reply.text.size()) return '\0';
    return reply.text[static_cast<size_t>(position - 1)];
}

int DigitIndex(char c) {
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

}  // namespace

std::string Decimal(int value, int width) {
    std::string digits = std::to_string(value < 0 ? -static_cast<long long>(value) : value);
    const size_t w = static_cast<size_t>(width - (value < 0 ? 1 : 0));
    if (digits.size() < w) digits.insert(0, w - digits.size(), '0');
    return value < 0 ? "-" + digits : digits;
}

std::string BaudCode(int settings_index) {
    if (settings_index >= 0 && settings_index <= 9) return std::to_string(settings_index);
    if (settings_index == 10) return "A";
    if (settings_index == 11) return "B";
    if (settings_index == 12 || settings_index == 13) return std::to_string(settings_index);
    return {};
}

std::string PresenceQuery() {
    return Short(Command::kPresence);
}
std::string VersionQuery() {
    return Short(Command::kVersion);
}
std::string OutputModeQuery() {
    return Short(Command::kOutputMode);
}
std::string SetIdCommand(std::string_view serial, std::string_view id) {
    return Short(Command::kSetId, std::string(serial) + std::string(id));
}
std::string SetBaudCommand(std::string_view baud_code) {
    return Short(Command::kSetBaud, baud_code);
}
std::string SetOutputModeCommand(int interface, int wiegand, int rs485) {
    return Short(Command::kOutputMode,
                 std::to_string(interface) + std::to_string(wiegand) + std::to_string(rs485));
}
std::string SetCardTypeCommand(int card_type) {
    return Short(Command::kCardType, std::to_string(card_type));
}
std::string PlainPoll() {
    return Short(Command::kPlainPoll);
}
std::string EncodedPoll() {
    return Short(Command::kEncodedPoll);
}
std::string EncodedAcknowledge() {
    return Short(Command::kEncodedAck);
}
std::string FacilityCommand(int facility) {
    return Short(Command::kFacility, Decimal(facility, 5));
}
std::string CardKeyCommand() {
    return Short(Command::kFacility, kCardKey);
}
std::string EnrolCommand(int finger) {
    return Short(Command::kEnrol, Finger(finger));
}
std::string DeleteCommand(int finger) {
    return Short(Command::kDelete, Finger(finger));
}
std::string TemplatePrepareCommand(int finger) {
    return Short(Command::kTemplate, Finger(finger) + '0');
}
std::string TemplateReadCommand(int finger, int piece) {
    return Short(Command::kTemplate, Finger(finger) + static_cast<char>('0' + piece));
}
std::string TemplateWriteCommand(int finger, int piece, std::string_view text) {
    return TemplateReadCommand(finger, piece) + std::string(text);
}
std::string StandAloneModeCommand(bool on) {
    return StandAlone(StandAloneSelector::kMode, on ? "1" : "0");
}
std::string DoorTimeCommand(std::string_view value) {
    return StandAlone(StandAloneSelector::kDoorTime, value);
}
std::string AlarmTimeCommand(std::string_view value) {
    return StandAlone(StandAloneSelector::kAlarmTime, value);
}
std::string MasterCardCommand() {
    return StandAlone(StandAloneSelector::kMasterCard);
}
std::string DuressCardCommand() {
    return StandAlone(StandAloneSelector::kDuressCard);
}
std::string ClearCardCommand() {
    return StandAlone(StandAloneSelector::kClearCard);
}
std::string ResetCommand() {
    return StandAlone(StandAloneSelector::kReset);
}
std::string AddCardCommand() {
    return std::string(kLongCommandPrefix) + std::string(kAddCardText);
}
std::string RawCommand(std::string_view text) {
    return std::string(kLongCommandPrefix) + std::string(text);
}

std::optional<Presence> DecodePresence(const Reply& reply) {
    if (reply.length != 16) return std::nullopt;
    return Presence{Field(reply, 3, 2), Field(reply, 6, 8)};
}

Bytes DecodeVersion(const Reply& reply) {
    return Field(reply, 6, 8);
}

ModeDigits DecodeOutputMode(const Reply& reply) {
    return ModeDigits{DigitIndex(At(reply, 6)), DigitIndex(At(reply, 7)), DigitIndex(At(reply, 8))};
}

PlainReading DecodePlainReading(const Reply& reply) {
    PlainReading r;
    if (const char input = At(reply, 6)) r.input.assign(1, input);
    r.carries = reply.length > 9;
    if (!r.carries) return r;
    r.key = At(reply, 7) == 'K';
    if (r.key) {
        r.shows_key = reply.length > 10;
        if (r.shows_key) r.key_text = Field(reply, 8, reply.length - 10);
        return r;
    }
    r.digits = Field(reply, 8, 8);
    r.value = HexTextValue(r.digits, 8);
    return r;
}

EncodedReading DecodeEncodedReading(const Reply& reply) {
    EncodedReading r;
    r.carries = reply.length > 9;
    if (!r.carries) return r;
    r.scrambled = Field(reply, 8, 16);
    r.digits = UnscrambleId(r.scrambled);
    r.value = HexTextValue(r.digits, 16);
    return r;
}

Bytes DecodeTemplatePiece(const Reply& reply) {
    return Field(reply, 6, kPieceLength);
}

bool IsAddCardReply(const Reply& reply) {
    return reply.length == 20;
}

Bytes DecodeRawAnswer(const Reply& reply) {
    return Field(reply, 7, reply.length - 11);
}

unsigned HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return 0;
}

uint32_t HexTextValue(std::string_view text, size_t n) {
    uint32_t value = 0;
    for (size_t i = 0; i < n; ++i)
        value = value * 16u + HexDigitValue(i < text.size() ? text[i] : '0');
    return value;
}

Bytes UnscrambleId(std::string_view scrambled) {
    const auto at = [&](size_t p) { return p < scrambled.size() ? scrambled[p] : '\0'; };
    Bytes out;
    for (size_t i = 0; i < 8; ++i) {
        const unsigned byte = HexDigitValue(at(2 * i)) * 16u + HexDigitValue(at(2 * i + 1));
        const size_t m = 2 * (7 - i);
        const unsigned mask = HexDigitValue(kCardKey[m]) * 16u + HexDigitValue(kCardKey[m + 1]);
        out += hex_byte(static_cast<uint8_t>(byte ^ mask));
    }
    return out;
}

std::string HexPairs(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        if (!out.empty()) out.push_back(' ');
        out += hex_byte(static_cast<uint8_t>(c));
    }
    return out;
}

}  // namespace torvik::link
