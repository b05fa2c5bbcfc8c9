// SPDX-License-Identifier: MIT
#include "app/diagnostics.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

#include "link/protocol.h"
#include "link/terminal_text.h"

namespace torvik::app {
namespace {

// The texts of this channel in the three languages (UTF-8), by key; kept
// apart from the message catalogue, which holds only the window's texts.
enum Key {
    kTried,
    kAnswered,
    kNoAnswer,
    kNothing,
    kGarbled,
    kFirstBytes,
    kWrongLength,  // %d: the length
    kCannotOpen,
    kSettingsCount,  // %d
    kTimes,          // %d
    kTo,
    kAt,
    kNoDevice,
    kLockHint,  // %s: the one setting tried
    kNoComYet,
    kNoDeviceForCom,
    kPinned,
    kKeptFor,
    kLastSeen,
    kSkipped,
    kCopyAccount,
    kEcho,
    kTurnaround,
    kLate,     // %d: milliseconds
    kLatency,  // %d: milliseconds
    kLatencyTimer,  // %d
    kKeys
};

using Row = std::array<const char*, 3>;
constexpr std::array<Row, kKeys> kTexts = {{
    {"The scan tried:", "扫描尝试了:", "掃描嘗試了:"},
    {"answered", "有回应", "有回應"},
    {"no answer", "没有回应", "沒有回應"},
    {"nothing arrived", "没有收到任何资料", "沒有收到任何資料"},
    {"garbled: wrong speed or parity, noise, or two devices on the line",
     "乱码: 通讯速度或同位检查不符、线路杂讯, 或线上有两台设备",
     "亂碼: 通訊速度或同位檢查不符、線路雜訊, 或線上有兩台設備"},
    {"first bytes", "最先收到的字节", "最先收到的位元組"},
    {"presence reply of %d bytes instead of 16", "询问回应长度为 %d 字节, 应为 16",
     "詢問回應長度為 %d 位元組, 應為 16"},
    {"cannot be opened", "无法开启", "無法開啟"},
    {"%d settings", "%d 种设定", "%d 種設定"},
    {"%d times", "%d 次", "%d 次"},
    {" to ", " 至 ", " 至 "},
    {" at ", " 使用 ", " 使用 "},
    {"No serial device found: is the USB adapter plugged in? If it disappears right after "
     "plug-in, brltty may have claimed it (look for 'brltty' in: sudo dmesg | grep -i tty; "
     "remove it with: sudo apt remove brltty)",
     "找不到任何串行设备: USB 转接器是否已插上? 若插上后立即消失, 可能被 brltty 占用 "
     "(在 sudo dmesg | grep -i tty 的输出中找 'brltty'; 用 sudo apt remove brltty 移除)",
     "找不到任何序列裝置: USB 轉接器是否已插上? 若插上後立即消失, 可能被 brltty 佔用 "
     "(在 sudo dmesg | grep -i tty 的輸出中找 'brltty'; 用 sudo apt remove brltty 移除)"},
    {"The lock box beside the baud rate was ticked, so each port was tried only at %s: clear "
     "it so that all fourteen settings are tried.",
     "通讯速度旁的锁定框已勾选, 每个端口只尝试了 %s: 取消勾选即可尝试全部十四种设定。",
     "通訊速度旁的鎖定框已勾選, 每個埠只嘗試了 %s: 取消勾選即可嘗試全部十四種設定。"},
    {"no COM port yet", "尚无 COM 端口", "尚無 COM 埠"},
    {"no device", "没有设备", "沒有設備"},
    {"pinned", "指定", "指定"},
    {"kept for", "保留给", "保留給"},
    {"last seen", "上次所见", "上次所見"},
    {"skipped", "已略过", "已略過"},
    {"Copy scan account", "复制扫描记录", "複製掃描記錄"},
    {"the adapter echoes what is sent (handled)", "转接器会回传送出的资料 (已处理)",
     "轉接器會回傳送出的資料 (已處理)"},
    {"turnaround glitch bytes before the replies (handled)",
     "回应前有线路切换的杂讯字节 (已处理)", "回應前有線路切換的雜訊位元組 (已處理)"},
    {"a reply came up to %d ms after its budget", "有回应在时限过后最多 %d 毫秒才到",
     "有回應在時限過後最多 %d 毫秒才到"},
    {"replies were cut off, and the adapter holds received bytes up to %d ms (its latency "
     "timer): try --low-latency",
     "回应被截断, 转接器收到资料后最多保留 %d 毫秒才传出 (延迟计时器): 可试用 --low-latency",
     "回應被截斷, 轉接器收到資料後最多保留 %d 毫秒才傳出 (延遲計時器): 可試用 --low-latency"},
    {"latency timer %d ms", "延迟计时器 %d 毫秒", "延遲計時器 %d 毫秒"},
}};

// The serial device's own words in the causes and reasons it gives, as the
// other languages say them; names, paths and numbers between them stay.
// Longer phrases come before the shorter ones they contain.
constexpr std::array<Row, 24> kPhrases = {{
    {"no RS-485 mode in this port's driver", "此端口的驱动程式没有 RS-485 模式",
     "此埠的驅動程式沒有 RS-485 模式"},
    {"USB RS-485 adapters switch the direction themselves: leave --rs485 out",
     "USB RS-485 转接器会自行切换方向: 请勿使用 --rs485",
     "USB RS-485 轉接器會自行切換方向: 請勿使用 --rs485"},
    {"the port's driver did not take the RS-485 mode (RTS on send)",
     "此端口的驱动程式未接受 RS-485 模式 (传送时 RTS)", "此埠的驅動程式未接受 RS-485 模式 (傳送時 RTS)"},
    {"the port's exclusive flag was left set by a program that ended",
     "端口的独占旗标由已结束的程式遗留", "埠的獨佔旗標由已結束的程式遺留"},
    {"the port's exclusive flag is set, but no program locks the port",
     "端口的独占旗标已设定, 但没有程式锁定此端口", "埠的獨佔旗標已設定, 但沒有程式鎖定此埠"},
    {"unplug and replug the adapter", "请拔下再插上转接器", "請拔下再插上轉接器"},
    {"held by another program", "被其他程式占用", "被其他程式佔用"},
    {" and you are not in it; run: ", ", 您不在此群组中; 请执行: ", ", 您不在此群組中; 請執行: "},
    {", then log out completely and log in again", ", 然后完全登出再登入", ", 然後完全登出再登入"},
    {" but this session does not have it yet: log out completely and log in again",
     ", 但本次登入尚未生效: 请完全登出再登入", ", 但本次登入尚未生效: 請完全登出再登入"},
    {"; you were added to group ", "; 您已被加入群组 ", "; 您已被加入群組 "},
    {" belongs to group ", " 属于群组 ", " 屬於群組 "},
    {"permission denied", "没有权限", "沒有權限"},
    {"busy: held by ", "忙碌: 被占用于 ", "忙碌: 被佔用於 "},
    {"busy", "忙碌", "忙碌"},
    {"no such device", "没有此设备", "沒有此裝置"},
    {"not a serial device", "不是串行设备", "不是序列裝置"},
    {"vanished", "已消失", "已消失"},
    {"a port is already open", "已有一个端口开启", "已有一個埠開啟"},
    {"cannot be opened", "无法开启", "無法開啟"},
    {"login terminal of ", "登入终端机, 属于 ", "登入終端機, 屬於 "},
    {"system console", "系统主控台", "系統主控台"},
    {"skipped: ", "已略过: ", "已略過: "},
    {"either ", "可能是 ", "可能是 "},
}};

std::string T(Key key, int language) {
    const size_t column = language >= 0 && language < 3 ? static_cast<size_t>(language) : 0;
    return kTexts[static_cast<size_t>(key)][column];
}

// A text with one %d or %s filled in.
std::string Fill(Key key, int language, const std::string& value) {
    const std::string text = T(key, language);
    size_t at = text.find("%d");
    if (at == std::string::npos) at = text.find("%s");
    if (at == std::string::npos) return text;
    return text.substr(0, at) + value + text.substr(at + 2);
}

std::string Com(int port) {
    return "COM" + std::to_string(port);
}

// A cause or reason of the serial device in the language.
std::string Translated(std::string text, int language) {
    if (language <= 0 || language > 2) return text;
    for (const Row& phrase : kPhrases) {
        const std::string_view from = phrase[0];
        for (size_t at = 0; (at = text.find(from, at)) != std::string::npos;) {
            text.replace(at, from.size(), phrase[static_cast<size_t>(language)]);
            at += std::strlen(phrase[static_cast<size_t>(language)]);
        }
    }
    return text;
}

// The cause without the "COM3 (/dev/ttyUSB0): " the serial device puts in
// front of it, since the line names port and device itself.
std::string BareCause(const PortAttempt& a, int language) {
    if (a.cause.empty()) return T(kCannotOpen, language);
    const std::string com = Com(a.port);
    if (a.cause.compare(0, com.size(), com) != 0) return Translated(a.cause, language);
    size_t rest = com.size();
    if (a.cause.compare(rest, 2, " (") == 0) {
        const size_t close = a.cause.find("): ", rest);
        if (close == std::string::npos) return Translated(a.cause, language);
        rest = close + 1;
    }
    if (a.cause.compare(rest, 2, ": ") != 0) return Translated(a.cause, language);
    return Translated(a.cause.substr(rest + 2), language);
}

// What the line did besides, over a run of openings: "(the adapter echoes
// what is sent (handled); ...)", or nothing.
std::string LineNotes(const std::vector<const PortAttempt*>& run, int language) {
    bool echo = false, turnaround = false, cut_off = false;
    int late = -1;
    uint32_t latency = 0;
    for (const PortAttempt* a : run) {
        echo = echo || a->echo;
        turnaround = turnaround || a->turnaround;
        cut_off = cut_off || a->cut_off;
        late = std::max(late, a->late_ms);
        latency = std::max(latency, a->latency_ms);
    }
    std::vector<std::string> notes;
    if (echo) notes.push_back(T(kEcho, language));
    if (turnaround) notes.push_back(T(kTurnaround, language));
    if (late >= 0) notes.push_back(Fill(kLate, language, std::to_string(late)));
    // The usual USB timer is 16 ms; a longer one can outlast a reply's pauses.
    if (cut_off && latency > 16) notes.push_back(Fill(kLatency, language, std::to_string(latency)));
    std::string text;
    for (const std::string& note : notes) text += (text.empty() ? " (" : "; ") + note;
    return text.empty() ? text : text + ")";
}

// The outcome of an opening, without the bytes of a garbled reply.
std::string AttemptOutcome(const PortAttempt& a, int language) {
    if (!a.opened) return BareCause(a, language);
    if (a.answered) return T(kAnswered, language);
    switch (a.reply) {
        case ReplyCause::kNotRecorded:
            return T(kNoAnswer, language);
        case ReplyCause::kNothing:
            return T(kNothing, language);
        case ReplyCause::kGarbled:
            return T(kGarbled, language);
        case ReplyCause::kWrongLength:
            return Fill(kWrongLength, language, std::to_string(a.reply_length));
        case ReplyCause::kAnswered:
            return T(kAnswered, language);
    }
    return T(kNoAnswer, language);
}

// The settings of a run of openings of one port: "at A", "at A; B",
// "at A to D (4 settings)", and "(2 times)" for one string tried again.
std::string SettingsOf(const std::vector<const PortAttempt*>& run, int language) {
    std::vector<std::string> distinct;
    for (const PortAttempt* a : run) {
        if (distinct.empty() || distinct.back() != a->settings) distinct.push_back(a->settings);
    }
    std::string text = T(kAt, language) + distinct.front();
    if (distinct.size() == 2) text += "; " + distinct.back();
    if (distinct.size() > 2) {
        text += T(kTo, language) + distinct.back() + " (" +
                Fill(kSettingsCount, language, std::to_string(distinct.size())) + ")";
    }
    if (distinct.size() == 1 && run.size() > 1) {
        text += " (" + Fill(kTimes, language, std::to_string(run.size())) + ")";
    }
    return text;
}

}  // namespace

std::string DescribeScan(const std::vector<PortAttempt>& attempts,
                         const std::vector<std::string>& present_devices,
                         const std::vector<std::pair<std::string, std::string>>& skipped_devices,
                         const ScanContext& context) {
    const int lang = context.language;
    std::string text = attempts.empty() ? "" : T(kTried, lang);
    bool any_opened = false;
    bool any_answered = false;
    std::string locked_settings;
    for (size_t i = 0; i < attempts.size();) {
        const PortAttempt& first = attempts[i];
        const std::string outcome = AttemptOutcome(first, lang);
        any_opened = any_opened || first.opened;
        std::string line;
        if (first.device.empty()) {
            // Ports with nothing behind them, one after the other: one line.
            size_t j = i + 1;
            int last = first.port;
            while (j < attempts.size() && attempts[j].device.empty() &&
                   attempts[j].port == last + 1 && !attempts[j].opened &&
                   AttemptOutcome(attempts[j], lang) == outcome) {
                last = attempts[j++].port;
            }
            line = Com(first.port) + (last != first.port ? T(kTo, lang) + Com(last) : "") + ": " +
                   outcome;
            i = j;
        } else {
            std::vector<const PortAttempt*> run{&first};
            size_t j = i + 1;
            while (j < attempts.size() && attempts[j].port == first.port &&
                   attempts[j].device == first.device && attempts[j].opened == first.opened &&
                   AttemptOutcome(attempts[j], lang) == outcome) {
                run.push_back(&attempts[j++]);
            }
            line = Com(first.port) + " (" + first.device + ")" + SettingsOf(run, lang) + ": " +
                   outcome + LineNotes(run, lang);
            if (first.opened && !first.answered && first.reply == ReplyCause::kGarbled &&
                !first.first_bytes.empty()) {
                line +=
                    " (" + T(kFirstBytes, lang) + ": " + link::HexPairs(first.first_bytes) + ")";
            }
            i = j;
        }
        if (!text.empty()) text += '\n';
        text += line;
    }
    for (const auto& [device, reason] : skipped_devices) {
        if (!text.empty()) text += '\n';
        text += device + ": " + T(kSkipped, lang) + ": " + Translated(reason, lang);
    }
    for (const PortAttempt& a : attempts) {
        any_answered = any_answered || a.answered;
        if (a.opened && locked_settings.empty()) locked_settings = a.settings;
    }
    if (present_devices.empty() && !any_opened) {
        if (!text.empty()) text += '\n';
        text += T(kNoDevice, lang);
    }
    if (context.locked && any_opened && !any_answered) {
        if (!text.empty()) text += '\n';
        text += Fill(kLockHint, lang, locked_settings);
    }
    // Device paths, process names and the first bytes' causes come from
    // outside; the account goes to terminals and the trace as well.
    return link::TerminalSafe(text);
}

std::string DescribeLink(int port, const std::string& device, int language) {
    if (port < 1) return T(kNoComYet, language);
    if (device.empty()) return Com(port) + ": " + T(kNoDeviceForCom, language);
    return link::TerminalSafe(Com(port) + " = " + device);
}

namespace {

std::string DescribeMappedLink(int port, const link::ComMap& map, int language);

}  // namespace

std::string DescribeLink(int port, const link::ComMap& map, int language) {
    // Adapter names are the adapter's own texts, or the number file's.
    return link::TerminalSafe(DescribeMappedLink(port, map, language));
}

namespace {

std::string DescribeMappedLink(int port, const link::ComMap& map, int language) {
    if (port < 1) return T(kNoComYet, language);
    std::optional<link::ComMap::Entry> e;
    for (const link::ComMap::Entry& entry : map.entries()) {  // a fresh look
        if (entry.number == port) e = entry;
    }
    using State = link::ComMap::State;
    const std::string device =
        e && (e->state == State::kPresent || e->state == State::kPinned) ? e->device : "";
    if (device.empty()) {
        std::string text = Com(port) + ": " + T(kNoDeviceForCom, language);
        if (e && e->state == State::kAbsent) {
            const std::string adapter = e->info.adapter();
            text += " (" + T(kKeptFor, language) + " " + (adapter.empty() ? e->key : adapter);
            if (!e->device.empty()) text += ", " + T(kLastSeen, language) + " " + e->device;
            text += ")";
        }
        return text;
    }
    std::string text = Com(port) + " = " + device;
    const std::string adapter = e->info.adapter();
    if (!adapter.empty()) text += ", " + adapter;
    if (e->info.latency_ms >= 0)
        text += ", " + Fill(kLatencyTimer, language, std::to_string(e->info.latency_ms));
    if (!e->info.by_id.empty() && !e->info.names_formed) text += ", by-id " + e->info.by_id;
    if (e->state == State::kPinned) text += " (" + T(kPinned, language) + ")";
    return text;
}

}  // namespace

std::string CopyScanAccountCaption(int language) {
    return T(kCopyAccount, language);
}

void InstallDiagnostics(TfrmModule& form, const link::ComMap& map,
                        std::function<void(const std::string&)> trace_line) {
    // The last scan as it ran (the lock box may change afterwards), so that
    // its account can be written again in another language.
    struct LastScan {
        bool done = false;
        std::vector<PortAttempt> record;
        bool locked = false;
    };
    auto last = std::make_shared<LastScan>();
    const auto show = [&form, &map, last] {
        if (last->done) {
            form.pnMsg.set_hint(DescribeScan(last->record, map.present_devices(),
                                             map.skipped_devices(),
                                             {form.state.language, last->locked}));
        }
        form.cmbBaudRate.set_hint(DescribeLink(form.state.link.port, map, form.state.language));
    };
    form.core.on_scan_finished = [&form, last, show, trace_line = std::move(trace_line)](
                                     const std::vector<PortAttempt>& record) {
        last->done = true;
        last->record = record;
        last->locked = form.chkLock.checked();
        show();
        if (trace_line) trace_line(form.pnMsg.hint());
    };
    // A language button writes the tooltips again in the language it chose.
    for (Control* button : {&form.btnEng, &form.btnGB, &form.btnBIG5}) {
        button->on_event = [switch_language = button->on_event, show] {
            if (switch_language) switch_language();
            show();
        };
    }
    show();
}

}  // namespace torvik::app
