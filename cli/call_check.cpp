// SPDX-License-Identifier: MIT
#include "cli/call_check.h"

#include <cstdlib>
#include <map>

#include "app/app_state.h"
#include "cli/text.h"
#include "link/file_io.h"

namespace torvik::cli {

namespace {

// One name for the same file however the command line spells it: the
// directory as the system resolves it, and the last part as given.
std::string FileKey(const std::string& path) {
    const std::string directory = link::DirectoryOf(path);
    std::string resolved = directory;
    if (char* real = ::realpath(directory.c_str(), nullptr)) {
        resolved = real;
        std::free(real);
    }
    return resolved + "/" + link::BaseNameOf(path);
}

}  // namespace

bool IsStandAloneSetting(const std::string& c) {
    return c == "door-time" || c == "alarm-time" || c == "master-card" || c == "duress-card" ||
           c == "clear-card" || c == "standalone-default";
}

std::optional<Said> CheckSelection(const Command& c, const TemplateFile& file,
                                   const std::string& shown) {
    if (file.slots.empty()) return Said(T::kHoldsNoSlot, {shown});
    const auto usable = [&](const TemplateSlot& s) -> std::optional<Said> {
        if (s.status == SlotStatus::Empty)
            return Said(T::kSlotEmpty, {shown, std::to_string(s.slot)});
        if (s.status == SlotStatus::Failed)
            return Said(T::kSlotFailed, {shown, std::to_string(s.slot)});
        return std::nullopt;
    };
    if (c.name == "template-put") {
        const TemplateSlot* s = file.find(c.number);
        if (!s && file.slots.size() != 1)
            return Said(T::kNoSlotAndMore, {shown, std::to_string(c.number)});
        return usable(s ? *s : file.slots.front());
    }
    if (!file.complete && !c.allow_incomplete) return Said(T::kIncompleteFile, {shown});
    if (c.to_slot && c.slots.empty()) {
        if (file.slots.size() != 1)
            return Said(T::kToSlotNeedsOne, {shown, std::to_string(file.slots.size())});
        return usable(file.slots.front());
    }
    for (int slot : c.slots) {
        const TemplateSlot* s = file.find(slot);
        if (!s) return Said(T::kNoSlot, {shown, std::to_string(slot)});
        if (auto refusal = usable(*s)) return refusal;
    }
    return std::nullopt;
}

std::vector<const TemplateSlot*> ChosenSlots(const Command& c, const TemplateFile& file) {
    std::vector<const TemplateSlot*> chosen;
    if (c.name == "template-put") {
        const TemplateSlot* s = file.find(c.number);
        chosen.push_back(s ? s : &file.slots.front());
    } else if (!c.slots.empty()) {
        for (int slot : c.slots) chosen.push_back(file.find(slot));
    } else {
        for (const auto& s : file.slots) chosen.push_back(&s);
    }
    return chosen;
}

CallCheck CheckCall(const std::vector<Command>& commands) {
    CallCheck check;
    check.files.resize(commands.size());
    const auto refuse = [&check](size_t i, Said said) {
        check.refusal = std::move(said);
        check.command = i;
        return check;
    };
    // The reader's mode as the call leaves it: a new process knows nothing
    // of it, and the reader does not tell.
    bool stand_alone = false;
    bool after_factory = false;
    // Files an earlier command of the call writes.
    std::map<std::string, bool> written;
    // A file to be written: its directory there and writable, nothing but
    // a regular file in its place, and that one (or one written earlier in
    // the call) replaced only when the command says so.
    const auto output = [&](const std::string& path, bool force, T exists) -> std::optional<Said> {
        const OutputCheck out = CheckOutputPath(path);
        if (out.refusal) return out.refusal;
        const bool there = out.state == OutputState::kRegular || written.count(FileKey(path));
        if (there && !force) return Said(exists, {ForTerminal(path)});
        return std::nullopt;
    };

    for (size_t i = 0; i < commands.size(); ++i) {
        const Command& c = commands[i];
        if (c.name == "raw") {
            const auto bytes = Utf8ToLatin1(c.text);
            if (!bytes || bytes->size() > static_cast<size_t>(app::kRawCommandMaxLength))
                return refuse(i, {T::kRawText, {std::to_string(app::kRawCommandMaxLength)}});
        } else if (c.name == "standalone-mode") {
            stand_alone = true;
        } else if (c.name == "factory-default") {
            // A factory default ends stand-alone mode (the window hides the
            // stand-alone buttons again).
            if (stand_alone) after_factory = true;
            stand_alone = false;
        } else if (IsStandAloneSetting(c.name) && !stand_alone) {
            return refuse(i, {after_factory ? T::kStandAloneAfterFactory : T::kStandAloneFirst,
                              {c.name}});
        } else if (c.name == "template-get") {
            if (auto refusal = output(c.file, c.force, T::kExists)) return refuse(i, *refusal);
            written[FileKey(c.file)] = true;
        } else if (c.name == "backup") {
            if (auto refusal = output(c.file, c.force, T::kExists)) return refuse(i, *refusal);
            const std::string incomplete = IncompleteName(c.file);
            if (auto refusal = output(incomplete, c.force, T::kIncompleteLeft))
                return refuse(i, *refusal);
            written[FileKey(c.file)] = true;
            written[FileKey(incomplete)] = true;
        } else if (c.name == "template-put" || c.name == "restore") {
            if (written.count(FileKey(c.file))) continue;  // read when its turn comes
            Said error;
            auto file = LoadTemplateFile(c.file, error);
            if (!file) return refuse(i, error);
            if (auto refusal = CheckSelection(c, *file, ForTerminal(c.file)))
                return refuse(i, *refusal);
            check.files[i] = std::move(*file);
        }
    }
    return check;
}

}  // namespace torvik::cli
