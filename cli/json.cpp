// SPDX-License-Identifier: MIT
#include "cli/json.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace torvik::cli {

namespace {

// What a value costs beyond its own record, for the memory limit: a
// member's node in the map.
constexpr size_t kMemberOverhead = 64;

class Parser {
  public:
    Parser(std::string_view text, std::string& error) : s_(text), error_(error) {}

    std::optional<JsonValue> document() {
        JsonValue v;
        if (!value(v, 0)) return std::nullopt;
        skip_space();
        if (pos_ != s_.size()) return fail("text after the end of the document");
        return v;
    }

  private:
    std::nullopt_t fail(const char* what) {
        if (error_.empty()) error_ = std::string(what) + " at byte " + std::to_string(pos_);
        return std::nullopt;
    }
    bool failed(const char* what) {
        fail(what);
        return false;
    }
    void skip_space() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) return failed("unknown word");
        pos_ += word.size();
        return true;
    }

    // Counts a value (and `extra` bytes it holds) against the limits.
    bool spend(size_t extra) {
        if (++values_ > kJsonMaxValues) return failed("too many values");
        bytes_ += sizeof(JsonValue) + extra;
        if (bytes_ > kJsonMaxBytes) return failed("too large");
        return true;
    }

    bool value(JsonValue& v, int depth) {
        if (depth > kJsonMaxDepth) return failed("nesting too deep");
        if (!spend(0)) return false;
        skip_space();
        if (pos_ >= s_.size()) return failed("unexpected end");
        const char c = s_[pos_];
        if (c == '{') return object(v, depth);
        if (c == '[') return array(v, depth);
        if (c == '"') {
            v.type = JsonValue::Type::String;
            return string(v.text) && spend_bytes(v.text.size());
        }
        if (c == 't' || c == 'f') {
            v.type = JsonValue::Type::Bool;
            v.boolean = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            v.type = JsonValue::Type::Null;
            return literal("null");
        }
        return number(v);
    }

    bool object(JsonValue& v, int depth) {
        v.type = JsonValue::Type::Object;
        ++pos_;
        skip_space();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skip_space();
            if (pos_ >= s_.size() || s_[pos_] != '"') return failed("expected a member name");
            std::string name;
            if (!string(name) || !spend_bytes(name.size() + kMemberOverhead)) return false;
            skip_space();
            if (pos_ >= s_.size() || s_[pos_] != ':') return failed("expected ':'");
            ++pos_;
            JsonValue member;
            if (!value(member, depth + 1)) return false;
            v.members[name] = std::move(member);
            skip_space();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == '}') {
                ++pos_;
                return true;
            }
            return failed("expected ',' or '}'");
        }
    }

    bool array(JsonValue& v, int depth) {
        v.type = JsonValue::Type::Array;
        ++pos_;
        skip_space();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            JsonValue item;
            if (!value(item, depth + 1)) return false;
            v.items.push_back(std::move(item));
            skip_space();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == ']') {
                ++pos_;
                return true;
            }
            return failed("expected ',' or ']'");
        }
    }

    bool spend_bytes(size_t bytes) {
        bytes_ += bytes;
        if (bytes_ > kJsonMaxBytes) return failed("too large");
        return true;
    }

    bool hex4(uint32_t& out) {
        if (pos_ + 4 > s_.size()) return failed("short \\u escape");
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = s_[pos_++];
            out <<= 4;
            if (h >= '0' && h <= '9') {
                out |= static_cast<uint32_t>(h - '0');
            } else if (h >= 'a' && h <= 'f') {
                out |= static_cast<uint32_t>(h - 'a' + 10);
            } else if (h >= 'A' && h <= 'F') {
                out |= static_cast<uint32_t>(h - 'A' + 10);
            } else {
                return failed("bad \\u escape");
            }
        }
        return true;
    }

    static void put_utf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    bool string(std::string& out) {
        ++pos_;  // opening quote
        for (;;) {
            if (pos_ >= s_.size()) return failed("unterminated string");
            const auto c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) return failed("control character in a string");
            if (c != '\\') {
                // A run of plain characters in one piece.
                size_t end = pos_ + 1;
                while (end < s_.size() && s_[end] != '"' && s_[end] != '\\' &&
                       static_cast<unsigned char>(s_[end]) >= 0x20) {
                    ++end;
                }
                out.append(s_, pos_, end - pos_);
                pos_ = end;
                continue;
            }
            ++pos_;
            if (pos_ >= s_.size()) return failed("unterminated string");
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(e);
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u': {
                    uint32_t cp = 0;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        uint32_t low = 0;
                        if (s_.substr(pos_, 2) != "\\u") return failed("lone surrogate");
                        pos_ += 2;
                        if (!hex4(low)) return false;
                        if (low < 0xDC00 || low > 0xDFFF) return failed("lone surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return failed("lone surrogate");
                    }
                    put_utf8(out, cp);
                    break;
                }
                default:
                    return failed("bad escape");
            }
        }
    }

    bool number(JsonValue& v) {
        const size_t start = pos_;
        if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
        const auto digits = [&] {
            const size_t from = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
            return pos_ - from;
        };
        const size_t first_digit = pos_;
        const size_t integer_digits = digits();
        if (integer_digits == 0) return failed("unexpected character");
        if (integer_digits > 1 && s_[first_digit] == '0') return failed("bad number");
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            if (digits() == 0) return failed("bad number");
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (digits() == 0) return failed("bad number");
        }
        v.type = JsonValue::Type::Number;
        // The C locale's form whatever the program's locale is.
        const char* first = s_.data() + start;
        const char* last = s_.data() + pos_;
        const auto [end, ec] = std::from_chars(first, last, v.number);
        if (ec == std::errc::result_out_of_range) return failed("number out of range");
        if (ec != std::errc{} || end != last || !std::isfinite(v.number)) {
            return failed("bad number");
        }
        return true;
    }

    std::string_view s_;
    std::string& error_;
    size_t pos_ = 0;
    size_t values_ = 0;
    size_t bytes_ = 0;
};

}  // namespace

std::optional<JsonValue> ParseJson(std::string_view text, std::string& error) {
    error.clear();
    return Parser(text, error).document();
}

}  // namespace torvik::cli
