// SPDX-License-Identifier: MIT
// The wire vocabulary of the reader protocol: every command payload the tool
// sends is built here, and every reply field it reads is decoded here. The
// frames around them are the codec's (link/frame_codec.h); the operations
// never spell a payload or count a position themselves.
//
// Short-frame commands: "I00" + command letter + arguments.
//   B presence/information   V version     A output mode (query, or + 3 digits)
//   C set ID (+ serial + ID) E baud code   S card type      K facility / card key
//   F plain poll   I encoded poll   J encoded acknowledgement
//   M enrol  N delete (+ six-digit finger)  P template (+ finger + piece [+ text])
//   R stand-alone setting (+ selector 0..6 [+ value])
// Long-frame commands: "001" + text ("001AS": add card).
//
// Reply fields the tool reads, positions from 1 of the last reply (LF or ETX
// at 1, L = receive count):
//   presence  exactly 16 bytes | 3..4 ID | 6..13 serial number |
//   version   | 6..13 version |
//   mode      | 6 interface | 7 Wiegand format | 8 RS-485 format |   (digits)
//   plain     | 6 input | 7 kind ('K' key entry) | 8..15 ID, 8 hex digits |
//             key entry: 8..L-3 key text; 9 bytes or fewer: only 6 counts
//   encoded   | 8..23 scrambled identification, 16 hex digits |; 9 bytes or fewer: none
//   piece     | 6..261 template piece, 256 characters |
//   add card  exactly 20 bytes, ETX to CR
//   raw       | 7..L-5 the answer, after five body characters, up to and with the EOT |
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvik::link {

// Text as it travels on the wire: one byte per character.
using Bytes = std::string;

// ---- commands ----

inline constexpr std::string_view kShortCommandPrefix = "I00";
inline constexpr std::string_view kLongCommandPrefix = "001";

// The letter after "I00".
enum class Command : char {
    kOutputMode = 'A',
    kPresence = 'B',
    kSetId = 'C',
    kSetBaud = 'E',
    kPlainPoll = 'F',
    kEncodedPoll = 'I',
    kEncodedAck = 'J',
    kFacility = 'K',
    kEnrol = 'M',
    kDelete = 'N',
    kTemplate = 'P',
    kStandAlone = 'R',
    kCardType = 'S',
    kVersion = 'V',
};

// The selector digit after "I00R".
enum class StandAloneSelector : char {
    kMode = '0',
    kDoorTime = '1',
    kAlarmTime = '2',
    kMasterCard = '3',
    kDuressCard = '4',
    kClearCard = '5',
    kReset = '6',
};

// The text after "001" of the add card command.
inline constexpr std::string_view kAddCardText = "AS";

// The 8-byte mask of the encoded reading, which is also the default card
// key that both default operations write, as 16 hex digits.
inline constexpr std::string_view kCardKey = "7A1C3E5B9D2F4860";

// The number of characters in a template piece, and the pieces of a template.
inline constexpr int kPieceLength = 256;
inline constexpr int kTemplatePieces = 3;
// The longest reply the tool reads: a template piece's (LF, four characters,
// the piece, two check digits, CR).
inline constexpr int kLongestReplyBytes = 1 + 4 + kPieceLength + 2 + 1;

// "%0Nd" of a number: at least `width` characters, a minus sign counted.
std::string Decimal(int value, int width);

// The text after "I00E" for a settings index: "0".."9", "A", "B", "12",
// "13"; empty for an index outside the settings list.
std::string BaudCode(int settings_index);

std::string PresenceQuery();
std::string VersionQuery();
std::string OutputModeQuery();
// The ID goes as given (the two characters the window holds).
std::string SetIdCommand(std::string_view serial, std::string_view id);
std::string SetBaudCommand(std::string_view baud_code);
// Each index as decimal text without leading zeros; -1 (no selection) as "-1".
std::string SetOutputModeCommand(int interface, int wiegand, int rs485);
std::string SetCardTypeCommand(int card_type);
std::string PlainPoll();
std::string EncodedPoll();
std::string EncodedAcknowledge();
std::string FacilityCommand(int facility);  // five digits
std::string CardKeyCommand();               // the default card key
std::string EnrolCommand(int finger);       // six digits
std::string DeleteCommand(int finger);
std::string TemplatePrepareCommand(int finger);
std::string TemplateReadCommand(int finger, int piece);  // piece 1..3
std::string TemplateWriteCommand(int finger, int piece, std::string_view text);
std::string StandAloneModeCommand(bool on);
std::string DoorTimeCommand(std::string_view value);  // the value as given, unpadded
std::string AlarmTimeCommand(std::string_view value);
std::string MasterCardCommand();
std::string DuressCardCommand();
std::string ClearCardCommand();
std::string ResetCommand();  // the last setting command of the defaults
std::string AddCardCommand();
std::string RawCommand(std::string_view text);

// ---- replies ----

// The last complete reply as the exchange leaves it: its text up to the
// first zero byte, and the receive count (the whole frame's length).
struct Reply {
    std::string_view text;
    int length = 0;
};

// The answer to the presence check: exactly 16 bytes.
struct Presence {
    Bytes id;      // two characters
    Bytes serial;  // eight characters
};
std::optional<Presence> DecodePresence(const Reply& reply);

Bytes DecodeVersion(const Reply& reply);

// The three index digits of the output mode; -1 for a character that is no
// decimal digit (or is missing).
struct ModeDigits {
    int interface = -1, wiegand = -1, rs485 = -1;
};
ModeDigits DecodeOutputMode(const Reply& reply);

// A reply to the plain poll.
struct PlainReading {
    Bytes input;             // the character at 6 (empty when the reply is shorter)
    bool carries = false;    // more than 9 bytes: a key entry or an ID follows
    bool key = false;        // kind 'K'
    bool shows_key = false;  // a key entry longer than 10 bytes: key_text is shown
    Bytes key_text;
    Bytes digits;        // the ID's 8 characters as received
    uint32_t value = 0;  // their hex text value
};
PlainReading DecodePlainReading(const Reply& reply);

// A reply to the encoded poll.
struct EncodedReading {
    bool carries = false;  // more than 9 bytes
    Bytes scrambled;       // 16 characters as received
    Bytes digits;          // unscrambled, 16 upper-case hex digits
    uint32_t value = 0;    // hex text value of the unscrambled digits (the last 8 count)
};
EncodedReading DecodeEncodedReading(const Reply& reply);

Bytes DecodeTemplatePiece(const Reply& reply);
bool IsAddCardReply(const Reply& reply);
Bytes DecodeRawAnswer(const Reply& reply);

// ---- hex text ----

// Value of a hex digit: '0'-'9', 'A'-'F'; anything else (lower case too) is 0.
unsigned HexDigitValue(char c);
// Unsigned 32-bit value of the first n characters, wrapping modulo 2^32;
// positions beyond the text count as 0.
uint32_t HexTextValue(std::string_view text, size_t n);
// The 16-digit identification of an encoded reading, unscrambled with the
// card key mask.
Bytes UnscrambleId(std::string_view scrambled);
// "0A 7F 33": bytes as upper-case hex pairs separated by blanks.
std::string HexPairs(std::string_view bytes);

}  // namespace torvik::link
