// SPDX-License-Identifier: MIT
// What a screen reader is told about controls that say too little by
// themselves (image buttons, lists and scroll bars without a caption of
// their own, edits, the two lamps): a small table of the window's own
// texts in the three languages, apart from the message catalogue.
#pragma once
#include <string>
#include <string_view>

namespace torvik::ui {

enum class Spoken {
    None,  // the control's caption, or the label it is named by
    LinkIndicator,
    CardLamp,
    // The link indicator's states and the card lamp's.
    ReaderFound,
    Failed,
    Busy,
    LampLit,
    LampOff,
    SimplifiedChinese,
    TraditionalChinese,
    EncodedReading,
    ScanLock,
    ReaderId,
    FacilityCode,
    CardSlot,
    OutputInterface,
    WiegandFormat,
    Rs485Format,
    CardType,
    DoorTime,
    AlarmTime,
    CardId,
    RawReply,
    RawCommand,
    TemplatePart1,
    TemplatePart2,
    TemplatePart3,
    Defaults,
    Count
};

// The text of an entry in a language (0 English, 1 Simplified Chinese,
// 2 Traditional Chinese), UTF-8; empty for None.
std::string_view SpokenText(Spoken entry, int language);

// A lamp's name followed by its state, as the language writes it
// ("Link indicator: busy").
std::string NameWithState(Spoken name, Spoken state, int language);

}  // namespace torvik::ui
