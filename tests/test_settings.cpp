// SPDX-License-Identifier: MIT
// Persistent settings (load and save through the in-memory store and through
// real settings files), the settings file format, and the message catalogue.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "app/catalogue.h"
#include "app/file_settings_store.h"
#include "app/settings.h"
#include "tests/doubles/memory_settings_store.h"
#include "tests/scratch_dir.h"

namespace torvik::app {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;
using doubles::MemorySettingsStore;
using test::make_unwritable;
using test::set_immutable;
using test::TempDir;

const std::string kHeaderLine = "Windows Registry Editor Version 5.00\n";
const std::string kSection = "[HKEY_LOCAL_MACHINE\\Software\\KELDO\\ReaderConfig]\n";

// A settings file holding the given value lines under the settings key.
std::string reg(const std::string& lines) {
    return kHeaderLine + "\n" + kSection + lines;
}

std::string link_lines(const std::string& language_line) {
    return "\"ScanCommNo\"=dword:00000003\n\"ScanBaudRate\"=\"38400,e,8,1\"\n"
           "\"ScanBaudRateNo\"=dword:00000007\n" +
           language_line;
}

std::optional<std::string> read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// ---------------------------------------------------------------- load

struct Loaded {
    int port;
    std::string settings;
    int index;
    std::string name;
    int language;
};
const Loaded kDefaults{0, "19200,e,8,1", 5, "English", 0};

struct LoadCase {
    const char* label;
    std::optional<std::string> file;  // nothing: no file at all
    bool unwritable;
    Loaded expected;
};

// clang-format off
const LoadCase kLoadCases[] = {
    {"NoFile", std::nullopt, false, kDefaults},
    {"OtherKeyOnly", kHeaderLine + "[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"ScanCommNo\"=dword:3\n",
     false, kDefaults},
    {"NoHeader", kSection + link_lines(""), false, kDefaults},
    {"BinaryGarbage", "\x00\xff\xfe[\"\\\n\r\x80hex(2):"s + std::string(300, '\xc3'), false, kDefaults},
    {"AllValues", reg(link_lines("\"LanguageFlag\"=\"ChineseGB\"\n")), false,
     {3, "38400,e,8,1", 7, "ChineseGB", 1}},
    {"Unwritable", reg(link_lines("\"LanguageFlag\"=\"ChineseGB\"\n")), true, kDefaults},
    {"LanguageOtherCase", reg("\"LanguageFlag\"=\"chinesegb\"\n"), false,
     {0, "19200,e,8,1", 5, "chinesegb", 0}},
    {"LanguageUnknown", reg("\"LanguageFlag\"=\"ChineseGB \"\n"), false,
     {0, "19200,e,8,1", 5, "ChineseGB ", 0}},
    {"LanguageBig5", reg("\"LanguageFlag\"=\"ChineseBIG5\"\n"), false,
     {0, "19200,e,8,1", 5, "ChineseBIG5", 2}},
    {"CommNoAsString",
     reg("\"ScanCommNo\"=\"3\"\n\"ScanBaudRate\"=\"38400,e,8,1\"\n\"LanguageFlag\"=\"ChineseBIG5\"\n"),
     false, kDefaults},
    {"BaudRateBinaryStopsLoad",
     reg("\"ScanCommNo\"=dword:3\n\"ScanBaudRate\"=hex:31,32\n\"ScanBaudRateNo\"=dword:7\n"
         "\"LanguageFlag\"=\"ChineseGB\"\n"),
     false, {3, "19200,e,8,1", 5, "English", 0}},
    {"LanguageWrongType", reg(link_lines("\"LanguageFlag\"=dword:00000001\n")), false,
     {3, "38400,e,8,1", 7, "English", 0}},
    {"EmptyBaudRate", reg("\"ScanBaudRate\"=\"\"\n"), false, {0, "", 5, "English", 0}},
    {"IndexOutOfList", reg("\"ScanBaudRateNo\"=dword:00000014\n"), false,
     {0, "19200,e,8,1", 20, "English", 0}},
    {"PortAsSigned32", reg("\"ScanCommNo\"=dword:ffffffff\n"), false,
     {-1, "19200,e,8,1", 5, "English", 0}},
    {"ExpandStringUnexpanded", reg("\"ScanBaudRate\"=hex(2):25,00,42,00,25,00,00,00\n"), false,
     {0, "%B%", 5, "English", 0}},
    {"ExpandStringOverLines", reg("\"ScanBaudRate\"=hex(2):39,00,36,00,\\\n  30,00,30,00,00,00\n"),
     false, {0, "9600", 5, "English", 0}},
    {"StringEndsAtZero", reg("\"ScanBaudRate\"=\"4800,n,8,1\0junk\"\n"s), false,
     {0, "4800,n,8,1", 5, "English", 0}},
    {"NamesIgnoreCase",
     kHeaderLine + "[hkey_local_machine\\SOFTWARE\\keldo\\readerconfig]\n\"scancommno\"=dword:4\n",
     false, {4, "19200,e,8,1", 5, "English", 0}},
    {"WindowsLineEndsAndBom",
     "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
     "[HKEY_LOCAL_MACHINE\\Software\\KELDO\\ReaderConfig]\r\n\"ScanCommNo\"=dword:00000002\r\n"
     "\"LanguageFlag\"=\"ChineseGB\"\r\n",
     false, {2, "19200,e,8,1", 5, "ChineseGB", 1}},
    {"BadLinesSkipped",
     reg("junk\n\"ScanCommNo\"=dword:123456789\n\"ScanBaudRate\"=\"9600,n,8,1\n"
         "\"LanguageFlag\"=\"ChineseGB\"\n"),
     false, {0, "19200,e,8,1", 5, "ChineseGB", 1}},
    {"LastDuplicateStands", reg("\"ScanCommNo\"=dword:1\n\"SCANCOMMNO\"=dword:2\n"), false,
     {2, "19200,e,8,1", 5, "English", 0}},
};
// clang-format on

enum class Backend { File, Memory };

// A case is shown by its label in gtest's listings and failure lines (not
// as a dump of its bytes, which holds pointers that change every build).
void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.label; }
void PrintTo(Backend b, std::ostream* os) { *os << (b == Backend::File ? "File" : "Memory"); }

