// SPDX-License-Identifier: MIT
// Invariants of the fuzz targets that crash when broken, and the ways the
// text-parser targets cut their input.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace torvik::fuzz {

// A broken invariant is a crash for the fuzzer; the message names it.
[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}

// The input cut at every `separator`, as a command line is cut into
// arguments; at most `limit` pieces.
inline std::vector<std::string> Split(std::string_view input, char separator, size_t limit = 64) {
    std::vector<std::string> pieces;
    while (pieces.size() < limit) {
        const size_t at = input.find(separator);
        pieces.emplace_back(input.substr(0, at));
        if (at == std::string_view::npos) break;
        input.remove_prefix(at + 1);
    }
    return pieces;
}

}  // namespace torvik::fuzz

#define CHECK(cond) ((cond) ? void(0) : ::torvik::fuzz::Fail(__FILE__, __LINE__, #cond))
