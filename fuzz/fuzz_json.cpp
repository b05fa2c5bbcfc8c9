// SPDX-License-Identifier: MIT
// The JSON reader of the template files under arbitrary text: it ends
// within its limits (nesting, values, memory), and what it reads, written
// out again, reads back to the same document.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/json.h"
#include "fuzz/fuzz_check.h"

namespace {

using torvik::cli::JsonValue;

void Write(const JsonValue& v, std::string& out);

void WriteString(const std::string& s, std::string& out) {
    out += '"';
    for (const unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

void Write(const JsonValue& v, std::string& out) {
    switch (v.type) {
        case JsonValue::Type::Null:
            out += "null";
            return;
        case JsonValue::Type::Bool:
            out += v.boolean ? "true" : "false";
            return;
        case JsonValue::Type::Number: {
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", v.number);
            out += text;
            return;
        }
        case JsonValue::Type::String:
            WriteString(v.text, out);
            return;
        case JsonValue::Type::Array:
            out += '[';
            for (size_t i = 0; i < v.items.size(); ++i) {
                if (i) out += ',';
                Write(v.items[i], out);
            }
            out += ']';
            return;
        case JsonValue::Type::Object: {
            out += '{';
            bool first = true;
            for (const auto& [name, member] : v.members) {
                if (!first) out += ',';
                first = false;
                WriteString(name, out);
                out += ':';
                Write(member, out);
            }
            out += '}';
            return;
        }
    }
}

bool Same(const JsonValue& a, const JsonValue& b) {
    if (a.type != b.type) return false;
    switch (a.type) {
        case JsonValue::Type::Null:
            return true;
        case JsonValue::Type::Bool:
            return a.boolean == b.boolean;
        case JsonValue::Type::Number:
            return a.number == b.number && std::signbit(a.number) == std::signbit(b.number);
        case JsonValue::Type::String:
            return a.text == b.text;
        case JsonValue::Type::Array:
            if (a.items.size() != b.items.size()) return false;
            for (size_t i = 0; i < a.items.size(); ++i) {
                if (!Same(a.items[i], b.items[i])) return false;
            }
            return true;
        case JsonValue::Type::Object: {
            if (a.members.size() != b.members.size()) return false;
            auto i = a.members.begin();
            for (auto j = b.members.begin(); j != b.members.end(); ++i, ++j) {
                if (i->first != j->first || !Same(i->second, j->second)) return false;
            }
            return true;
        }
    }
    return false;
}

size_t Count(const JsonValue& v, int depth, int& deepest) {
    deepest = depth > deepest ? depth : deepest;
    size_t n = 1;
    for (const auto& item : v.items) n += Count(item, depth + 1, deepest);
    for (const auto& [name, member] : v.members) n += Count(member, depth + 1, deepest);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto value = torvik::cli::ParseJson(text, error);
    CHECK(value.has_value() == error.empty());
    if (!value) return 0;
    int deepest = 0;
    CHECK(Count(*value, 0, deepest) <= torvik::cli::kJsonMaxValues);
    CHECK(deepest <= torvik::cli::kJsonMaxDepth);

    std::string written;
    Write(*value, written);
    std::string again_error;
    const auto again = torvik::cli::ParseJson(written, again_error);
    CHECK(again.has_value());
    CHECK(Same(*value, *again));
    return 0;
}
