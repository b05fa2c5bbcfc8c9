// SPDX-License-Identifier: MIT
// What scripts rely on: every JSON object torvikctl writes, for every
// command and every way a command ends, against the schema in
// docs/torvikctl.schema.json (checked by a validator of the part of JSON
// Schema that file uses, which refuses any keyword it does not know); and
// the table of torvikctl's own texts, complete in its three languages.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

#include "cli/command_line.h"
#include "cli/json.h"
#include "cli/session.h"
#include "cli/template_file.h"
#include "cli/texts.h"
#include "tests/harness.h"
#include "tests/scratch_dir.h"
#include "tests/child_process.h"

namespace torvik::test {
namespace {

using cli::JsonValue;

// ---------------------------------------------------------------- the validator

class SchemaValidator {
  public:
    explicit SchemaValidator(const JsonValue& root) : root_(root) {}

    // The faults of a value, as "path: what"; none when it is valid.
    std::vector<std::string> Check(const JsonValue& value) const {
        std::vector<std::string> faults;
        Validate(root_, value, "$", faults);
        return faults;
    }

  private:
    static bool TypeIs(const JsonValue& v, const std::string& type) {
        switch (v.type) {
            case JsonValue::Type::Null:
                return type == "null";
            case JsonValue::Type::Bool:
                return type == "boolean";
            case JsonValue::Type::Number:
                return type == "number" || (type == "integer" && v.number == std::floor(v.number));
            case JsonValue::Type::String:
                return type == "string";
            case JsonValue::Type::Array:
                return type == "array";
            case JsonValue::Type::Object:
                return type == "object";
        }
        return false;
    }

    static bool Equal(const JsonValue& a, const JsonValue& b) {
        if (a.type != b.type) return false;
        switch (a.type) {
            case JsonValue::Type::Null:
                return true;
            case JsonValue::Type::Bool:
                return a.boolean == b.boolean;
            case JsonValue::Type::Number:
                return a.number == b.number;
            case JsonValue::Type::String:
                return a.text == b.text;
            case JsonValue::Type::Array:
                if (a.items.size() != b.items.size()) return false;
                for (size_t i = 0; i < a.items.size(); ++i)
                    if (!Equal(a.items[i], b.items[i])) return false;
                return true;
            case JsonValue::Type::Object:
                if (a.members.size() != b.members.size()) return false;
                for (const auto& [k, v] : a.members) {
                    const JsonValue* other = b.member(k);
                    if (!other || !Equal(v, *other)) return false;
                }
                return true;
        }
        return false;
    }

    const JsonValue& Resolve(const std::string& ref) const {
        const std::string prefix = "#/$defs/";
        const JsonValue* defs = root_.member("$defs");
        if (ref.rfind(prefix, 0) != 0 || !defs || !defs->member(ref.substr(prefix.size())))
            throw std::runtime_error("unresolved $ref " + ref);
        return *defs->member(ref.substr(prefix.size()));
    }

    bool Valid(const JsonValue& schema, const JsonValue& v) const {
        std::vector<std::string> faults;
        Validate(schema, v, "$", faults);
        return faults.empty();
    }

