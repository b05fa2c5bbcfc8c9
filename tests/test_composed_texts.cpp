// SPDX-License-Identifier: MIT
// Every text an operation composes for the status line, in each language
// and for each outcome: what the status line shows is the catalogue's rows
// in that language with their literal pieces, whole and well-formed (no
// replacement character, no catalogue text decoded as something else), and
// the typed result carries the same text.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/message.h"
#include "cli/text.h"
#include "tests/harness.h"

namespace torvik::test {
namespace {

using app::Message;
using app::Reader;

struct OperationTexts {
    const char* name;
    std::function<app::Result(Reader&)> call;
    Message success, failure;
    Message label;             // shown while it runs; empty: none
    bool stand_alone = false;  // needs the stand-alone mode first
};

std::vector<OperationTexts> Operations() {
    const auto row = [](int r) { return Message::Row(r); };
    return {
        {"set ID", [](Reader& r) { return r.SetId("07"); }, row(37), row(38),
         Message::Row(36).add_text(" = 07")},
        {"set baud rate", [](Reader& r) { return r.SetBaudRate(7); }, row(40), row(41),
         Message::Row(39).add_text(" = 38400,e,8,1")},
        {"set mode",
         [](Reader& r) {
             return r.SetOutputMode({1, 0, 2});
         },
         row(43), row(44), Message::Row(42).add_text(" = RS485 40")},
        {"set card type", [](Reader& r) { return r.SetCardType(1); }, row(46), row(47), row(45)},
        {"facility", [](Reader& r) { return r.SetFacility(123); }, row(23), row(24), {}},
        {"add card", [](Reader& r) { return r.AddCard(); }, row(58), row(59), {}},
        {"raw command", [](Reader& r) { return app::Result(r.RawCommand("AB")); }, row(58), row(59),
         row(57)},
        {"enrol", [](Reader& r) { return r.Enrol(5); }, row(17), row(18), {}},
        {"delete", [](Reader& r) { return r.Delete(5); }, row(20), row(21), {}},
        {"read template",
         [](Reader& r) { return app::Result(r.ReadTemplate(5)); },
         row(58),
         row(59),
         {}},
        {"write template",
         [](Reader& r) {
             const std::string piece(256, 'A');
             return r.WriteTemplate(5, {piece, piece, piece});
         },
         row(58),
         row(59),
         {}},
        {"factory default", [](Reader& r) { return r.FactoryDefault(); }, row(49), row(50), {}},
        {"stand-alone default",
         [](Reader& r) { return r.StandAloneDefault(); },
         row(52),
         row(53),
         {}},
        {"stand-alone mode", [](Reader& r) { return r.StandAloneMode(); }, row(55), row(56), {}},
        {"door time", [](Reader& r) { return r.SetDoorTime("0012"); }, row(60), row(61), {}, true},
        {"alarm time",
         [](Reader& r) { return r.SetAlarmTime("0045"); },
         row(60),
         row(61),
         {},
         true},
        {"master card", [](Reader& r) { return r.SetMasterCard(); }, row(60), row(61), {}, true},
        {"duress card", [](Reader& r) { return r.SetDuressCard(); }, row(60), row(61), {}, true},
        {"clear card", [](Reader& r) { return r.SetClearCard(); }, row(60), row(61), {}, true},
    };
}

enum class Case { kSucceeds, kFails, kRefused };

// Every caption the status line took while `run` ran.
std::vector<std::string> StatusTexts(Harness& h, const std::function<void()>& run) {
    std::vector<std::string> seen;
    const app::Observer before = h.form.observer;
    h.form.observer = [&](app::Control& c, app::Prop p) {
        if (before) before(c, p);
        if (&c == &h.form.pnMsg && p == app::Prop::Caption) seen.push_back(c.caption());
    };
    run();
    h.form.observer = before;
    return seen;
}

// Well-formed UTF-8 without a replacement character.
void ExpectWholeText(const std::string& text, const std::string& context) {
    EXPECT_TRUE(cli::IsUtf8(text)) << context << ": " << text;
    EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos) << context << ": " << text;
}

void Prepare(Harness& h, int language, Case c) {
    if (c == Case::kRefused) {
        h.start();
    } else {
        h.start_and_scan();
        ASSERT_TRUE(h.form.state.reader_found);
    }
    h.form.SwitchLanguage(language);
}

TEST(ComposedTexts, EveryOperationInEveryLanguageAndOutcome) {
    for (int language = 0; language < app::kLanguages; ++language) {
        for (const OperationTexts& op : Operations()) {
            for (const Case c : {Case::kSucceeds, Case::kFails, Case::kRefused}) {
                const std::string context = std::string(op.name) + ", language " +
                                            std::to_string(language) + ", case " +
                                            std::to_string(static_cast<int>(c));
                Harness h;
                Prepare(h, language, c);
                if (op.stand_alone && c != Case::kRefused) {
                    ASSERT_TRUE(h.form.reader()->StandAloneMode().succeeded()) << context;
                }
                if (c == Case::kFails) h.reader.faults.drop_replies = true;
                app::Result result;
                const auto seen = StatusTexts(h, [&] { result = op.call(*h.form.reader()); });
                // A refusal may leave the start-up text as it stood.
                ASSERT_TRUE(!seen.empty() || c == Case::kRefused) << context;
                for (const std::string& text : seen) ExpectWholeText(text, context);

                const Message expected = c == Case::kSucceeds ? op.success
                                         : c == Case::kFails  ? op.failure
                                                              : Message::Row(2);
                EXPECT_EQ(h.form.pnMsg.caption(), expected.Render(language)) << context;
                EXPECT_EQ(result.text.Render(language), h.form.pnMsg.caption()) << context;
                if (!op.label.empty() && c != Case::kRefused) {
                    EXPECT_EQ(seen.front(), op.label.Render(language)) << context;
                }
            }
        }
    }
}

TEST(ComposedTexts, ScanAndLiveReadingsInEveryLanguage) {
    struct ReadingCase {
        const char* name;
        std::function<void(Harness&)> setup;  // after the scan
        std::function<app::Result(Harness&)> run;
        std::function<Message()> expected;
    };
    const auto read = [](bool encoded) {
        return
            [encoded](Harness& h) { return app::Result(h.form.reader()->ReadCards(encoded, {})); };
    };
    const std::vector<ReadingCase> cases = {
        {"plain reading, port busy",
         [](Harness& h) { h.line.set_port(3, doubles::FakeLine::PortKind::Busy); }, read(false),
         [] { return Message::Row(26).add_text(" : 3 ").add_row(27); }},
        {"encoded reading, port busy",
         [](Harness& h) { h.line.set_port(3, doubles::FakeLine::PortKind::Busy); }, read(true),
         [] { return Message::Row(26).add_text(" : 3 ").add_row(27); }},
        {"plain reading, no answer", [](Harness& h) { h.reader.faults.drop_replies = true; },
         read(false), [] { return Message::Row(35); }},
        {"encoded reading, no answer", [](Harness& h) { h.reader.faults.drop_replies = true; },
         read(true), [] { return Message::Row(35); }},
        {"scan, found", [](Harness&) {},
         [](Harness& h) { return app::Result(h.form.reader()->Scan(false)); },
         [] { return Message::Row(33).add_text(" : #3)"); }},
        {"scan, no output mode", [](Harness& h) { h.reader.faults.refuse = {"I00A"}; },
         [](Harness& h) { return app::Result(h.form.reader()->Scan(false)); },
         [] { return Message::Row(34).add_text(" : #3)"); }},
        {"scan, nothing answers", [](Harness& h) { h.reader.faults.drop_replies = true; },
         [](Harness& h) { return app::Result(h.form.reader()->Scan(false)); },
         [] { return Message::Row(35); }},
    };
    for (int language = 0; language < app::kLanguages; ++language) {
        for (const ReadingCase& c : cases) {
            const std::string context =
                std::string(c.name) + ", language " + std::to_string(language);
            Harness h;
            Prepare(h, language, Case::kSucceeds);
            c.setup(h);
            app::Result result;
            const auto seen = StatusTexts(h, [&] { result = c.run(h); });
            ASSERT_FALSE(seen.empty()) << context;
            for (const std::string& text : seen) ExpectWholeText(text, context);
            EXPECT_EQ(seen.back(), c.expected().Render(language)) << context;
            EXPECT_EQ(result.text.Render(language), seen.back()) << context;
            // In Chinese, the second catalogue text of the open failure is
            // the catalogue's own, not its bytes taken one by one.
            if (language > 0 && c.expected().pieces().size() == 3) {
                EXPECT_NE(seen.back().find(app::catalogue_text(27, language)), std::string::npos)
                    << context;
            }
        }
    }
}

}  // namespace
}  // namespace torvik::test
