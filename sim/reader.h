// SPDX-License-Identifier: MIT
// The simulated reader: device state and reply rules of the reader protocol,
// without any I/O. Fed with the bytes that reach it over the line, it answers
// complete frames with reply frames.
//
// Reply layouts it produces (positions from 1, LF first; short replies end in
// two XOR check digits and CR). Every short body starts with the status '0'
// at 2, the ID at 3..4 and the command letter at 5 (a blank for I00B):
//   I00B  16 bytes: 2 '0', 3..4 ID, 5 ' ', 6..13 serial number
//   I00V  6..13 version ("04.01-01")
//   I00A  6 mode, 7 Wiegand format, 8 RS-485 format (digits), query and set
//   I00F  6 DI character; 7 kind ('K' key entry, 'C' card, 'F' finger);
//         8..15 ID as 8 hex digits, or 8.. key text; 9 bytes when nothing read
//   I00I  6 DI, 7 kind ('C', 'F'); 8..23 scrambled identification (16 hex
//         digits); 9 bytes when none
//   I00P  finger + '1'..'3': 6..261 the 256-character piece
//   other setting commands: 8 bytes (status, ID, letter)
//   long "001AS": 20 bytes ETX..CR, body "001OKAS" + six-digit count of
//   cards added; "001" + text: body "001OK" + text; any other long payload:
//   body "001ER" + payload
// It answers only what it carries out: commands it does not know and
// malformed ones (a set ID for another serial number, a baud code that is no
// speed, mode digits other than 0 to 2, a card type other than 0 to 2, a
// facility code or card key of the wrong form, a finger number above 1000,
// a template piece other than 256 characters, a stand-alone setting with a
// wrong value) get no reply and change nothing.
#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace torvik::sim {

// Speed and parity of a line ("19200,e,8,1" → 19200, 'e').
struct LineSettings {
    uint32_t baud = 19200;
    char parity = 'e';
    bool operator==(const LineSettings&) const = default;
};
// Accepts "baud,parity,databits,stopbits" as the tool's serial device does:
// a standard speed from 110 to 230400, parity n/e/o/m/s in either case,
// 5 to 8 data bits, 1 or 2 stop bits, blanks around a field. Nothing for any
// other text.
std::optional<LineSettings> parse_line_settings(std::string_view settings);
// The line a baud code of "I00E" selects: "0".."9", "A", "B", "12", "13" for
// the fourteen entries 4800,n to 230400,e. Nothing for any other code.
std::optional<LineSettings> line_for_baud_code(std::string_view code);
// Microseconds one byte takes on the wire: start bit, 8 data bits, parity
// bit when used, stop bit.
double byte_time_us(const LineSettings& line);

// What the reader reports on the next live-reading polls.
struct Identity {
    enum class Kind { Card, Finger, Key } kind = Kind::Card;
    uint32_t id = 0;  // card or finger ID
    std::string key;  // key entry text (Kind::Key)
};

class Reader {
  public:
    // Faults shape every reply. A dropped reply is lost on the wire (the
    // command still takes effect); a refused command has no effect at all.
    struct Faults {
        bool drop_replies = false;        // answer nothing
        int drop_next = 0;                // answer nothing to the next N frames
        bool bad_check = false;           // wrong check digits / CRC
        bool lower_case_check = false;    // check digits in lower case
        bool noise_before_reply = false;  // one stray byte before the LF / ETX
        int presence_length = 16;         // 15 or 17 for a presence reply of wrong length
        uint32_t extra_delay_ms = 0;      // added before every reply
        std::set<std::string> refuse;     // payload prefixes that get no reply
    };

    Reader();

    // Feeds one byte that arrived over the line. When it completes a frame
    // with a valid check, returns the reply bytes (empty: no reply).
    std::string feed(uint8_t byte, uint64_t now_us);
    // Replies to a payload directly (used by feed and by tests).
    std::string on_short(std::string_view payload, uint64_t now_us);
    std::string on_long(std::string_view payload, uint64_t now_us);

    // The line settings it listens and answers at. A baud-rate change takes
    // effect after the reply to it has been sent: call take_pending_line()
    // once the reply is on the wire. It makes the new settings the line and
    // returns them, once per change.
    LineSettings line;
    std::optional<LineSettings> take_pending_line();

    // Delay from the end of a frame to the first reply byte.
    uint32_t reply_delay_ms = 2;
    // After "I00R6": silent for this long (ms); UINT32_MAX: never answers again.
    uint32_t silence_after_reset_ms = 3000;
    bool silent(uint64_t now_us) const { return now_us < silent_until_us_; }
    // Ends a silence at once (the reader has finished resetting).
    void wake() { silent_until_us_ = 0; }

    // Live reading: identities queued for the next polls (one per poll), and
    // optionally a generated card every card_every_ms of time (0: off).
    void present(const Identity& identity) { pending_.push_back(identity); }
    uint32_t card_every_ms = 0;

    // Device state.
    std::string serial = "12345678";
    int id = 1;
    std::string version = "04.01-01";
    int mode = 0, wiegand = 0, rs485 = 1, card_type = 0;
    std::string facility = "00000";
    std::string card_key = "7A1C3E5B9D2F4860";
    bool standalone = false;
    std::string door_time = "0005", alarm_time = "0030";
    std::map<int, bool> enrolled;                         // finger slot → enrolled
    std::map<int, std::array<std::string, 3>> templates;  // finger slot → pieces
    char di = '0';
    int cards_added = 0;  // "001AS" commands taken

    Faults faults;

    // Every complete frame it received, in order ('S' short, 'L' long).
    struct Received {
        char kind;
        std::string payload;
        uint64_t at_us;
    };
    std::vector<Received> log;

  private:
    // Body of the reply to a short payload; nothing when the command is unknown.
    std::optional<std::string> short_body(std::string_view payload, uint64_t now_us);
    std::string head(char status, char letter) const;  // status, ID, letter
    std::optional<Identity> next_identity(uint64_t now_us);
    bool take_drop();
    bool refused(std::string_view payload) const;
    std::string short_reply(std::string_view body) const;
    std::string long_reply(std::string_view body) const;
    std::string finish(std::string reply);
    std::string piece_for(int finger, int piece) const;

    std::string rx_;
    bool in_short_ = false, in_long_ = false;
    std::deque<Identity> pending_;
    uint64_t silent_until_us_ = 0;
    uint64_t last_card_us_ = 0;
    uint32_t generated_ = 0;
    std::optional<LineSettings> pending_line_;
};

}  // namespace torvik::sim
