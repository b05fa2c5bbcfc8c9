// SPDX-License-Identifier: MIT
// The fingerprint template file of torvikctl: per slot the three pieces
// exactly as read from the reader, with the reader's serial number and
// version, the date, the tool's version and a checksum per slot.
//
// Format "torvik-templates", version 1, a JSON object:
//   {"format": "torvik-templates", "version": 1,
//    "encoding": "latin1-codepoints",
//    "tool": "torvikctl 4.1.1", "date": "2026-12-09T01:41:14Z",
//    "reader": {"serial": "12345678", "version": "04.01-01"},
//    "complete": true,
//    "slots": [{"slot": 1, "status": "ok", "pieces": ["..", "..", ".."],
//               "crc32": "1C291CA3"}, ...]}
// Every byte of a piece (and of serial and version) is written as the
// Unicode character of the same value (U+0000 to U+00FF), so bytes 0x80 to
// 0xFF travel unchanged whatever reads the file. "status" is "ok", "empty"
// (the reader sent no piece text for the slot; skipped at restore) or
// "failed" (the read did not succeed; no pieces; skipped at restore).
// "crc32" is the CRC-32 (IEEE 802.3) in eight upper-case hex digits of the
// slot number in decimal, a zero byte, piece 1, a zero byte, piece 2, a zero
// byte and piece 3, all as bytes. "complete" is false when the backup was
// stopped before its last slot.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvik::cli {

inline constexpr const char* kTemplateFormat = "torvik-templates";
inline constexpr int kTemplateFormatVersion = 1;
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
uint32_t SlotChecksum(const TemplateSlot& slot);

// Whether the pieces as read stand for an empty slot: no piece carries any
// text once the reply's own check digits and CR (which a short reply leaves
// in the box) are taken off.
bool PiecesAreEmpty(const std::vector<std::string>& pieces);

std::string FormatTemplateFile(const TemplateFile& file);
// Parses and checks every slot; on any fault nothing, with a text that
// names the damaged slot where there is one.
std::optional<TemplateFile> ParseTemplateFile(std::string_view text, std::string& error);

// Reads and parses a file; the error names the file.
std::optional<TemplateFile> LoadTemplateFile(const std::string& path, std::string& error);
// Writes through a temporary file in the same directory and a rename, so a
// file of the same name is replaced whole or not at all.
bool SaveTemplateFile(const std::string& path, const TemplateFile& file, std::string& error);

// The current time as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcNow();

}  // namespace torvik::cli
