// SPDX-License-Identifier: MIT
// A small JSON reader for the template files: the whole of RFC 8259, with
// strings decoded to UTF-8. Limits keep a hostile file from exhausting the
// stack, the memory or the time: nesting at most 64 deep, at most 100 000
// values (a backup of every slot holds about 10 000), and at most 32 MiB
// for the parsed document (its values, names and texts). Numbers are read
// without regard to the locale; one beyond the range of a double is
// refused.
#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvik::cli {

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;  // String: UTF-8
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;  // a repeated name keeps the last

    const JsonValue* member(const std::string& name) const {
        const auto found = members.find(name);
        return found == members.end() ? nullptr : &found->second;
    }
};

inline constexpr int kJsonMaxDepth = 64;
inline constexpr size_t kJsonMaxValues = 100000;
inline constexpr size_t kJsonMaxBytes = size_t{32} << 20;

// Parses a whole document; on failure nothing, with the reason and byte
// offset in `error`.
std::optional<JsonValue> ParseJson(std::string_view text, std::string& error);

}  // namespace torvik::cli
