// SPDX-License-Identifier: MIT
// The per-machine settings file: parsing and rendering of the registry export
// text, and the key that reads a snapshot of its section at open and stores
// what was written through it at close, atomically and under a lock.
#include "app/file_settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <utility>

#include "link/file_io.h"

namespace torvik::app {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr uint32_t kBinaryType = 3;        // "hex:"
constexpr uint32_t kExpandStringType = 2;  // "hex(2):"
// A settings file holds a few short values; anything far larger is not one
// this program wrote, and is neither loaded nor overwritten.
constexpr size_t kMaxFileBytes = size_t{4} << 20;
constexpr mode_t kFileMode = 0664;

// ---------------------------------------------------------------- text helpers

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string lower_copy(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lower(c);
    return out;
}

bool istarts_with(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to 8 hexadecimal digits and nothing else.
std::optional<uint32_t> parse_hex32(std::string_view s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : s) {
        const int d = hex_digit(c);
        if (d < 0) return std::nullopt;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return value;
}

// Comma-separated bytes of one or two hexadecimal digits; empty text is no bytes.
std::optional<std::string> parse_hex_bytes(std::string_view s) {
    std::string bytes;
    s = trim(s);
    if (s.empty()) return bytes;
    while (true) {
        const size_t comma = s.find(',');
        const std::string_view token = trim(s.substr(0, comma));
        if (token.size() > 2) return std::nullopt;
        const auto value = parse_hex32(token);
        if (!value) return std::nullopt;
        bytes.push_back(static_cast<char>(*value));
        if (comma == std::string_view::npos) return bytes;
        s.remove_prefix(comma + 1);
    }
}

void append_hex_bytes(std::string& out, std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) out += ',';
        const auto b = static_cast<unsigned char>(bytes[i]);
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
}

// Reads a quoted text starting at s[0] == '"'. A backslash escapes a
// backslash or a quote; before any other character it stands for itself.
// Returns the text and the number of characters consumed, or nothing when
// the closing quote is missing.
std::optional<std::pair<std::string, size_t>> parse_quoted(std::string_view s) {
    std::string out;
    size_t i = 1;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[i + 1];
            i += 2;
        } else if (c == '"') {
            return std::make_pair(std::move(out), i + 1);
        } else {
            out += c;
            ++i;
        }
    }
    return std::nullopt;
}

void append_quoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

// ---------------------------------------------------------------- UTF-8 / UTF-16

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes strict UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
std::optional<std::vector<uint32_t>> decode_utf8(std::string_view s) {
    std::vector<uint32_t> cps;
    size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        size_t len = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (b0 < 0x80) {
            len = 1, cp = b0;
        } else if ((b0 & 0xE0) == 0xC0) {
            len = 2, cp = b0 & 0x1F, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            len = 3, cp = b0 & 0x0F, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            len = 4, cp = b0 & 0x07, min = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + len > s.size()) return std::nullopt;
        for (size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
        cps.push_back(cp);
        i += len;
    }
    return cps;
}

