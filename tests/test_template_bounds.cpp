// SPDX-License-Identifier: MIT
// Reading a template file a technician was handed: the JSON reader's limits
// (nesting, number of values, numbers out of range), a format version far
// beyond any integer, and names that are not regular files, which are
// refused before anything could wait on them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli/json.h"
#include "cli/template_file.h"
#include "link/terminal_text.h"
#include "tests/scratch_dir.h"

namespace torvik::test {
namespace {

namespace fs = std::filesystem;

std::string Nested(int depth) {
    return std::string(static_cast<size_t>(depth), '[') + std::string(static_cast<size_t>(depth), ']');
}

// Small values, `count` of them, in one array.
std::string ManyValues(size_t count) {
    std::string text = "[";
    text.reserve(count * 2 + 2);
    for (size_t i = 0; i < count; ++i) text += i ? ",0" : "0";
    return text + "]";
}

TEST(JsonLimits, WhatIsReadAndWhatIsRefused) {
    struct Row {
        const char* what;
        std::string text;
        const char* error;  // the start of the reason; empty: read
    } const rows[] = {
        {"numbers as written", "[0, -0, 1.5e3, -12, 1E2, 0.25]", ""},
        {"a leading zero", "[01]", "bad number"},
        {"beyond a double", "[1e400]", "number out of range"},
        {"below a double", "[1e-400]", "number out of range"},
        {"the largest double", "[1.7976931348623157e308]", ""},
        {"nesting at the limit", Nested(cli::kJsonMaxDepth + 1), ""},
        {"nesting past the limit", Nested(cli::kJsonMaxDepth + 2), "nesting too deep"},
        {"values at the limit", ManyValues(cli::kJsonMaxValues - 1), ""},
        {"values past the limit", ManyValues(cli::kJsonMaxValues), "too many values"},
        {"a 16 MiB file of small values", ManyValues(size_t{8} << 20), "too many values"},
        {"member names count too",
         "{" + [] {
             std::string members;
             for (size_t i = 0; i < cli::kJsonMaxValues; ++i)
                 members += (i ? ",\"" : "\"") + std::to_string(i) + "\":0";
             return members;
         }() + "}",
         "too many values"},
        {"text beyond the memory limit",
         "[\"" + std::string(cli::kJsonMaxBytes, 'x') + "\"]", "too large"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::string error;
        const auto value = cli::ParseJson(r.text, error);
        EXPECT_EQ(value.has_value(), *r.error == '\0') << error;
        EXPECT_EQ(error.rfind(r.error, 0), 0u) << error;
    }
}

std::string FileWithVersion(const std::string& version) {
    return "{\"format\": \"torvik-templates\", \"version\": " + version + ", \"slots\": []}";
}

TEST(TemplateFileRead, FormatVersionsBeyondAnyIntegerAreRefusedInWords) {
    struct Row {
        const char* version;
        const char* error;
    } const rows[] = {
        {"1", ""},
        {"3", "format version 3 is newer than this tool reads (2)"},
        {"1e300", "format version 1e+300 is newer than this tool reads (2)"},
        {"1.7976931348623157e308",
         "format version 1.79769313486232e+308 is newer than this tool reads (2)"},
        {"1.5", "damaged: no format version"},
        {"-1e300", "damaged: no format version"},
        {"\"1\"", "damaged: no format version"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.version);
        std::string error;
        const auto file = cli::ParseTemplateFile(FileWithVersion(r.version), error);
        EXPECT_EQ(file.has_value(), *r.error == '\0');
        EXPECT_EQ(error, r.error);
    }
}

TEST(TemplateFileRead, OverlongTextsAreRefusedAndNotRepeated) {
    const std::string head = "{\"format\": \"torvik-templates\", \"version\": 1, ";
    const std::string big(1 << 20, 'x');
    struct Row {
        const char* what;
        std::string text;
        std::string error;
    } const rows[] = {
        {"a tool name of a megabyte", head + "\"tool\": \"" + big + "\", \"slots\": []}",
         "damaged: tool or date is not a short text"},
        {"a serial number of a megabyte",
         head + "\"reader\": {\"serial\": \"" + big + "\"}, \"slots\": []}",
         "damaged: reader serial or version is not a short text"},
        {"a piece of a megabyte",
         head + "\"slots\": [{\"slot\": 4, \"status\": \"ok\", \"pieces\": [\"" + big +
             "\", \"\", \"\"]}]}",
         "slot 4 is damaged: piece 1 is longer than 256 bytes"},
        {"a status of a megabyte",
         head + "\"slots\": [{\"slot\": 4, \"status\": \"" + big + "\"}]}",
         "slot 4 is damaged: unknown status \"" + big.substr(0, 40) + "...\""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::string error;
        EXPECT_FALSE(cli::ParseTemplateFile(r.text, error));
        EXPECT_EQ(error, r.error);
    }
}

TEST(TemplateFileRead, OnlyRegularFilesAreOpenedAndErrorsAreSafeForATerminal) {
    TempDir dir;
    const fs::path good = dir.dir / "good.json";
    std::ofstream(good) << FileWithVersion("1");
    const fs::path fifo = dir.dir / "fifo.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path link = dir.dir / "link.json";
    fs::create_symlink(good, link);
    const fs::path huge = dir.dir / "huge.json";
    { std::ofstream(huge) << "x"; }
    fs::resize_file(huge, (size_t{16} << 20) + 1);  // sparse: nothing is written
    const fs::path hostile = dir.dir / "\x1b]2;owned\x07.json";
    std::ofstream(hostile) << "{\"format\": \"torvik-templates\", \"version\": 1, \"slots\": "
                              "[{\"slot\": 1, \"status\": \"\\u001b[2J\"}]}";
    struct Row {
        const char* what;
        fs::path path;
        std::string error;  // empty: read
    } const rows[] = {
        {"a template file", good, ""},
        // Opened as a file, a FIFO would wait for a writer right here.
        {"a FIFO", fifo, fifo.string() + " is a FIFO, not a template file"},
        {"a device", "/dev/null", "/dev/null is a device, not a template file"},
        {"a directory", dir.dir, dir.dir.string() + " is a directory, not a template file"},
        {"a link", link, link.string() + " is a symbolic link, not a template file"},
        {"far too large", huge, huge.string() + ": too large for a template file"},
        {"texts from the file and its name", hostile,
         dir.dir.string() +
             "/\\x1b]2;owned\\x07.json: slot 1 is damaged: unknown status \"\\x1b[2J\""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::string error;
        const auto file = cli::LoadTemplateFile(r.path.string(), error);
        EXPECT_EQ(file.has_value(), r.error.empty());
        EXPECT_EQ(error, r.error);
        EXPECT_TRUE(link::IsTerminalSafe(error));
    }
}

}  // namespace
}  // namespace torvik::test
