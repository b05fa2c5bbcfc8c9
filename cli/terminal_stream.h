// SPDX-License-Identifier: MIT
// torvikctl's standard output as a terminal receives it: what the reader
// sent (serial number, readings, raw answers) and names from files are
// written there, so every control character is passed on as a visible
// escape (link/terminal_text.h). Text of the tool itself has none but the
// line feed, and JSON output escapes its own, so they pass unchanged.
#pragma once
#include <streambuf>
#include <string>

namespace torvik::cli {

class TerminalSafeBuf final : public std::streambuf {
  public:
    // Passes the text on to `out`, which must outlive this buffer.
    explicit TerminalSafeBuf(std::streambuf* out) : out_(out) {}
    ~TerminalSafeBuf() override;
    TerminalSafeBuf(const TerminalSafeBuf&) = delete;
    TerminalSafeBuf& operator=(const TerminalSafeBuf&) = delete;
    std::streambuf* passes_to() const { return out_; }

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

  private:
    // Passes on what is pending, keeping back the start of a UTF-8
    // character whose other bytes have not come yet (unless `all`).
    bool pass_on(bool all);

    std::streambuf* out_;
    std::string pending_;
};

}  // namespace torvik::cli
