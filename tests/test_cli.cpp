// SPDX-License-Identifier: MIT
// torvikctl over the window model and the in-process simulated reader on a
// virtual clock: the frames of every command against the window's button
// presses, the JSON output, exit statuses, template files, the stop request
// and live readings ended by count.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>

#include "app/text.h"
#include "cli/call_check.h"
#include "cli/command_line.h"
#include "cli/json.h"
#include "cli/session.h"
#include "cli/template_file.h"
#include "cli/text.h"
#include "tests/harness.h"
#include "tests/scratch_dir.h"

namespace torvik::test {
namespace {

using app::TfrmModule;

struct CliRun {
    int status = -1;
    std::string out, err;
};

// The reader as found on COM3 by the stored settings, as after an earlier
// run; neither side has scanned yet.
void Prepare(Harness& h) {
    auto& key = h.store.keys["\\Software\\KELDO\\ReaderConfig"];
    key["ScanCommNo"] = {app::ValueType::Dword, 3, {}};
    key["ScanBaudRate"] = {app::ValueType::String, 0, "19200,e,8,1"};
    key["ScanBaudRateNo"] = {app::ValueType::Dword, 5, {}};
    h.start();
}

CliRun RunCli(Harness& h, const std::vector<std::string>& args,
              const volatile std::sig_atomic_t* stop = nullptr, bool progress = false) {
    const cli::Invocation inv = cli::ParseCommandLine(args);
    std::ostringstream out, err;
    cli::SessionOptions options;
    options.json = inv.json;
    options.stop_requests = stop;
    options.progress = progress;
    options.errors_shown = [&h] { return static_cast<int>(h.errors.shown.size()); };
    cli::Session session(h.form, out, err, std::move(options));
    h.pump.every = [&session] { session.Poll(); };
    CliRun run;
    run.status = session.Run(inv.commands);
    h.pump.every = nullptr;
    run.out = out.str();
    run.err = err.str();
    return run;
}

std::vector<cli::JsonValue> JsonLines(const std::string& out) {
    std::vector<cli::JsonValue> objects;
    std::istringstream in(out);
    std::string line, error;
    while (std::getline(in, line)) {
        auto v = cli::ParseJson(line, error);
        EXPECT_TRUE(v) << line << ": " << error;
        if (v) objects.push_back(*v);
    }
    return objects;
}

// Every frame with the virtual time its last byte left.
std::vector<std::pair<std::string, uint64_t>> Wire(const Harness& h) {
    std::vector<std::pair<std::string, uint64_t>> frames;
    for (const auto& f : h.line.frames) frames.emplace_back(f.payload, f.at_us);
    return frames;
}

std::array<std::string, 3> HighBytePieces(int seed) {
    std::array<std::string, 3> pieces;
    for (int p = 0; p < 3; ++p) {
        for (int i = 0; i < 256; ++i) {
            // Bytes 0x80..0xFF and printable ASCII; none of the frame's own
            // control characters, none that trimming would take off the ends.
            const int v = (i + 37 * p + seed) % 223;
            pieces[static_cast<size_t>(p)].push_back(
                static_cast<char>(v < 128 ? 0x80 + v : 0x21 + (v - 128)));
        }
    }
    return pieces;
}

cli::TemplateFile FileOf(std::vector<std::pair<int, std::array<std::string, 3>>> slots) {
    cli::TemplateFile file;
    file.tool = "torvikctl test";
    file.date = "2026-01-01T00:00:00Z";
    for (auto& [slot, pieces] : slots) {
        cli::TemplateSlot s;
        s.slot = slot;
        s.pieces.assign(pieces.begin(), pieces.end());
        file.slots.push_back(s);
    }
    return file;
}

// ---------------------------------------------------------------- wire

struct WireCase {
    const char* name;
    std::vector<std::string> args;
    std::function<void(TfrmModule&)> window;  // the technician at the window
};

TEST(CliWire, EveryCommandSendsTheWindowsFramesAtTheWindowsTimes) {
    TempDir dir;
    const std::string put_file = (dir.dir / "put.json").string();
    const auto pieces = HighBytePieces(3);
    std::string error;
    ASSERT_TRUE(
        cli::SaveTemplateFile(put_file, FileOf({{4, pieces}, {6, HighBytePieces(6)}}), error));
    const std::string get_file = (dir.dir / "get.json").string();
    const std::string backup_file = (dir.dir / "backup.json").string();

    const auto put = [](TfrmModule& f, int slot, const std::array<std::string, 3>& p) {
        f.user_set_position(f.sbFingerNo, slot);
        // Typed text is characters; each byte of a piece is the character of its code.
        f.user_set_text(f.edF1, app::TextOfBytes(p[0]));
        f.user_set_text(f.edF2, app::TextOfBytes(p[1]));
        f.user_set_text(f.edF3, app::TextOfBytes(p[2]));
        f.press(f.btnPutTemplate);
    };
    const std::vector<WireCase> cases = {
        {"scan", {"scan"}, [](TfrmModule&) {}},
        {"sweep", {"scan", "--sweep"}, [](TfrmModule& f) { f.user_set_checked(f.chkLock, false); }},
        {"info", {"info"}, [](TfrmModule&) {}},
        {"set-id",
         {"set-id", "42"},
         [](TfrmModule& f) {
             f.user_set_position(f.sbID, 42);
             f.press(f.btnID);
         }},
        {"set-baud",
         {"set-baud", "38400,e"},
         [](TfrmModule& f) {
             f.user_set_index(f.cmbBaudRate, 7);
             f.press(f.btnBaudRate);
         }},
        {"set-mode",
         {"set-mode", "rs485", "W34", "R40"},
         [](TfrmModule& f) {
             f.user_set_index(f.cmbMode, 1);
             f.user_set_index(f.cmbWiegand, 1);
             f.user_set_index(f.cmbRS485, 2);
             f.press(f.btnMode);
         }},
        {"set-card-type",
         {"set-card-type", "keldo"},
         [](TfrmModule& f) {
             f.user_set_index(f.cmbCardType, 1);
             f.press(f.btnCardType);
         }},
        {"set-facility",
         {"set-facility", "1234"},
         [](TfrmModule& f) {
             f.user_set_position(f.sbFacility, 1234);
             f.press(f.btnFacility);
         }},
        {"enrol+delete",
         {"enrol", "7", "delete", "7"},
         [](TfrmModule& f) {
             f.user_set_position(f.sbFingerNo, 7);
             f.press(f.btnAdd);
             f.press(f.btnDel);
         }},
        {"template-get",
         {"template-get", "3", get_file},
         [](TfrmModule& f) {
             f.user_set_position(f.sbFingerNo, 3);
             f.press(f.btnGetTemplate);
         }},
        {"template-put",
         {"template-put", "4", put_file},
         [&](TfrmModule& f) { put(f, 4, pieces); }},
        {"backup",
         {"backup", backup_file, "--slots", "2,5-6"},
         [](TfrmModule& f) {
             for (int slot : {2, 5, 6}) {
                 f.user_set_position(f.sbFingerNo, slot);
                 f.press(f.btnGetTemplate);
             }
         }},
        {"restore --to-slot",
         {"restore", put_file, "--slots", "6", "--to-slot", "9"},
         [&](TfrmModule& f) { put(f, 9, HighBytePieces(6)); }},
        {"factory-default", {"factory-default"}, [](TfrmModule& f) { f.press(f.btnFactory); }},
        {"stand-alone",
         {"standalone-mode", "door-time", "12", "alarm-time", "45", "master-card", "duress-card",
          "clear-card", "standalone-default"},
         [](TfrmModule& f) {
             f.press(f.btnStand);
             f.user_set_text(f.edDoor, "0012");
             f.press(f.btnDoor);
             f.user_set_text(f.edAlarm, "0045");
             f.press(f.btnAlarm);
             f.press(f.btnSetCard);
             f.press(f.btnDuress);
             f.press(f.btnClrCard);
             f.press(f.btnStandDefault);
         }},
        {"raw",
         {"raw", "AB12"},
         [](TfrmModule& f) {
             f.user_set_text(f.edCRCmd, "AB12");
             f.press(f.btnCRCmd);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness window;
        Prepare(window);
        window.form.press(window.form.btnScan);
        c.window(window.form);

        Harness cli;
        Prepare(cli);
        const CliRun run = RunCli(cli, c.args);
        EXPECT_EQ(run.status, cli::kExitOk) << run.out << run.err;
        EXPECT_EQ(Wire(cli), Wire(window));
        EXPECT_EQ(cli.beep_tones(), window.beep_tones());
        EXPECT_EQ(cli.form.pnMsg.caption(), window.form.pnMsg.caption());
        EXPECT_EQ(cli.reader.templates, window.reader.templates);
    }
}

// ---------------------------------------------------------------- JSON

TEST(CliJson, OneObjectPerOperationWithTheFieldsRead) {
    TempDir dir;
    const std::string file = (dir.dir / "t.json").string();
    Harness h;
    h.reader.serial =
        "AB\xC4"
        "D5678";  // a byte above 0x7F in a reader field
    h.reader.id = 7;
    h.reader.templates[2] = HighBytePieces(1);
    Prepare(h);
    const CliRun run =
        RunCli(h, {"--json", "set-mode", "wiegand", "W42", "R24", "template-get", "2", file});
    ASSERT_EQ(run.status, cli::kExitOk) << run.out << run.err;
    const auto objects = JsonLines(run.out);
    ASSERT_EQ(objects.size(), 3u) << run.out;

    const cli::JsonValue& scan = objects[0];
    EXPECT_EQ(scan.member("operation")->text, "scan");
    EXPECT_EQ(scan.member("outcome")->text, "ok");
    EXPECT_EQ(scan.member("text")->text, "Get Reader Info Ok. (COM : #3)");
    EXPECT_EQ(scan.member("serial")->text,
              "AB\xC3\x84"
              "D5678");  // U+00C4 in UTF-8
    EXPECT_EQ(scan.member("version")->text, "04.01-01");
    EXPECT_EQ(scan.member("id")->text, "07");
    EXPECT_EQ(scan.member("mode")->member("interface")->text, "wiegand");
    EXPECT_EQ(scan.member("mode")->member("rs485")->text, "R32");

    EXPECT_EQ(objects[1].member("operation")->text, "set-mode");
    EXPECT_EQ(objects[1].member("text")->text, "Set Mode Ok");
    EXPECT_EQ(objects[1].member("mode")->member("wiegand")->text, "W42");

    const cli::JsonValue& get = objects[2];
    EXPECT_EQ(get.member("operation")->text, "template-get");
    EXPECT_EQ(get.member("outcome")->text, "ok");
    ASSERT_EQ(get.member("template")->items.size(), 3u);
    for (size_t p = 0; p < 3; ++p)
        EXPECT_EQ(cli::Utf8ToLatin1(get.member("template")->items[p].text),
                  h.reader.templates[2][p]);
}

TEST(CliJson, TextsInTheChosenLanguage) {
    Harness h;
    Prepare(h);
    h.form.state.language = 2;  // as --lang zh-hant sets it
    h.form.FormShow();
    const CliRun run = RunCli(h, {"--json", "set-id", "5"});
    const auto objects = JsonLines(run.out);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[1].member("text")->text, "設定編號完成");
}

// ---------------------------------------------------------------- exit statuses

struct StatusCase {
    const char* name;
    std::function<void(Harness&)> setup;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> outcomes;  // of every object, the first scan's included
};

TEST(CliStatus, ExitStatusesTellSuccessFailureAndNoReader) {
    const std::vector<StatusCase> cases = {
        {"all ok",
         [](Harness&) {},
         {"--json", "set-id", "3", "set-card-type", "em"},
         0,
         {"ok", "ok", "ok"}},
        {"no reader",
         [](Harness& h) { h.line.set_port(3, doubles::FakeLine::PortKind::Silent); },
         {"--json", "set-id", "3"},
         2,
         {"not-found", "not-run"}},
        {"failed command",
         [](Harness& h) { h.reader.faults.refuse.insert("I00C"); },
         {"--json", "set-id", "3", "set-card-type", "em"},
         1,
         {"ok", "failed", "not-run"}},
        {"stand-alone command before standalone-mode",
         [](Harness&) {},
         {"--json", "door-time", "10"},
         64,
         {"not-run"}},
        {"reading ended by a silent reader",
         [](Harness& h) { h.pump.at_ms(5000, [&h] { h.reader.faults.drop_replies = true; }); },
         {"--json", "read"},
         1,
         {"ok", "failed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        c.setup(h);
        Prepare(h);
        const CliRun run = RunCli(h, c.args);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        const auto objects = JsonLines(run.out);
        std::vector<std::string> outcomes;
        for (const auto& o : objects) outcomes.push_back(o.member("outcome")->text);
        EXPECT_EQ(outcomes, c.outcomes) << run.out;
    }
}

TEST(CliStatus, UsageErrorsAreRefusedBeforeAnything) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"set-id"},
        {"set-id", "0"},
        {"set-id", "100"},
        {"set-id", "5x"},
        {"set-baud", "19200,x,8,1"},
        {"set-mode", "wiegand", "W26"},
        {"set-mode", "serial", "W26", "R24"},
        {"set-card-type", "mifare"},
        {"set-facility", "65536"},
        {"enrol", "1001"},
        {"read", "--count", "0"},
        {"read", "--seconds", "-1"},
        {"read", "--seconds", "nan"},
        {"backup", "f.json", "--slots", "5-3"},
        {"backup", "f.json", "--slots", "1,,2"},
        {"restore", "f.json", "--slots", "1-2", "--to-slot", "3"},
        {"door-time", "10000"},
        {"scan", "--encoded"},
        {"--lang", "fr", "info"},
        {"--com", "17", "info"},
        {"--bogus", "info"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_THROW(cli::ParseCommandLine(args), cli::UsageError) << joined;
    }
    Harness h;
    Prepare(h);
    const CliRun run = RunCli(h, {"raw", std::string(41, 'A')});
    EXPECT_EQ(run.status, cli::kExitUsage);
    EXPECT_TRUE(h.line.frames.empty());
}

TEST(CliStatus, SlotListsAndRawTextsAreTakenAsWritten) {
    EXPECT_EQ(cli::ParseSlotList("1-3,7,2,10-11"), (std::vector<int>{1, 2, 3, 7, 10, 11}));
    EXPECT_EQ(cli::ParseSlotList("0"), (std::vector<int>{0}));
    EXPECT_EQ(cli::ParseSlotList("1000"), (std::vector<int>{1000}));
    // A raw text that looks like a command or an option is the text.
    const auto inv = cli::ParseCommandLine({"raw", "scan", "raw", "-x", "info"});
    ASSERT_EQ(inv.commands.size(), 3u);
    EXPECT_EQ(inv.commands[0].text, "scan");
    EXPECT_EQ(inv.commands[1].text, "-x");
    EXPECT_EQ(inv.commands[2].name, "info");
}

// ---------------------------------------------------------------- files

TEST(CliTemplates, RoundTripFromReaderToFileToReaderKeepsEveryByte) {
    TempDir dir;
    const std::string file = (dir.dir / "backup.json").string();
    Harness a;
    a.reader.serial = "AAAA1111";
    for (int slot : {1, 2, 3}) a.reader.templates[slot] = HighBytePieces(slot);
    Prepare(a);
    CliRun run = RunCli(a, {"backup", file, "--slots", "1-3"});
    ASSERT_EQ(run.status, cli::kExitOk) << run.out << run.err;

    std::string error;
    const auto loaded = cli::LoadTemplateFile(file, error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(loaded->reader_serial, "AAAA1111");
    EXPECT_EQ(loaded->reader_version, "04.01-01");
    EXPECT_TRUE(loaded->complete);
    ASSERT_EQ(loaded->slots.size(), 3u);

    Harness b;
    b.reader.serial = "BBBB2222";
    Prepare(b);
    run = RunCli(b, {"restore", file});
    ASSERT_EQ(run.status, cli::kExitOk) << run.out << run.err;
    for (int slot : {1, 2, 3}) {
        EXPECT_EQ(b.reader.templates[slot], a.reader.templates[slot]) << "slot " << slot;
    }

    // One slot moved to another number.
    Harness c;
    Prepare(c);
    run = RunCli(c, {"restore", file, "--slots", "2", "--to-slot", "40"});
    ASSERT_EQ(run.status, cli::kExitOk) << run.out << run.err;
    EXPECT_EQ(c.reader.templates.count(2), 0u);
    EXPECT_EQ(c.reader.templates[40], a.reader.templates[2]);
}

TEST(CliTemplates, EmptySlotIsRecordedAndSkippedAtRestore) {
    TempDir dir;
    const std::string file = (dir.dir / "backup.json").string();
    Harness a;
    a.reader.templates[4] = {"", "", ""};
    a.reader.templates[5] = HighBytePieces(5);
    Prepare(a);
    ASSERT_EQ(RunCli(a, {"backup", file, "--slots", "4-5"}).status, cli::kExitOk);
    std::string error;
    const auto loaded = cli::LoadTemplateFile(file, error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(loaded->find(4)->status, cli::SlotStatus::Empty);
    EXPECT_EQ(loaded->find(5)->status, cli::SlotStatus::Ok);

    Harness b;
    Prepare(b);
    const CliRun run = RunCli(b, {"restore", file});
    ASSERT_EQ(run.status, cli::kExitOk) << run.out << run.err;
    for (const auto& f : b.line.frames)
        EXPECT_NE(f.payload.rfind("I00P000004", 0), 0u) << "slot 4 was written: " << f.payload;
    EXPECT_EQ(b.reader.templates[5], a.reader.templates[5]);
    // One empty template is nothing to write: refused before anything is sent.
    EXPECT_EQ(RunCli(b, {"template-put", "4", file}).status, cli::kExitUsage);
}

struct Damage {
    const char* name;
    std::function<void(std::string&)> apply;
    const char* names;  // what the message must mention
};

TEST(CliTemplates, DamagedFileIsRefusedBeforeAnythingIsSent) {
    TempDir dir;
    const std::string file = (dir.dir / "t.json").string();
    // Whole pieces of 256 characters, as the reader takes them; slot 7's
    // second piece begins with "DEF".
    const std::string p1(256, 'A'), p2 = "DEF" + std::string(253, 'E'), p3(256, 'G');
    const std::string good =
        cli::FormatTemplateFile(FileOf({{1, HighBytePieces(1)}, {7, {p1, p2, p3}}}));
    const auto replace = [](std::string from, std::string to) {
        return [from, to](std::string& text) {
            const size_t at = text.find(from);
            ASSERT_NE(at, std::string::npos) << from;
            text.replace(at, from.size(), to);
        };
    };
    const std::vector<Damage> damages = {
        {"piece changed", replace("\"DEF", "\"DEX"), "slot 7"},
        {"checksum changed", [](std::string& t) { t[t.rfind("\"crc32\": \"") + 10] ^= 1; },
         "slot 7"},
        {"piece missing", replace("\"" + p2 + "\",", ""), "slot 7"},
        {"character above U+00FF", replace("\"DEF", "\"DE\\u0100"), "slot 7"},
        {"slot twice", replace("\"slot\": 7", "\"slot\": 1"), "slot 1"},
        {"slot number out of range", replace("\"slot\": 7", "\"slot\": 1001"), "slot number"},
        {"cut short", [](std::string& t) { t.resize(t.size() / 2); }, "not a template file"},
        {"newer format", replace("\"version\": 2", "\"version\": 3"), "newer"},
        {"other file", [](std::string& t) { t = "{\"hello\": 1}"; }, "not a template file"},
        {"status unknown", replace("\"status\": \"ok\"", "\"status\": \"good\""), "slot 1"},
    };
    for (const auto& d : damages) {
        SCOPED_TRACE(d.name);
        std::string text = good;
        d.apply(text);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        Harness h;
        Prepare(h);
        const CliRun run = RunCli(h, {"--json", "restore", file});
        EXPECT_EQ(run.status, cli::kExitUsage);
        EXPECT_TRUE(h.line.opens.empty()) << "the port was opened";
        EXPECT_TRUE(h.line.frames.empty()) << "a frame was sent";
        EXPECT_NE(run.out.find(d.names), std::string::npos) << run.out;
    }
    // The undamaged text is taken.
    std::ofstream(file, std::ios::binary | std::ios::trunc) << good;
    Harness h;
    Prepare(h);
    EXPECT_EQ(RunCli(h, {"restore", file}).status, cli::kExitOk);
}

TEST(CliTemplates, FileTextIsJsonWithEachByteAsItsOwnCodePoint) {
    cli::TemplateFile file = FileOf({{0, {std::string("\x80\xFF\"\\\x01", 5), "", "z"}}});
    file.reader_serial = "\xE9";
    const std::string text = cli::FormatTemplateFile(file);
    // U+0080 is a control character of the C1 set: escaped, as U+0001 is.
    EXPECT_NE(text.find("\"\\u0080\xC3\xBF\\\"\\\\\\u0001\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"serial\": \"\xC3\xA9\""), std::string::npos);
    std::string error;
    const auto back = cli::ParseTemplateFile(text, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->slots[0].pieces[0], std::string("\x80\xFF\"\\\x01", 5));
    EXPECT_EQ(back->reader_serial, "\xE9");
}

// ---------------------------------------------------------------- stop and read

TEST(CliStop, StopRequestDuringBackupEndsBetweenSlotsAndKeepsWhatWasRead) {
    TempDir dir;
    const std::string file = (dir.dir / "b.json").string();
    Harness h;
    Prepare(h);
    volatile std::sig_atomic_t stop = 0;
    // A slot takes about 2.5 s: the request arrives during the second slot's
    // wait between the prepare command and its first piece.
    h.pump.at_ms(4200, [&stop] { stop = 1; });
    const CliRun run = RunCli(h, {"backup", file, "--slots", "1-5"}, &stop);
    EXPECT_EQ(run.status, cli::kExitFailed);
    EXPECT_FALSE(h.form.cursor_busy());
    // The slots read are kept beside the file under a name that says so.
    EXPECT_FALSE(std::filesystem::exists(file));
    std::string error;
    const auto loaded = cli::LoadTemplateFile(cli::IncompleteName(file), error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_FALSE(loaded->complete);
    ASSERT_EQ(loaded->slots.size(), 2u);
    EXPECT_EQ(loaded->slots[1].slot, 2);
    EXPECT_EQ(loaded->slots[1].status, cli::SlotStatus::Ok);
    // The slot under way was read to its end; nothing of slot 3 went out.
    EXPECT_EQ(h.line.frames.back().payload, "I00P0000023");
    for (const auto& f : h.line.frames) EXPECT_EQ(f.payload.find("I00P000003"), std::string::npos);
}

TEST(CliStop, StopRequestDuringRestoreNeverCutsATemplateWrite) {
    TempDir dir;
    const std::string file = (dir.dir / "r.json").string();
    std::string error;
    ASSERT_TRUE(cli::SaveTemplateFile(
        file, FileOf({{1, HighBytePieces(1)}, {2, HighBytePieces(2)}, {3, HighBytePieces(3)}}),
        error));
    // A first run tells when the first slot's second piece goes out; the
    // virtual clock repeats it exactly.
    uint64_t inside_write_ms = 0;
    {
        Harness dry;
        Prepare(dry);
        ASSERT_EQ(RunCli(dry, {"restore", file}).status, cli::kExitOk);
        for (const auto& f : dry.line.frames)
            if (f.payload.rfind("I00P0000012", 0) == 0) inside_write_ms = f.at_us / 1000;
        ASSERT_GT(inside_write_ms, 0u);
    }
    Harness h;
    Prepare(h);
    volatile std::sig_atomic_t stop = 0;
    h.pump.at_ms(inside_write_ms, [&stop] { stop = 1; });
    const CliRun run = RunCli(h, {"restore", file}, &stop);
    EXPECT_EQ(run.status, cli::kExitFailed);
    EXPECT_EQ(h.reader.templates[1], HighBytePieces(1));  // written whole
    EXPECT_EQ(h.reader.templates.count(2), 0u);
}

TEST(CliRead, ReadEndsAfterCountReadingsWithOneLineEach) {
    Harness h;
    h.reader.card_every_ms = 700;
    Prepare(h);
    CliRun run = RunCli(h, {"read", "--count", "3"});
    ASSERT_EQ(run.status, cli::kExitOk) << run.out << run.err;
    int lines = 0;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("ID : ", 0) == 0) ++lines;
    EXPECT_EQ(lines, 3) << run.out;
    EXPECT_FALSE(h.form.state.reading);
    EXPECT_FALSE(h.form.core.reading_loop);
    EXPECT_FALSE(h.line.is_open());

    // The same in JSON, encoded, and by time.
    Harness e;
    e.reader.card_every_ms = 700;
    Prepare(e);
    run = RunCli(e, {"--json", "read", "--encoded", "--count", "2"});
    ASSERT_EQ(run.status, cli::kExitOk) << run.out;
    auto objects = JsonLines(run.out);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[1].member("cards")->items.size(), 2u);

    Harness t;
    Prepare(t);
    const uint64_t start = t.clock.now_us();
    run = RunCli(t, {"--json", "read", "--seconds", "2.5"});
    ASSERT_EQ(run.status, cli::kExitOk) << run.out;
    objects = JsonLines(run.out);
    EXPECT_EQ(objects[1].member("cards")->items.size(), 0u);
    const uint64_t took_ms = (t.clock.now_us() - start) / 1000;
    EXPECT_GE(took_ms, 2500u);
    EXPECT_LT(took_ms, 4500u);  // virtual time: scan, reading, one last cycle
}

TEST(CliRead, StopRequestEndsTheReadingAsItsButtonWould) {
    Harness h;
    h.reader.card_every_ms = 400;
    Prepare(h);
    volatile std::sig_atomic_t stop = 0;
    h.pump.at_ms(3000, [&stop] { stop = 1; });
    const CliRun run = RunCli(h, {"--json", "read", "info"}, &stop);
    EXPECT_EQ(run.status, cli::kExitFailed);  // info was not run
    const auto objects = JsonLines(run.out);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[1].member("outcome")->text, "ok");
    EXPECT_EQ(objects[2].member("outcome")->text, "not-run");
    EXPECT_FALSE(h.form.state.reading);
    EXPECT_EQ(h.beep_tones().back(), app::kHighBeepHz);  // the normal end of a reading
}

TEST(CliTemplates, ToSlotTakesTheOnlySlotOrNeedsOneChosen) {
    TempDir dir;
    const std::string one = (dir.dir / "one.json").string();
    const std::string two = (dir.dir / "two.json").string();
    std::string error;
    ASSERT_TRUE(cli::SaveTemplateFile(one, FileOf({{5, HighBytePieces(5)}}), error));
    ASSERT_TRUE(cli::SaveTemplateFile(two, FileOf({{5, HighBytePieces(5)}, {6, HighBytePieces(6)}}),
                                      error));
    Harness h;
    Prepare(h);
    EXPECT_EQ(RunCli(h, {"restore", one, "--to-slot", "77"}).status, cli::kExitOk);
    EXPECT_EQ(h.reader.templates[77], HighBytePieces(5));

    Harness refused;
    Prepare(refused);
    const CliRun run = RunCli(refused, {"restore", two, "--to-slot", "77"});
    EXPECT_EQ(run.status, cli::kExitUsage);
    EXPECT_NE(run.err.find("holds 2 slots"), std::string::npos) << run.err;
    EXPECT_TRUE(refused.line.frames.empty());
}

TEST(CliTemplates, ARunThatReadsNothingLeavesAnEarlierFileAlone) {
    TempDir dir;
    const std::string file = (dir.dir / "door3.json").string();
    std::ofstream(file) << "an earlier backup";
    // --force: an existing file is otherwise refused before the scan.
    const std::vector<std::vector<std::string>> runs = {
        {"backup", file, "--slots", "1-2", "--force"},
        {"template-get", "1", file, "--force"},
    };
    for (const auto& args : runs) {
        Harness h;
        Prepare(h);
        h.reader.faults.refuse = {"I00P"};
        const CliRun run = RunCli(h, args);
        EXPECT_EQ(run.status, cli::kExitFailed) << run.out;
        std::ifstream in(file);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, "an earlier backup");
        EXPECT_NE(run.out.find("not written"), std::string::npos) << run.out;
    }
}

TEST(CliTemplates, BackupRecordsFailedSlotsAndGivesUpAfterTenInARow) {
    TempDir dir;
    const std::string file = (dir.dir / "b.json").string();
    Harness h;
    Prepare(h);
    h.reader.faults.refuse = {"I00P000002", "I00P00002"};  // slots 2 and 20 to 29 never answer
    const CliRun run = RunCli(h, {"--json", "backup", file, "--slots", "1-3,20-40"});
    EXPECT_EQ(run.status, cli::kExitFailed);
    std::string error;
    const std::string kept = cli::IncompleteName(file);
    const auto saved = cli::LoadTemplateFile(kept, error);
    ASSERT_TRUE(saved) << error;
    EXPECT_FALSE(saved->complete);
    ASSERT_EQ(saved->slots.size(), 13u);  // 1, 2, 3 and ten failed from 20
    EXPECT_EQ(saved->find(1)->status, cli::SlotStatus::Ok);
    EXPECT_EQ(saved->find(2)->status, cli::SlotStatus::Failed);
    EXPECT_EQ(saved->find(3)->status, cli::SlotStatus::Ok);
    EXPECT_EQ(saved->find(29)->status, cli::SlotStatus::Failed);
    EXPECT_EQ(saved->find(30), nullptr);
    const auto objects = JsonLines(run.out);
    EXPECT_NE(objects.back().member("text")->text.find("failed slots: 2,20,21"), std::string::npos)
        << run.out;

    // Restoring the file writes the good slots and skips the failed ones;
    // the file is incomplete, which restore takes only when told.
    Harness b;
    Prepare(b);
    const CliRun restore = RunCli(b, {"restore", kept, "--allow-incomplete"});
    EXPECT_EQ(restore.status, cli::kExitOk) << restore.out;
    EXPECT_EQ(b.reader.templates.size(), 2u);
}

TEST(CliProgress, ProgressLineOnlyOnATerminal) {
    TempDir dir;
    const std::string file = (dir.dir / "b.json").string();
    Harness h;
    Prepare(h);
    CliRun run = RunCli(h, {"backup", file, "--slots", "1-2"}, nullptr, true);
    EXPECT_NE(run.err.find("backup: slot 2, 1 of 2 done"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - 4), "\r\033[K");  // cleared at the end
    EXPECT_EQ(run.out.find('\033'), std::string::npos);

    Harness d;
    Prepare(d);
    run = RunCli(d, {"factory-default"}, nullptr, true);
    EXPECT_EQ(run.status, cli::kExitOk) << run.out;
    EXPECT_NE(run.err.find("factory-default: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(" polls, "), std::string::npos) << run.err;

    Harness quiet;
    Prepare(quiet);
    run = RunCli(quiet, {"backup", (dir.dir / "quiet.json").string(), "--slots", "1-2"});
    EXPECT_EQ(run.err, "");
}

TEST(CliTiming, FiftySlotBackupTakesExactlyTheWindowsTime) {
    TempDir dir;
    const std::string file = (dir.dir / "fifty.json").string();
    Harness window;
    Prepare(window);
    window.form.press(window.form.btnScan);
    const uint64_t scan_us = window.clock.now_us();
    for (int slot = 1; slot <= 50; ++slot) {
        window.form.user_set_position(window.form.sbFingerNo, slot);
        window.form.press(window.form.btnGetTemplate);
    }
    const uint64_t window_us = window.clock.now_us();

    Harness h;
    Prepare(h);
    const CliRun run = RunCli(h, {"backup", file, "--slots", "1-50"});
    ASSERT_EQ(run.status, cli::kExitOk) << run.err;
    EXPECT_EQ(h.clock.now_us(), window_us);  // torvikctl adds no wait of its own

    // Per slot the fixed waits are 2400 ms and the outcome beep 300 ms; the
    // rest is the wire at 19200,e.
    const uint64_t backup_us = window_us - scan_us;
    const uint64_t waits_us = 50 * (2400 + 300) * 1000ull;
    std::printf("50-slot backup: %.1f s (virtual clock), mandated waits %.1f s\n", backup_us / 1e6,
                waits_us / 1e6);
    EXPECT_GE(backup_us, waits_us);
    EXPECT_LT(backup_us, waits_us + 50 * 600'000ull);
}


// ---------------------------------------------------------------- the whole call

struct CallCase {
    const char* name;
    std::vector<std::string> args;
    std::optional<size_t> refused_at;  // nothing: the call is taken
    const char* says = "";
};

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(CliCall, OrderRulesAndFilesAreCheckedBeforeAnythingIsSent) {
    TempDir dir;
    const auto at = [&dir](const char* name) { return (dir.dir / name).string(); };
    std::string error;
    ASSERT_TRUE(cli::SaveTemplateFile(at("old.json"), FileOf({{1, HighBytePieces(1)}}), error));
    WriteFile(at("left.incomplete.json"), "from a stopped backup");
    std::filesystem::create_directory(dir.dir / "sub");
    ASSERT_EQ(::mkfifo((dir.dir / "fifo").c_str(), 0600), 0);
    const std::vector<CallCase> cases = {
        {"stand-alone setting alone", {"door-time", "5"}, 0, "standalone-mode before it"},
        {"after another command", {"set-id", "3", "door-time", "5"}, 1, "standalone-mode"},
        {"stand-alone default alone", {"standalone-default"}, 0, "standalone-mode"},
        {"in stand-alone mode",
         {"standalone-mode", "door-time", "5", "alarm-time", "9", "master-card", "duress-card",
          "clear-card", "standalone-default", "door-time", "6"},
         std::nullopt},
        {"after a factory default",
         {"standalone-mode", "factory-default", "clear-card"},
         2,
         "after factory-default"},
        {"raw text too long", {"raw", std::string(41, 'A')}, 0, "at most 40"},
        {"get then put of one file", {"template-get", "2", at("t.json"), "template-put", "5",
                                      at("t.json")},
         std::nullopt},
        {"get twice into one file",
         {"template-get", "2", at("t.json"), "template-get", "3", at("t.json")},
         1,
         "--force"},
        {"get twice, replacing", {"template-get", "2", at("t.json"), "template-get", "3",
                                  at("t.json"), "--force"},
         std::nullopt},
        {"backup then restore of one file",
         {"backup", at("b.json"), "--slots", "1", "restore", at("./b.json")},
         std::nullopt},
        {"an existing file", {"backup", at("old.json")}, 0, "exists"},
        {"an existing file, replaced", {"backup", at("old.json"), "--force"}, std::nullopt},
        {"left from a stopped backup", {"backup", at("left.json")}, 0, "stopped backup"},
        {"a missing directory", {"set-id", "2", "backup", at("none/b.json")}, 1, "does not exist"},
        {"a directory", {"template-get", "1", at("sub")}, 0, "is a directory"},
        {"a FIFO", {"template-get", "1", at("fifo")}, 0, "is a FIFO"},
        {"a missing file to restore", {"restore", at("missing.json")}, 0, "cannot be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<cli::Command> commands = cli::ParseCommandLine(c.args).commands;
        const cli::CallCheck check = cli::CheckCall(commands);
        ASSERT_EQ(check.refusal.has_value(), c.refused_at.has_value())
            << (check.refusal ? cli::Tr(0, *check.refusal) : "taken");
        if (!c.refused_at) continue;
        EXPECT_EQ(check.command, *c.refused_at);
        EXPECT_NE(cli::Tr(0, *check.refusal).find(c.says), std::string::npos)
            << cli::Tr(0, *check.refusal);
        // Through a session: refused with the usage status, nothing sent.
        Harness h;
        Prepare(h);
        const CliRun run = RunCli(h, c.args);
        EXPECT_EQ(run.status, cli::kExitUsage);
        EXPECT_TRUE(h.line.opens.empty());
        EXPECT_NE(run.err.find("nothing was sent"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.dir / "t.json")) << "a check writes nothing";
}

// A file edited by hand, damaged, or stopped early is refused before
// anything is sent; what a restore would skip, named on its own, too.
TEST(CliCall, RestoreTakesOnlyWhatItCanWriteAsRecorded) {
    TempDir dir;
    const std::string path = (dir.dir / "f.json").string();
    cli::TemplateFile file = FileOf({{1, HighBytePieces(1)}, {2, {"", "", ""}}, {3, HighBytePieces(3)}});
    file.slots[1].status = cli::SlotStatus::Empty;
    cli::TemplateSlot failed;
    failed.slot = 4;
    failed.status = cli::SlotStatus::Failed;
    file.slots.push_back(failed);
    const std::string good = cli::FormatTemplateFile(file);
    cli::TemplateFile stopped = file;
    stopped.complete = false;
    const auto edit = [&good](std::string from, std::string to) {
        std::string text = good;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
        return text;
    };
    // A slot entry of the text, from its opening brace to the next one.
    const auto without_slot = [&good](int slot) {
        std::string text = good;
        const size_t at = text.find("{\"slot\": " + std::to_string(slot));
        const size_t next = text.find("{\"slot\": ", at + 1);
        text.erase(at, next - at);
        return text;
    };
    // A version 1 file whose status was edited: its checksum never covered it.
    cli::TemplateSlot v1slot;
    v1slot.slot = 7;
    v1slot.pieces = {"ABC", "DEF", "GHI"};
    std::string v1piece = "7";
    for (const auto& p : v1slot.pieces) v1piece += std::string(1, '\0') + p;
    char v1crc[9];
    std::snprintf(v1crc, sizeof v1crc, "%08X", cli::Crc32(v1piece));
    const std::string v1 = std::string("{\"format\": \"torvik-templates\", \"version\": 1, \"slots\": "
                                       "[{\"slot\": 7, \"status\": \"empty\", \"pieces\": "
                                       "[\"ABC\", \"DEF\", \"GHI\"], \"crc32\": \"") +
                           v1crc + "\"}]}";
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> args;  // after "restore FILE"
        const char* says;               // empty: taken
    };
    const std::vector<Case> cases = {
        {"as written", good, {}, ""},
        {"ok edited to empty", edit("\"status\": \"ok\"", "\"status\": \"empty\""), {},
         "checksum"},
        {"failed edited to ok", edit("\"status\": \"failed\"", "\"status\": \"ok\""), {},
         "slot 4"},
        {"incomplete edited to complete", cli::FormatTemplateFile(stopped), {},
         "checksum of the slot list"},
        {"slot removed", without_slot(3), {}, "checksum of the slot list"},
        {"stopped early", cli::FormatTemplateFile(stopped), {}, "--allow-incomplete"},
        {"stopped early, taken when told", cli::FormatTemplateFile(stopped),
         {"--allow-incomplete"}, ""},
        {"an empty slot named", good, {"--slots", "2"}, "slot 2 of"},
        {"a failed slot named", good, {"--slots", "1,4"}, "slot 4 of"},
        {"an empty slot moved", good, {"--slots", "2", "--to-slot", "9"}, "is empty"},
        {"version 1, status edited", v1, {}, "says empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        if (std::string(c.name) == "incomplete edited to complete") {
            const size_t at = text.find("\"complete\": false");
            text.replace(at, 17, "\"complete\": true");
        }
        WriteFile(path, text);
        std::vector<std::string> args = {"restore", path};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const cli::CallCheck check = cli::CheckCall(cli::ParseCommandLine(args).commands);
        const std::string said = check.refusal ? cli::Tr(0, *check.refusal) : "";
        if (*c.says == '\0') {
            EXPECT_FALSE(check.refusal) << said;
        } else {
            EXPECT_NE(said.find(c.says), std::string::npos) << said;
        }
    }
}

// ---------------------------------------------------------------- texts of a run

TEST(CliTexts, ARunInChineseSaysNothingInEnglish) {
    TempDir dir;
    Harness h;
    h.reader.faults.refuse = {"I00P0000022"};  // slot 2's second piece never comes
    Prepare(h);
    h.form.state.language = 1;
    h.form.FormShow();
    volatile std::sig_atomic_t stop = 0;
    h.pump.at_ms(8000, [&stop] { stop = 1; });
    const CliRun run =
        RunCli(h, {"backup", (dir.dir / "b.json").string(), "--slots", "1-9", "set-id", "3"}, &stop,
               true);
    EXPECT_EQ(run.status, cli::kExitFailed);
    for (const char* english : {"slot 1:", "slots read", "stopp", "not run", " of ", "failed", "piece",
                                "reply", "Ctrl+C again", "elapsed", "left"})
        EXPECT_EQ((run.out + run.err).find(english), std::string::npos) << english << "\n"
                                                                        << run.out << run.err;
    EXPECT_NE(run.out.find("3 个片段中的第 2 个没有收到: 没有回应"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("set-id"), std::string::npos) << "the command not run is named";
}

TEST(CliTexts, FailedSlotsSayWhichPieceAndWhy) {
    struct Case {
        const char* refused;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"I00P0000020", "no piece arrived (last exchange: no reply)"},
        {"I00P0000021", "no piece arrived (last exchange: no reply)"},
        {"I00P0000022", "piece 2 of 3 did not arrive: no reply"},
        {"I00P0000023", "piece 3 of 3 did not arrive: no reply"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refused);
        TempDir dir;
        Harness h;
        h.reader.faults.refuse = {c.refused};
        Prepare(h);
        const std::string file = (dir.dir / "b.json").string();
        const CliRun run = RunCli(h, {"--json", "backup", file, "--slots", "1-3"});
        const auto objects = JsonLines(run.out);
        ASSERT_EQ(objects.size(), 2u) << run.out;
        const cli::JsonValue& slot2 = objects[1].member("slots")->items[1];
        EXPECT_EQ(slot2.member("outcome")->text, "failed");
        EXPECT_EQ(slot2.member("reason")->text, c.says);
        // The file keeps the slot as failed; the others as read.
        std::string error;
        const auto saved = cli::LoadTemplateFile(file, error);
        ASSERT_TRUE(saved) << error;
        EXPECT_EQ(saved->find(2)->status, cli::SlotStatus::Failed);
        EXPECT_EQ(saved->find(3)->status, cli::SlotStatus::Ok);
    }
}

TEST(CliTexts, ADefaultSaysAtWhichSettingsTheReaderNowTalks) {
    for (const char* stored : {"19200,e,8,1", "38400,e,8,1"}) {
        SCOPED_TRACE(stored);
        Harness h;
        auto& key = h.store.keys["\\Software\\KELDO\\ReaderConfig"];
        key["ScanCommNo"] = {app::ValueType::Dword, 3, {}};
        key["ScanBaudRate"] = {app::ValueType::String, 0, stored};
        key["ScanBaudRateNo"] = {app::ValueType::Dword, std::string(stored) == "19200,e,8,1" ? 5u : 7u, {}};
        if (std::string(stored) != "19200,e,8,1") h.reader.line = *sim::parse_line_settings(stored);
        h.start();
        const CliRun run = RunCli(h, {"factory-default"});
        ASSERT_EQ(run.status, cli::kExitOk) << run.out << run.err;
        EXPECT_NE(run.out.find("the reader now talks at 19200,e,8,1"), std::string::npos)
            << run.out;
        EXPECT_EQ(run.out.find("scan --sweep") != std::string::npos,
                  std::string(stored) != "19200,e,8,1")
            << run.out;
    }
}

// ---------------------------------------------------------------- time per slot

// The time a slot takes at two speeds, on the virtual clock: the window's
// waits and beep, and the bytes on the line. The estimate of the progress
// line before the first slot is within a tenth of it, and once slots are
// done it is their running average.
TEST(CliTiming, SlotTimesAndTheProgressEstimate) {
    struct Speed {
        const char* settings;
        uint32_t index;
    };
    for (const Speed speed : {Speed{"19200,e,8,1", 5}, Speed{"115200,e,8,1", 11}}) {
        SCOPED_TRACE(speed.settings);
        TempDir dir;
        Harness h;
        auto& key = h.store.keys["\\Software\\KELDO\\ReaderConfig"];
        key["ScanCommNo"] = {app::ValueType::Dword, 3, {}};
        key["ScanBaudRate"] = {app::ValueType::String, 0, speed.settings};
        key["ScanBaudRateNo"] = {app::ValueType::Dword, speed.index, {}};
        h.reader.line = *sim::parse_line_settings(speed.settings);
        for (int slot = 1; slot <= 10; ++slot) h.reader.templates[slot] = HighBytePieces(slot);
        h.start();
        uint64_t started_us = 0;
        h.pump.at_ms(1, [&] { started_us = h.clock.now_us(); });
        const CliRun run = RunCli(h, {"backup", (dir.dir / "b.json").string(), "--slots", "1-10"},
                                  nullptr, true);
        ASSERT_EQ(run.status, cli::kExitOk) << run.err;
        // Per slot: from the scan's end to the backup's end, over ten.
        const auto lines = [&run] {
            std::vector<std::string> out;
            std::string text = run.err;
            for (size_t at; (at = text.find("\r\033[K")) != std::string::npos;) {
                out.push_back(text.substr(0, at));
                text.erase(0, at + 4);
            }
            out.push_back(text);
            return out;
        }();
        const auto left_of = [](const std::string& line) {
            const size_t at = line.find("about ");
            if (at == std::string::npos) return -1.0;
            const std::string rest = line.substr(at + 6);
            int m = 0, s = 0;
            if (std::sscanf(rest.c_str(), "%d min %d s", &m, &s) == 2) return m * 60.0 + s;
            if (std::sscanf(rest.c_str(), "%d s", &s) == 1) return double(s);
            return -1.0;
        };
        double first_estimate = -1, estimate_after_five = -1;
        for (const auto& line : lines) {
            if (first_estimate < 0 && line.find(" 0 of 10 done") != std::string::npos)
                first_estimate = left_of(line);
            if (estimate_after_five < 0 && line.find(" 5 of 10 done, ") != std::string::npos)
                estimate_after_five = left_of(line);
        }
        std::string error;
        ASSERT_TRUE(cli::LoadTemplateFile((dir.dir / "b.json").string(), error)) << error;
        // The virtual time of the backup: the last slot's line is the end.
        const double per_slot_s = [&h] {
            const auto& beeps = h.beeper.beeps;
            // Outcome beeps of slots 1 and 10 end their slots.
            const uint64_t first_end = beeps[beeps.size() - 10].at_us;
            const uint64_t last_end = beeps.back().at_us;
            return (last_end - first_end) / 9.0 / 1e6;
        }();
        std::printf("%s: %.2f s per slot (virtual clock), first estimate %.0f s for 10\n",
                    speed.settings, per_slot_s, first_estimate);
        ASSERT_GE(first_estimate, 0) << run.err;
        EXPECT_NEAR(first_estimate, 10 * per_slot_s, 1.0 * per_slot_s + 1);
        // Five done: the five left at the average of those done.
        ASSERT_GE(estimate_after_five, 0) << run.err;
        EXPECT_NEAR(estimate_after_five, 5 * per_slot_s, 1.5);
    }
}

}  // namespace
}  // namespace torvik::test
