// SPDX-License-Identifier: MIT
// The settings file parser and the settings load under arbitrary file text:
// what parses renders and parses back to the same store, and loading from a
// file holding the text never fails and gives a language index of 0..2 and
// the port the file holds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "app/file_settings_store.h"
#include "app/settings.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace torvik::app;

// One file per process, in its own temporary directory, removed at exit.
// Memory-backed when possible: rewriting a file on ext4 waits for the disk.
std::string g_dir, g_file;

void RemoveTempFiles() {
    std::remove(g_file.c_str());
    rmdir(g_dir.c_str());
}

const std::string& TempFile() {
    if (g_file.empty()) {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string dir = std::string(base) + "/torvik-fuzz-settings-XXXXXX";
        CHECK(mkdtemp(dir.data()) != nullptr);
        g_dir = dir;
        g_file = g_dir + "/settings.reg";
        std::atexit(RemoveTempFiles);
    }
    return g_file;
}

void WriteFile(const std::string& path, std::string_view text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    CHECK(f != nullptr);
    CHECK(std::fwrite(text.data(), 1, text.size(), f) == text.size());
    CHECK(std::fclose(f) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // Round trip: rendering keeps everything a parse can give.
    const auto parsed = parse_store_text(text);
    if (parsed) {
        const std::string rendered = render_store_text(*parsed);
        const auto again = parse_store_text(rendered);
        CHECK(again.has_value());
        CHECK(*again == *parsed);
        CHECK(render_store_text(*again) == rendered);
    }

    // Loading from a file holding the text.
    const std::string& path = TempFile();
    WriteFile(path, text);
    FileSettingsStore store(path);
    AppState state;
    LoadSettings(store, state);
    CHECK(state.language >= 0 && state.language <= 2);
    CHECK(state.language == 0 || state.language_name == kLanguageNames[size_t(state.language)]);

    // The port is the first value read: a 32-bit integer in the key's
    // section is taken as it stands.
    const ParsedSection* section =
        parsed ? parsed->find(std::string(kSettingsRoot) + kSettingsKeyPath) : nullptr;
    const ParsedValue* port = section ? section->find("ScanCommNo") : nullptr;
    if (port && port->value.type == ValueType::Dword) {
        CHECK(state.link.port == static_cast<int>(static_cast<int32_t>(port->value.dword)));
    }
    return 0;
}
