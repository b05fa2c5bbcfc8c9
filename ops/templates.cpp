// SPDX-License-Identifier: MIT
// Reading a fingerprint template out of the reader in three pieces, and
// writing it back. Pieces are opaque text.
#include "ops/operations.h"

namespace torvik::ops {

namespace {

constexpr int kPieceLength = 256;

std::string PiecePayload(TfrmModule& f, char digit) {
    return "I00P" + app::Trim(f.pnFingerNo.caption()) + digit;
}

}  // namespace

void btnGetTemplateClick(TfrmModule& f) {
    app::Operation op;
    op.success_row = 58;
    op.failure_row = 59;
    op.attempt = [&f] {
        f.Sleep(100);
        if (!f.PresenceCheck()) return false;
        f.Sleep(100);
        if (!f.link.SendShort(PiecePayload(f, '0'))) return false;
        f.Sleep(2000);
        app::Control* boxes[] = {&f.edF1, &f.edF2, &f.edF3};
        for (int piece = 0; piece < 3; ++piece) {
            if (piece > 0) f.Sleep(100);
            if (!f.link.SendShort(PiecePayload(f, static_cast<char>('1' + piece)))) return false;
            // Boxes fill as pieces arrive and are never restored.
            boxes[piece]->set_text(f.link.field(6, kPieceLength));
        }
        return true;
    };
    f.RunOperation(op);
}

void btnPutTemplateClick(TfrmModule& f) {
    app::Operation op;
    op.success_row = 58;
    op.failure_row = 59;
    op.attempt = [&f] {
        f.Sleep(100);
        if (!f.PresenceCheck()) return false;
        const app::Control* boxes[] = {&f.edF1, &f.edF2, &f.edF3};
        const uint32_t waits[] = {100, 50, 50};
        for (int piece = 0; piece < 3; ++piece) {
            f.Sleep(waits[piece]);
            const std::string payload =
                PiecePayload(f, static_cast<char>('1' + piece)) + app::Trim(boxes[piece]->text());
            if (!f.link.SendShort(payload)) return false;
        }
        f.Sleep(500);
        return true;
    };
    f.RunOperation(op);
}

}  // namespace torvik::ops
