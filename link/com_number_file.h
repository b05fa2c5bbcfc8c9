// SPDX-License-Identifier: MIT
// The COM number file: the numbers of link/com_numbers.h, kept per machine
// beside the settings file and shared by all its users. Saving is all or
// nothing, as for the settings file: under an exclusive lock on
// "<path>.lock" the file is read again, the change is made to what it holds
// now (so that two copies of the tool numbering devices at once never lose
// each other's numbers), and the result goes to a temporary file in the same
// directory that is renamed over the old one, with the old file's mode,
// group and (for root) owner, 0664 for a new file. A user who may only read
// the file works with the numbers in it. As for the settings file, a COM
// number file, lock file or temporary file that is a link, a FIFO, a device
// or a directory is never opened or followed, and a file that is not a COM
// number file is never replaced.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "link/com_numbers.h"

namespace torvik::link {

// The file's name in the directory of the settings file.
inline constexpr const char* kComNumberFileName = "com-numbers";

// "/var/lib/torvik-config/com-numbers" for "/var/lib/torvik-config/settings.reg".
std::string ComNumberPathBeside(const std::string& settings_path);

class ComNumberFile {
  public:
    explicit ComNumberFile(std::string path) : path_(std::move(path)) {}

    // The records in the file; none when it is missing, unreadable, not a
    // regular file or far larger than any this tool writes.
    std::vector<ComRecord> load() const;

    // Applies `change` to the records as the file holds them under the lock;
    // when it returns true they are written back. `records` receives the
    // result either way (the loaded records changed in memory when the file
    // cannot be locked or written). False when a wanted write did not happen.
    bool update(const std::function<bool(std::vector<ComRecord>&)>& change,
                std::vector<ComRecord>& records) const;

    const std::string& path() const { return path_; }

    // Why the last load or update could not use the file or its lock ("...
    // is a symbolic link, not a lock file"); empty when it could.
    const std::string& problem() const { return problem_; }

  private:
    std::string path_;
    mutable std::string problem_;
};

}  // namespace torvik::link
