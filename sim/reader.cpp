// SPDX-License-Identifier: MIT
#include "sim/reader.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "link/checksum.h"
#include "link/protocol.h"

namespace torvik::sim {

namespace {

constexpr char kSOH = 0x01, kSTX = 0x02, kETX = 0x03, kEOT = 0x04;
constexpr char kTAB = 0x09, kLF = 0x0A, kCR = 0x0D;

// A frame that grows beyond this without its CR is line noise: drop it.
constexpr size_t kMaxFrame = 2048;

// The fourteen line settings the reader can be switched to, in the order of
// the tool's settings list, with the baud code that selects each.
struct CodedLine {
    std::string_view code;
    LineSettings line;
};
constexpr std::array<CodedLine, 14> kCodedLines{{
    {"0", {4800, 'n'}},
    {"1", {4800, 'e'}},
    {"2", {9600, 'n'}},
    {"3", {9600, 'e'}},
    {"4", {19200, 'n'}},
    {"5", {19200, 'e'}},
    {"6", {38400, 'n'}},
    {"7", {38400, 'e'}},
    {"8", {57600, 'n'}},
    {"9", {57600, 'e'}},
    {"A", {115200, 'n'}},
    {"B", {115200, 'e'}},
    {"12", {230400, 'n'}},
    {"13", {230400, 'e'}},
}};

constexpr std::array<uint32_t, 12> kStandardSpeeds{110,  300,   600,   1200,  2400,   4800,
                                                   9600, 19200, 38400, 57600, 115200, 230400};

// Scrambling mask of the encoded identification, mask byte 0 first.
constexpr std::array<uint8_t, 8> kIdMask{0x7A, 0x1C, 0x3E, 0x5B, 0x9D, 0x2F, 0x48, 0x60};

// What the demo reader "reads" when it generates identities by itself: cards
// of several kinds of number, a finger and a key entry.
const std::array<Identity, 6> kGenerated{{
    {Identity::Kind::Card, 0x00BC614E, {}},
    {Identity::Kind::Card, 0x0001E240, {}},
    {Identity::Kind::Finger, 3, {}},
    {Identity::Kind::Card, 0x075BCD15, {}},
    {Identity::Kind::Key, 0, "2580"},
    {Identity::Kind::Card, 0x8A3F1C07, {}},
}};

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool all_digits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Exactly count digits, each from '0' to last.
bool digits_in_range(std::string_view s, size_t count, char last) {
    return s.size() == count &&
           std::all_of(s.begin(), s.end(), [last](char c) { return c >= '0' && c <= last; });
}

constexpr int kLastFinger = 1000;
constexpr size_t kPieceLength = 256;

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int to_int(std::string_view digits) {
    int value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
}

std::string hex8(uint32_t value) {
    std::string out;
    for (int shift = 28; shift >= 0; shift -= 4) out.push_back(link::hex_digit(value >> shift));
    return out;
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Another hex digit than the one given, so that a check no longer matches.
char other_digit(char c) {
    const unsigned v = (c >= '0' && c <= '9') ? unsigned(c - '0') : unsigned(lower(c) - 'a' + 10);
    return link::hex_digit((v ^ 1u) & 0xF);
}

uint64_t splitmix64(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

std::optional<LineSettings> parse_line_settings(std::string_view settings) {
    std::array<std::string_view, 4> fields;
    size_t count = 0;
    while (true) {
        const size_t comma = settings.find(',');
        if (count == fields.size()) return std::nullopt;
        fields[count++] = trim(settings.substr(0, comma));
        if (comma == std::string_view::npos) break;
        settings.remove_prefix(comma + 1);
    }
    if (count != 4) return std::nullopt;
    const auto& [baud, parity, data, stop] = fields;
    if (!all_digits(baud) || baud.size() > 6) return std::nullopt;
    const auto speed = static_cast<uint32_t>(to_int(baud));
    if (std::find(kStandardSpeeds.begin(), kStandardSpeeds.end(), speed) == kStandardSpeeds.end()) {
        return std::nullopt;
    }
    if (parity.size() != 1 ||
        std::string_view("neoms").find(lower(parity[0])) == std::string_view::npos) {
        return std::nullopt;
    }
    if (data.size() != 1 || data[0] < '5' || data[0] > '8') return std::nullopt;
    if (stop != "1" && stop != "2") return std::nullopt;
    return LineSettings{speed, lower(parity[0])};
}

std::optional<LineSettings> line_for_baud_code(std::string_view code) {
    for (const auto& entry : kCodedLines) {
        if (entry.code == code) return entry.line;
    }
    return std::nullopt;
}

double byte_time_us(const LineSettings& line) {
    const double bits = 1 + 8 + (line.parity == 'n' ? 0 : 1) + 1;
    return bits * 1e6 / std::max<uint32_t>(line.baud, 1);
}

Reader::Reader() = default;

std::optional<LineSettings> Reader::take_pending_line() {
    auto next = pending_line_;
    pending_line_.reset();
    if (next) line = *next;
    return next;
}

std::string Reader::feed(uint8_t byte, uint64_t now_us) {
    if (silent(now_us)) {
        // Restarting: it hears nothing, not even the start of a frame.
        rx_.clear();
        in_short_ = in_long_ = false;
        return {};
    }
    const char c = static_cast<char>(byte);
    if (c == kTAB || c == kSOH) {
        rx_.assign(1, c);
        in_short_ = c == kTAB;
        in_long_ = c == kSOH;
        return {};
    }
    if (!in_short_ && !in_long_) return {};
    if (c != kCR) {
        rx_.push_back(c);
        if (rx_.size() > kMaxFrame) {
            rx_.clear();
            in_short_ = in_long_ = false;
        }
        return {};
    }

    const std::string frame = std::move(rx_);
    const bool is_short = in_short_;
    rx_.clear();
    in_short_ = in_long_ = false;

    if (is_short) {
        // TAB payload XORhi XORlo
        if (frame.size() < 3) return {};
        const std::string_view payload(frame.data() + 1, frame.size() - 3);
        const uint8_t x =
            link::xor8(reinterpret_cast<const uint8_t*>(frame.data()), frame.size() - 2);
        if (frame[frame.size() - 2] != link::hex_digit(x >> 4) ||
            frame[frame.size() - 1] != link::hex_digit(x & 0xF)) {
            return {};
        }
        log.push_back({'S', std::string(payload), now_us});
        return on_short(payload, now_us);
    }
    // SOH payload STX d d d d
    if (frame.size() < 6 || frame[frame.size() - 5] != kSTX) return {};
    const std::string_view covered(frame.data(), frame.size() - 4);
    if (frame.compare(frame.size() - 4, 4, link::crc_digits(link::crc16_arc(covered))) != 0)
        return {};
    const std::string_view payload(frame.data() + 1, frame.size() - 6);
    log.push_back({'L', std::string(payload), now_us});
    return on_long(payload, now_us);
}

bool Reader::take_drop() {
    bool drop = faults.drop_replies;
    if (faults.drop_next > 0) {
        --faults.drop_next;
        drop = true;
    }
    return drop;
}

bool Reader::refused(std::string_view payload) const {
    return std::any_of(faults.refuse.begin(), faults.refuse.end(),
                       [&](const std::string& prefix) { return payload.starts_with(prefix); });
}

std::string Reader::on_short(std::string_view payload, uint64_t now_us) {
    if (silent(now_us)) return {};
    const bool drop = take_drop();
    if (refused(payload)) return {};
    const auto body = short_body(payload, now_us);
    if (!body || drop) return {};
    return finish(short_reply(*body));
}

std::string Reader::on_long(std::string_view payload, uint64_t now_us) {
    if (silent(now_us)) return {};
    const bool drop = take_drop();
    if (refused(payload)) return {};
    std::string body;
    const std::string_view prefix = link::kLongCommandPrefix;
    if (payload == link::AddCardCommand()) {
        ++cards_added;
        char count[8];
        std::snprintf(count, sizeof count, "%06d", cards_added % 1000000);
        body = std::string(prefix) + "OK" + std::string(link::kAddCardText) + count;
    } else if (payload.starts_with(prefix)) {
        body = std::string(prefix) + "OK" + std::string(payload.substr(prefix.size()));
    } else {
        body = std::string(prefix) + "ER" + std::string(payload);
    }
    // Echoed text must not close or restart the reply frame.
    for (char& c : body) {
        if (c == kETX || c == kEOT || c == kCR) c = '?';
    }
    if (drop) return {};
    return finish(long_reply(body));
}

std::string Reader::head(char status, char letter) const {
    char text[8];
    std::snprintf(text, sizeof text, "%c%02d%c", status, std::clamp(id, 0, 99), letter);
    return text;
}

std::optional<Identity> Reader::next_identity(uint64_t now_us) {
    if (!pending_.empty()) {
        Identity next = pending_.front();
        pending_.pop_front();
        return next;
    }
    if (card_every_ms == 0 || now_us < last_card_us_ + uint64_t{card_every_ms} * 1000) {
        return std::nullopt;
    }
    last_card_us_ = now_us;
    return kGenerated[generated_++ % kGenerated.size()];
}

std::optional<std::string> Reader::short_body(std::string_view payload, uint64_t now_us) {
    using link::Command;
    using link::StandAloneSelector;
    const size_t prefix = link::kShortCommandPrefix.size();
    if (payload.size() <= prefix || !payload.starts_with(link::kShortCommandPrefix))
        return std::nullopt;
    const auto command = static_cast<Command>(payload[prefix]);
    const char letter = payload[prefix];
    const std::string_view args = payload.substr(prefix + 1);

    switch (command) {
        case Command::kPresence: {
            if (!args.empty()) return std::nullopt;
            std::string body = head('0', ' ') + serial;
            body.resize(static_cast<size_t>(std::max(faults.presence_length - 4, 0)), ' ');
            return body;
        }
        case Command::kVersion:
            if (!args.empty()) return std::nullopt;
            return head('0', letter) + version;
        case Command::kOutputMode: {
            // Without arguments it asks; with three index digits (interface,
            // Wiegand format, RS-485 format, each 0 to 2) it sets.
            if (!args.empty()) {
                if (!digits_in_range(args, 3, '2')) return std::nullopt;
                mode = args[0] - '0';
                wiegand = args[1] - '0';
                rs485 = args[2] - '0';
            }
            std::string body = head('0', letter);
            for (int value : {mode, wiegand, rs485}) body.push_back(static_cast<char>('0' + value));
            return body;
        }
        case Command::kSetId:
            // Only the reader whose serial number is addressed takes the ID.
            if (args.size() != 10 || args.substr(0, 8) != serial || !all_digits(args.substr(8))) {
                return std::nullopt;
            }
            id = to_int(args.substr(8));
            return head('0', letter);
        case Command::kSetBaud: {
            const auto next = line_for_baud_code(args);
            if (!next) return std::nullopt;
            pending_line_ = *next;
            return head('0', letter);
        }
        case Command::kCardType:
            if (!digits_in_range(args, 1, '2')) return std::nullopt;
            card_type = args[0] - '0';
            return head('0', letter);
        case Command::kPlainPoll: {
            if (!args.empty()) return std::nullopt;
            std::string body = head('0', letter) + di;
            if (const auto read = next_identity(now_us)) {
                switch (read->kind) {
                    case Identity::Kind::Key:
                        body += 'K' + read->key;
                        break;
                    case Identity::Kind::Finger:
                        body += 'F' + hex8(read->id);
                        break;
                    case Identity::Kind::Card:
                        body += 'C' + hex8(read->id);
                        break;
                }
            }
            return body;
        }
        case Command::kEncodedPoll: {
            if (!args.empty()) return std::nullopt;
            std::string body = head('0', letter) + di;
            // A key entry has no encoded form: it is taken and not reported.
            const auto read = next_identity(now_us);
            if (read && read->kind != Identity::Kind::Key) {
                body += read->kind == Identity::Kind::Finger ? 'F' : 'C';
                const uint64_t value = read->id;
                for (int i = 0; i < 8; ++i) {
                    const auto byte = static_cast<uint8_t>(value >> (8 * (7 - i)));
                    body += link::hex_byte(byte ^ kIdMask[static_cast<size_t>(7 - i)]);
                }
            }
            return body;
        }
        case Command::kEncodedAck:
            if (!args.empty()) return std::nullopt;
            return head('0', letter);
        case Command::kFacility:
            if (args.size() == 5 && all_digits(args)) {
                facility = std::string(args);
            } else if (args.size() == 16 && std::all_of(args.begin(), args.end(), is_hex)) {
                card_key.clear();
                for (char c : args)
                    card_key.push_back(c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c);
            } else {
                return std::nullopt;
            }
            return head('0', letter);
        case Command::kEnrol:
        case Command::kDelete: {
            if (args.size() != 6 || !all_digits(args)) return std::nullopt;
            const int finger = to_int(args);
            if (finger > kLastFinger) return std::nullopt;
            if (command == Command::kEnrol) {
                enrolled[finger] = true;
            } else {
                enrolled.erase(finger);
                templates.erase(finger);
            }
            return head('0', letter);
        }
        case Command::kTemplate: {
            if (args.size() < 7 || !all_digits(args.substr(0, 6))) return std::nullopt;
            const int finger = to_int(args.substr(0, 6));
            if (finger > kLastFinger) return std::nullopt;
            const char digit = args[6];
            const std::string_view text = args.substr(7);
            if (digit == '0' && text.empty()) return head('0', letter);  // prepare
            if (digit < '1' || digit > '3') return std::nullopt;
            const int piece = digit - '0';
            if (text.empty()) return head('0', letter) + piece_for(finger, piece);
            // A piece is stored only whole.
            if (text.size() != kPieceLength) return std::nullopt;
            auto found = templates.find(finger);
            if (found == templates.end()) {
                found = templates
                            .emplace(finger, std::array<std::string, 3>{piece_for(finger, 1),
                                                                        piece_for(finger, 2),
                                                                        piece_for(finger, 3)})
                            .first;
            }
            found->second[static_cast<size_t>(piece - 1)] = std::string(text);
            return head('0', letter);
        }
        case Command::kStandAlone: {
            if (args.empty()) return std::nullopt;
            const auto selector = static_cast<StandAloneSelector>(args[0]);
            const std::string_view value = args.substr(1);
            switch (selector) {
                case StandAloneSelector::kMode:
                    if (value != "0" && value != "1") return std::nullopt;
                    standalone = value == "1";
                    return head('0', letter);
                case StandAloneSelector::kDoorTime:
                case StandAloneSelector::kAlarmTime:
                    // Times of up to four digits; the tool sends them unpadded.
                    if (!all_digits(value) || value.size() > 4) return std::nullopt;
                    (selector == StandAloneSelector::kDoorTime ? door_time : alarm_time) =
                        std::string(value);
                    return head('0', letter);
                case StandAloneSelector::kMasterCard:
                case StandAloneSelector::kDuressCard:
                case StandAloneSelector::kClearCard:
                    if (!value.empty()) return std::nullopt;
                    return head('0', letter);
                case StandAloneSelector::kReset:
                    if (!value.empty()) return std::nullopt;
                    // Takes the settings in and restarts; deaf meanwhile.
                    silent_until_us_ =
                        silence_after_reset_ms == std::numeric_limits<uint32_t>::max()
                            ? std::numeric_limits<uint64_t>::max()
                            : now_us + uint64_t{silence_after_reset_ms} * 1000;
                    return head('0', letter);
                default:
                    return std::nullopt;
            }
        }
        default:
            return std::nullopt;
    }
}

std::string Reader::short_reply(std::string_view body) const {
    std::string reply(1, kLF);
    reply.append(body);
    const uint8_t x = link::xor8(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
    reply += link::hex_byte(x);
    reply.push_back(kCR);
    return reply;
}

std::string Reader::long_reply(std::string_view body) const {
    std::string reply(1, kETX);
    reply.append(body);
    reply.push_back(kEOT);
    reply += link::crc_digits(link::crc16_arc(reply));
    reply.push_back(kCR);
    return reply;
}

std::string Reader::finish(std::string reply) {
    // Check digits: two before the CR of a short reply, four of a long one.
    const size_t digits = reply.front() == kLF ? 2 : 4;
    const size_t first = reply.size() - 1 - digits;
    if (faults.lower_case_check) {
        for (size_t i = first; i < reply.size() - 1; ++i) reply[i] = lower(reply[i]);
    }
    if (faults.bad_check) reply[reply.size() - 2] = other_digit(reply[reply.size() - 2]);
    if (faults.noise_before_reply) reply.insert(reply.begin(), char(0x55));
    return reply;
}

std::string Reader::piece_for(int finger, int piece) const {
    const auto index = static_cast<size_t>(piece - 1);
    if (const auto found = templates.find(finger); found != templates.end()) {
        return found->second[index];
    }
    // A slot never written holds a template of its own that stays the same
    // from run to run: 768 hex digits drawn from the slot number.
    uint64_t state = 0x5EED0000ull + static_cast<uint64_t>(finger);
    std::string whole;
    whole.reserve(768);
    while (whole.size() < 768) {
        uint64_t bits = splitmix64(state);
        for (int i = 0; i < 16 && whole.size() < 768; ++i, bits >>= 4) {
            whole.push_back(link::hex_digit(static_cast<unsigned>(bits & 0xF)));
        }
    }
    return whole.substr(index * 256, 256);
}

}  // namespace torvik::sim