class SettingsLoad : public testing::TestWithParam<std::tuple<LoadCase, Backend>> {};

// The memory store holding what the file of the case holds.
void fill_from_file(MemorySettingsStore& store, const std::optional<std::string>& file) {
    const auto parsed = file ? parse_store_text(*file) : std::nullopt;
    if (!parsed) return;
    const std::string root = kSettingsRoot;
    for (const auto& section : parsed->sections) {
        auto& values = store.keys[section.name.substr(root.size())];
        for (const auto& v : section.values) values[v.name] = v.value;
    }
}

TEST_P(SettingsLoad, FillsStateAndWritesNothing) {
    const auto& [c, backend] = GetParam();
    AppState state;
    if (backend == Backend::Memory) {
        MemorySettingsStore store;
        fill_from_file(store, c.file);
        store.fail_open = c.unwritable;
        const auto keys_before = store.keys.size();
        LoadSettings(store, state);
        EXPECT_EQ(store.writes, 0);
        EXPECT_EQ(store.keys.size(), keys_before);
    } else {
        TempDir tmp;
        if (c.file) write_text(tmp.file(), *c.file);
        if (c.unwritable && !make_unwritable(tmp.file())) GTEST_SKIP() << "cannot protect a file";
        const auto before = tmp.entries();
        FileSettingsStore store(tmp.file());
        LoadSettings(store, state);
        EXPECT_EQ(tmp.entries(), before);  // nothing created, no lock taken
        EXPECT_EQ(read_text(tmp.file()), c.file);
    }
    EXPECT_EQ(state.link.port, c.expected.port);
    EXPECT_EQ(state.link.settings, c.expected.settings);
    EXPECT_EQ(state.link.index, c.expected.index);
    EXPECT_EQ(state.language_name, c.expected.name);
    EXPECT_EQ(state.language, c.expected.language);
}

INSTANTIATE_TEST_SUITE_P(Settings, SettingsLoad,
                         testing::Combine(testing::ValuesIn(kLoadCases),
                                          testing::Values(Backend::File, Backend::Memory)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).label) +
                                    (std::get<1>(info.param) == Backend::File ? "_File"
                                                                              : "_Memory");
                         });

// ---------------------------------------------------------------- save

