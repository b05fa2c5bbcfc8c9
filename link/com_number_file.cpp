// SPDX-License-Identifier: MIT
#include "link/com_number_file.h"

#include "link/file_io.h"

namespace torvik::link {
namespace {

// Sixteen lines of names; anything far larger was not written by this tool.
constexpr size_t kMaxFileBytes = size_t{64} << 10;
constexpr mode_t kFileMode = 0664;
// A save takes milliseconds; a lock held longer belongs to a stuck process.
constexpr int kLockWaitMs = 2000;
constexpr const char* kTempInfix = ".tmp-";

}  // namespace

std::string ComNumberPathBeside(const std::string& settings_path) {
    return DirectoryOf(settings_path) + "/" + kComNumberFileName;
}

std::vector<ComRecord> ComNumberFile::load() const {
    problem_.clear();
    const Fd dir = OpenDirectoryOf(path_);
    if (!dir.valid()) return {};
    std::string text, refusal;
    FileFacts facts;
    if (ReadCurrentFile(dir.get(), BaseNameOf(path_), kMaxFileBytes, text, facts, refusal) !=
        CurrentFile::kRead) {
        if (!refusal.empty()) problem_ = path_ + " " + refusal + ", not a COM number file";
        return {};
    }
    if (!IsComNumberText(text)) {
        problem_ = path_ + " is not a COM number file";
        return {};
    }
    return ParseComRecords(text);
}

bool ComNumberFile::update(const std::function<bool(std::vector<ComRecord>&)>& change,
                           std::vector<ComRecord>& records) const {
    const auto in_memory = [&] {
        records = load();
        return !change(records);  // nothing to write is no failure
    };
    const Fd dir = OpenDirectoryOf(path_);
    const std::string name = BaseNameOf(path_);
    if (!dir.valid() || name.empty()) return in_memory();
    std::string refusal;
    const Fd lock = TakeLockFile(dir.get(), name + ".lock", kFileMode, kLockWaitMs, refusal);
    if (!lock.valid()) {
        const bool wanted = in_memory();
        // Planted or left by something else: neither it nor what it leads
        // to is touched, and nothing is written without the lock.
        if (!refusal.empty()) problem_ = path_ + ".lock " + refusal + ", not a lock file";
        return wanted;
    }
    problem_.clear();
    // The lock is released when its descriptor closes, on every return below.
    std::string text;
    FileFacts old{};
    const CurrentFile current = ReadCurrentFile(dir.get(), name, kMaxFileBytes, text, old, refusal);
    const bool ours = current == CurrentFile::kRead && IsComNumberText(text);
    records = ours ? ParseComRecords(text) : std::vector<ComRecord>{};
    if (current == CurrentFile::kUnreadable || (current == CurrentFile::kRead && !ours)) {
        // Whatever else it is, it is not ours to replace.
        problem_ = path_ + (refusal.empty() ? std::string(" is not a COM number file")
                                            : " " + refusal + ", not a COM number file");
        change(records);
        return false;
    }
    if (!change(records)) return true;
    RemoveTemporaries(dir.get(), name, kTempInfix);

    // The file keeps its mode, group and owner; a new one is shared.
    return ReplaceFile(dir.get(), name, kTempInfix, RenderComRecords(records),
                       ours ? old.mode : kFileMode,
                       ours ? std::optional<FileFacts>(old) : std::nullopt);
}

}  // namespace torvik::link
