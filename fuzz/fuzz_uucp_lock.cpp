// SPDX-License-Identifier: MIT
// What another program's lock file holds, under arbitrary bytes: the pid
// read is 0 (none) or a pid the kernel could hand out, and the usual text
// form of a pid ("%10d\n") and the old binary form read back to it. The
// lock file name of any path is one name in the lock directory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "link/uucp_lock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace torvik::link;
    const std::string contents(reinterpret_cast<const char*>(data), size);
    const int pid = lock_file_pid(contents);
    CHECK(pid >= 0);
    if (pid > 0) {
        char text[16];
        std::snprintf(text, sizeof text, "%10d\n", pid);
        CHECK(lock_file_pid(text) == pid);
        std::string binary(4, '\0');
        const int32_t value = pid;
        std::memcpy(binary.data(), &value, 4);
        if (binary.find('\0') != std::string::npos) CHECK(lock_file_pid(binary) == pid);
    }
    // A path a pin may name (looked up, never opened).
    const std::string name = lock_file_name("/nonexistent-dev/" + contents.substr(0, 200));
    CHECK(name.compare(0, 5, "LCK..") == 0);
    CHECK(name.find('/') == std::string::npos);
    return 0;
}