TEST(SettingsSave, WritesExactFileAndAppendsLanguage) {
    TempDir tmp;
    const mode_t old_umask = ::umask(077);
    FileSettingsStore store(tmp.file());
    SaveLinkSettings(store, {3, "38400,e,8,1", 7});
    ::umask(old_umask);
    const std::string link =
        reg("\"ScanCommNo\"=dword:00000003\n\"ScanBaudRateNo\"=dword:00000007\n"
            "\"ScanBaudRate\"=\"38400,e,8,1\"\n");
    EXPECT_EQ(read_text(tmp.file()), link);
    struct stat st {};
    ASSERT_EQ(::stat(tmp.file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);

    SaveLanguage(store, "ChineseBIG5");
    EXPECT_EQ(read_text(tmp.file()), link + "\"LanguageFlag\"=\"ChineseBIG5\"\n");
    AppState state;
    LoadSettings(store, state);
    EXPECT_EQ(state.link.port, 3);
    EXPECT_EQ(state.link.settings, "38400,e,8,1");
    EXPECT_EQ(state.link.index, 7);
    EXPECT_EQ(state.language, 2);
}

TEST(SettingsSave, FailedWriteEndsTheWriterButKeepsEarlierValues) {
    const struct {
        int writes_allowed;
        std::vector<const char*> stored;
    } cases[] = {
        {-1, {"ScanCommNo", "ScanBaudRateNo", "ScanBaudRate"}},
        {2, {"ScanCommNo", "ScanBaudRateNo"}},
        {1, {"ScanCommNo"}},
        {0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.writes_allowed);
        MemorySettingsStore store;
        store.writes_allowed = c.writes_allowed;
        SaveLinkSettings(store, {3, "38400,e,8,1", 7});
        EXPECT_EQ(store.closes, 1);
        const auto& values = store.keys[kSettingsKeyPath];
        ASSERT_EQ(values.size(), c.stored.size());
        for (const char* name : c.stored) EXPECT_TRUE(values.count(name)) << name;
    }
    MemorySettingsStore closed;
    closed.fail_open = true;
    SaveLanguage(closed, "English");
    EXPECT_EQ(closed.writes + closed.closes, 0);
    EXPECT_TRUE(closed.keys.empty());
}

// ---------------------------------------------------------------- file store

TEST(FileStoreSave, KeepsWhatAnotherProcessSavedMeanwhile) {
    TempDir tmp;
    FileSettingsStore first(tmp.file()), second(tmp.file());
    auto key = first.open_key(kSettingsKeyPath, true);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->write("ScanCommNo", MemorySettingsStore::dword(9)));
    SaveLinkSettings(second, {3, "38400,e,8,1", 7});  // between open and close of the first
    ASSERT_TRUE(key->write("LanguageFlag", MemorySettingsStore::text("ChineseGB")));
    ASSERT_TRUE(key->close());

    AppState state;
    LoadSettings(second, state);
    EXPECT_EQ(state.link.port, 9);  // the last save of a value stands
    EXPECT_EQ(state.link.settings, "38400,e,8,1");
    EXPECT_EQ(state.link.index, 7);
    EXPECT_EQ(state.language, 1);
}

TEST(FileStoreSave, ConcurrentSaversLoseNothing) {
    TempDir tmp;
    auto saver = [&](int id) {
        FileSettingsStore store(tmp.file());
        for (int i = 0; i < 40; ++i) {
            auto key = store.open_key(kSettingsKeyPath, true);
            ASSERT_TRUE(key);
            key->write("Saver" + std::to_string(id) + "_" + std::to_string(i),
                       MemorySettingsStore::dword(static_cast<uint32_t>(i)));
            ASSERT_TRUE(key->close());
        }
    };
    std::thread a(saver, 0), b(saver, 1);
    a.join();
    b.join();
    const auto parsed = parse_store_text(read_text(tmp.file()).value_or(""));
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->sections.size(), 1u);
    EXPECT_EQ(parsed->sections[0].values.size(), 80u);
    EXPECT_EQ(tmp.entries(), (std::set<std::string>{"settings.reg", "settings.reg.lock"}));
}

