// SPDX-License-Identifier: MIT
// The reader as the front ends see it: one call per operation, with typed
// arguments and a typed result. Every call runs the operation exactly as the
// window's button does (its frames, waits, tries, beeps and busy display),
// shows its progress and outcome through the reader view (app/reader_view.h)
// and returns what it read. The window's handlers read their controls and
// call it; torvikctl calls it directly.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/message.h"

namespace torvik::app {

// Bytes as they go on the wire and come back: one byte per character.
using Bytes = std::string;

enum class Outcome {
    kSucceeded,
    kFailed,
    kRefused,   // no scan has found the reader yet: nothing was sent
    kNotFound,  // the scan found no reader
    kStopped,   // a live reading ended by the stop request
};

// The three selections of the output mode, as item indices (-1: none).
struct OutputMode {
    int interface = 0;  // 0 Wiegand, 1 RS485
    int wiegand = 0;    // 0 Wiegand 26, 1 Wiegand 34, 2 Wiegand 42
    int rs485 = 1;      // 0 RS485 24, 1 RS485 32, 2 RS485 40
    bool operator==(const OutputMode&) const = default;
};

// What the last exchanges of one opening brought back, the most telling of
// its tries (later kinds tell more).
enum class ReplyCause {
    kNotRecorded,  // no presence check was recorded
    kNothing,      // not a byte arrived
    kGarbled,      // bytes, but no valid frame
    kWrongLength,  // a valid frame of another length than 16 bytes
    kAnswered,
};

// One opening the scan tried, for telling the technician why no reader was
// found: the COM number, the device it stands for, the settings, whether it
// opened (and why not), whether the reader answered, and what came instead.
struct PortAttempt {
    int port = 0;
    std::string device;
    std::string settings;
    bool opened = false;
    std::string cause;  // why the open failed
    bool answered = false;
    ReplyCause reply = ReplyCause::kNotRecorded;
    int reply_length = 0;     // kWrongLength: the frame's length
    std::string first_bytes;  // kGarbled: the first bytes that arrived (wire bytes)
    // What the line did besides, over the presence checks of the opening:
    // the adapter gave the frames back (skipped), turnaround bytes came
    // before replies (skipped), a reply came after its budget (the most
    // milliseconds after it; -1 none), a reply was cut off; and the
    // adapter's latency timer (0 untold).
    bool echo = false;
    bool turnaround = false;
    int late_ms = -1;
    bool cut_off = false;
    uint32_t latency_ms = 0;
};

// Every result: the outcome, its text as the status line shows it, and the
// link settings in force afterwards.
struct Result {
    Outcome outcome = Outcome::kFailed;
    Message text;
    LinkSettings link;
    bool succeeded() const { return outcome == Outcome::kSucceeded; }
};

// What the scan read of the reader (text; reader bytes as characters).
struct ReaderInfo {
    std::string serial;
    std::string version;  // empty when the version query failed
    std::string id;       // the two ID characters as reported
    OutputMode mode;      // -1 where nothing was read
};

struct ScanResult : Result {
    // Set once a presence check answered, even when the version or output
    // mode could not be read afterwards (the outcome is then a failure).
    std::optional<ReaderInfo> reader;
    bool stored = false;  // the link settings found by sweeping were stored
    std::vector<PortAttempt> attempts;
};

// One reading of a live reading, as shown.
struct Reading {
    bool encoded = false;
    std::string input;   // the input character (plain reading)
    bool key = false;    // a key entry: `text` holds the keys
    std::string text;    // the ID's hex digits as received, or the key text
    uint32_t value = 0;  // the ID's value (not for key entries)
    Message display;     // what the ID panel shows
};
using ReadingSink = std::function<void(const Reading&)>;

struct ReadingResult : Result {
    long readings = 0;  // readings shown
    bool started = false;
};

using TemplatePieces = std::array<Bytes, 3>;

struct TemplateResult : Result {
    TemplatePieces pieces;  // the pieces read, in order
    int pieces_read = 0;
};

struct RawResult : Result {
    Bytes answer;
};

// Progress that a front end may show while an operation runs.
struct Progress {
    enum class Kind { kAnswerPoll } kind = Kind::kAnswerPoll;
    int count = 0;  // answer polls sent so far
};

class Reader {
  public:
    virtual ~Reader() = default;

    // Finds the reader: the stored link settings first, then COM1 to COM16,
    // all fourteen settings per port when `sweep`, else only the stored one.
    virtual ScanResult Scan(bool sweep) = 0;
    // The ID as the window holds it (two characters); blanks and control
    // characters around it are not sent.
    virtual Result SetId(const Bytes& id) = 0;
    // A settings index 0..13; -1 (no selection) sends nothing and fails.
    virtual Result SetBaudRate(int settings_index) = 0;
    virtual Result SetOutputMode(const OutputMode& mode) = 0;
    virtual Result SetCardType(int card_type) = 0;
    virtual Result SetFacility(int facility) = 0;  // 0..65535
    // Starts a live reading, plain or encoded, and returns when it has
    // ended; every reading shown is given to `sink`. Called while a reading
    // runs, it only asks that reading to stop (the window's second press).
    virtual ReadingResult ReadCards(bool encoded, const ReadingSink& sink) = 0;
    // Asks a running live reading to stop after its current poll.
    virtual void StopReading() = 0;
    virtual Result AddCard() = 0;
    // "001" + the text in a long frame, once.
    virtual RawResult RawCommand(const Bytes& text) = 0;
    virtual Result Enrol(int finger) = 0;  // 0..1000
    virtual Result Delete(int finger) = 0;
    virtual TemplateResult ReadTemplate(int finger) = 0;
    // The pieces as the boxes hold them; blanks and control characters at
    // their ends are not sent.
    virtual Result WriteTemplate(int finger, const TemplatePieces& pieces) = 0;
    virtual Result FactoryDefault() = 0;
    virtual Result StandAloneDefault() = 0;
    virtual Result StandAloneMode() = 0;
    // Door-open and alarm times as typed (digits, unpadded); blanks and
    // control characters around them are not sent.
    virtual Result SetDoorTime(const Bytes& value) = 0;
    virtual Result SetAlarmTime(const Bytes& value) = 0;
    virtual Result SetMasterCard() = 0;
    virtual Result SetDuressCard() = 0;
    virtual Result SetClearCard() = 0;

    // Told of progress (answer polls of the defaults); may be empty.
    std::function<void(const Progress&)> on_progress;
};

}  // namespace torvik::app