// UTF-16LE bytes to UTF-8, ending at the first zero unit; an odd last byte is
// ignored and an unpaired surrogate becomes U+FFFD.
std::string utf16le_to_utf8(std::string_view bytes) {
    std::string out;
    const size_t units = bytes.size() / 2;
    auto unit = [&](size_t k) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * k])) |
               (static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * k + 1])) << 8);
    };
    for (size_t k = 0; k < units; ++k) {
        const uint32_t u = unit(k);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
            const uint32_t low = unit(k + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        append_utf8(out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
    }
    return out;
}

std::string utf8_to_utf16le(const std::vector<uint32_t>& cps) {
    std::string out;
    auto put = [&](uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (uint32_t cp : cps) {
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

// ---------------------------------------------------------------- values

bool same_content(const ParsedValue& a, const ParsedValue& b) {
    if (a.value.type != b.value.type) return false;
    switch (a.value.type) {
        case ValueType::Dword:
            return a.value.dword == b.value.dword;
        case ValueType::String:
        case ValueType::ExpandString:
            return a.value.data == b.value.data;
        case ValueType::Other:
            return a.other_type == b.other_type && a.value.data == b.value.data;
    }
    return false;
}

bool name_representable(std::string_view name) {
    return name.find('\n') == std::string::npos;
}

bool section_name_representable(std::string_view name) {
    return !name.empty() && name.front() != '-' && name.find('\n') == std::string::npos;
}

// The data part of a value line, after "=". Nothing when it cannot be read.
std::optional<ParsedValue> parse_data(std::string_view data) {
    ParsedValue parsed;
    if (!data.empty() && data.front() == '"') {
        auto quoted = parse_quoted(data);
        if (!quoted || quoted->second != data.size()) return std::nullopt;
        parsed.value.type = ValueType::String;
        parsed.value.data = std::move(quoted->first);
        return parsed;
    }
    if (istarts_with(data, "dword:")) {
        const auto number = parse_hex32(data.substr(6));
        if (!number) return std::nullopt;
        parsed.value.type = ValueType::Dword;
        parsed.value.dword = *number;
        return parsed;
    }
    if (istarts_with(data, "hex")) {
        data.remove_prefix(3);
        uint32_t type = kBinaryType;
        if (!data.empty() && data.front() == '(') {
            const size_t close = data.find(')');
            if (close == std::string_view::npos) return std::nullopt;
            const auto number = parse_hex32(data.substr(1, close - 1));
            if (!number) return std::nullopt;
            type = *number;
            data.remove_prefix(close + 1);
        }
        if (data.empty() || data.front() != ':') return std::nullopt;
        auto bytes = parse_hex_bytes(data.substr(1));
        if (!bytes) return std::nullopt;
        if (type == kExpandStringType) {
            parsed.value.type = ValueType::ExpandString;
            parsed.value.data = utf16le_to_utf8(*bytes);
        } else {
            parsed.value.type = ValueType::Other;
            parsed.value.data = std::move(*bytes);
            parsed.other_type = type;
        }
        return parsed;
    }
    return std::nullopt;
}

void append_value_line(std::string& out, const ParsedValue& v) {
    if (v.name.empty()) {
        out += '@';
    } else {
        append_quoted(out, v.name);
    }
    out += '=';
    switch (v.value.type) {
        case ValueType::Dword: {
            char digits[9];
            std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(v.value.dword));
            out += "dword:";
            out += digits;
            break;
        }
        case ValueType::String:
            append_quoted(out, v.value.data);
            break;
        case ValueType::ExpandString: {
            std::string units = utf8_to_utf16le(*decode_utf8(v.value.data));
            units.append(2, '\0');
            out += "hex(2):";
            append_hex_bytes(out, units);
            break;
        }
        case ValueType::Other: {
            if (v.other_type == kBinaryType) {
                out += "hex:";
            } else {
                char tag[16];
                std::snprintf(tag, sizeof tag, "hex(%x):", static_cast<unsigned>(v.other_type));
                out += tag;
            }
            append_hex_bytes(out, v.value.data);
            break;
        }
    }
    out += '\n';
}

// Next line of text without its line feed; false at the end.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}
    bool next(std::string_view& line) {
        if (done_) return false;
        const size_t nl = text_.find('\n', pos_);
        if (nl == std::string_view::npos) {
            line = text_.substr(pos_);
            done_ = true;
        } else {
            line = text_.substr(pos_, nl - pos_);
            pos_ = nl + 1;
        }
        return true;
    }

  private:
    std::string_view text_;
    size_t pos_ = 0;
    bool done_ = false;
};

// ---------------------------------------------------------------- file helpers

using link::Fd;

bool read_all(int fd, std::string& out) {
    return link::ReadAll(fd, out, kMaxFileBytes);
}

// A save takes milliseconds; a lock held for seconds belongs to a stuck
// process.
constexpr int kLockWaitMs = 2000;
// Marks our temporary files, so that clearing those of killed saves never
// touches anything else beside the settings file.
constexpr const char* kTempInfix = ".tmp-";

// The section name of a key path given from the root ("\Software\...").
std::string section_name_of(std::string_view key_path) {
    std::string name = kSettingsRoot;
    if (key_path.empty()) return name;
    if (key_path.front() != '\\') name += '\\';
    name += key_path;
    return name;
}

const ParsedValue* find_in(const std::vector<ParsedValue>& values, std::string_view name) {
    for (const auto& v : values) {
        if (iequals(v.name, name)) return &v;
    }
    return nullptr;
}

// Sets a value in a list: an existing name keeps its spelling and position.
void set_in(std::vector<ParsedValue>& values, const ParsedValue& value) {
    for (auto& v : values) {
        if (iequals(v.name, value.name)) {
            v.value = value.value;
            v.other_type = value.other_type;
            return;
        }
    }
    values.push_back(value);
}

}  // namespace

// ---------------------------------------------------------------- parsed store

bool ParsedValue::operator==(const ParsedValue& other) const {
    return name == other.name && same_content(*this, other);
}

const ParsedValue* ParsedSection::find(std::string_view value_name) const {
    return find_in(values, value_name);
}

void ParsedSection::set(std::string_view value_name, const StoredValue& value) {
    ParsedValue v;
    v.name = std::string(value_name);
    v.value = value;
    set_in(values, v);
}

const ParsedSection* ParsedStore::find(std::string_view section_name) const {
    for (const auto& s : sections) {
        if (iequals(s.name, section_name)) return &s;
    }
    return nullptr;
}

ParsedSection& ParsedStore::find_or_add(std::string_view section_name) {
    for (auto& s : sections) {
        if (iequals(s.name, section_name)) return s;
    }
    sections.push_back(ParsedSection{std::string(section_name), {}});
    return sections.back();
}

bool is_representable(const StoredValue& value) {
    switch (value.type) {
        case ValueType::String:
            return value.data.find('\n') == std::string::npos;
        case ValueType::ExpandString:
            return value.data.find('\0') == std::string::npos &&
                   decode_utf8(value.data).has_value();
        case ValueType::Dword:
        case ValueType::Other:
            return true;
    }
    return false;
}

std::optional<ParsedStore> parse_store_text(std::string_view text) {
    LineReader lines(text);
    std::string_view line;
    if (!lines.next(line)) return std::nullopt;
    if (line.substr(0, kUtf8Bom.size()) == kUtf8Bom) line.remove_prefix(kUtf8Bom.size());
    if (trim(line) != kHeader) return std::nullopt;

    ParsedStore store;
    // Lower-case names to positions, so that large inputs stay linear.
    std::unordered_map<std::string, size_t> section_index;
    std::vector<std::unordered_map<std::string, size_t>> value_index;
    size_t current = SIZE_MAX;  // no valid section yet

    while (lines.next(line)) {
        line = trim(line);
        if (line.empty() || line.front() == ';') continue;

        if (line.front() == '[') {
            current = SIZE_MAX;
            if (line.size() < 2 || line.back() != ']') continue;
            const std::string_view name = line.substr(1, line.size() - 2);
            if (!section_name_representable(name)) continue;
            const auto [it, added] = section_index.emplace(lower_copy(name), store.sections.size());
            if (added) {
                store.sections.push_back(ParsedSection{std::string(name), {}});
                value_index.emplace_back();
            }
            current = it->second;
            continue;
        }

        if (line.front() != '"' && line.front() != '@') continue;
        std::string name;
        size_t used = 1;
        if (line.front() == '"') {
            auto quoted = parse_quoted(line);
            if (!quoted) continue;
            name = std::move(quoted->first);
            used = quoted->second;
        }
        std::string_view rest = trim(line.substr(used));
        if (rest.empty() || rest.front() != '=') continue;
        rest = trim(rest.substr(1));

        // Hexadecimal data may go on over lines ending in a backslash.
        std::string data(rest);
        if (istarts_with(rest, "hex")) {
            std::string_view more;
            while (!data.empty() && data.back() == '\\' && lines.next(more)) {
                data.pop_back();
                data += trim(more);
            }
        }

        auto parsed = parse_data(data);
        if (!parsed || current == SIZE_MAX) continue;
        parsed->name = std::move(name);
        auto& section = store.sections[current];
        const auto [it, added] =
            value_index[current].emplace(lower_copy(parsed->name), section.values.size());
        if (added) {
            section.values.push_back(std::move(*parsed));
        } else {
            auto& existing = section.values[it->second];
            existing.value = std::move(parsed->value);
            existing.other_type = parsed->other_type;
        }
    }
    return store;
}

std::string render_store_text(const ParsedStore& store) {
    std::string out(kHeader);
    out += '\n';
    for (const auto& section : store.sections) {
        if (!section_name_representable(section.name)) continue;
        out += "\n[";
        out += section.name;
        out += "]\n";
        for (const auto& v : section.values) {
            if (name_representable(v.name) && is_representable(v.value)) append_value_line(out, v);
        }
    }
    return out;
}

// ---------------------------------------------------------------- the key

class FileSettingsKey final : public SettingsKey {
  public:
    FileSettingsKey(const FileSettingsStore& store, std::string section,
                    std::vector<ParsedValue> snapshot)
        : store_(store), section_(std::move(section)), snapshot_(std::move(snapshot)) {}

    std::optional<StoredValue> query(std::string_view name) const override {
        if (const auto* v = find_in(written_, name)) return v->value;
        if (const auto* v = find_in(snapshot_, name)) return v->value;
        return std::nullopt;
    }

    bool write(std::string_view name, const StoredValue& value) override {
        if (closed_ || !name_representable(name) || !is_representable(value)) return false;
        ParsedValue v;
        v.name = std::string(name);
        v.value = value;
        set_in(written_, v);
        return true;
    }

    bool close() override {
        if (closed_) return true;
        closed_ = true;
        if (written_.empty()) return true;
        return store_.save(section_, written_);
    }

  private:
    const FileSettingsStore& store_;
    std::string section_;
    std::vector<ParsedValue> snapshot_;  // the section as it was at open
    std::vector<ParsedValue> written_;   // values set through this key
    bool closed_ = false;
};

// ---------------------------------------------------------------- the store

FileSettingsStore::FileSettingsStore(std::string path) : path_(std::move(path)) {}

void FileSettingsStore::report(const std::string& text) const {
    if (report_ && reported_.insert(text).second) report_(text);
}

std::unique_ptr<SettingsKey> FileSettingsStore::open_key(std::string_view key_path, bool create) {
    const link::Fd dir = link::OpenDirectoryOf(path_);
    const std::string name = link::BaseNameOf(path_);
    if (!dir.valid() || name.empty()) return nullptr;
    // Read and write access is required even for loading, as for a key opened
    // with full access: a user who cannot write the file gets no key at all.
    std::string refusal;
    Fd file = link::OpenRegularAt(dir.get(), name, O_RDWR, refusal);
    if (!file.valid() && refusal.empty() && errno == ENOENT && create) {
        // Ours: group-writable whatever the umask, so every user can save.
        file = link::CreateAt(dir.get(), name, O_RDWR, kFileMode);
        // Made by someone else meanwhile: take it as it is.
        if (!file.valid() && errno == EEXIST) {
            file = link::OpenRegularAt(dir.get(), name, O_RDWR, refusal);
        }
    }
    if (!file.valid()) {
        if (!refusal.empty()) report(not_used(refusal));
        return nullptr;
    }
    std::string text;
    if (!read_all(file.get(), text)) return nullptr;
    const auto parsed = parse_store_text(text);
    if (!parsed && !text.empty()) {
        report(not_used("is not a settings file"));
        return nullptr;
    }

    const std::string section = section_name_of(key_path);
    const ParsedSection* found = parsed ? parsed->find(section) : nullptr;
    if (!found && !create) return nullptr;
    return std::make_unique<FileSettingsKey>(*this, found ? found->name : section,
                                             found ? found->values : std::vector<ParsedValue>{});
}

std::string FileSettingsStore::not_used(const std::string& what) const {
    return path_ + " " + what + ": it is left as it is, and the defaults are used";
}

bool FileSettingsStore::save(const std::string& section,
                             const std::vector<ParsedValue>& written) const {
    const link::Fd dir = link::OpenDirectoryOf(path_);
    const std::string name = link::BaseNameOf(path_);
    if (!dir.valid() || name.empty()) return false;
    // Serialise savers. The lock file is shared by all users, hence 0664; a
    // read-only descriptor suffices for the lock when we cannot write it.
    std::string refusal;
    const Fd lock = link::TakeLockFile(dir.get(), name + ".lock", kFileMode, kLockWaitMs, refusal);
    if (!lock.valid()) {
        // Planted or left by something else: neither it nor what it leads to
        // is touched, and nothing is saved without the lock.
        if (!refusal.empty()) {
            report(path_ + ".lock " + refusal +
                   ", not a lock file: the settings are not saved until it is removed");
        }
        return false;  // the window must not wait on a stuck saver
    }
    // The lock is released when the descriptor closes, on every return below.
    link::RemoveTemporaries(dir.get(), name, kTempInfix);

    // Take the file as it is now, so that values saved by others since our
    // key was opened survive; only the values written through the key change.
    ParsedStore store;
    std::string text;
    link::FileFacts old{};
    const link::CurrentFile current =
        link::ReadCurrentFile(dir.get(), name, kMaxFileBytes, text, old, refusal);
    if (current == link::CurrentFile::kUnreadable) {
        if (!refusal.empty()) report(not_used(refusal));
        return false;
    }
    if (current == link::CurrentFile::kRead) {
        auto parsed = parse_store_text(text);
        // Whatever else the file is, it is not ours to replace.
        if (!parsed && !text.empty()) {
            report(not_used("is not a settings file"));
            return false;
        }
        if (parsed) store = std::move(*parsed);
    }
    ParsedSection& target = store.find_or_add(section);
    for (const auto& v : written) set_in(target.values, v);
    // A settings file keeps its mode, group and owner; a new one is shared.
    const bool existed = current == link::CurrentFile::kRead;
    return link::ReplaceFile(dir.get(), name, kTempInfix, render_store_text(store),
                             existed ? old.mode : kFileMode,
                             existed ? std::optional<link::FileFacts>(old) : std::nullopt,
                             fail_write_);
}

}  // namespace torvik::app