TEST(FileStoreSave, ClearsOnlyTemporaryFilesOfKilledSaves) {
    TempDir tmp;
    for (const char* name :
         {"settings.reg.tmp-Ab12Cd", "settings.reg.backup", "settings.reg.old001"}) {
        write_text(tmp.dir / name, "kept?");
    }
    FileSettingsStore store(tmp.file());
    SaveLanguage(store, "English");
    EXPECT_EQ(tmp.entries(), (std::set<std::string>{"settings.reg", "settings.reg.lock",
                                                    "settings.reg.backup", "settings.reg.old001"}));
}

TEST(FileStoreSave, FailedSaveLeavesOldFileIntact) {
    enum class Fault { ReadOnlyDirectory, FullDisk, UnwritableFile, MissingDirectory };
    const struct {
        const char* label;
        Fault fault;
        bool key_opens;
    } cases[] = {
        {"read-only directory", Fault::ReadOnlyDirectory, true},
        {"full disk", Fault::FullDisk, true},
        {"unwritable file", Fault::UnwritableFile, false},
        {"missing directory", Fault::MissingDirectory, false},
    };
    const std::string old = reg("\"ScanCommNo\"=dword:00000001\n\"LanguageFlag\"=\"ChineseGB\"\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir tmp;
        const fs::path path =
            c.fault == Fault::MissingDirectory ? tmp.dir / "none" / "settings.reg" : tmp.file();
        if (c.fault != Fault::MissingDirectory) {
            write_text(path, old);
            write_text(tmp.dir / "settings.reg.lock", "");
        }
        const bool protect =
            c.fault == Fault::ReadOnlyDirectory || c.fault == Fault::UnwritableFile;
        if (protect && !make_unwritable(c.fault == Fault::ReadOnlyDirectory ? tmp.dir : path)) {
            GTEST_SKIP() << "cannot protect a file";
        }
        const auto before = tmp.entries();
        FileSettingsStore store(path);
        store.set_fail_write_for_test(c.fault == Fault::FullDisk);
        auto key = store.open_key(kSettingsKeyPath, true);
        ASSERT_EQ(key != nullptr, c.key_opens);
        if (key) {
            EXPECT_TRUE(key->write("ScanCommNo", MemorySettingsStore::dword(5)));
            EXPECT_FALSE(key->close());
        }
        SaveLinkSettings(store, {7, "9600,n,8,1", 2});
        EXPECT_EQ(tmp.entries(), before);  // no temporary file left behind
        if (c.fault != Fault::MissingDirectory) {
            EXPECT_EQ(read_text(path), old);
        }
    }
}

TEST(FileStoreSave, OnlyWritingKeysTouchTheFile) {
    TempDir tmp;
    FileSettingsStore store(tmp.file());
    // Creating the key makes an empty file but stores nothing until a write.
    auto created = store.open_key(kSettingsKeyPath, true);
    ASSERT_TRUE(created);
    EXPECT_TRUE(created->close());
    EXPECT_EQ(read_text(tmp.file()), "");
    EXPECT_EQ(tmp.entries(), std::set<std::string>{"settings.reg"});

    // A file that is not a settings file holds no key, and a save leaves it
    // as it is.
    write_text(tmp.file(), "\x01garbage\n");
    EXPECT_FALSE(store.open_key(kSettingsKeyPath, false));
    SaveLanguage(store, "English");
    EXPECT_EQ(read_text(tmp.file()), "\x01garbage\n");
    write_text(tmp.file(), "");
    SaveLanguage(store, "English");
    EXPECT_EQ(read_text(tmp.file()), reg("\"LanguageFlag\"=\"English\"\n"));

    struct stat before {};
    struct stat after {};
    ::stat(tmp.file().c_str(), &before);
    auto reader = store.open_key(kSettingsKeyPath, false);
    ASSERT_TRUE(reader);
    ASSERT_TRUE(reader->query("languageflag"));
    EXPECT_FALSE(reader->write("Bad", MemorySettingsStore::text("two\nlines")));
    EXPECT_TRUE(reader->close());
    ::stat(tmp.file().c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);  // not replaced
}

