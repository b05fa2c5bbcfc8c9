// SPDX-License-Identifier: MIT
// The template file under arbitrary text, and the writer under arbitrary
// backups. Byte 0 chooses:
//   even: the input is a file's text. What is read writes out and reads
//         back to the same file, and any refusal says why in a text safe
//         for a terminal.
//   odd:  the input is a backup (fields separated by 0x1F: tool, date,
//         serial, version, then per slot a number byte pair, a status
//         byte and three pieces separated by 0x1E, slots separated by
//         0x1D). What the writer makes reads back to the same backup.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/template_file.h"
#include "fuzz/fuzz_check.h"
#include "link/terminal_text.h"

namespace {

using namespace torvik::cli;

// Longer than any field of the longest reply (264 bytes).
constexpr size_t kMaxReplyField = 264;

bool SameSlots(const TemplateFile& a, const TemplateFile& b) {
    if (a.slots.size() != b.slots.size()) return false;
    for (size_t i = 0; i < a.slots.size(); ++i) {
        const TemplateSlot& x = a.slots[i];
        const TemplateSlot& y = b.slots[i];
        if (x.slot != y.slot || x.status != y.status) return false;
        // A failed slot keeps no pieces in the file.
        if (x.status != SlotStatus::Failed && x.pieces != y.pieces) return false;
    }
    return true;
}

bool Same(const TemplateFile& a, const TemplateFile& b) {
    return a.tool == b.tool && a.date == b.date && a.reader_serial == b.reader_serial &&
           a.reader_version == b.reader_version && a.complete == b.complete && SameSlots(a, b);
}

TemplateFile BackupOf(std::string_view input) {
    TemplateFile file;
    const std::vector<std::string> parts = torvik::fuzz::Split(input, '\x1d', 40);
    const std::vector<std::string> head = torvik::fuzz::Split(parts[0], '\x1f', 5);
    file.tool = head[0];
    if (head.size() > 1) file.date = head[1];
    if (head.size() > 2) file.reader_serial = head[2];
    if (head.size() > 3) file.reader_version = head[3];
    file.complete = head.size() > 4;
    // The tool's name and the date are the tool's own, the serial number
    // and version come from a reply: none is longer than a reply can be.
    for (std::string* field : {&file.tool, &file.date, &file.reader_serial, &file.reader_version})
        field->resize(std::min(field->size(), kMaxReplyField));
    std::set<int> seen;
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string& s = parts[i];
        if (s.size() < 3) continue;
        TemplateSlot slot;
        slot.slot = (static_cast<unsigned char>(s[0]) * 256 + static_cast<unsigned char>(s[1])) % 1001;
        if (!seen.insert(slot.slot).second) continue;
        slot.status = static_cast<SlotStatus>(static_cast<unsigned char>(s[2]) % 3);
        if (slot.status != SlotStatus::Failed) {
            slot.pieces = torvik::fuzz::Split(std::string_view(s).substr(3), '\x1e', 3);
            slot.pieces.resize(3);
            for (auto& piece : slot.pieces) piece.resize(std::min(piece.size(), kMaxPieceBytes));
            // A slot's status follows what it holds, as a backup decides it:
            // empty when the pieces hold nothing, read otherwise.
            slot.status = PiecesAreEmpty(slot.pieces) ? SlotStatus::Empty : SlotStatus::Ok;
        }
        file.slots.push_back(slot);
    }
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string error;
    if ((data[0] & 1) == 0) {
        const auto file = ParseTemplateFile(input, error);
        if (!file) {
            CHECK(!error.empty());
            CHECK(torvik::link::IsTerminalSafe(error));
            return 0;
        }
        const std::string text = FormatTemplateFile(*file);
        const auto again = ParseTemplateFile(text, error);
        CHECK(again.has_value());
        CHECK(Same(*file, *again));
        CHECK(FormatTemplateFile(*again) == text);
        return 0;
    }
    const TemplateFile backup = BackupOf(input);
    const auto back = ParseTemplateFile(FormatTemplateFile(backup), error);
    CHECK(back.has_value());
    CHECK(Same(backup, *back));
    return 0;
}
