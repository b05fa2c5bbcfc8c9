// SPDX-License-Identifier: MIT
// torvikctl's command line and its slot lists under arbitrary arguments
// (the input cut at zero bytes). A command line is either refused with a
// usage error or read into commands whose numbers lie in their ranges; a
// slot list that is read holds each slot from 0 to 1000 once, and written
// out as a list reads back to itself.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace torvik::cli;

void CheckSlots(const std::vector<int>& slots) {
    std::set<int> seen;
    for (int s : slots) {
        CHECK(s >= 0 && s <= 1000);
        CHECK(seen.insert(s).second);
    }
}

void CheckCommand(const Command& c) {
    CHECK(IsCommand(c.name));
    CHECK(!CommandHelp(c.name).empty());
    CheckSlots(c.slots);
    if (c.name == "set-id") CHECK(c.number >= 1 && c.number <= 99);
    if (c.name == "set-facility") CHECK(c.number >= 0 && c.number <= 65535);
    if (c.name == "enrol" || c.name == "delete" || c.name == "template-get" ||
        c.name == "template-put")
        CHECK(c.number >= 0 && c.number <= 1000);
    if (c.name == "door-time" || c.name == "alarm-time") CHECK(c.number >= 0 && c.number <= 9999);
    if (c.name == "set-baud") CHECK(c.index >= 0 && c.index < 14);
    if (c.name == "set-card-type") CHECK(c.index >= 0 && c.index < 3);
    if (c.name == "set-mode") {
        CHECK(c.mode >= 0 && c.mode < 2);
        CHECK(c.wiegand >= 0 && c.wiegand < 3);
        CHECK(c.rs485 >= 0 && c.rs485 < 3);
    }
    if (c.count) CHECK(*c.count >= 1 && *c.count <= 1000000);
    if (c.seconds) CHECK(*c.seconds > 0 && *c.seconds <= 1e6);
    if (c.to_slot) CHECK(*c.to_slot >= 0 && *c.to_slot <= 1000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // The slot list alone.
    try {
        const std::vector<int> slots = ParseSlotList(std::string(input));
        CHECK(!slots.empty());
        CheckSlots(slots);
        std::string written;
        for (int s : slots) written += (written.empty() ? "" : ",") + std::to_string(s);
        CHECK(ParseSlotList(written) == slots);
    } catch (const UsageError& e) {
        CHECK(*e.what() != '\0');
    }

    // The whole command line.
    const std::vector<std::string> args = torvik::fuzz::Split(input, '\0');
    try {
        const Invocation inv = ParseCommandLine(args);
        if (inv.help) {
            CHECK(inv.help_topic.empty() || IsCommand(inv.help_topic));
            return 0;
        }
        if (inv.version) return 0;
        CHECK(!inv.commands.empty() || inv.list_ports);
        if (inv.com) CHECK(*inv.com >= 1 && *inv.com <= 16);
        if (inv.language) CHECK(*inv.language >= 0 && *inv.language <= 2);
        for (const Command& c : inv.commands) CheckCommand(c);
    } catch (const UsageError& e) {
        CHECK(*e.what() != '\0');
    }
    return 0;
}
