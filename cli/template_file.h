// SPDX-License-Identifier: MIT
// The fingerprint template file of torvikctl: per slot the three pieces
// exactly as read from the reader, with the reader's serial number and
// version, the date, the tool's version and checksums over everything that
// decides what a restore sends.
//
// Format "torvik-templates", version 2, a JSON object:
//   {"format": "torvik-templates", "version": 2,
//    "encoding": "latin1-codepoints",
//    "tool": "torvikctl 4.1.1", "date": "2026-12-09T01:41:14Z",
//    "reader": {"serial": "12345678", "version": "04.01-01"},
//    "complete": true, "list_crc32": "5D0C3A1E",
//    "slots": [{"slot": 1, "status": "ok", "pieces": ["..", "..", ".."],
//               "crc32": "1C291CA3"},
//              {"slot": 2, "status": "failed", "crc32": "0A1B2C3D"}, ...]}
// Every byte of a piece (and of serial and version) is written as the
// Unicode character of the same value (U+0000 to U+00FF), so bytes 0x80 to
// 0xFF travel unchanged whatever reads the file. "status" is "ok", "empty"
// (the reader sent no piece text for the slot; skipped at restore) or
// "failed" (the read did not succeed; no pieces; skipped at restore).
// A slot's "crc32" is the CRC-32 (IEEE 802.3) in eight upper-case hex
// digits of the slot number in decimal, a zero byte, the status word, and
// for each piece a zero byte and the piece, all as bytes. "list_crc32" is
// the CRC-32 of "complete" or "incomplete" followed, for each slot in the
// file's order, by a zero byte and the slot's crc32 digits: a slot added,
// removed, moved or relabelled, or "complete" changed, does not match.
// "complete" is false when the backup stopped before its last slot.
//
// Version 1 files are still read: there a slot's crc32 covers the slot
// number and pieces only (no status, failed slots have none) and there is
// no list_crc32; a status that contradicts the pieces is refused.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/texts.h"

namespace torvik::cli {

inline constexpr const char* kTemplateFormat = "torvik-templates";
inline constexpr int kTemplateFormatVersion = 2;
inline constexpr size_t kMaxPieceBytes = 256;

enum class SlotStatus { Ok, Empty, Failed };

struct TemplateSlot {
    int slot = 0;
    SlotStatus status = SlotStatus::Ok;
    std::vector<std::string> pieces;  // three, as bytes; none when failed
};

struct TemplateFile {
    std::string tool;
    std::string date;
    std::string reader_serial;
    std::string reader_version;
    bool complete = true;
    std::vector<TemplateSlot> slots;

    const TemplateSlot* find(int slot) const;
};

uint32_t Crc32(std::string_view bytes, uint32_t crc = 0);
// The checksum of a slot as the current format writes it.
uint32_t SlotChecksum(const TemplateSlot& slot);

// Whether the pieces as read stand for an empty slot: no piece carries any
// text once the reply's own check digits and CR (which a short reply leaves
// in the box) are taken off.
bool PiecesAreEmpty(const std::vector<std::string>& pieces);

std::string FormatTemplateFile(const TemplateFile& file);
// Parses and checks every slot; on any fault nothing, with a text that
// names the damaged slot where there is one (`name` stands for the file).
std::optional<TemplateFile> ParseTemplateFile(std::string_view text, const std::string& name,
                                              Said& error);
// The same with the error in English and without the file's name.
std::optional<TemplateFile> ParseTemplateFile(std::string_view text, std::string& error);

// Reads and parses a file; the error names the file.
std::optional<TemplateFile> LoadTemplateFile(const std::string& path, Said& error);
std::optional<TemplateFile> LoadTemplateFile(const std::string& path, std::string& error);

// How a template file is written:
//  - through a temporary file beside it (NAME.tmp-XXXXXX, removed however
//    this process ends, short of SIGKILL) renamed over it, so a file of the
//    same name is replaced whole or not at all;
//  - a new file is private: created 0600, narrowed further by the umask;
//    a file that is replaced keeps its mode (and group, where allowed);
//  - a name that is a link, a FIFO, a device or a directory is refused
//    untouched;
//  - without `replace`, a file that exists by the time of the rename is
//    left as it is and the save fails (kAppeared).
struct SaveOptions {
    bool replace = true;
};
// Nothing when saved; otherwise why not.
std::optional<Said> WriteTemplateFile(const std::string& path, const TemplateFile& file,
                                      const SaveOptions& options = {});
// The same with the error in English.
bool SaveTemplateFile(const std::string& path, const TemplateFile& file, std::string& error);

// Temporary files of earlier saves of `path` that a killed process left
// (NAME.tmp-XXXXXX, regular files that no save holds), removed. A save
// holds its temporary file locked while it writes.
void RemoveStaleTemporaries(const std::string& path);

// Where a backup keeps its slots until its last slot is done:
// "door3.json" -> "door3.incomplete.json", "door3" -> "door3.incomplete".
std::string IncompleteName(const std::string& path);

// What is at a path a template file is to be written to.
enum class OutputState { kAbsent, kRegular };
// Checks that a template file can be written at `path`: its directory
// exists and may be written, and the name is absent or a regular file
// (looked at without following a link): what is there, or why not.
struct OutputCheck {
    std::optional<Said> refusal;
    OutputState state = OutputState::kAbsent;
};
OutputCheck CheckOutputPath(const std::string& path);

// What kind of a file a mode stands for, as words of the text table.
Said KindWords(mode_t mode);

// The current time as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcNow();

}  // namespace torvik::cli
