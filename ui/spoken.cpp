// SPDX-License-Identifier: MIT
#include "ui/spoken.h"

#include <array>
#include <cstddef>

namespace torvik::ui {

namespace {

struct Entry {
    Spoken key;
    std::array<std::string_view, 3> text;  // English, Simplified, Traditional
};

// clang-format off
constexpr Entry kEntries[] = {
    {Spoken::None,               {"", "", ""}},
    {Spoken::LinkIndicator,      {"Link indicator", "连线指示灯", "連線指示燈"}},
    {Spoken::CardLamp,           {"Card lamp", "读卡指示灯", "讀卡指示燈"}},
    {Spoken::ReaderFound,        {"reader found", "已找到读卡机", "已找到讀卡機"}},
    {Spoken::Failed,             {"failed", "失败", "失敗"}},
    {Spoken::Busy,               {"busy", "忙碌中", "忙碌中"}},
    {Spoken::LampLit,            {"lit", "亮", "亮"}},
    {Spoken::LampOff,            {"off", "熄灭", "熄滅"}},
    {Spoken::SimplifiedChinese,  {"Simplified Chinese", "简体中文", "簡體中文"}},
    {Spoken::TraditionalChinese, {"Traditional Chinese", "繁体中文", "繁體中文"}},
    {Spoken::EncodedReading,     {"ID (encoded reading)", "ID (加密读取)", "ID (加密讀取)"}},
    {Spoken::ScanLock,           {"Scan only this baud rate", "仅扫描此通讯速度", "僅掃描此通訊速度"}},
    {Spoken::ReaderId,           {"Reader ID", "读卡机编号", "讀卡機編號"}},
    {Spoken::FacilityCode,       {"Facility code", "区段码", "區段碼"}},
    {Spoken::CardSlot,           {"Card slot", "卡片编号", "卡片編號"}},
    {Spoken::OutputInterface,    {"Output interface", "输出接口", "輸出介面"}},
    {Spoken::WiegandFormat,      {"Wiegand format", "Wiegand 格式", "Wiegand 格式"}},
    {Spoken::Rs485Format,        {"RS485 format", "RS485 格式", "RS485 格式"}},
    {Spoken::CardType,           {"Card type", "卡片类别", "卡片類別"}},
    {Spoken::DoorTime,           {"Door open time", "开门时间", "開門時間"}},
    {Spoken::AlarmTime,          {"Alarm time", "警报时间", "警報時間"}},
    {Spoken::CardId,             {"Card ID", "卡号", "卡號"}},
    {Spoken::RawReply,           {"Test command reply", "指令测试回复", "指令測試回覆"}},
    {Spoken::RawCommand,         {"Test command", "指令测试", "指令測試"}},
    {Spoken::TemplatePart1,      {"Template part 1", "指纹模板第 1 段", "指紋模板第 1 段"}},
    {Spoken::TemplatePart2,      {"Template part 2", "指纹模板第 2 段", "指紋模板第 2 段"}},
    {Spoken::TemplatePart3,      {"Template part 3", "指纹模板第 3 段", "指紋模板第 3 段"}},
    {Spoken::Defaults,           {"Defaults and stand-alone mode", "预设与单机模式", "預設與單機模式"}},
};
// clang-format on

static_assert(std::size(kEntries) == static_cast<size_t>(Spoken::Count));

constexpr bool in_order() {
    for (size_t i = 0; i < std::size(kEntries); ++i) {
        if (kEntries[i].key != static_cast<Spoken>(i)) return false;
    }
    return true;
}
static_assert(in_order(), "one entry per key, in the order of the keys");

}  // namespace

std::string_view SpokenText(Spoken entry, int language) {
    const auto index = static_cast<size_t>(entry);
    if (index >= std::size(kEntries) || language < 0 || language > 2) return {};
    return kEntries[index].text[static_cast<size_t>(language)];
}

std::string NameWithState(Spoken name, Spoken state, int language) {
    // Chinese writes the full-width colon without a blank.
    const std::string_view colon = language == 0 ? ": " : "：";
    std::string text(SpokenText(name, language));
    text += colon;
    text += SpokenText(state, language);
    return text;
}

}  // namespace torvik::ui
