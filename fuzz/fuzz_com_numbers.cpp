// SPDX-License-Identifier: MIT
// The COM number file under arbitrary text, and the records the tool keeps
// in it under arbitrary names. Byte 0 chooses:
//   even: the input is a file's text. What parses is a valid set of
//         records (numbers 1..16 and identities each once, fields the file
//         can hold, sorted), and renders and parses back to itself.
//   odd:  the input is records (separated by 0x1E; fields by 0x1F: number
//         byte, identity, last-seen digits with an optional '-', device,
//         adapter), then present devices (after 0x1D, by-id names
//         separated by 0x1E). Rendering keeps exactly the records the file
//         can hold, the first of each number and identity, and nothing
//         else; numbering the present devices keeps every recorded device
//         that is present on its number and never gives one number twice.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "link/com_numbers.h"

namespace {

using namespace torvik;
using link::ComRecord;

bool Sorted(const std::vector<ComRecord>& records) {
    return std::is_sorted(records.begin(), records.end(),
                          [](const ComRecord& a, const ComRecord& b) { return a.number < b.number; });
}

void CheckValid(const std::vector<ComRecord>& records) {
    std::set<int> numbers;
    std::set<std::string> keys;
    for (const ComRecord& r : records) {
        CHECK(link::IsRepresentable(r));
        CHECK(numbers.insert(r.number).second);
        CHECK(keys.insert(r.key).second);
    }
    CHECK(Sorted(records));
}

ComRecord RecordOf(const std::string& text) {
    const std::vector<std::string> f = fuzz::Split(text, '\x1f', 5);
    ComRecord r;
    r.number = f[0].empty() ? 0 : static_cast<unsigned char>(f[0][0]) % 20;
    if (f.size() > 1) r.key = f[1];
    if (f.size() > 2) {
        std::string_view digits = f[2];
        const bool negative = !digits.empty() && digits.front() == '-';
        if (negative) digits.remove_prefix(1);
        int64_t value = 0;
        for (char c : digits.substr(0, 18)) value = value * 10 + (static_cast<unsigned char>(c) % 10);
        r.last_seen = negative ? -value : value;
    }
    if (f.size() > 3) r.device = f[3];
    if (f.size() > 4) r.adapter = f[4];
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    if ((data[0] & 1) == 0) {
        const std::vector<ComRecord> parsed = link::ParseComRecords(input);
        CheckValid(parsed);
        const std::string text = link::RenderComRecords(parsed);
        CHECK(link::IsComNumberText(text));
        CHECK(link::ParseComRecords(text) == parsed);
        return 0;
    }

    const size_t split = input.find('\x1d');
    std::vector<ComRecord> records;
    for (const std::string& r : fuzz::Split(input.substr(0, split), '\x1e', 40)) {
        records.push_back(RecordOf(r));
    }
    // Exactly the records the file can hold, the first of each number and
    // identity, come back; in the order of their numbers.
    std::vector<ComRecord> expected;
    std::set<int> numbers;
    std::set<std::string> keys;
    for (const ComRecord& r : records) {
        if (!link::IsRepresentable(r)) continue;
        if (!numbers.insert(r.number).second || !keys.insert(r.key).second) continue;
        expected.push_back(r);
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const ComRecord& a, const ComRecord& b) { return a.number < b.number; });
    const std::vector<ComRecord> back = link::ParseComRecords(link::RenderComRecords(records));
    CHECK(back == expected);

    // Numbering the present devices over what the file holds.
    if (split == std::string_view::npos) return 0;
    std::vector<link::KnownPort> present;
    std::set<std::string> present_keys;
    for (const std::string& name : fuzz::Split(input.substr(split + 1), '\x1e', 24)) {
        if (name.empty() || !present_keys.insert(name).second) continue;
        link::KnownPort port;
        port.key = name;
        port.info.device = "/dev/ttyUSB" + std::to_string(present.size());
        port.info.by_id = name;
        port.info.vendor = name;
        present.push_back(port);
    }
    std::vector<ComRecord> numbered = back;
    const auto outcome = link::AssignNumbers(numbered, present, {}, 1'800'000'000);
    std::set<int> given;
    std::set<std::string> numbered_keys;
    for (const ComRecord& r : numbered) {
        CHECK(r.number >= 1 && r.number <= link::kComNumbers);
        CHECK(given.insert(r.number).second);
        CHECK(numbered_keys.insert(r.key).second);
        CHECK(!r.device.empty() || present_keys.count(r.key) == 0);
    }
    CHECK(Sorted(numbered));
    for (const ComRecord& before : back) {
        if (present_keys.count(before.key) == 0) continue;
        const auto kept = std::find_if(numbered.begin(), numbered.end(),
                                       [&](const ComRecord& r) { return r.key == before.key; });
        CHECK(kept != numbered.end() && kept->number == before.number);
    }
    // A present device is left without a number only when all sixteen are
    // held by present devices.
    if (!outcome.unnumbered.empty()) CHECK(numbered.size() == size_t{link::kComNumbers});
    // What can be written of the new state reads back exactly.
    std::vector<ComRecord> writable;
    for (const ComRecord& r : numbered) {
        if (link::IsRepresentable(r)) writable.push_back(r);
    }
    CHECK(link::ParseComRecords(link::RenderComRecords(numbered)) == writable);
    return 0;
}
