// SPDX-License-Identifier: MIT
#include "cli/terminal_stream.h"

#include "link/terminal_text.h"

namespace torvik::cli {
namespace {

// Where the last complete UTF-8 character of `text` ends: a lead byte in
// the last three bytes whose character runs past the end is held back.
size_t CompleteUpTo(const std::string& text) {
    const size_t n = text.size();
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(text[n - back]);
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        size_t len = 1;
        if ((c & 0xE0) == 0xC0) len = 2;
        if ((c & 0xF0) == 0xE0) len = 3;
        if ((c & 0xF8) == 0xF0) len = 4;
        return len > back ? n - back : n;
    }
    return n;
}

}  // namespace

TerminalSafeBuf::~TerminalSafeBuf() {
    pass_on(true);
    out_->pubsync();
}

TerminalSafeBuf::int_type TerminalSafeBuf::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    pending_ += traits_type::to_char_type(c);
    if (pending_.back() == '\n' && !pass_on(false)) return traits_type::eof();
    return c;
}

std::streamsize TerminalSafeBuf::xsputn(const char* s, std::streamsize n) {
    pending_.append(s, static_cast<size_t>(n));
    if (pending_.find('\n') != std::string::npos || pending_.size() >= 4096) {
        if (!pass_on(false)) return 0;
    }
    return n;
}

int TerminalSafeBuf::sync() {
    return pass_on(false) && out_->pubsync() == 0 ? 0 : -1;
}

bool TerminalSafeBuf::pass_on(bool all) {
    const size_t upto = all ? pending_.size() : CompleteUpTo(pending_);
    if (upto == 0) return true;
    const std::string safe = link::TerminalSafe(std::string_view(pending_).substr(0, upto));
    pending_.erase(0, upto);
    const auto size = static_cast<std::streamsize>(safe.size());
    return out_->sputn(safe.data(), size) == size;
}

}  // namespace torvik::cli
