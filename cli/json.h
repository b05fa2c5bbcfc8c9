// SPDX-License-Identifier: MIT
// A small JSON reader for the template files: the whole of RFC 8259, with
// strings decoded to UTF-8. Limits keep a hostile file from exhausting the
// stack or the memory.
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

// Parses a whole document; on failure nothing, with the reason and byte
// offset in `error`.
std::optional<JsonValue> ParseJson(std::string_view text, std::string& error);

}  // namespace torvik::cli
