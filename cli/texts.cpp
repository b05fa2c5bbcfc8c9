// SPDX-License-Identifier: MIT
#include "cli/texts.h"

#include <cstdio>

namespace torvik::cli {

namespace {

// English, Simplified Chinese, Traditional Chinese; UTF-8. The rows are in
// the order of the keys (a test checks it).
const std::vector<TextRow> kRows = {
    // ---- the command line ----
    {T::kSeeHelp, {" (torvikctl --help explains)", " (torvikctl --help 有说明)",
                   " (torvikctl --help 有說明)"}},
    {T::kNeedsValue, {"{1} needs a value", "{1} 需要一个值", "{1} 需要一個值"}},
    {T::kWholeNumber,
     {"{1} must be a whole number from {2} to {3}, not \"{4}\"",
      "{1} 必须是 {2} 至 {3} 的整数, 而不是 \"{4}\"", "{1} 必須是 {2} 至 {3} 的整數, 而不是 \"{4}\""}},
    {T::kFromTo,
     {"{1} must be from {2} to {3}, not {4}", "{1} 必须在 {2} 至 {3} 之间, 而不是 {4}",
      "{1} 必須在 {2} 至 {3} 之間, 而不是 {4}"}},
    {T::kOneOf,
     {"{1} must be one of {2}, not \"{3}\"", "{1} 必须是 {2} 之一, 而不是 \"{3}\"",
      "{1} 必須是 {2} 之一, 而不是 \"{3}\""}},
    {T::kUnknownSettings,
     {"unknown settings \"{1}\" (expected e.g. 19200,e,8,1; see torvikctl set-baud --help)",
      "未知的设定 \"{1}\" (应为例如 19200,e,8,1; 参见 torvikctl set-baud --help)",
      "未知的設定 \"{1}\" (應為例如 19200,e,8,1; 參見 torvikctl set-baud --help)"}},
    {T::kNoParity,
     {"\"{1}\" names no parity: the reader takes {1},n,8,1 (no parity) and {1},e,8,1 (even "
      "parity); say which, e.g. set-baud {1},e",
      "\"{1}\" 没有指定同位检查: 读卡机接受 {1},n,8,1 (无同位检查) 和 {1},e,8,1 (偶同位检查); "
      "请指明, 例如 set-baud {1},e",
      "\"{1}\" 沒有指定同位檢查: 讀卡機接受 {1},n,8,1 (無同位檢查) 和 {1},e,8,1 (偶同位檢查); "
      "請指明, 例如 set-baud {1},e"}},
    {T::kEmptySlotList, {"empty slot list", "槽位列表是空的", "槽位列表是空的"}},
    {T::kRangeBackwards,
     {"slot range {1} runs backwards", "槽位范围 {1} 是倒过来的", "槽位範圍 {1} 是倒過來的"}},
    {T::kExpected, {"{1}: expected {2}", "{1}: 应为 {2}", "{1}: 應為 {2}"}},
    {T::kToSlotOne,
     {"restore: --to-slot moves one slot; --slots names more",
      "restore: --to-slot 只能移动一个槽位; --slots 指定了多个",
      "restore: --to-slot 只能移動一個槽位; --slots 指定了多個"}},
    {T::kTraceNeedsFile,
     {"--trace= needs a file name", "--trace= 需要一个文件名", "--trace= 需要一個檔案名稱"}},
    {T::kSettingsNeedsFile,
     {"--settings needs a file name", "--settings 需要一个文件名", "--settings 需要一個檔案名稱"}},
    {T::kRs485Delays,
     {"--rs485-delays needs BEFORE,AFTER in milliseconds (0 to 1000 each)",
      "--rs485-delays 需要 BEFORE,AFTER, 单位为毫秒 (各 0 至 1000)",
      "--rs485-delays 需要 BEFORE,AFTER, 單位為毫秒 (各 0 至 1000)"}},
    {T::kUnknownOption, {"unknown option {1}", "未知的选项 {1}", "未知的選項 {1}"}},
    {T::kCommandUnknownOption,
     {"{1}: unknown option {2}", "{1}: 未知的选项 {2}", "{1}: 未知的選項 {2}"}},
    {T::kUnknownCommand, {"unknown command \"{1}\"", "未知的命令 \"{1}\"", "未知的命令 \"{1}\""}},
    {T::kNoCommand, {"no command given", "没有给出命令", "沒有給出命令"}},
    {T::kReadSeconds,
     {"read --seconds must be a number of seconds above 0, not \"{1}\"",
      "read --seconds 必须是大于 0 的秒数, 而不是 \"{1}\"",
      "read --seconds 必須是大於 0 的秒數, 而不是 \"{1}\""}},
    {T::kWhatId, {"set-id: the ID", "set-id: 编号", "set-id: 編號"}},
    {T::kWhatFacility, {"set-facility: the code", "set-facility: 场区码", "set-facility: 場區碼"}},
    {T::kWhatSlot, {"{1}: the slot", "{1}: 槽位", "{1}: 槽位"}},
    {T::kWhatTime, {"{1}: the time in seconds", "{1}: 时间 (秒)", "{1}: 時間 (秒)"}},
    {T::kWhatASlot, {"a slot", "槽位", "槽位"}},
    {T::kWhatInterface, {"set-mode: the interface", "set-mode: 输出接口", "set-mode: 輸出介面"}},
    {T::kWhatWiegand,
     {"set-mode: the Wiegand format", "set-mode: Wiegand 格式", "set-mode: Wiegand 格式"}},
    {T::kWhatRs485,
     {"set-mode: the RS-485 format", "set-mode: RS-485 格式", "set-mode: RS-485 格式"}},
    {T::kWhatCardType, {"set-card-type: the card type", "set-card-type: 卡片类型",
                        "set-card-type: 卡片類型"}},
    {T::kPortRefused, {"--port {1} refused: {2}", "--port {1} 被拒绝: {2}", "--port {1} 被拒絕: {2}"}},
    {T::kPortBad,
     {"bad --port value {1} (expected COMn=PATH, n from 1 to 16)",
      "--port 的值 {1} 不正确 (应为 COMn=PATH, n 为 1 至 16)",
      "--port 的值 {1} 不正確 (應為 COMn=PATH, n 為 1 至 16)"}},
    {T::kSettingsDirMissing,
     {"--settings {1}: the directory {2} does not exist, so nothing could be stored there",
      "--settings {1}: 目录 {2} 不存在, 无法在其中保存设定",
      "--settings {1}: 目錄 {2} 不存在, 無法在其中儲存設定"}},
    {T::kTraceRefused,
     {"--trace={1} refused: {2}", "--trace={1} 被拒绝: {2}", "--trace={1} 被拒絕: {2}"}},
    {T::kTraceDirMissing,
     {"the directory {1} does not exist", "目录 {1} 不存在", "目錄 {1} 不存在"}},
    {T::kTraceLink,
     {"it is a symbolic link (name the file it leads to)", "它是符号链接 (请给出它指向的文件)",
      "它是符號連結 (請給出它指向的檔案)"}},
    {T::kTraceDirectory, {"it is a directory", "它是目录", "它是目錄"}},
    {T::kTraceFifo,
     {"it is a FIFO that no program reads", "它是没有程序在读取的 FIFO",
      "它是沒有程式在讀取的 FIFO"}},
    {T::kTraceKind, {"it {1}", "它{1}", "它{1}"}},
    {T::kTraceNotWritable,
     {"it cannot be written: {1}", "无法写入: {1}", "無法寫入: {1}"}},
    // ---- the help ----
    {T::kHelpUsage,
     {"usage: torvikctl [options] COMMAND [ARGS] [COMMAND [ARGS] ...]",
      "用法: torvikctl [选项] 命令 [参数] [命令 [参数] ...]",
      "用法: torvikctl [選項] 命令 [參數] [命令 [參數] ...]"}},
    {T::kHelpIntro,
     {"Configures a KELDO TORVIK reader from a terminal or a script. The whole call is\n"
      "checked first (arguments, files, the order of the commands): a call that cannot\n"
      "succeed sends nothing. The commands then run in order, after a scan at the stored\n"
      "settings (unless the first command is scan), and stop at the first one that does\n"
      "not succeed.",
      "从终端或脚本设定 KELDO TORVIK 读卡机。整个调用先经检查 (参数, 文件, 命令的顺序):\n"
      "不可能成功的调用什么也不发送。然后命令依次执行, 在此之前先以保存的设定扫描\n"
      "(除非第一个命令就是 scan), 遇到第一个未成功的命令即停止。",
      "從終端機或指令稿設定 KELDO TORVIK 讀卡機。整個呼叫先經檢查 (參數, 檔案, 命令的順序):\n"
      "不可能成功的呼叫什麼也不傳送。然後命令依次執行, 在此之前先以儲存的設定掃描\n"
      "(除非第一個命令就是 scan), 遇到第一個未成功的命令即停止。"}},
    {T::kHelpCommands, {"Commands:", "命令:", "命令:"}},
    {T::kHelpOptions, {"Options:", "选项:", "選項:"}},
    {T::kHelpOptionList,
     {"  --simulate         run against the simulated reader (torvik-sim) on COM1, with\n"
      "                     settings kept in a temporary file\n"
      "  --port COMn=PATH   use PATH as COMn (n from 1 to 16); may be given more than once\n"
      "  --com N            try COM N first (instead of the stored port)\n"
      "  --settings FILE    settings file (default /var/lib/torvik-config/settings.reg)\n"
      "  --trace[=FILE]     print every frame on stderr (or append it to FILE)\n"
      "  --rs485            put a board's UART into the kernel's RS-485 mode (the driver\n"
      "                     switches the direction with RTS); USB adapters do it themselves\n"
      "  --rs485-delays B,A RS-485 mode, RTS raised B ms before sending and dropped A ms after\n"
      "  --low-latency      ask a USB adapter to pass received bytes on at once\n"
      "  --list-ports       print the COM numbers and the serial devices, then end\n"
      "  --lang en|zh-hans|zh-hant  language of the texts (default: the stored one)\n"
      "  --json             one JSON object per command on stdout (docs/torvikctl.schema.json)\n"
      "  --beep             sound the outcome beeps (silent otherwise)\n"
      "  --help             this text; COMMAND --help explains one command\n"
      "  --version          show the version",
      "  --simulate         使用模拟读卡机 (torvik-sim), 位于 COM1, 设定保存在临时文件中\n"
      "  --port COMn=PATH   将 PATH 用作 COMn (n 为 1 至 16); 可给出多次\n"
      "  --com N            先尝试 COM N (而非保存的端口)\n"
      "  --settings FILE    设定文件 (默认 /var/lib/torvik-config/settings.reg)\n"
      "  --trace[=FILE]     在 stderr 上显示每个帧 (或附加到 FILE)\n"
      "  --rs485            将主板 UART 切换到内核的 RS-485 模式 (由驱动程序以 RTS\n"
      "                     切换方向); USB 转接器自行处理\n"
      "  --rs485-delays B,A RS-485 模式, 发送前 B 毫秒拉高 RTS, 发送后 A 毫秒放下\n"
      "  --low-latency      要求 USB 转接器立即转交收到的字节\n"
      "  --list-ports       显示 COM 编号和串行设备, 然后结束\n"
      "  --lang en|zh-hans|zh-hant  文字的语言 (默认: 保存的语言)\n"
      "  --json             每个命令在 stdout 上输出一个 JSON 对象 (docs/torvikctl.schema.json)\n"
      "  --beep             发出结果提示音 (否则静音)\n"
      "  --help             本说明; COMMAND --help 说明一个命令\n"
      "  --version          显示版本",
      "  --simulate         使用模擬讀卡機 (torvik-sim), 位於 COM1, 設定儲存在暫存檔中\n"
      "  --port COMn=PATH   將 PATH 用作 COMn (n 為 1 至 16); 可給出多次\n"
      "  --com N            先嘗試 COM N (而非儲存的埠)\n"
      "  --settings FILE    設定檔 (預設 /var/lib/torvik-config/settings.reg)\n"
      "  --trace[=FILE]     在 stderr 上顯示每個訊框 (或附加到 FILE)\n"
      "  --rs485            將主機板 UART 切換到核心的 RS-485 模式 (由驅動程式以 RTS\n"
      "                     切換方向); USB 轉接器自行處理\n"
      "  --rs485-delays B,A RS-485 模式, 傳送前 B 毫秒拉高 RTS, 傳送後 A 毫秒放下\n"
      "  --low-latency      要求 USB 轉接器立即轉交收到的位元組\n"
      "  --list-ports       顯示 COM 編號和序列裝置, 然後結束\n"
      "  --lang en|zh-hans|zh-hant  文字的語言 (預設: 儲存的語言)\n"
      "  --json             每個命令在 stdout 上輸出一個 JSON 物件 (docs/torvikctl.schema.json)\n"
      "  --beep             發出結果提示音 (否則靜音)\n"
      "  --help             本說明; COMMAND --help 說明一個命令\n"
      "  --version          顯示版本"}},
    {T::kHelpExit,
     {"Exit status: 0 all succeeded, 1 an operation failed or the run was stopped,\n"
      "2 no reader found, 64 usage error or a call that cannot succeed (nothing sent).",
      "结束状态: 0 全部成功, 1 某操作失败或执行被中止, 2 找不到读卡机,\n"
      "64 用法错误或不可能成功的调用 (什么也没有发送)。",
      "結束狀態: 0 全部成功, 1 某操作失敗或執行被中止, 2 找不到讀卡機,\n"
      "64 用法錯誤或不可能成功的呼叫 (什麼也沒有傳送)。"}},
    {T::kHelpCommandUsage,
     {"usage: torvikctl [options] {1}", "用法: torvikctl [选项] {1}", "用法: torvikctl [選項] {1}"}},
    // ---- kinds of files ----
    {T::kKindLink, {"is a symbolic link", "是符号链接", "是符號連結"}},
    {T::kKindFifo, {"is a FIFO", "是 FIFO", "是 FIFO"}},
    {T::kKindDevice, {"is a device", "是设备", "是裝置"}},
    {T::kKindDirectory, {"is a directory", "是目录", "是目錄"}},
    {T::kKindSocket, {"is a socket", "是 socket", "是 socket"}},
    {T::kKindOther, {"is not a regular file", "不是普通文件", "不是一般檔案"}},
    // ---- checks of the whole call ----
    {T::kNothingSent,
     {"{1}; nothing was sent", "{1}; 什么也没有发送", "{1}; 什麼也沒有傳送"}},
    {T::kRawText,
     {"raw: the text must be at most {1} characters of Latin-1",
      "raw: 文字最多 {1} 个 Latin-1 字符", "raw: 文字最多 {1} 個 Latin-1 字元"}},
    {T::kStandAloneFirst,
     {"{1} needs the reader in stand-alone mode, and torvikctl cannot read the mode back from "
      "the reader: put standalone-mode before it in the same call (torvikctl standalone-mode {1} "
      "...)",
      "{1} 需要读卡机处于独立模式, 而 torvikctl 无法从读卡机读回模式: 请在同一调用中将 "
      "standalone-mode 放在它之前 (torvikctl standalone-mode {1} ...)",
      "{1} 需要讀卡機處於獨立模式, 而 torvikctl 無法從讀卡機讀回模式: 請在同一呼叫中將 "
      "standalone-mode 放在它之前 (torvikctl standalone-mode {1} ...)"}},
    {T::kStandAloneAfterFactory,
     {"{1} comes after factory-default, which ends stand-alone mode: put standalone-mode "
      "between them",
      "{1} 位于 factory-default 之后, 而后者会结束独立模式: 请在两者之间加上 standalone-mode",
      "{1} 位於 factory-default 之後, 而後者會結束獨立模式: 請在兩者之間加上 standalone-mode"}},
    {T::kDirMissing,
     {"{1}: the directory {2} does not exist", "{1}: 目录 {2} 不存在", "{1}: 目錄 {2} 不存在"}},
    {T::kDirNotWritable,
     {"{1}: the directory {2} cannot be written: {3}", "{1}: 无法写入目录 {2}: {3}",
      "{1}: 無法寫入目錄 {2}: {3}"}},
    {T::kNotAFile,
     {"{1} {2}, not a template file", "{1} {2}, 不是模板文件", "{1} {2}, 不是模板檔案"}},
    {T::kExists,
     {"{1} exists: a template file is never replaced unless --force is given (choose another "
      "name, or add --force)",
      "{1} 已存在: 除非给出 --force, 否则绝不取代模板文件 (请换一个名称, 或加上 --force)",
      "{1} 已存在: 除非給出 --force, 否則絕不取代模板檔案 (請換一個名稱, 或加上 --force)"}},
    {T::kIncompleteLeft,
     {"{1} is left from a stopped backup: move it away, restore it with --allow-incomplete, or "
      "add --force to replace it",
      "{1} 是被中止的备份留下的: 请将其移走, 或以 --allow-incomplete 还原它, 或加上 --force "
      "取代它",
      "{1} 是被中止的備份留下的: 請將其移走, 或以 --allow-incomplete 還原它, 或加上 --force "
      "取代它"}},
    {T::kCannotRead, {"{1}: cannot be read: {2}", "{1}: 无法读取: {2}", "{1}: 無法讀取: {2}"}},
    {T::kTooLarge,
     {"{1}: too large for a template file", "{1}: 作为模板文件太大", "{1}: 作為模板檔案太大"}},
    {T::kHoldsNoSlot, {"{1}: holds no slot", "{1}: 没有任何槽位", "{1}: 沒有任何槽位"}},
    {T::kNoSlot, {"{1}: holds no slot {2}", "{1}: 没有槽位 {2}", "{1}: 沒有槽位 {2}"}},
    {T::kNoSlotAndMore,
     {"{1}: holds no slot {2} and more than one other", "{1}: 没有槽位 {2}, 而且有多个其他槽位",
      "{1}: 沒有槽位 {2}, 而且有多個其他槽位"}},
    {T::kToSlotNeedsOne,
     {"{1}: holds {2} slots; --to-slot needs one chosen with --slots",
      "{1}: 有 {2} 个槽位; --to-slot 需要以 --slots 选定一个",
      "{1}: 有 {2} 個槽位; --to-slot 需要以 --slots 選定一個"}},
    {T::kSlotEmpty,
     {"slot {2} of {1} is empty: there is no template to write",
      "{1} 的槽位 {2} 是空的: 没有可写入的模板", "{1} 的槽位 {2} 是空的: 沒有可寫入的模板"}},
    {T::kSlotFailed,
     {"slot {2} of {1} was not read at backup: there is no template to write",
      "{1} 的槽位 {2} 在备份时未能读取: 没有可写入的模板",
      "{1} 的槽位 {2} 在備份時未能讀取: 沒有可寫入的模板"}},
    {T::kIncompleteFile,
     {"{1} is an incomplete backup (stopped before its last slot): restore takes it only with "
      "--allow-incomplete",
      "{1} 是不完整的备份 (在最后一个槽位之前被中止): restore 只有加上 --allow-incomplete "
      "才会接受",
      "{1} 是不完整的備份 (在最後一個槽位之前被中止): restore 只有加上 --allow-incomplete "
      "才會接受"}},
    // ---- a template file's damage ----
    {T::kNotTemplate, {"{1}: not a template file", "{1}: 不是模板文件", "{1}: 不是模板檔案"}},
    {T::kNotTemplateBecause,
     {"{1}: not a template file: {2}", "{1}: 不是模板文件: {2}", "{1}: 不是模板檔案: {2}"}},
    {T::kNoFormatMember,
     {"{1}: not a template file (no \"format\": \"torvik-templates\")",
      "{1}: 不是模板文件 (没有 \"format\": \"torvik-templates\")",
      "{1}: 不是模板檔案 (沒有 \"format\": \"torvik-templates\")"}},
    {T::kNoVersion,
     {"{1}: damaged: no format version", "{1}: 已损坏: 没有格式版本", "{1}: 已損壞: 沒有格式版本"}},
    {T::kNewerVersion,
     {"{1}: format version {2} is newer than this tool reads ({3})",
      "{1}: 格式版本 {2} 比本工具能读取的 ({3}) 更新",
      "{1}: 格式版本 {2} 比本工具能讀取的 ({3}) 更新"}},
    {T::kUnknownEncoding,
     {"{1}: damaged: unknown encoding", "{1}: 已损坏: 未知的编码", "{1}: 已損壞: 未知的編碼"}},
    {T::kToolOrDate,
     {"{1}: damaged: tool or date is not a short text", "{1}: 已损坏: 工具或日期不是简短的文字",
      "{1}: 已損壞: 工具或日期不是簡短的文字"}},
    {T::kReaderFields,
     {"{1}: damaged: reader serial or version is not a short text",
      "{1}: 已损坏: 读卡机序号或版本不是简短的文字",
      "{1}: 已損壞: 讀卡機序號或版本不是簡短的文字"}},
    {T::kCompleteNotBool,
     {"{1}: damaged: \"complete\" is not true or false",
      "{1}: 已损坏: \"complete\" 不是 true 或 false",
      "{1}: 已損壞: \"complete\" 不是 true 或 false"}},
    {T::kNoSlotList,
     {"{1}: damaged: no slot list", "{1}: 已损坏: 没有槽位列表", "{1}: 已損壞: 沒有槽位列表"}},
    {T::kNoSlotNumber,
     {"{1}: damaged: entry {2} of the slot list has no slot number from 0 to 1000",
      "{1}: 已损坏: 槽位列表的第 {2} 项没有 0 至 1000 的槽位编号",
      "{1}: 已損壞: 槽位列表的第 {2} 項沒有 0 至 1000 的槽位編號"}},
    {T::kSlotDamaged,
     {"{1}: slot {2} is damaged: {3}", "{1}: 槽位 {2} 已损坏: {3}", "{1}: 槽位 {2} 已損壞: {3}"}},
    {T::kAppearsTwice, {"it appears twice", "它出现了两次", "它出現了兩次"}},
    {T::kNoStatus, {"no status", "没有状态", "沒有狀態"}},
    {T::kUnknownStatus,
     {"unknown status \"{1}\"", "未知的状态 \"{1}\"", "未知的狀態 \"{1}\""}},
    {T::kNotThreePieces,
     {"it does not hold three pieces", "它没有三个片段", "它沒有三個片段"}},
    {T::kPieceTooLongBytes,
     {"piece {1} is longer than {2} bytes", "片段 {1} 超过 {2} 字节", "片段 {1} 超過 {2} 位元組"}},
    {T::kPieceNotLatin1,
     {"piece {1} is not text of characters U+0000 to U+00FF",
      "片段 {1} 不是由 U+0000 至 U+00FF 的字符组成的文字",
      "片段 {1} 不是由 U+0000 至 U+00FF 的字元組成的文字"}},
    {T::kNoChecksum, {"no checksum", "没有校验和", "沒有檢查碼"}},
    {T::kChecksumMismatch,
     {"checksum does not match", "校验和不符", "檢查碼不符"}},
    {T::kEmptyWithTemplate,
     {"its status says empty, but it holds a template", "状态为空, 却含有模板",
      "狀態為空, 卻含有模板"}},
    {T::kFailedWithPieces,
     {"its status says failed, but it holds pieces", "状态为失败, 却含有片段",
      "狀態為失敗, 卻含有片段"}},
    {T::kNoFileChecksum,
     {"{1}: damaged: no checksum of the slot list", "{1}: 已损坏: 没有槽位列表的校验和",
      "{1}: 已損壞: 沒有槽位列表的檢查碼"}},
    {T::kFileChecksumMismatch,
     {"{1}: damaged: the checksum of the slot list does not match (a slot was added, removed "
      "or moved, or \"complete\" was changed)",
      "{1}: 已损坏: 槽位列表的校验和不符 (有槽位被增加, 删除或移动, 或 \"complete\" 被修改)",
      "{1}: 已損壞: 槽位列表的檢查碼不符 (有槽位被增加, 刪除或移動, 或 \"complete\" 被修改)"}},
    // ---- writing files ----
    {T::kCannotWrite,
     {"{1} cannot be written: {2}", "无法写入 {1}: {2}", "無法寫入 {1}: {2}"}},
    {T::kAppeared,
     {"{1} appeared while the backup ran and was left as it is", "{1} 在备份期间出现, 保持原样",
      "{1} 在備份期間出現, 保持原樣"}},
    // ---- notes ----
    {T::kStopAfterSlot,
     {"stopping after this slot; Ctrl+C again ends at once, and the slots read so far stay in "
      "{1}",
      "将在此槽位之后停止; 再按 Ctrl+C 立即结束, 已读取的槽位保留在 {1}",
      "將在此槽位之後停止; 再按 Ctrl+C 立即結束, 已讀取的槽位保留在 {1}"}},
    {T::kStopAfterOperation,
     {"stopping after this operation (Ctrl+C again ends at once)",
      "将在此操作之后停止 (再按 Ctrl+C 立即结束)", "將在此操作之後停止 (再按 Ctrl+C 立即結束)"}},
    {T::kStopAfterWrite,
     {"stopping after this slot's write (Ctrl+C again ends at once)",
      "将在此槽位写入之后停止 (再按 Ctrl+C 立即结束)", "將在此槽位寫入之後停止 (再按 Ctrl+C 立即結束)"}},
    {T::kStoppedNotRun,
     {"stopped by request; not run: {1}", "已按要求停止; 未执行: {1}",
      "已按要求停止; 未執行: {1}"}},
    {T::kNotRunAfter,
     {"{1} did not succeed; not run: {2}", "{1} 未成功; 未执行: {2}", "{1} 未成功; 未執行: {2}"}},
    {T::kSimulatorEnded,
     {"the simulated reader (torvik-sim) has ended; its pseudo-terminal is not opened again",
      "模拟读卡机 (torvik-sim) 已结束; 不再开启它的虚拟终端",
      "模擬讀卡機 (torvik-sim) 已結束; 不再開啟它的虛擬終端機"}},
    {T::kPieceTrimmed,
     {"slot {1} piece {2} begins or ends with a blank or control character; the reader "
      "receives it without them",
      "槽位 {1} 片段 {2} 以空白或控制字符开头或结尾; 读卡机收到的内容不含这些字符",
      "槽位 {1} 片段 {2} 以空白或控制字元開頭或結尾; 讀卡機收到的內容不含這些字元"}},
    {T::kErrorPrefix, {"error: {1}", "错误: {1}", "錯誤: {1}"}},
    {T::kUnexpectedError, {"an unexpected error", "意外的错误", "意外的錯誤"}},
    {T::kEndedByError,
     {"{1}: ended by an error", "{1}: 因错误而结束", "{1}: 因錯誤而結束"}},
    {T::kNowTalksAt,
     {"the reader now talks at {1}", "读卡机现在的通讯设定为 {1}", "讀卡機現在的通訊設定為 {1}"}},
    {T::kNextRunSweep,
     {"the next run finds it with: torvikctl scan --sweep",
      "下次执行时用以下命令找到它: torvikctl scan --sweep",
      "下次執行時用以下命令找到它: torvikctl scan --sweep"}},
    {T::kScanOnlyStored,
     {"Only {1} was tried on each port: torvikctl scan --sweep tries all fourteen settings.",
      "每个端口只尝试了 {1}: torvikctl scan --sweep 会尝试全部十四种设定。",
      "每個埠只嘗試了 {1}: torvikctl scan --sweep 會嘗試全部十四種設定。"}},
    // ---- texts of objects that did not run ----
    {T::kNotRunStopped,
     {"not run: stopped by request", "未执行: 已按要求停止", "未執行: 已按要求停止"}},
    {T::kNotRunAfterFailure,
     {"not run: {1} did not succeed", "未执行: {1} 未成功", "未執行: {1} 未成功"}},
    {T::kNotRunRefused,
     {"not run: the call was refused before anything was sent",
      "未执行: 调用在发送任何内容之前即被拒绝", "未執行: 呼叫在傳送任何內容之前即被拒絕"}},
    {T::kNotRunSimulator,
     {"not run: the simulated reader has ended", "未执行: 模拟读卡机已结束",
      "未執行: 模擬讀卡機已結束"}},
    // ---- progress ----
    {T::kProgressDefault,
     {"{1}: {2} polls, {3} (usually 10 to 50 s, at most about 200 s)",
      "{1}: 已询问 {2} 次, {3} (通常 10 至 50 秒, 最多约 200 秒)",
      "{1}: 已詢問 {2} 次, {3} (通常 10 至 50 秒, 最多約 200 秒)"}},
    {T::kProgressSlots,
     {"{1}: slot {2}, {3} of {4} done, {5} elapsed, about {6} left",
      "{1}: 槽位 {2}, 已完成 {3}/{4}, 已用 {5}, 约剩 {6}",
      "{1}: 槽位 {2}, 已完成 {3}/{4}, 已用 {5}, 約剩 {6}"}},
    {T::kProgressReading,
     {"read: {1}, {2} (Ctrl+C stops)", "read: {1}, {2} (按 Ctrl+C 停止)",
      "read: {1}, {2} (按 Ctrl+C 停止)"}},
    {T::kSeconds, {"{1} s", "{1} 秒", "{1} 秒"}},
    {T::kMinutesSeconds, {"{1} min {2} s", "{1} 分 {2} 秒", "{1} 分 {2} 秒"}},
    {T::kHoursMinutes, {"{1} h {2} min", "{1} 小时 {2} 分", "{1} 小時 {2} 分"}},
    {T::kReadingOne, {"{1} reading", "{1} 次读取", "{1} 次讀取"}},
    {T::kReadingMany, {"{1} readings", "{1} 次读取", "{1} 次讀取"}},
    // ---- slots ----
    {T::kSlotRead, {"slot {1}: read", "槽位 {1}: 已读取", "槽位 {1}: 已讀取"}},
    {T::kSlotEmptyLine, {"slot {1}: empty", "槽位 {1}: 空", "槽位 {1}: 空"}},
    {T::kSlotFailedLine,
     {"slot {1}: failed: {2}", "槽位 {1}: 失败: {2}", "槽位 {1}: 失敗: {2}"}},
    {T::kSlotWritten, {"slot {1}: written", "槽位 {1}: 已写入", "槽位 {1}: 已寫入"}},
    {T::kSlotMovedWritten,
     {"slot {1} -> {2}: written", "槽位 {1} -> {2}: 已写入", "槽位 {1} -> {2}: 已寫入"}},
    {T::kSlotSkippedEmpty,
     {"slot {1}: skipped (empty)", "槽位 {1}: 已略过 (空)", "槽位 {1}: 已略過 (空)"}},
    {T::kSlotSkippedFailed,
     {"slot {1}: skipped (not read at backup)", "槽位 {1}: 已略过 (备份时未能读取)",
      "槽位 {1}: 已略過 (備份時未能讀取)"}},
    {T::kReasonNoReader,
     {"no reader: the scan did not find it", "没有读卡机: 扫描没有找到它",
      "沒有讀卡機: 掃描沒有找到它"}},
    {T::kReasonPortNotOpen,
     {"the port did not open: {1}", "端口没有开启: {1}", "埠沒有開啟: {1}"}},
    {T::kReasonNoPiece,
     {"no piece arrived (last exchange: {1})", "没有收到任何片段 (最后一次交换: {1})",
      "沒有收到任何片段 (最後一次交換: {1})"}},
    {T::kReasonPiece,
     {"piece {1} of 3 did not arrive: {2}", "3 个片段中的第 {1} 个没有收到: {2}",
      "3 個片段中的第 {1} 個沒有收到: {2}"}},
    {T::kReasonNotTaken,
     {"the reader did not take the template (last exchange: {1})",
      "读卡机没有接受模板 (最后一次交换: {1})", "讀卡機沒有接受模板 (最後一次交換: {1})"}},
    {T::kReasonPieceTooLong,
     {"a piece is longer than {1} characters", "有片段超过 {1} 个字符",
      "有片段超過 {1} 個字元"}},
    {T::kReasonError, {"ended by an error", "因错误而结束", "因錯誤而結束"}},
    {T::kFaultNone,
     {"a reply other than the one expected", "回应不是预期的", "回應不是預期的"}},
    {T::kFaultNothing, {"no reply", "没有回应", "沒有回應"}},
    {T::kFaultCutOff,
     {"cut off: no frame ended in time", "中断: 没有帧及时结束", "中斷: 沒有訊框及時結束"}},
    {T::kFaultBadCheck,
     {"check digits do not match", "校验码不符", "檢查碼不符"}},
    {T::kFaultMalformed, {"not a reply frame", "不是回应帧", "不是回應訊框"}},
    {T::kFaultNeverQuiet,
     {"the line never went quiet", "线路一直没有安静下来", "線路一直沒有安靜下來"}},
    // ---- summaries ----
    {T::kBackupSummary,
     {"{1} of {2} slots read ({3} empty, {4} failed)", "已读取 {1}/{2} 个槽位 ({3} 个空, {4} 个失败)",
      "已讀取 {1}/{2} 個槽位 ({3} 個空, {4} 個失敗)"}},
    {T::kBackupInto, {"{1} into {2}", "{1}, 写入 {2}", "{1}, 寫入 {2}"}},
    {T::kBackupStopped, {"stopped by request", "已按要求停止", "已按要求停止"}},
    {T::kBackupGaveUp,
     {"{1} slots in a row failed, the rest was not tried", "连续 {1} 个槽位失败, 其余未尝试",
      "連續 {1} 個槽位失敗, 其餘未嘗試"}},
    {T::kBackupReaderGone,
     {"the reader is no longer found", "已找不到读卡机", "已找不到讀卡機"}},
    {T::kBackupFailedSlots,
     {"failed slots: {1} (read them again with --slots {1})",
      "失败的槽位: {1} (可用 --slots {1} 重新读取)", "失敗的槽位: {1} (可用 --slots {1} 重新讀取)"}},
    {T::kBackupKeptIn,
     {"the slots read are kept in {1}, marked incomplete (restore takes it with "
      "--allow-incomplete)",
      "已读取的槽位保存在 {1}, 标记为不完整 (restore 加上 --allow-incomplete 即可使用)",
      "已讀取的槽位儲存在 {1}, 標記為不完整 (restore 加上 --allow-incomplete 即可使用)"}},
    {T::kBackupLeftAlone,
     {"{1} was left as it was", "{1} 保持原样", "{1} 保持原樣"}},
    {T::kBackupNothingRead,
     {"{1} not written: no slot was read", "{1} 没有写入: 没有读取到任何槽位",
      "{1} 沒有寫入: 沒有讀取到任何槽位"}},
    {T::kRestoreSummary,
     {"{1} of {2} slots written ({3} skipped)", "已写入 {1}/{2} 个槽位 (略过 {3} 个)",
      "已寫入 {1}/{2} 個槽位 (略過 {3} 個)"}},
    {T::kRestoreSlotFailed, {"slot {1}: {2}", "槽位 {1}: {2}", "槽位 {1}: {2}"}},
    {T::kRestoreStopped, {"stopped by request", "已按要求停止", "已按要求停止"}},
    {T::kTemplateInto, {"into {1}", "写入 {1}", "寫入 {1}"}},
    // ---- the scan's account ----
    {T::kCauseNoSuchDevice, {"no such device", "没有此设备", "沒有此裝置"}},
    {T::kCausePermission, {"permission denied", "权限不足", "權限不足"}},
    {T::kCauseBusy, {"busy", "使用中", "使用中"}},
    {T::kCauseHeldByAnother,
     {"held by another program", "被另一个程序占用", "被另一個程式佔用"}},
    {T::kCauseHeldBy, {"held by", "占用者", "佔用者"}},
    {T::kCauseVanished, {"vanished", "已消失", "已消失"}},
    {T::kCauseNotSerial, {"not a serial device", "不是串行设备", "不是序列裝置"}},
    {T::kCauseSkipped, {"skipped", "已略过", "已略過"}},
    {T::kCauseSystemConsole, {"system console", "系统控制台", "系統主控台"}},
    {T::kCauseLoginTerminal, {"login terminal of", "登录终端, 属于", "登入終端機, 屬於"}},
    {T::kCauseAlreadyOpen,
     {"a port is already open", "已有一个端口开启", "已有一個埠開啟"}},
};

const std::vector<HelpRow> kHelp = {
    {"scan",
     {"Looks for the reader: first at the stored port and settings, then on COM1 to COM16.\n"
      "With the speed lock on (the default) only the stored settings are tried on each port;\n"
      "--sweep takes the lock off and tries all fourteen settings. Shows serial number,\n"
      "version, ID and output mode; a reader found is stored for the next run.\n"
      "Every other command runs a scan at the stored settings first when none ran yet.\n",
      "寻找读卡机: 先用保存的端口和设定, 然后依次尝试 COM1 至 COM16。\n"
      "速度锁定开启时 (默认) 每个端口只尝试保存的设定; --sweep 取消锁定, 尝试全部\n"
      "十四种设定。显示序号, 版本, 编号和输出模式; 找到的读卡机会被保存供下次使用。\n"
      "若尚未扫描, 其他命令会先以保存的设定扫描。\n",
      "尋找讀卡機: 先用儲存的埠和設定, 然後依次嘗試 COM1 至 COM16。\n"
      "速度鎖定開啟時 (預設) 每個埠只嘗試儲存的設定; --sweep 取消鎖定, 嘗試全部\n"
      "十四種設定。顯示序號, 版本, 編號和輸出模式; 找到的讀卡機會被儲存供下次使用。\n"
      "若尚未掃描, 其他命令會先以儲存的設定掃描。\n"}},
    {"info",
     {"Shows what the scan found: serial number, version, ID and output mode.\n",
      "显示扫描找到的内容: 序号, 版本, 编号和输出模式。\n",
      "顯示掃描找到的內容: 序號, 版本, 編號和輸出模式。\n"}},
    {"set-id",
     {"Sets the reader's bus address (ID) to N, 1 to 99.\n",
      "将读卡机的总线地址 (编号) 设为 N, 1 至 99。\n",
      "將讀卡機的匯流排位址 (編號) 設為 N, 1 至 99。\n"}},
    {"set-baud",
     {"Sets the reader's baud rate. SETTINGS is one of 4800,n,8,1 4800,e,8,1 9600,n,8,1\n"
      "9600,e,8,1 19200,n,8,1 19200,e,8,1 38400,n,8,1 38400,e,8,1 57600,n,8,1 57600,e,8,1\n"
      "115200,n,8,1 115200,e,8,1 230400,n,8,1 230400,e,8,1 (\",8,1\" may be left off; n: no\n"
      "parity, e: even parity). The rest of this run talks to the reader at the new\n"
      "settings; they are not stored, so the next run finds the reader with `scan --sweep`.\n",
      "设定读卡机的通讯速度。SETTINGS 为以下之一: 4800,n,8,1 4800,e,8,1 9600,n,8,1\n"
      "9600,e,8,1 19200,n,8,1 19200,e,8,1 38400,n,8,1 38400,e,8,1 57600,n,8,1 57600,e,8,1\n"
      "115200,n,8,1 115200,e,8,1 230400,n,8,1 230400,e,8,1 (\",8,1\" 可省略; n: 无同位检查,\n"
      "e: 偶同位检查)。本次执行的其余部分以新设定与读卡机通讯; 新设定不会被保存,\n"
      "下次执行时用 `scan --sweep` 找到读卡机。\n",
      "設定讀卡機的通訊速度。SETTINGS 為以下之一: 4800,n,8,1 4800,e,8,1 9600,n,8,1\n"
      "9600,e,8,1 19200,n,8,1 19200,e,8,1 38400,n,8,1 38400,e,8,1 57600,n,8,1 57600,e,8,1\n"
      "115200,n,8,1 115200,e,8,1 230400,n,8,1 230400,e,8,1 (\",8,1\" 可省略; n: 無同位檢查,\n"
      "e: 偶同位檢查)。本次執行的其餘部分以新設定與讀卡機通訊; 新設定不會被儲存,\n"
      "下次執行時用 `scan --sweep` 找到讀卡機。\n"}},
    {"set-mode",
     {"Sets the output interface and both formats: the interface the reader reports on,\n"
      "the Wiegand format (26, 34 or 42 bits) and the RS-485 format (24, 32 or 40).\n",
      "设定输出接口和两种格式: 读卡机输出所用的接口, Wiegand 格式 (26, 34 或 42 位)\n"
      "和 RS-485 格式 (24, 32 或 40)。\n",
      "設定輸出介面和兩種格式: 讀卡機輸出所用的介面, Wiegand 格式 (26, 34 或 42 位元)\n"
      "和 RS-485 格式 (24, 32 或 40)。\n"}},
    {"set-card-type",
     {"Sets the card type: EM/TEMIC, KELDO or security cards.\n",
      "设定卡片类型: EM/TEMIC, KELDO 或安全卡。\n", "設定卡片類型: EM/TEMIC, KELDO 或安全卡。\n"}},
    {"set-facility",
     {"Sets the facility code to N, 0 to 65535.\n", "将场区码设为 N, 0 至 65535。\n",
      "將場區碼設為 N, 0 至 65535。\n"}},
    {"read",
     {"Watches the reader read cards and fingerprints and prints each reading as a line.\n"
      "--encoded reads the encoded identification instead of the plain one. The reading\n"
      "stops after N readings, after S seconds, or on Ctrl+C (the normal end without\n"
      "--count and --seconds).\n",
      "监看读卡机读取卡片和指纹, 每次读取显示一行。--encoded 读取编码后的识别码,\n"
      "而非原始识别码。读取在 N 次读取后, S 秒后, 或按 Ctrl+C 时停止 (没有 --count\n"
      "和 --seconds 时的正常结束方式)。\n",
      "監看讀卡機讀取卡片和指紋, 每次讀取顯示一行。--encoded 讀取編碼後的識別碼,\n"
      "而非原始識別碼。讀取在 N 次讀取後, S 秒後, 或按 Ctrl+C 時停止 (沒有 --count\n"
      "和 --seconds 時的正常結束方式)。\n"}},
    {"enrol",
     {"Starts enrolling a fingerprint into slot N (0 to 1000) at the reader.\n",
      "在读卡机上开始将指纹登记到槽位 N (0 至 1000)。\n",
      "在讀卡機上開始將指紋登記到槽位 N (0 至 1000)。\n"}},
    {"delete",
     {"Deletes the fingerprint of slot N (0 to 1000).\n", "删除槽位 N (0 至 1000) 的指纹。\n",
      "刪除槽位 N (0 至 1000) 的指紋。\n"}},
    {"template-get",
     {"Reads the fingerprint template of slot N into FILE (a template file of one slot,\n"
      "created private, mode 0600 narrowed by the umask). An existing FILE is replaced\n"
      "only with --force (and keeps its mode). The path is checked before the scan.\n",
      "将槽位 N 的指纹模板读入 FILE (只含一个槽位的模板文件, 建立时为私有, 模式 0600\n"
      "再受 umask 限制)。已存在的 FILE 只有在加上 --force 时才会被取代 (并保持其模式)。\n"
      "路径在扫描之前检查。\n",
      "將槽位 N 的指紋模板讀入 FILE (只含一個槽位的模板檔案, 建立時為私有, 模式 0600\n"
      "再受 umask 限制)。已存在的 FILE 只有在加上 --force 時才會被取代 (並保持其模式)。\n"
      "路徑在掃描之前檢查。\n"}},
    {"template-put",
     {"Writes a template from FILE into slot N: the file's slot N, or its only slot. An\n"
      "empty slot, or one not read at backup, is refused before anything is sent.\n",
      "将 FILE 中的模板写入槽位 N: 文件的槽位 N, 或其唯一的槽位。空槽位或备份时未能\n"
      "读取的槽位会在发送任何内容之前被拒绝。\n",
      "將 FILE 中的模板寫入槽位 N: 檔案的槽位 N, 或其唯一的槽位。空槽位或備份時未能\n"
      "讀取的槽位會在傳送任何內容之前被拒絕。\n"}},
    {"backup",
     {"Reads the templates of the slots in LIST (default 0-1000; e.g. 1-3,7,10-12) into\n"
      "FILE, about 3.3 s per slot at 19200 and 2.9 s at 115200 (1001 slots: 55 and 48\n"
      "minutes). The slots go into FILE.incomplete.json (beside FILE) after every slot, so\n"
      "a second Ctrl+C, a kill or a pulled cable keeps every slot read; when the last slot\n"
      "is done the file becomes FILE. An existing FILE is replaced only with --force, and\n"
      "never by a backup that stopped early. Ctrl+C stops between slots.\n",
      "将 LIST 中槽位的模板读入 FILE (默认 0-1000; 例如 1-3,7,10-12), 19200 时每个槽位约\n"
      "3.3 秒, 115200 时约 2.9 秒 (1001 个槽位: 55 和 48 分钟)。每读完一个槽位即写入\n"
      "FILE.incomplete.json (在 FILE 旁边), 因此再按一次 Ctrl+C, 进程被终止或线缆被拔掉时,\n"
      "已读取的槽位都会保留; 最后一个槽位完成后该文件即成为 FILE。已存在的 FILE 只有在\n"
      "加上 --force 时才会被取代, 而且绝不会被提前停止的备份取代。Ctrl+C 在槽位之间停止。\n",
      "將 LIST 中槽位的模板讀入 FILE (預設 0-1000; 例如 1-3,7,10-12), 19200 時每個槽位約\n"
      "3.3 秒, 115200 時約 2.9 秒 (1001 個槽位: 55 和 48 分鐘)。每讀完一個槽位即寫入\n"
      "FILE.incomplete.json (在 FILE 旁邊), 因此再按一次 Ctrl+C, 行程被終止或線纜被拔掉時,\n"
      "已讀取的槽位都會保留; 最後一個槽位完成後該檔案即成為 FILE。已存在的 FILE 只有在\n"
      "加上 --force 時才會被取代, 而且絕不會被提前停止的備份取代。Ctrl+C 在槽位之間停止。\n"}},
    {"restore",
     {"Writes the templates of FILE back (all its slots, or those in LIST). Empty and\n"
      "failed slots of the file are skipped; naming one with --slots is refused.\n"
      "--to-slot N writes the one slot chosen into slot N instead. A damaged file is\n"
      "refused before anything is sent, and so is an incomplete one (a backup that\n"
      "stopped early) unless --allow-incomplete is given.\n",
      "将 FILE 中的模板写回 (全部槽位, 或 LIST 中的槽位)。文件中空的和失败的槽位会被\n"
      "略过; 以 --slots 指定这样的槽位会被拒绝。--to-slot N 将所选的一个槽位写入槽位 N。\n"
      "损坏的文件会在发送任何内容之前被拒绝, 不完整的文件 (提前停止的备份) 也一样,\n"
      "除非加上 --allow-incomplete。\n",
      "將 FILE 中的模板寫回 (全部槽位, 或 LIST 中的槽位)。檔案中空的和失敗的槽位會被\n"
      "略過; 以 --slots 指定這樣的槽位會被拒絕。--to-slot N 將所選的一個槽位寫入槽位 N。\n"
      "損壞的檔案會在傳送任何內容之前被拒絕, 不完整的檔案 (提前停止的備份) 也一樣,\n"
      "除非加上 --allow-incomplete。\n"}},
    {"factory-default",
     {"Resets the reader to factory defaults (10 to 50 s, at most about 200 s). The reader\n"
      "then talks at 19200,e,8,1; the stored settings are not changed.\n",
      "将读卡机恢复为出厂默认值 (10 至 50 秒, 最多约 200 秒)。之后读卡机以\n"
      "19200,e,8,1 通讯; 保存的设定不变。\n",
      "將讀卡機恢復為出廠預設值 (10 至 50 秒, 最多約 200 秒)。之後讀卡機以\n"
      "19200,e,8,1 通訊; 儲存的設定不變。\n"}},
    {"standalone-default",
     {"Resets the reader to stand-alone defaults (10 to 50 s, at most about 200 s), after\n"
      "standalone-mode in the same call. The reader then talks at 19200,e,8,1.\n",
      "将读卡机恢复为独立模式默认值 (10 至 50 秒, 最多约 200 秒), 需在同一调用中位于\n"
      "standalone-mode 之后。之后读卡机以 19200,e,8,1 通讯。\n",
      "將讀卡機恢復為獨立模式預設值 (10 至 50 秒, 最多約 200 秒), 需在同一呼叫中位於\n"
      "standalone-mode 之後。之後讀卡機以 19200,e,8,1 通訊。\n"}},
    {"standalone-mode",
     {"Switches the reader to stand-alone mode. The stand-alone commands (door-time,\n"
      "alarm-time, master-card, duress-card, clear-card, standalone-default) follow it in\n"
      "the same call: torvikctl cannot read the mode back from the reader.\n",
      "将读卡机切换到独立模式。独立模式的命令 (door-time, alarm-time, master-card,\n"
      "duress-card, clear-card, standalone-default) 需在同一调用中跟在它之后: torvikctl\n"
      "无法从读卡机读回模式。\n",
      "將讀卡機切換到獨立模式。獨立模式的命令 (door-time, alarm-time, master-card,\n"
      "duress-card, clear-card, standalone-default) 需在同一呼叫中跟在它之後: torvikctl\n"
      "無法從讀卡機讀回模式。\n"}},
    {"door-time",
     {"Sets the door-open time to N seconds (0 to 9999), after standalone-mode.\n",
      "将开门时间设为 N 秒 (0 至 9999), 需在 standalone-mode 之后。\n",
      "將開門時間設為 N 秒 (0 至 9999), 需在 standalone-mode 之後。\n"}},
    {"alarm-time",
     {"Sets the alarm time to N seconds (0 to 9999), after standalone-mode.\n",
      "将警报时间设为 N 秒 (0 至 9999), 需在 standalone-mode 之后。\n",
      "將警報時間設為 N 秒 (0 至 9999), 需在 standalone-mode 之後。\n"}},
    {"master-card",
     {"Sets the master card, after standalone-mode.\n", "设定主卡, 需在 standalone-mode 之后。\n",
      "設定主卡, 需在 standalone-mode 之後。\n"}},
    {"duress-card",
     {"Sets the duress card, after standalone-mode.\n",
      "设定胁迫卡, 需在 standalone-mode 之后。\n", "設定脅迫卡, 需在 standalone-mode 之後。\n"}},
    {"clear-card",
     {"Sets the clear card, after standalone-mode.\n", "设定清除卡, 需在 standalone-mode 之后。\n",
      "設定清除卡, 需在 standalone-mode 之後。\n"}},
    {"raw",
     {"Sends \"001\" + TEXT (at most 40 characters) to the reader as a test command and\n"
      "prints its answer.\n",
      "将 \"001\" + TEXT (最多 40 个字符) 作为测试命令发送给读卡机, 并显示其回答。\n",
      "將 \"001\" + TEXT (最多 40 個字元) 作為測試命令傳送給讀卡機, 並顯示其回答。\n"}},
};

size_t Column(int language) {
    return language >= 0 && language < 3 ? static_cast<size_t>(language) : 0;
}

}  // namespace

const std::vector<TextRow>& AllTexts() {
    return kRows;
}

const std::vector<HelpRow>& AllHelp() {
    return kHelp;
}

std::string Tr(int language, T key, const std::vector<std::string>& values) {
    const auto index = static_cast<size_t>(key);
    if (index >= kRows.size()) return {};
    const std::string text = kRows[index].text[Column(language)];
    std::string out;
    out.reserve(text.size() + 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{' && i + 2 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9' &&
            text[i + 2] == '}') {
            const auto at = static_cast<size_t>(text[i + 1] - '1');
            if (at < values.size()) out += values[at];
            i += 2;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

SaidValue::SaidValue(const Said& s) : said(std::make_shared<const Said>(s)) {}

std::string Tr(int language, const Said& said) {
    if (said.empty()) return {};
    std::vector<std::string> values;
    values.reserve(said.values.size());
    for (const SaidValue& v : said.values) values.push_back(v.said ? Tr(language, *v.said) : v.text);
    return Tr(language, said.key, values);
}

std::string Count(int language, long n, T one, T many) {
    return Tr(language, n == 1 ? one : many, {std::to_string(n)});
}

std::string Duration(int language, uint32_t ms) {
    const uint32_t s = (ms + 500) / 1000;
    char two[8];
    if (s < 60) return Tr(language, T::kSeconds, {std::to_string(s)});
    if (s < 3600) {
        std::snprintf(two, sizeof two, "%02u", s % 60);
        return Tr(language, T::kMinutesSeconds, {std::to_string(s / 60), two});
    }
    std::snprintf(two, sizeof two, "%02u", (s / 60) % 60);
    return Tr(language, T::kHoursMinutes, {std::to_string(s / 3600), two});
}

std::string CommandHelpText(int language, const std::string& command) {
    for (const auto& row : kHelp)
        if (command == row.command) return row.text[Column(language)];
    return {};
}

}  // namespace torvik::cli