    void Validate(const JsonValue& schema, const JsonValue& v, const std::string& at,
                  std::vector<std::string>& faults) const {
        static const std::set<std::string> kKnown = {
            "$schema", "$id", "title", "description", "$defs", "$ref", "type", "const", "enum",
            "pattern", "required", "properties", "additionalProperties", "propertyNames", "items",
            "minItems", "maxItems", "minimum", "maximum", "allOf", "oneOf", "not", "if", "then",
            "else"};
        for (const auto& [keyword, unused] : schema.members)
            if (!kKnown.count(keyword)) throw std::runtime_error("unknown keyword " + keyword);
        const auto fault = [&](const std::string& what) { faults.push_back(at + ": " + what); };
        if (const JsonValue* ref = schema.member("$ref")) Validate(Resolve(ref->text), v, at, faults);
        if (const JsonValue* type = schema.member("type")) {
            bool ok = false;
            if (type->type == JsonValue::Type::String) ok = TypeIs(v, type->text);
            for (const auto& t : type->items) ok = ok || TypeIs(v, t.text);
            if (!ok) fault("wrong type");
        }
        if (const JsonValue* c = schema.member("const"); c && !Equal(*c, v)) fault("not the constant");
        if (const JsonValue* e = schema.member("enum")) {
            bool ok = false;
            for (const auto& item : e->items) ok = ok || Equal(item, v);
            if (!ok) fault("not one of the enumerated values");
        }
        if (const JsonValue* p = schema.member("pattern"); p && v.type == JsonValue::Type::String)
            if (!std::regex_search(v.text, std::regex(p->text))) fault("does not match " + p->text);
        if (v.type == JsonValue::Type::Number) {
            if (const JsonValue* m = schema.member("minimum"); m && v.number < m->number)
                fault("below the minimum");
            if (const JsonValue* m = schema.member("maximum"); m && v.number > m->number)
                fault("above the maximum");
        }
        if (v.type == JsonValue::Type::Object) {
            if (const JsonValue* r = schema.member("required"))
                for (const auto& name : r->items)
                    if (!v.member(name.text)) fault("no member " + name.text);
            const JsonValue* props = schema.member("properties");
            for (const auto& [name, member] : v.members) {
                const JsonValue* sub = props ? props->member(name) : nullptr;
                if (sub) Validate(*sub, member, at + "." + name, faults);
                if (const JsonValue* extra = schema.member("additionalProperties");
                    extra && !sub && extra->type == JsonValue::Type::Bool && !extra->boolean)
                    fault("member " + name + " is not allowed");
                if (const JsonValue* names = schema.member("propertyNames")) {
                    JsonValue key;
                    key.type = JsonValue::Type::String;
                    key.text = name;
                    if (!Valid(*names, key)) fault("member " + name + " is not allowed here");
                }
            }
        }
        if (v.type == JsonValue::Type::Array) {
            if (const JsonValue* m = schema.member("minItems"); m && v.items.size() < m->number)
                fault("too few items");
            if (const JsonValue* m = schema.member("maxItems"); m && v.items.size() > m->number)
                fault("too many items");
            if (const JsonValue* items = schema.member("items"))
                for (size_t i = 0; i < v.items.size(); ++i)
                    Validate(*items, v.items[i], at + "[" + std::to_string(i) + "]", faults);
        }
        if (const JsonValue* all = schema.member("allOf"))
            for (const auto& sub : all->items) Validate(sub, v, at, faults);
        if (const JsonValue* one = schema.member("oneOf")) {
            int matches = 0;
            for (const auto& sub : one->items) matches += Valid(sub, v) ? 1 : 0;
            if (matches != 1) fault("matches " + std::to_string(matches) + " of oneOf");
        }
        if (const JsonValue* n = schema.member("not"); n && Valid(*n, v)) fault("matches not");
        if (const JsonValue* cond = schema.member("if")) {
            const JsonValue* branch = schema.member(Valid(*cond, v) ? "then" : "else");
            if (branch) Validate(*branch, v, at, faults);
        }
    }

