// SPDX-License-Identifier: MIT
// Reading a fingerprint template out of the reader in three pieces, and
// writing it back. Pieces are opaque bytes.
#include "app/text.h"
#include "ops/reader_operations.h"

namespace torvik::ops {

app::TemplateResult ReaderOperations::ReadTemplate(int finger) {
    app::TemplatePieces pieces;
    int pieces_read = 0;
    app::Operation op;
    op.success_row = 58;
    op.failure_row = 59;
    op.attempt = [this, finger, &pieces, &pieces_read] {
        c_.Sleep(100);
        if (!c_.PresenceCheck()) return false;
        c_.Sleep(100);
        if (!c_.link.SendShort(link::TemplatePrepareCommand(finger))) return false;
        c_.Sleep(2000);
        for (int piece = 0; piece < link::kTemplatePieces; ++piece) {
            if (piece > 0) c_.Sleep(100);
            if (!c_.link.SendShort(link::TemplateReadCommand(finger, piece + 1))) return false;
            // The boxes fill as pieces arrive and are never restored.
            pieces[static_cast<size_t>(piece)] = link::DecodeTemplatePiece(c_.link.reply());
            pieces_read = std::max(pieces_read, piece + 1);
            c_.view.ShowTemplatePiece(piece, app::TextOfBytes(pieces[static_cast<size_t>(piece)]));
        }
        return true;
    };
    app::TemplateResult result;
    static_cast<app::Result&>(result) = c_.RunOperation(op);
    result.pieces = std::move(pieces);
    result.pieces_read = pieces_read;
    return result;
}

app::Result ReaderOperations::WriteTemplate(int finger, const app::TemplatePieces& pieces) {
    app::Operation op;
    op.success_row = 58;
    op.failure_row = 59;
    op.attempt = [this, finger, &pieces] {
        c_.Sleep(100);
        if (!c_.PresenceCheck()) return false;
        const uint32_t waits[] = {100, 50, 50};
        for (int piece = 0; piece < link::kTemplatePieces; ++piece) {
            c_.Sleep(waits[piece]);
            const std::string payload = link::TemplateWriteCommand(
                finger, piece + 1, app::Trim(pieces[static_cast<size_t>(piece)]));
            if (!c_.link.SendShort(payload)) return false;
        }
        c_.Sleep(500);
        return true;
    };
    return c_.RunOperation(op);
}

}  // namespace torvik::ops