TEST(FileStoreParse, ValueLines) {
    auto value = [](ValueType type, std::string data, uint32_t number = 0, uint32_t other = 3) {
        ParsedValue v;
        v.name = "a";
        v.value.type = type;
        v.value.data = std::move(data);
        v.value.dword = number;
        v.other_type = other;
        return v;
    };
    const struct {
        std::string line;
        std::optional<ParsedValue> expected;
    } cases[] = {
        {"\"a\"=dword:0000000A", value(ValueType::Dword, "", 10)},
        {"\"a\" = DWORD:1", value(ValueType::Dword, "", 1)},
        {"\"a\"=dword:123456789", std::nullopt},
        {"\"a\"=\"x\\\"y\\\\z\\q\"", value(ValueType::String, "x\"y\\z\\q")},
        {"\"a\"=\"open", std::nullopt},
        {"\"a\"=\"x\" tail", std::nullopt},
        {"\"a\"=-", std::nullopt},
        {"\"a\"=hex:01,FF", value(ValueType::Other, "\x01\xff")},
        {"\"a\"=hex(7):61,00", value(ValueType::Other, "a\0"s, 0, 7)},
        {"\"a\"=hex(3):", value(ValueType::Other, "")},
        {"\"a\"=hex:1,2,", std::nullopt},
        {"\"a\"=hex(zz):00", std::nullopt},
        {"\"a\"=hex(2):3d,d8,00,de,00,00", value(ValueType::ExpandString, "\U0001F600")},
        {"\"a\"=hex(2):00,d8,41,00", value(ValueType::ExpandString, "\uFFFDA")},
        {"\"a\"=hex(2):41,00,42", value(ValueType::ExpandString, "A")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto parsed = parse_store_text(reg(c.line + "\n"));
        ASSERT_TRUE(parsed);
        const ParsedValue* found = parsed->sections.at(0).find("a");
        ASSERT_EQ(found != nullptr, c.expected.has_value());
        if (found) {
            EXPECT_TRUE(*found == *c.expected);
        }
    }
}

TEST(FileStoreParse, SectionsMergeAndInvalidOnesHoldNothing) {
    const auto parsed = parse_store_text(kHeaderLine +
                                         "\"lost\"=dword:1\n[Key\\A]\n\"x\"=dword:1\n"
                                         "[-Key\\B]\n\"lost\"=dword:2\n[]\n\"lost\"=dword:3\n"
                                         "[KEY\\a]\n\"y\"=dword:2\n@=\"default\"\n");
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->sections.size(), 1u);
    const auto& section = parsed->sections[0];
    EXPECT_EQ(section.name, "Key\\A");
    ASSERT_EQ(section.values.size(), 3u);
    EXPECT_EQ(section.values[2].name, "");
    EXPECT_EQ(render_store_text(*parsed), kHeaderLine +
                                              "\n[Key\\A]\n\"x\"=dword:00000001\n"
                                              "\"y\"=dword:00000002\n@=\"default\"\n");
}

TEST(FileStoreParse, RenderLeavesOutWhatTheFileCannotHold) {
    ParsedStore store;
    auto& section = store.find_or_add("K");
    section.set("q", MemorySettingsStore::text("first"));
    section.set("lf", MemorySettingsStore::text("a\nb"));
    section.set("bad", MemorySettingsStore::text("\xff", ValueType::ExpandString));
    section.set("e", MemorySettingsStore::text("AB", ValueType::ExpandString));
    section.set("Q", MemorySettingsStore::text("a\"b\\c"));
    EXPECT_EQ(render_store_text(store), kHeaderLine +
                                            "\n[K]\n\"q\"=\"a\\\"b\\\\c\"\n"
                                            "\"e\"=hex(2):41,00,42,00,00,00\n");
}

// Any text, valid or not, parses without harm, and what it parses to
// survives rendering and parsing again.
TEST(FileStoreParse, RenderRoundTripsAnyParse) {
    // clang-format off
    const std::string pieces[] = {
        kHeaderLine, kSection, "[K\\", "]", "[-x]\n", "\"", "\\", "=", "@", "dword:", "hex",
        "hex(2):", "(7):", "3d,d8", ",00", ",\\\n", "\r\n", "\n", " ", "\"v\"=\"x\"\n", "\xff",
        "\x00"s, "\xd8", "0", "a", "ScanCommNo", ";c\n"};
    // clang-format on
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string text = round % 4 ? kHeaderLine : "";
        const int count = static_cast<int>(rng() % 60);
        for (int i = 0; i < count; ++i) {
            if (rng() % 8 == 0) {
                text += static_cast<char>(rng() & 0xFF);
            } else {
                text += pieces[rng() % std::size(pieces)];
            }
        }
        const auto parsed = parse_store_text(text);
        if (!parsed) continue;
        const std::string rendered = render_store_text(*parsed);
        const auto again = parse_store_text(rendered);
        ASSERT_TRUE(again) << text;
        ASSERT_TRUE(*again == *parsed) << text;
        ASSERT_EQ(render_store_text(*again), rendered);
    }
}

