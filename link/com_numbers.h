// SPDX-License-Identifier: MIT
// The COM number each serial device keeps. The first time a device is seen
// it gets the lowest free number from 1 to 16, and it keeps that number
// while it is unplugged, so that a stored COM number finds the same adapter
// again. A device is known by the most stable name it has:
//   1. its by-id name, when the adapter has a serial number of its own;
//   2. else its by-path name, the USB socket (or PCI slot) it sits in;
//   3. else its device path (built-in UARTs).
// Two present devices that would share a name (clones with one serial
// number for all) are both known by their by-path names instead.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "link/udev_ports.h"

namespace torvik::link {

inline constexpr int kComNumbers = 16;

// One number given to a device, as kept in the COM number file.
struct ComRecord {
    int number = 0;         // 1..16
    std::string key;        // the device's identity
    int64_t last_seen = 0;  // seconds since 1970 (UTC) when it was last present
    std::string device;     // its device path when it was last present
    std::string adapter;    // vendor and model when it was last present
    bool operator==(const ComRecord&) const = default;
};

// A present device with its identity.
struct KnownPort {
    std::string key;
    PortInfo info;
};

// The identity by the rules above, without the shared-name rule.
std::string IdentityOf(const PortInfo& port);

// The identities of the present devices, in their order, with the
// shared-name rule applied.
std::vector<KnownPort> IdentifyPorts(const std::vector<PortInfo>& ports);

// A number given again: it belonged to a device absent since `old_last_seen`.
struct Reuse {
    int number = 0;
    ComRecord old_record;
    std::string new_key;
};

struct AssignOutcome {
    bool changed = false;                 // the records differ from before
    std::vector<int> given;               // numbers given to devices seen for the first time
    std::vector<Reuse> reused;            // of these, numbers taken from long-absent devices
    std::vector<std::string> unnumbered;  // keys left without a number (all 16 present)
};

// Brings the records up to date with the present devices at time `now`:
// a present device with a record gets its last-seen time (kept to the
// minute, so that the file is not rewritten at every look), device path and
// adapter refreshed (with blanks for control characters, which the file
// cannot hold); a device without one gets the lowest number that is
// neither recorded nor in `reserved` (numbers pinned to a path for this
// run). When all are taken, the number of the device absent longest (the
// oldest last-seen time, the lower number on a tie) is given again; when
// every recorded device is present, the new device stays without a number.
// Records stay sorted by number.
AssignOutcome AssignNumbers(std::vector<ComRecord>& records, const std::vector<KnownPort>& present,
                            const std::set<int>& reserved, int64_t now);

// Whether the file can hold a record exactly: a number from 1 to 16, an
// identity that is not empty, a last-seen time that is not negative, and
// no control character (tab, line feed, carriage return, escape, ...) in
// identity, device or adapter. An identity that carries one is odd (a
// hostile USB string, a made-up device) but must not become another
// device's identity by being cleaned up: such a record keeps its number
// for the run only.
bool IsRepresentable(const ComRecord& record);

// The file text of the records, one line per number, and back. Rendering
// leaves out records the file cannot hold, and repeated numbers or
// identities (the first stands), so that every record written reads back
// exactly. Parsing is total: lines that cannot be read, numbers outside
// 1..16, repeated numbers or identities (the first stands) and fields
// holding a control character are skipped whole.
std::string RenderComRecords(const std::vector<ComRecord>& records);
std::vector<ComRecord> ParseComRecords(std::string_view text);

// Whether a file's text is one this tool wrote: it begins with the line
// the tool writes first (an empty file counts as one without records).
bool IsComNumberText(std::string_view text);

// "2026-12-09 01:40 UTC"; "never" for 0.
std::string FormatUtc(int64_t seconds);

}  // namespace torvik::link
