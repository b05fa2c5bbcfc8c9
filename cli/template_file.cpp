// SPDX-License-Identifier: MIT
#include "cli/template_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <sstream>

#include "cli/json.h"
#include "cli/text.h"
#include "link/file_io.h"
#include "link/terminal_text.h"

namespace torvik::cli {

namespace {

const char* StatusName(SlotStatus s) {
    switch (s) {
        case SlotStatus::Ok:
            return "ok";
        case SlotStatus::Empty:
            return "empty";
        case SlotStatus::Failed:
            return "failed";
    }
    return "failed";
}

std::string Hex8(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

// Tool, date, serial number and version are short; a text far longer is
// not one this tool wrote and is refused before it is copied.
constexpr size_t kMaxFieldBytes = 1024;

// A string member that must hold bytes 0..255 only.
bool BytesMember(const JsonValue& object, const char* name, std::string& out, bool required) {
    const JsonValue* v = object.member(name);
    if (v == nullptr) return !required;
    if (v->type != JsonValue::Type::String || v->text.size() > kMaxFieldBytes) return false;
    const auto bytes = Utf8ToLatin1(v->text);
    if (!bytes) return false;
    out = *bytes;
    return true;
}

}  // namespace

const TemplateSlot* TemplateFile::find(int slot) const {
    for (const auto& s : slots)
        if (s.slot == slot) return &s;
    return nullptr;
}

uint32_t Crc32(std::string_view bytes, uint32_t crc) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t SlotChecksum(const TemplateSlot& slot) {
    std::string data = std::to_string(slot.slot);
    for (const auto& piece : slot.pieces) {
        data.push_back('\0');
        data += piece;
    }
    return Crc32(data);
}

bool PiecesAreEmpty(const std::vector<std::string>& pieces) {
    for (const std::string& piece : pieces) {
        std::string_view text = piece;
        // A reply shorter than a whole piece leaves its two check digits and
        // CR at the end of the box.
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(std::min<size_t>(3, text.size()));
        for (unsigned char c : text)
            if (c > 32) return false;
    }
    return true;
}

std::string FormatTemplateFile(const TemplateFile& file) {
    std::ostringstream out;
    const auto q = [](std::string_view bytes) { return JsonQuote(Latin1ToUtf8(bytes)); };
    out << "{\n  \"format\": \"" << kTemplateFormat
        << "\",\n  \"version\": " << kTemplateFormatVersion
        << ",\n  \"encoding\": \"latin1-codepoints\",\n"
        << "  \"tool\": " << q(file.tool) << ",\n  \"date\": " << q(file.date) << ",\n"
        << "  \"reader\": {\"serial\": " << q(file.reader_serial)
        << ", \"version\": " << q(file.reader_version) << "},\n"
        << "  \"complete\": " << (file.complete ? "true" : "false") << ",\n  \"slots\": [";
    for (size_t i = 0; i < file.slots.size(); ++i) {
        const TemplateSlot& s = file.slots[i];
        out << (i ? ",\n" : "\n") << "    {\"slot\": " << s.slot << ", \"status\": \""
            << StatusName(s.status) << "\"";
        if (s.status != SlotStatus::Failed) {
            out << ",\n     \"pieces\": [";
            for (size_t p = 0; p < s.pieces.size(); ++p)
                out << (p ? ",\n                " : "") << q(s.pieces[p]);
            out << "],\n     \"crc32\": \"" << Hex8(SlotChecksum(s)) << "\"";
        }
        out << "}";
    }
    out << (file.slots.empty() ? "]\n}\n" : "\n  ]\n}\n");
    return out.str();
}

std::optional<TemplateFile> ParseTemplateFile(std::string_view text, std::string& error) {
    std::string json_error;
    const auto doc = ParseJson(text, json_error);
    if (!doc) {
        error = "not a template file: " + json_error;
        return std::nullopt;
    }
    if (doc->type != JsonValue::Type::Object) {
        error = "not a template file";
        return std::nullopt;
    }
    const JsonValue* format = doc->member("format");
    if (!format || format->type != JsonValue::Type::String || format->text != kTemplateFormat) {
        error = "not a template file (no \"format\": \"torvik-templates\")";
        return std::nullopt;
    }
    const JsonValue* version = doc->member("version");
    if (!version || version->type != JsonValue::Type::Number || version->number < 1 ||
        version->number != std::floor(version->number)) {
        error = "damaged: no format version";
        return std::nullopt;
    }
    if (version->number > kTemplateFormatVersion) {
        // Any whole number may stand there, far beyond what an integer holds.
        char number[32];
        std::snprintf(number, sizeof number, "%.15g", version->number);
        error = "format version " + std::string(number) + " is newer than this tool reads (" +
                std::to_string(kTemplateFormatVersion) + ")";
        return std::nullopt;
    }
    const JsonValue* encoding = doc->member("encoding");
    if (encoding &&
        (encoding->type != JsonValue::Type::String || encoding->text != "latin1-codepoints")) {
        error = "damaged: unknown encoding";
        return std::nullopt;
    }

    TemplateFile file;
    if (!BytesMember(*doc, "tool", file.tool, false) ||
        !BytesMember(*doc, "date", file.date, false)) {
        error = "damaged: tool or date is not a short text";
        return std::nullopt;
    }
    if (const JsonValue* reader = doc->member("reader")) {
        if (reader->type != JsonValue::Type::Object ||
            !BytesMember(*reader, "serial", file.reader_serial, false) ||
            !BytesMember(*reader, "version", file.reader_version, false)) {
            error = "damaged: reader serial or version is not a short text";
            return std::nullopt;
        }
    }
    if (const JsonValue* complete = doc->member("complete")) {
        if (complete->type != JsonValue::Type::Bool) {
            error = "damaged: \"complete\" is not true or false";
            return std::nullopt;
        }
        file.complete = complete->boolean;
    }
    const JsonValue* slots = doc->member("slots");
    if (!slots || slots->type != JsonValue::Type::Array) {
        error = "damaged: no slot list";
        return std::nullopt;
    }

    std::set<int> seen;
    for (size_t i = 0; i < slots->items.size(); ++i) {
        const JsonValue& item = slots->items[i];
        const std::string where = "entry " + std::to_string(i + 1) + " of the slot list";
        const JsonValue* number =
            item.type == JsonValue::Type::Object ? item.member("slot") : nullptr;
        if (!number || number->type != JsonValue::Type::Number || number->number < 0 ||
            number->number > 1000 || number->number != std::floor(number->number)) {
            error = "damaged: " + where + " has no slot number from 0 to 1000";
            return std::nullopt;
        }
        TemplateSlot slot;
        slot.slot = static_cast<int>(number->number);
        const std::string name = "slot " + std::to_string(slot.slot);
        const auto damaged = [&](const std::string& why) {
            error = name + " is damaged: " + why;
            return std::nullopt;
        };
        if (!seen.insert(slot.slot).second) return damaged("it appears twice");
        const JsonValue* status = item.member("status");
        if (!status || status->type != JsonValue::Type::String) return damaged("no status");
        if (status->text == "ok") {
            slot.status = SlotStatus::Ok;
        } else if (status->text == "empty") {
            slot.status = SlotStatus::Empty;
        } else if (status->text == "failed") {
            slot.status = SlotStatus::Failed;
        } else {
            return damaged("unknown status \"" + link::TerminalSafe(status->text.substr(0, 40)) +
                           (status->text.size() > 40 ? "...\"" : "\""));
        }
        if (slot.status != SlotStatus::Failed) {
            const JsonValue* pieces = item.member("pieces");
            if (!pieces || pieces->type != JsonValue::Type::Array || pieces->items.size() != 3)
                return damaged("it does not hold three pieces");
            for (size_t p = 0; p < 3; ++p) {
                const JsonValue& piece = pieces->items[p];
                // Each byte takes at most two in UTF-8.
                if (piece.type == JsonValue::Type::String &&
                    piece.text.size() > 2 * kMaxPieceBytes)
                    return damaged("piece " + std::to_string(p + 1) + " is longer than " +
                                   std::to_string(kMaxPieceBytes) + " bytes");
                const auto bytes = piece.type == JsonValue::Type::String
                                       ? Utf8ToLatin1(piece.text)
                                       : std::optional<std::string>();
                if (!bytes)
                    return damaged("piece " + std::to_string(p + 1) +
                                   " is not text of characters U+0000 to U+00FF");
                if (bytes->size() > kMaxPieceBytes)
                    return damaged("piece " + std::to_string(p + 1) + " is longer than " +
                                   std::to_string(kMaxPieceBytes) + " bytes");
                slot.pieces.push_back(*bytes);
            }
            const JsonValue* crc = item.member("crc32");
            if (!crc || crc->type != JsonValue::Type::String) return damaged("no checksum");
            if (crc->text != Hex8(SlotChecksum(slot))) return damaged("checksum does not match");
            if (slot.status == SlotStatus::Ok && PiecesAreEmpty(slot.pieces))
                slot.status = SlotStatus::Empty;
        }
        file.slots.push_back(std::move(slot));
    }
    return file;
}

std::optional<TemplateFile> LoadTemplateFile(const std::string& path, std::string& error) {
    // The name comes from the command line and goes to a terminal.
    const std::string shown = ForTerminal(path);
    // A template file of every slot is well below a megabyte; anything far
    // larger is not one.
    constexpr size_t kMaxBytes = size_t{16} << 20;
    // Only a regular file, reached without a link and opened without
    // waiting: a FIFO or a device given as template file is refused before
    // anything could block on it.
    const link::Fd dir = link::OpenDirectoryOf(path);
    std::string refusal;
    struct stat st {};
    link::Fd file;
    if (dir.valid()) file = link::OpenRegularAt(dir.get(), link::BaseNameOf(path), O_RDONLY, refusal, &st);
    if (!file.valid()) {
        error = shown + (refusal.empty() ? ": cannot be read: " + std::string(std::strerror(errno))
                                         : " " + refusal + ", not a template file");
        return std::nullopt;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxBytes) {
        error = shown + ": too large for a template file";
        return std::nullopt;
    }
    std::string text;
    text.reserve(static_cast<size_t>(st.st_size));
    if (!link::ReadAll(file.get(), text, kMaxBytes)) {
        error = shown + (text.size() > kMaxBytes ? ": too large for a template file"
                                                 : ": cannot be read");
        return std::nullopt;
    }
    std::string why;
    auto parsed = ParseTemplateFile(text, why);
    if (!parsed) error = shown + ": " + why;
    return parsed;
}

bool SaveTemplateFile(const std::string& path, const TemplateFile& file, std::string& error) {
    const std::string text = FormatTemplateFile(file);
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = path + ": cannot be written: " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, 0644);  // mkstemp makes it private; a backup is an ordinary file
    bool ok = true;
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    const int saved_errno = errno;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    error = path + ": cannot be written: " + std::strerror(ok ? errno : saved_errno);
    ::unlink(temp.c_str());
    return false;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

}  // namespace torvik::cli