// ---------------------------------------------------------------- catalogue

TEST(Catalogue, EveryTextPresentOnOneLine) {
    for (int row = 0; row < kCatalogueRows; ++row) {
        for (int lang = 0; lang < kLanguages; ++lang) {
            const std::string& text = catalogue_text(row, lang);
            EXPECT_FALSE(text.empty()) << row << "/" << lang;
            EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << row << "/" << lang;
            if (lang == 0) {
                for (char c : text) EXPECT_GE(c, ' ') << row;  // English is plain ASCII
            }
        }
    }
}

TEST(Catalogue, SpotChecks) {
    const struct {
        int row;
        const char* texts[3];
    } cases[] = {
        {0,
         {"KELDO Technology Corp.   www.keldo.example", "KELDO股份有限公司   www.keldo.example",
          "KELDO股份有限公司   www.keldo.example"}},
        {1,
         {"KELDO TORVIK Reader Config V4.01-01", "KELDO TORVIK 读卡机设定程式 V4.01-01",
          "KELDO TORVIK 讀卡機設定程式 V4.01-01"}},
        {2, {"Start Scan Reader!", "请先扫描读卡机!", "請先掃描讀卡機!"}},
        {33,
         {"Get Reader Info Ok. (COM", "读取读卡机资讯完成. (串口", "讀取讀卡機資訊完成. (串口"}},
        {51, {"&Stand Alone Default 10-50 Sec", "单机预设10-50秒", "單機預設10-50秒"}},
        {61, {"Command Error", "指令错误", "指令錯誤"}},
    };
    for (const auto& c : cases) {
        for (int lang = 0; lang < kLanguages; ++lang) {
            EXPECT_EQ(catalogue_text(c.row, lang), c.texts[lang]) << c.row << "/" << lang;
        }
    }
}

TEST(Catalogue, OutOfRangeGivesEmptyText) {
    const std::pair<int, int> cases[] = {{-1, 0}, {kCatalogueRows, 0}, {0, -1}, {0, kLanguages}};
    for (const auto& [row, lang] : cases) EXPECT_EQ(catalogue_text(row, lang), "");
}

// The window's look, kept with the language: written by the same save,
// read back, and a stored value of the wrong type read as nothing.
TEST(Settings, HighContrastIsKeptWithTheLanguage) {
    struct Case {
        const char* label;
        std::string file;  // the file before; empty: none
        bool save, saved_on;
        bool expected;
        std::string language;
    };
    const Case cases[] = {
        {"saved on", "", true, true, true, "ChineseGB"},
        {"saved off", reg("\"LanguageFlag\"=\"English\"\n\"HighContrast\"=dword:00000001\n"), true,
         false, false, "ChineseGB"},
        {"stored on", reg("\"LanguageFlag\"=\"ChineseBIG5\"\n\"HighContrast\"=dword:00000001\n"),
         false, false, true, "ChineseBIG5"},
        {"missing", reg("\"LanguageFlag\"=\"ChineseBIG5\"\n"), false, false, false, "ChineseBIG5"},
        {"a string", reg("\"LanguageFlag\"=\"ChineseGB\"\n\"HighContrast\"=\"1\"\n"), false, false,
         false, "ChineseGB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir tmp;
        if (!c.file.empty()) {
            std::ofstream(tmp.file()) << c.file;
        }
        FileSettingsStore store(tmp.file());
        if (c.save) {
            SaveLanguage(store, c.language, c.saved_on);
            EXPECT_EQ(read_text(tmp.file()),
                      reg("\"LanguageFlag\"=\"" + c.language + "\"\n\"HighContrast\"=dword:0000000" +
                          (c.saved_on ? "1" : "0") + "\n"));
        }
        AppState state;
        LoadSettings(store, state);
        EXPECT_EQ(state.high_contrast, c.expected);
        EXPECT_EQ(state.language_name, c.language);
    }
}

}  // namespace
}  // namespace torvik::app
