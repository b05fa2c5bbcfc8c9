// SPDX-License-Identifier: MIT
// The message catalogue: every language-dependent text the window shows, by
// row, in English, Simplified Chinese and Traditional Chinese. The texts are
// held as UTF-8 (source and execution character set), so the Chinese columns
// keep the characters of the GB2312 and Big5 sets without any conversion.
#include "app/catalogue.h"

#include <array>

namespace torvik::app {
namespace {

// Row 0, the maker line, ends in the maker's web address after three blanks.
constexpr std::array<std::array<const char*, kLanguages>, kCatalogueRows> kTexts = {{
    /*  0 */ {"KELDO Technology Corp.   www.keldo.example", "KELDO股份有限公司   www.keldo.example",
              "KELDO股份有限公司   www.keldo.example"},
    /*  1 */
    {"KELDO TORVIK Reader Config V4.01-01", "KELDO TORVIK 读卡机设定程式 V4.01-01",
     "KELDO TORVIK 讀卡機設定程式 V4.01-01"},
    /*  2 */ {"Start Scan Reader!", "请先扫描读卡机!", "請先掃描讀卡機!"},
    /*  3 */ {"Cancel Read Card", "取消读取", "取消讀取"},
    /*  4 */ {"ID", "编号", "編號"},
    /*  5 */ {"BaudRate", "通讯速度", "通訊速度"},
    /*  6 */ {"Set Baud Rate (Reset)", "设定通讯速度(重置)", "設定通訊速度(重置)"},
    /*  7 */ {"Set Wiegand/RS485 Mode", "设定 Wiegand/RS485 模式", "設定 Wiegand/RS485 模式"},
    /*  8 */
    {"Read &ID (Change to RS485 Mode)", "读取ID(自动设定为RS485模式)",
     "讀取ID(自動設定為RS485模式)"},
    /*  9 */ {"Door Open Time", "开门时间", "開門時間"},
    /* 10 */ {"Alarm Time", "警报时间", "警報時間"},
    /* 11 */ {"Set 'Master Card'", "设定'指纹母卡'", "設定'指紋母卡'"},
    /* 12 */ {"Set 'Clear Card'", "设定'清除母卡'", "設定'清除母卡'"},
    /* 13 */ {"Set 'Duress Card'", "设定'反胁迫母卡'", "設定'反脅迫母卡'"},
    /* 14 */ {"Exit", "结束", "結束"},
    /* 15 */ {"Finger No:", "指纹编号:", "指紋編號:"},
    /* 16 */ {"&Add FingerPrint", "增加指纹(&A)", "增加指紋(&A)"},
    /* 17 */ {"Add FingerPrint Start.", "增加指纹开始.", "增加指紋開始."},
    /* 18 */ {"Add FingerPrint Error!", "增加指纹错误!", "增加指紋錯誤!"},
    /* 19 */ {"&Del FingerPrint", "删除指纹(&D)", "刪除指紋(&D)"},
    /* 20 */ {"Del FingerPrint Ok.", "删除指纹完成.", "刪除指紋完成."},
    /* 21 */ {"Del FingerPrint Error!", "删除指纹错误!", "刪除指紋錯誤!"},
    /* 22 */ {"Set &Facility Code", "设定区段码(&F)", "設定區段碼(&F)"},
    /* 23 */ {"Set Facility Code Ok.", "设定区段码完成.", "設定區段碼完成."},
    /* 24 */ {"Set Facility Code Error!", "设定区段码错误!", "設定區段碼錯誤!"},
    /* 25 */ {"ID", "ID", "ID"},
    /* 26 */ {"Open COM", "开启串口", "開啟串口"},
    /* 27 */ {"Error", "错误", "錯誤"},
    /* 28 */ {"Scan Reader", "扫描读卡机", "掃描讀卡機"},
    /* 29 */ {"S/N", "序号", "序號"},
    /* 30 */ {"No", "流水号", "流水號"},
    /* 31 */ {"VER", "版本", "版本"},
    /* 32 */ {"Scan COM", "扫描串口", "掃描串口"},
    /* 33 */ {"Get Reader Info Ok. (COM", "读取读卡机资讯完成. (串口", "讀取讀卡機資訊完成. (串口"},
    /* 34 */
    {"Get Reader Info Error. (COM", "读取读卡机资讯错误. (串口", "讀取讀卡機資訊錯誤. (串口"},
    /* 35 */ {"Reader Not Find", "读卡机没有连线", "讀卡機沒有連線"},
    /* 36 */ {"Set &ID", "设定编号(&I)", "設定編號(&I)"},
    /* 37 */ {"Set ID Ok", "设定编号完成", "設定編號完成"},
    /* 38 */ {"Set ID Error", "设定编号错误", "設定編號錯誤"},
    /* 39 */ {"Set &BaudRate", "设定通讯速度(&B)", "設定通訊速度(&B)"},
    /* 40 */ {"Set &BaudRate Ok", "设定通讯速度完成", "設定通訊速度完成"},
    /* 41 */ {"Set &BaudRate Error", "设定通讯速度错误", "設定通訊速度錯誤"},
    /* 42 */ {"Set &Mode", "设定模式(&M)", "設定模式(&M)"},
    /* 43 */ {"Set Mode Ok", "设定模式完成", "設定模式完成"},
    /* 44 */ {"Set Mode Error", "设定模式错误", "設定模式錯誤"},
    /* 45 */ {"Set Card &Type", "设定卡片类别(&T)", "設定卡片類別(&T)"},
    /* 46 */ {"Set Card Type Ok", "设定卡片类别完成", "設定卡片類別完成"},
    /* 47 */ {"Set Card Type Error", "设定卡片类别错误", "設定卡片類別錯誤"},
    /* 48 */ {"Factory Default 10-50 Sec", "出厂预设10-50秒", "出廠預設10-50秒"},
    /* 49 */ {"Set Default Ok", "设定预设完成", "設定預設完成"},
    /* 50 */ {"Set Default Error", "设定预设错误", "設定預設錯誤"},
    /* 51 */ {"&Stand Alone Default 10-50 Sec", "单机预设10-50秒", "單機預設10-50秒"},
    /* 52 */ {"Stand Alone Default Ok", "单机预设完成", "單機預設完成"},
    /* 53 */ {"Stand Alone Default Error", "单机预设错误", "單機預設錯誤"},
    /* 54 */ {"Stand &Alone Mode", "单机模式(&A)", "單機模式(&A)"},
    /* 55 */ {"Stand Alone Mode Ok", "单机模式完成", "單機模式完成"},
    /* 56 */ {"Stand Alone Mode Error", "单机模式错误", "單機模式錯誤"},
    /* 57 */ {"Test Command", "指令测试", "指令測試"},
    /* 58 */ {"Test Command Ok", "指令测试完成", "指令測試完成"},
    /* 59 */ {"Test Command Error", "指令测试错误", "指令測試錯誤"},
    /* 60 */ {"Command Ok", "指令完成", "指令完成"},
    /* 61 */ {"Command Error", "指令错误", "指令錯誤"},
}};

// The texts as strings, built on first use and never changed afterwards.
using TextTable = std::array<std::array<std::string, kLanguages>, kCatalogueRows>;

const TextTable& texts() {
    static const TextTable table = [] {
        TextTable t;
        for (int row = 0; row < kCatalogueRows; ++row) {
            for (int lang = 0; lang < kLanguages; ++lang) t[row][lang] = kTexts[row][lang];
        }
        return t;
    }();
    return table;
}

}  // namespace

const std::string& catalogue_text(int row, int language) {
    static const std::string empty;
    if (row < 0 || row >= kCatalogueRows || language < 0 || language >= kLanguages) return empty;
    return texts()[row][language];
}

}  // namespace torvik::app