    const JsonValue& root_;
};

JsonValue LoadSchema() {
    const auto path =
        std::filesystem::path(__FILE__).parent_path().parent_path() / "docs" / "torvikctl.schema.json";
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    std::string error;
    auto schema = cli::ParseJson(text, error);
    if (!schema) throw std::runtime_error(path.string() + ": " + error);
    return *schema;
}

// ---------------------------------------------------------------- runs

void Prepare(Harness& h) {
    auto& key = h.store.keys["\\Software\\KELDO\\ReaderConfig"];
    key["ScanCommNo"] = {app::ValueType::Dword, 3, {}};
    key["ScanBaudRate"] = {app::ValueType::String, 0, "19200,e,8,1"};
    key["ScanBaudRateNo"] = {app::ValueType::Dword, 5, {}};
    h.start();
}

std::string RunJson(Harness& h, std::vector<std::string> args,
                    const volatile std::sig_atomic_t* stop = nullptr) {
    args.insert(args.begin(), "--json");
    const cli::Invocation inv = cli::ParseCommandLine(args);
    std::ostringstream out, err;
    cli::SessionOptions options;
    options.json = true;
    options.stop_requests = stop;
    options.errors_shown = [&h] { return static_cast<int>(h.errors.shown.size()); };
    options.device_of = [](int port) { return "/dev/ttyUSB" + std::to_string(port - 1); };
    cli::Session session(h.form, out, err, std::move(options));
    h.pump.every = [&session] { session.Poll(); };
    session.Run(inv.commands);
    h.pump.every = nullptr;
    return out.str();
}

std::vector<JsonValue> Objects(const std::string& out) {
    std::vector<JsonValue> objects;
    std::istringstream in(out);
    std::string error;
    for (std::string line; std::getline(in, line);) {
        auto v = cli::ParseJson(line, error);
        EXPECT_TRUE(v) << line << ": " << error;
        if (v) objects.push_back(*v);
    }
    return objects;
}

std::array<std::string, 3> Pieces(int seed) {
    std::array<std::string, 3> pieces;
    for (int p = 0; p < 3; ++p)
        for (int i = 0; i < 256; ++i)
            pieces[static_cast<size_t>(p)].push_back(static_cast<char>(0x21 + (i + p + seed) % 90));
    return pieces;
}

struct ContractCase {
    const char* name;
    std::function<void(Harness&, const TempDir&)> setup;
    std::function<std::vector<std::string>(const TempDir&)> args;
    std::vector<std::string> outcomes;  // of every object, in order
    int stop_at_ms = 0;                 // a stop request then (0: none)
};

TEST(CliContract, EveryObjectOfEveryCommandMatchesTheSchema) {
    const JsonValue schema = LoadSchema();
    const SchemaValidator validator(schema);
    const auto file = [](const TempDir& d, const char* name) { return (d.dir / name).string(); };
    const auto with_file = [](const TempDir& d, const char* name,
                              std::vector<std::pair<int, cli::SlotStatus>> slots, bool complete) {
        cli::TemplateFile f;
        f.complete = complete;
        for (auto [slot, status] : slots) {
            cli::TemplateSlot s;
            s.slot = slot;
            s.status = status;
            if (status == cli::SlotStatus::Ok) {
                auto p = Pieces(slot);
                s.pieces.assign(p.begin(), p.end());
            } else if (status == cli::SlotStatus::Empty) {
                s.pieces = {"", "", ""};
            }
            f.slots.push_back(s);
        }
        std::string error;
        ASSERT_TRUE(cli::SaveTemplateFile((d.dir / name).string(), f, error)) << error;
    };
    const std::vector<ContractCase> cases = {
        {"every command succeeds",
         [&](Harness& h, const TempDir& d) {
             h.reader.templates[2] = Pieces(2);
             h.reader.card_every_ms = 500;
             with_file(d, "in.json", {{7, cli::SlotStatus::Ok}}, true);
         },
         [&](const TempDir& d) -> std::vector<std::string> {
             return {"info", "set-id", "3", "set-mode", "rs485", "W26", "R32", "set-card-type",
                     "keldo", "set-facility", "12", "read", "--count", "1", "enrol", "4",
                     "delete", "4", "template-get", "2", file(d, "t.json"), "template-put", "9",
                     file(d, "t.json"), "backup", file(d, "b.json"), "--slots", "1-2",
                     "restore", file(d, "b.json"), "restore", file(d, "in.json"),
                     "standalone-mode", "door-time", "5", "alarm-time", "30", "master-card",
                     "duress-card", "clear-card", "standalone-default", "factory-default",
                     "raw", "AB", "set-baud", "38400,e"};
         },
         std::vector<std::string>(24, "ok")},
        {"a backup with a slot that fails",
         [](Harness& h, const TempDir&) { h.reader.faults.refuse = {"I00P000002"}; },
         [&](const TempDir& d) -> std::vector<std::string> {
             return {"backup", file(d, "b.json"), "--slots", "1-3", "set-id", "4"};
         },
         {"ok", "failed", "not-run"}},
        {"a restore that skips slots, then fails to write one",
         [&](Harness& h, const TempDir& d) {
             h.reader.faults.refuse = {"I00P0000093"};
             with_file(d, "mixed.json",
                       {{5, cli::SlotStatus::Empty}, {6, cli::SlotStatus::Failed},
                        {8, cli::SlotStatus::Ok}, {9, cli::SlotStatus::Ok}},
                       true);
         },
         [&](const TempDir& d) -> std::vector<std::string> {
             return {"restore", file(d, "mixed.json")};
         },
         {"ok", "failed"}},
        {"a template that cannot be read",
         [](Harness& h, const TempDir&) { h.reader.faults.refuse = {"I00P"}; },
         [&](const TempDir& d) -> std::vector<std::string> {
             return {"template-get", "1", file(d, "t.json"), "raw", "X"};
         },
         {"ok", "failed", "not-run"}},
        {"no reader",
         [](Harness& h, const TempDir&) {
             h.line.set_port(3, doubles::FakeLine::PortKind::Silent);
         },
         [](const TempDir&) -> std::vector<std::string> { return {"info", "set-id", "4"}; },
         {"not-found", "not-run", "not-run"}},
        {"a call refused before anything is sent",
         [](Harness&, const TempDir&) {},
         [](const TempDir&) -> std::vector<std::string> {
             return {"set-id", "4", "door-time", "5"};
         },
         {"not-run", "not-run"}},
        {"a backup stopped by request",
         [](Harness&, const TempDir&) {},
         [&](const TempDir& d) -> std::vector<std::string> {
             return {"backup", file(d, "s.json"), "--slots", "1-5", "read"};
         },
         {"ok", "failed", "not-run"},
         4200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Harness h;
        c.setup(h, dir);
        Prepare(h);
        volatile std::sig_atomic_t stop = 0;
        if (c.stop_at_ms) h.pump.at_ms(static_cast<uint64_t>(c.stop_at_ms), [&stop] { stop = 1; });
        const std::string out = RunJson(h, c.args(dir), &stop);
        const auto objects = Objects(out);
        std::vector<std::string> outcomes;
        std::set<std::string> runs;
        for (const auto& o : objects) {
            for (const auto& fault : validator.Check(o)) ADD_FAILURE() << fault << "\n" << out;
            if (const JsonValue* outcome = o.member("outcome")) outcomes.push_back(outcome->text);
            if (const JsonValue* run = o.member("run")) runs.insert(run->text);
        }
        EXPECT_EQ(outcomes, c.outcomes) << out;
        EXPECT_EQ(runs.size(), 1u) << "one run id for the whole call";
    }
}

TEST(CliContract, TheValidatorRefusesWhatTheSchemaForbids) {
    const JsonValue schema = LoadSchema();
    const SchemaValidator validator(schema);
    const std::string good =
        R"({"schema":1,"run":"0123456789abcdef","time":"2026-12-09T01:02:03Z",)"
        R"("operation":"backup","outcome":"failed","text":"t","port":3,"device":null,)"
        R"("settings":"19200,e,8,1","serial":"12345678","slots_read":1,"empty":0,"failed":1,)"
        R"("complete":true,"file":"f.json","slots":[{"slot":1,"outcome":"read"},)"
        R"({"slot":2,"outcome":"failed","reason":"no reply"}]})";
    const auto parse = [](const std::string& text) {
        std::string error;
        return *cli::ParseJson(text, error);
    };
    ASSERT_TRUE(validator.Check(parse(good)).empty());
    const std::vector<std::pair<std::string, std::string>> breaks = {
        {"\"run\":\"0123456789abcdef\"", "\"run\":\"0123\""},
        {"\"schema\":1", "\"schema\":2"},
        {"\"outcome\":\"failed\",\"text\"", "\"outcome\":\"broken\",\"text\""},
        {"\"port\":3", "\"port\":\"COM3\""},
        {",\"reason\":\"no reply\"", ""},
        {"\"complete\":true", "\"complete\":\"yes\""},
        {"\"time\":\"2026-12-09T01:02:03Z\"", "\"time\":\"yesterday\""},
        {"\"file\":\"f.json\"", "\"file\":\"f.json\",\"extra\":1"},
        {",\"slots_read\":1", ""},
    };
    for (const auto& [from, to] : breaks) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        EXPECT_FALSE(validator.Check(parse(text)).empty()) << text;
    }
}

// The real program, whose objects name the device behind the port.
TEST(CliContract, TheProgramsObjectsMatchTheSchema) {
    const JsonValue schema = LoadSchema();
    const SchemaValidator validator(schema);
    TempDir dir;
    const ProgramRun r = RunProgram({TORVIK_CTL_BINARY, "--simulate", "--json", "info", "set-id",
                                     "2", "standalone-mode", "alarm-time", "20"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto objects = Objects(r.out);
    ASSERT_EQ(objects.size(), 5u) << r.out;
    for (const auto& o : objects) {
        for (const auto& fault : validator.Check(o)) ADD_FAILURE() << fault << "\n" << r.out;
        EXPECT_EQ(o.member("device")->type, JsonValue::Type::String);
        EXPECT_EQ(o.member("port")->number, 1);
    }
}

// ---------------------------------------------------------------- the texts

std::set<std::string> Places(const std::string& text) {
    std::set<std::string> places;
    for (size_t at = text.find('{'); at != std::string::npos; at = text.find('{', at + 1))
        if (at + 2 < text.size() && text[at + 2] == '}') places.insert(text.substr(at, 3));
    return places;
}

TEST(CliTexts, EveryTextInThreeLanguagesWithTheSamePlaces) {
    const auto& rows = cli::AllTexts();
    ASSERT_EQ(rows.size(), static_cast<size_t>(cli::T::kCount));
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].text[0]);
        EXPECT_EQ(static_cast<size_t>(rows[i].key), i) << "the rows follow the keys";
        for (int l = 0; l < 3; ++l) {
            EXPECT_NE(std::string(rows[i].text[l]), "");
            EXPECT_EQ(Places(rows[i].text[l]), Places(rows[i].text[0])) << rows[i].text[l];
        }
        // The Chinese texts are written in Chinese: apart from names,
        // numbers and the command line's own words, not the English text.
        EXPECT_NE(std::string(rows[i].text[1]), rows[i].text[0]);
    }
}

TEST(CliTexts, EveryCommandHasItsHelpInThreeLanguages) {
    std::set<std::string> helped;
    for (const auto& row : cli::AllHelp()) {
        helped.insert(row.command);
        for (int l = 0; l < 3; ++l) EXPECT_NE(std::string(row.text[l]), "") << row.command;
    }
    const std::string overview = cli::UsageText(0);
    for (const auto& row : cli::AllHelp()) {
        EXPECT_TRUE(cli::IsCommand(row.command)) << row.command;
        EXPECT_NE(overview.find(std::string("  ") + row.command), std::string::npos)
            << row.command;
        for (int l = 0; l < 3; ++l)
            EXPECT_NE(cli::CommandHelp(row.command, l).find(cli::CommandHelpText(l, row.command)),
                      std::string::npos);
    }
    EXPECT_EQ(helped.size(), cli::AllHelp().size());
    EXPECT_NE(cli::UsageText(1).find("命令"), std::string::npos);
    EXPECT_NE(cli::UsageText(2).find("選項"), std::string::npos);
}

TEST(CliTexts, CountsAndDurationsReadAsWords) {
    EXPECT_EQ(cli::Count(0, 1, cli::T::kReadingOne, cli::T::kReadingMany), "1 reading");
    EXPECT_EQ(cli::Count(0, 0, cli::T::kReadingOne, cli::T::kReadingMany), "0 readings");
    EXPECT_EQ(cli::Count(0, 2, cli::T::kReadingOne, cli::T::kReadingMany), "2 readings");
    EXPECT_EQ(cli::Duration(0, 42'400), "42 s");
    EXPECT_EQ(cli::Duration(0, 185'000), "3 min 05 s");
    EXPECT_EQ(cli::Duration(0, 3'300'000), "55 min 00 s");
    EXPECT_EQ(cli::Duration(0, 3'720'000), "1 h 02 min");
    EXPECT_EQ(cli::Duration(1, 185'000), "3 分 05 秒");
}

}  // namespace
}  // namespace torvik::test
