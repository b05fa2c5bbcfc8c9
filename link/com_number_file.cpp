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
    std::string text;
    gid_t group = 0;
    if (ReadCurrentFile(path_, kMaxFileBytes, text, group) != CurrentFile::kRead) return {};
    return ParseComRecords(text);
}

bool ComNumberFile::update(const std::function<bool(std::vector<ComRecord>&)>& change,
                           std::vector<ComRecord>& records) const {
    const auto in_memory = [&] {
        records = load();
        return !change(records);  // nothing to write is no failure
    };
    const Fd lock = TakeLockFile(path_ + ".lock", kFileMode, kLockWaitMs);
    if (lock.get() < 0) return in_memory();
    // The lock is released when its descriptor closes, on every return below.
    std::string text;
    gid_t old_gid = 0;
    const CurrentFile current = ReadCurrentFile(path_, kMaxFileBytes, text, old_gid);
    records = current == CurrentFile::kRead ? ParseComRecords(text) : std::vector<ComRecord>{};
    if (current == CurrentFile::kUnreadable) {
        change(records);
        return false;
    }
    if (!change(records)) return true;
    RemoveTemporaries(path_, kTempInfix);

    return ReplaceFile(
        path_, kTempInfix, RenderComRecords(records), kFileMode,
        current == CurrentFile::kRead ? std::optional<gid_t>(old_gid) : std::nullopt);
}

}  // namespace torvik::link
