// SPDX-License-Identifier: MIT
// The procfs and sysfs texts the tool reads about other programs and the
// system's ports, under arbitrary text. Byte 0 chooses:
//   0: a /proc/PID/stat line: the name is what stands between the first
//      '(' and the last ')', and the fields written out again read back;
//   1: a sysfs "dev" file: the device number written out reads back;
//   2: a line of /proc/locks: a holder's pid is positive, and the line
//      written in the kernel's form reads back;
//   3: tty_nr as the kernel encodes it: decoding and encoding agree.
#include <sys/sysmacros.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "link/proc_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace torvik::link;
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
        case 0: {
            StatFields f;
            if (!ParseStatLine(text, f)) return 0;
            const size_t open = text.find('(');
            const size_t close = text.rfind(')');
            CHECK(f.name == text.substr(open + 1, close - open - 1));
            const std::string line = "812 (" + f.name + ") S 1 " + std::to_string(f.session) +
                                     " " + std::to_string(f.session) + " " +
                                     std::to_string(f.tty_nr) + " -1 4194560\n";
            StatFields back;
            CHECK(ParseStatLine(line, back));
            CHECK(back.name == f.name && back.session == f.session && back.tty_nr == f.tty_nr);
            return 0;
        }
        case 1: {
            dev_t device = 0;
            if (!ParseDeviceNumber(text, device)) return 0;
            dev_t back = 0;
            CHECK(ParseDeviceNumber(std::to_string(major(device)) + ":" +
                                        std::to_string(minor(device)) + "\n",
                                    back));
            CHECK(back == device);
            return 0;
        }
        case 2: {
            LockLine lock;
            if (!ParseLocksLine(text, lock)) return 0;
            CHECK(lock.pid > 0);
            CHECK(!lock.kind.empty() && lock.kind != "->");
            char line[160];
            std::snprintf(line, sizeof line, "7: %s  ADVISORY  WRITE %d %02x:%02x:%llu 0 EOF",
                          lock.kind.substr(0, 40).c_str(), lock.pid, major(lock.device),
                          minor(lock.device), static_cast<unsigned long long>(lock.inode));
            LockLine back;
            // A kind the line can be written with (no blank, colon or zero byte).
            if (lock.kind.size() <= 40 &&
                lock.kind.find_first_of(std::string(" \t\n:\0", 5)) == std::string::npos) {
                CHECK(ParseLocksLine(line, back));
                CHECK(back.pid == lock.pid && back.device == lock.device &&
                      back.inode == lock.inode && back.kind == lock.kind);
            }
            return 0;
        }
        default: {
            long long nr = 0;
            for (const char c : text.substr(0, 8)) nr = (nr << 8) | static_cast<unsigned char>(c);
            const dev_t device = DecodeTtyNr(nr);
            const unsigned maj = major(device), min = minor(device);
            CHECK(maj <= 0xfff);
            const long long encoded = static_cast<long long>(
                (min & 0xffu) | (maj << 8) | (static_cast<unsigned long long>(min & ~0xffu) << 12));
            CHECK(DecodeTtyNr(encoded) == device);
            return 0;
        }
    }
}
