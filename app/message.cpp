// SPDX-License-Identifier: MIT
#include "app/message.h"

#include "app/catalogue.h"

namespace torvik::app {

std::string Message::Render(int language) const {
    std::string out;
    for (const Piece& p : pieces_) out += p.row >= 0 ? catalogue_text(p.row, language) : p.text;
    return out;
}

}  // namespace torvik::app
