// SPDX-License-Identifier: MIT
// The whole call checked before anything is sent: texts the reader must
// take, the order of the stand-alone commands, every template file to be
// written (its directory, what is already there) and every template file
// to be read (whole, undamaged, holding what the command names), in the
// order the commands use them, so that a file written by one command and
// read by a later one in the same call is taken.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/template_file.h"
#include "cli/texts.h"

namespace torvik::cli {

struct CallCheck {
    // Why the call cannot succeed, and which command says so.
    std::optional<Said> refusal;
    size_t command = 0;
    // By command: the template file read for template-put and restore
    // (nothing for one that an earlier command of the call writes: it is
    // read when its turn comes).
    std::vector<std::optional<TemplateFile>> files;
};

CallCheck CheckCall(const std::vector<Command>& commands);

// Whether a template file holds what a template-put or restore command
// asks of it; nothing when it does. `shown` names the file.
std::optional<Said> CheckSelection(const Command& command, const TemplateFile& file,
                                   const std::string& shown);

// The slots a template-put or restore command writes, in order (checked
// with CheckSelection first).
std::vector<const TemplateSlot*> ChosenSlots(const Command& command, const TemplateFile& file);

// The commands that set the stand-alone controller, which exist only in
// stand-alone mode.
bool IsStandAloneSetting(const std::string& command);

}  // namespace torvik::cli
