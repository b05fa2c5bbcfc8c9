// SPDX-License-Identifier: MIT
#include "cli/template_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <sstream>

#include "cli/json.h"
#include "cli/text.h"
#include "link/exit_cleanup.h"
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

// The checksum of a slot in a file of version 1: number and pieces only.
uint32_t SlotChecksumV1(const TemplateSlot& slot) {
    std::string data = std::to_string(slot.slot);
    for (const auto& piece : slot.pieces) {
        data.push_back('\0');
        data += piece;
    }
    return Crc32(data);
}

// The checksum of the slot list: which slots, in which order, with which
// slot checksums, and whether the backup got to its last slot.
uint32_t ListChecksum(const TemplateFile& file) {
    std::string data = file.complete ? "complete" : "incomplete";
    for (const TemplateSlot& slot : file.slots) {
        data.push_back('\0');
        data += Hex8(SlotChecksum(slot));
    }
    return Crc32(data);
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

constexpr const char* kTempInfix = ".tmp-";

// The path of a name in the directory of `path`, as the exit cleanup
// removes it (relative names stay relative to the working directory, which
// torvikctl never changes).
std::string Beside(const std::string& path, const std::string& name) {
    return link::DirectoryOf(path) + "/" + name;
}

std::string Shown(const std::string& path) {
    return ForTerminal(path);
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
    data.push_back('\0');
    data += StatusName(slot.status);
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
        << "  \"complete\": " << (file.complete ? "true" : "false") << ",\n"
        << "  \"list_crc32\": \"" << Hex8(ListChecksum(file)) << "\",\n  \"slots\": [";
    for (size_t i = 0; i < file.slots.size(); ++i) {
        const TemplateSlot& s = file.slots[i];
        out << (i ? ",\n" : "\n") << "    {\"slot\": " << s.slot << ", \"status\": \""
            << StatusName(s.status) << "\"";
        if (s.status != SlotStatus::Failed) {
            out << ",\n     \"pieces\": [";
            for (size_t p = 0; p < s.pieces.size(); ++p)
                out << (p ? ",\n                " : "") << q(s.pieces[p]);
            out << "]";
        }
        out << ",\n     \"crc32\": \"" << Hex8(SlotChecksum(s)) << "\"}";
    }
    out << (file.slots.empty() ? "]\n}\n" : "\n  ]\n}\n");
    return out.str();
}

std::optional<TemplateFile> ParseTemplateFile(std::string_view text, const std::string& name,
                                              Said& error) {
    const auto fail = [&error](Said said) {
        error = std::move(said);
        return std::nullopt;
    };
    std::string json_error;
    const auto doc = ParseJson(text, json_error);
    if (!doc) return fail({T::kNotTemplateBecause, {name, json_error}});
    if (doc->type != JsonValue::Type::Object) return fail({T::kNotTemplate, {name}});
    const JsonValue* format = doc->member("format");
    if (!format || format->type != JsonValue::Type::String || format->text != kTemplateFormat)
        return fail({T::kNoFormatMember, {name}});
    const JsonValue* version = doc->member("version");
    if (!version || version->type != JsonValue::Type::Number || version->number < 1 ||
        version->number != std::floor(version->number))
        return fail({T::kNoVersion, {name}});
    if (version->number > kTemplateFormatVersion) {
        // Any whole number may stand there, far beyond what an integer holds.
        char number[32];
        std::snprintf(number, sizeof number, "%.15g", version->number);
        return fail({T::kNewerVersion, {name, number, std::to_string(kTemplateFormatVersion)}});
    }
    const int format_version = static_cast<int>(version->number);
    const JsonValue* encoding = doc->member("encoding");
    if (encoding &&
        (encoding->type != JsonValue::Type::String || encoding->text != "latin1-codepoints"))
        return fail({T::kUnknownEncoding, {name}});

    TemplateFile file;
    if (!BytesMember(*doc, "tool", file.tool, false) ||
        !BytesMember(*doc, "date", file.date, false))
        return fail({T::kToolOrDate, {name}});
    if (const JsonValue* reader = doc->member("reader")) {
        if (reader->type != JsonValue::Type::Object ||
            !BytesMember(*reader, "serial", file.reader_serial, false) ||
            !BytesMember(*reader, "version", file.reader_version, false))
            return fail({T::kReaderFields, {name}});
    }
    if (const JsonValue* complete = doc->member("complete")) {
        if (complete->type != JsonValue::Type::Bool) return fail({T::kCompleteNotBool, {name}});
        file.complete = complete->boolean;
    }
    const JsonValue* slots = doc->member("slots");
    if (!slots || slots->type != JsonValue::Type::Array) return fail({T::kNoSlotList, {name}});

    std::set<int> seen;
    // The slot checksums as written, for the checksum of the list.
    std::string list_data = file.complete ? "complete" : "incomplete";
    for (size_t i = 0; i < slots->items.size(); ++i) {
        const JsonValue& item = slots->items[i];
        const JsonValue* number =
            item.type == JsonValue::Type::Object ? item.member("slot") : nullptr;
        if (!number || number->type != JsonValue::Type::Number || number->number < 0 ||
            number->number > 1000 || number->number != std::floor(number->number))
            return fail({T::kNoSlotNumber, {name, std::to_string(i + 1)}});
        TemplateSlot slot;
        slot.slot = static_cast<int>(number->number);
        const auto damaged = [&](Said why) {
            return fail({T::kSlotDamaged, {name, std::to_string(slot.slot), why}});
        };
        if (!seen.insert(slot.slot).second) return damaged({T::kAppearsTwice});
        const JsonValue* status = item.member("status");
        if (!status || status->type != JsonValue::Type::String) return damaged({T::kNoStatus});
        if (status->text == "ok") {
            slot.status = SlotStatus::Ok;
        } else if (status->text == "empty") {
            slot.status = SlotStatus::Empty;
        } else if (status->text == "failed") {
            slot.status = SlotStatus::Failed;
        } else {
            return damaged({T::kUnknownStatus,
                            {link::TerminalSafe(status->text.substr(0, 40)) +
                             (status->text.size() > 40 ? "..." : "")}});
        }
        const JsonValue* pieces = item.member("pieces");
        if (slot.status == SlotStatus::Failed && pieces) return damaged({T::kFailedWithPieces});
        if (slot.status != SlotStatus::Failed) {
            if (!pieces || pieces->type != JsonValue::Type::Array || pieces->items.size() != 3)
                return damaged({T::kNotThreePieces});
            for (size_t p = 0; p < 3; ++p) {
                const JsonValue& piece = pieces->items[p];
                const std::string number_of_piece = std::to_string(p + 1);
                const Said too_long(T::kPieceTooLongBytes,
                                    {number_of_piece, std::to_string(kMaxPieceBytes)});
                // Each byte takes at most two in UTF-8.
                if (piece.type == JsonValue::Type::String &&
                    piece.text.size() > 2 * kMaxPieceBytes)
                    return damaged(too_long);
                const auto bytes = piece.type == JsonValue::Type::String
                                       ? Utf8ToLatin1(piece.text)
                                       : std::optional<std::string>();
                if (!bytes) return damaged({T::kPieceNotLatin1, {number_of_piece}});
                if (bytes->size() > kMaxPieceBytes) return damaged(too_long);
                slot.pieces.push_back(*bytes);
            }
        }
        const JsonValue* crc = item.member("crc32");
        const bool checked = format_version >= 2 || slot.status != SlotStatus::Failed;
        if (checked) {
            if (!crc || crc->type != JsonValue::Type::String) return damaged({T::kNoChecksum});
            const uint32_t want =
                format_version >= 2 ? SlotChecksum(slot) : SlotChecksumV1(slot);
            if (crc->text != Hex8(want)) return damaged({T::kChecksumMismatch});
            list_data.push_back('\0');
            list_data += crc->text;
        }
        const bool empty = slot.status != SlotStatus::Failed && PiecesAreEmpty(slot.pieces);
        if (slot.status == SlotStatus::Empty && !empty) return damaged({T::kEmptyWithTemplate});
        if (slot.status == SlotStatus::Ok && empty) slot.status = SlotStatus::Empty;
        file.slots.push_back(std::move(slot));
    }
    if (format_version >= 2) {
        const JsonValue* list = doc->member("list_crc32");
        if (!list || list->type != JsonValue::Type::String)
            return fail({T::kNoFileChecksum, {name}});
        if (list->text != Hex8(Crc32(list_data)))
            return fail({T::kFileChecksumMismatch, {name}});
    }
    return file;
}

std::optional<TemplateFile> ParseTemplateFile(std::string_view text, std::string& error) {
    Said said;
    auto file = ParseTemplateFile(text, "", said);
    if (!file) {
        error = Tr(0, said);
        // Without a name the text begins with the separator.
        if (error.rfind(": ", 0) == 0) error.erase(0, 2);
    }
    return file;
}

std::optional<TemplateFile> LoadTemplateFile(const std::string& path, Said& error) {
    // The name comes from the command line and goes to a terminal.
    const std::string shown = Shown(path);
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
    if (dir.valid())
        file = link::OpenRegularAt(dir.get(), link::BaseNameOf(path), O_RDONLY, refusal, &st);
    if (!file.valid()) {
        if (!refusal.empty()) {
            // What the name is, found without opening it.
            struct stat what {};
            const bool known =
                dir.valid() && ::fstatat(dir.get(), link::BaseNameOf(path).c_str(), &what,
                                         AT_SYMLINK_NOFOLLOW) == 0;
            error = Said(T::kNotAFile,
                         {shown, known ? KindWords(what.st_mode) : Said(T::kKindDirectory)});
        } else {
            error = Said(T::kCannotRead, {shown, std::strerror(errno)});
        }
        return std::nullopt;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxBytes) {
        error = Said(T::kTooLarge, {shown});
        return std::nullopt;
    }
    std::string text;
    text.reserve(static_cast<size_t>(st.st_size));
    if (!link::ReadAll(file.get(), text, kMaxBytes)) {
        error = text.size() > kMaxBytes ? Said(T::kTooLarge, {shown})
                                        : Said(T::kCannotRead, {shown, std::strerror(EIO)});
        return std::nullopt;
    }
    return ParseTemplateFile(text, shown, error);
}

std::optional<TemplateFile> LoadTemplateFile(const std::string& path, std::string& error) {
    Said said;
    auto file = LoadTemplateFile(path, said);
    if (!file) error = Tr(0, said);
    return file;
}

Said KindWords(mode_t mode) {
    if (S_ISLNK(mode)) return {T::kKindLink};
    if (S_ISFIFO(mode)) return {T::kKindFifo};
    if (S_ISCHR(mode) || S_ISBLK(mode)) return {T::kKindDevice};
    if (S_ISDIR(mode)) return {T::kKindDirectory};
    if (S_ISSOCK(mode)) return {T::kKindSocket};
    return {T::kKindOther};
}

OutputCheck CheckOutputPath(const std::string& path) {
    OutputCheck check;
    const std::string shown = Shown(path);
    const std::string directory = link::DirectoryOf(path);
    const link::Fd dir = link::OpenDirectoryOf(path);
    if (!dir.valid()) {
        const int error = errno;
        check.refusal = error == ENOENT || error == ENOTDIR
                            ? Said(T::kDirMissing, {shown, Shown(directory)})
                            : Said(T::kDirNotWritable,
                                   {shown, Shown(directory), std::strerror(error)});
        return check;
    }
    const std::string name = link::BaseNameOf(path);
    if (name.empty() || name == "." || name == "..") {
        check.refusal = Said(T::kNotAFile, {shown, Said(T::kKindDirectory)});
        return check;
    }
    // The temporary file and the rename need the directory.
    if (::faccessat(dir.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
        check.refusal = Said(T::kDirNotWritable, {shown, Shown(directory), std::strerror(errno)});
        return check;
    }
    struct stat st {};
    if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return check;
        check.refusal = Said(T::kCannotWrite, {shown, std::strerror(errno)});
        return check;
    }
    if (!S_ISREG(st.st_mode)) {
        check.refusal = Said(T::kNotAFile, {shown, KindWords(st.st_mode)});
        return check;
    }
    check.state = OutputState::kRegular;
    return check;
}

std::optional<Said> WriteTemplateFile(const std::string& path, const TemplateFile& file,
                                      const SaveOptions& options) {
    const std::string shown = Shown(path);
    const auto cannot = [&shown](int error) {
        return Said(T::kCannotWrite, {shown, std::strerror(error)});
    };
    const link::Fd dir = link::OpenDirectoryOf(path);
    if (!dir.valid()) return cannot(errno);
    const std::string name = link::BaseNameOf(path);
    if (name.empty() || name == "." || name == "..")
        return Said(T::kNotAFile, {shown, Said(T::kKindDirectory)});
    struct stat existing {};
    const bool exists = ::fstatat(dir.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return Said(T::kNotAFile, {shown, KindWords(existing.st_mode)});
    if (exists && !options.replace) return Said(T::kAppeared, {shown});

    const std::string text = FormatTemplateFile(file);
    std::string temp_name;
    link::Fd temp;
    for (int attempt = 0; attempt < 100 && !temp.valid(); ++attempt) {
        temp_name = name + kTempInfix + link::RandomSuffix();
        // Private: 0600, and less where the umask says so.
        temp = link::Fd(::openat(dir.get(), temp_name.c_str(),
                                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                                 0600));
        if (!temp.valid() && errno != EEXIST) return cannot(errno);
    }
    if (!temp.valid()) return cannot(EEXIST);
    struct stat made {};
    if (::fstat(temp.get(), &made) != 0 || !S_ISREG(made.st_mode)) {
        temp.reset();
        ::unlinkat(dir.get(), temp_name.c_str(), 0);
        return cannot(EINVAL);
    }
    const std::string temp_path = Beside(path, temp_name);
    link::RegisterTempPath(temp_path, false);
    // Held while the file is written: a later run that finds it unlocked
    // knows that its writer is gone.
    ::flock(temp.get(), LOCK_EX);
    const auto fail = [&](int error) {
        temp.reset();
        ::unlinkat(dir.get(), temp_name.c_str(), 0);
        link::ClearTempPath(temp_path);
        return cannot(error);
    };
    if (exists) {
        // The file replaced keeps its mode, and its group where we may give it.
        const uid_t owner = ::geteuid() == 0 ? existing.st_uid : static_cast<uid_t>(-1);
        [[maybe_unused]] const int ignored = ::fchown(temp.get(), owner, existing.st_gid);
        if (::fchmod(temp.get(), existing.st_mode & 07777) != 0) return fail(errno);
    }
    if (!link::WriteAll(temp.get(), text) || ::fsync(temp.get()) != 0) return fail(errno);
    int renamed = 0;
    if (options.replace) {
        renamed = ::renameat(dir.get(), temp_name.c_str(), dir.get(), name.c_str());
    } else {
        renamed = ::renameat2(dir.get(), temp_name.c_str(), dir.get(), name.c_str(),
                              RENAME_NOREPLACE);
        if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the flag: a link never replaces a name.
            renamed = ::linkat(dir.get(), temp_name.c_str(), dir.get(), name.c_str(), 0);
            if (renamed == 0) ::unlinkat(dir.get(), temp_name.c_str(), 0);
        }
        if (renamed != 0 && errno == EEXIST) {
            temp.reset();
            ::unlinkat(dir.get(), temp_name.c_str(), 0);
            link::ClearTempPath(temp_path);
            return Said(T::kAppeared, {shown});
        }
    }
    if (renamed != 0) return fail(errno);
    link::ClearTempPath(temp_path);
    temp.reset();
    // The rename itself made durable; the new content is in place either way.
    ::fsync(dir.get());
    return std::nullopt;
}

bool SaveTemplateFile(const std::string& path, const TemplateFile& file, std::string& error) {
    const auto refusal = WriteTemplateFile(path, file);
    if (refusal) error = Tr(0, *refusal);
    return !refusal;
}

void RemoveStaleTemporaries(const std::string& path) {
    const link::Fd dir = link::OpenDirectoryOf(path);
    const std::string name = link::BaseNameOf(path);
    if (!dir.valid() || name.empty()) return;
    const std::string prefix = name + kTempInfix;
    const int copy = ::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return;
    DIR* listing = ::fdopendir(copy);
    if (listing == nullptr) {
        ::close(copy);
        return;
    }
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view entry_name(entry->d_name);
        if (entry_name.size() != prefix.size() + 6 || entry_name.substr(0, prefix.size()) != prefix)
            continue;
        bool temporary = true;
        for (char c : entry_name.substr(prefix.size()))
            temporary = temporary && std::isalnum(static_cast<unsigned char>(c));
        if (!temporary) continue;
        std::string refusal;
        struct stat st {};
        link::Fd fd = link::OpenRegularAt(dir.get(), entry->d_name, O_RDONLY, refusal, &st);
        if (!fd.valid()) continue;  // links, FIFOs and the like are not ours
        // A save under way holds its file locked; one just made may not
        // have taken the lock yet, so only files a while old are taken.
        if (now - st.st_mtime < 2 || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        struct stat again {};
        if (::fstatat(dir.get(), entry->d_name, &again, AT_SYMLINK_NOFOLLOW) == 0 &&
            again.st_ino == st.st_ino && again.st_dev == st.st_dev)
            ::unlinkat(dir.get(), entry->d_name, 0);
    }
    ::closedir(listing);
}

std::string IncompleteName(const std::string& path) {
    const std::string name = link::BaseNameOf(path);
    constexpr std::string_view kJson = ".json";
    if (name.size() > kJson.size() && name.compare(name.size() - kJson.size(), kJson.size(), kJson) == 0)
        return path.substr(0, path.size() - kJson.size()) + ".incomplete.json";
    return path + ".incomplete";
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
