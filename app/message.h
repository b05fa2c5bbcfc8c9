// SPDX-License-Identifier: MIT
// A text the window shows, composed of message catalogue rows and literal
// pieces ("Get Reader Info Ok. (COM" + " : #3)"), kept as its parts so that
// it is rendered in the language in force at the moment it is shown, and so
// that every front end renders it the same way.
#pragma once
#include <string>
#include <vector>

namespace torvik::app {

class Message {
  public:
    struct Piece {
        int row = -1;      // a catalogue row, or -1 for a literal
        std::string text;  // the literal (UTF-8)
        bool operator==(const Piece&) const = default;
    };

    Message() = default;
    static Message Row(int row) { return Message().add_row(row); }

    Message& add_row(int row) {
        pieces_.push_back({row, {}});
        return *this;
    }
    Message& add_text(std::string text) {
        pieces_.push_back({-1, std::move(text)});
        return *this;
    }

    // The text in a language column (0 English, 1 Simplified, 2 Traditional).
    std::string Render(int language) const;
    bool empty() const { return pieces_.empty(); }
    // The catalogue row the text begins with, -1 when none.
    int first_row() const { return pieces_.empty() ? -1 : pieces_.front().row; }
    const std::vector<Piece>& pieces() const { return pieces_; }
    bool operator==(const Message&) const = default;

  private:
    std::vector<Piece> pieces_;
};

}  // namespace torvik::app
