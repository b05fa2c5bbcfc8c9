// SPDX-License-Identifier: MIT
#include "ops/operations.h"

namespace torvik::ops {

void BindOperations(TfrmModule& f) {
    auto bind = [&f](app::Control& c, void (*handler)(TfrmModule&)) {
        c.on_event = [&f, handler] { handler(f); };
    };
    bind(f.btnScan, btnScanClick);
    bind(f.sbID, sbIDChange);
    bind(f.btnID, btnIDClick);
    bind(f.btnBaudRate, btnBaudRateClick);
    bind(f.btnMode, btnModeClick);
    bind(f.btnCardType, btnCardTypeClick);
    bind(f.btnReadCard, btnReadCardClick);
    bind(f.tmrCard, tmrCardTimer);
    bind(f.sbCard, sbCardChange);
    bind(f.btnAddCard, btnAddCardClick);
    bind(f.sbFacility, sbFacilityChange);
    bind(f.btnFacility, btnFacilityClick);
    bind(f.btnEncode, btnEncodeClick);
    bind(f.btnCRCmd, btnCRCmdClick);
    bind(f.sbFingerNo, sbFingerNoChange);
    bind(f.btnAdd, btnAddClick);
    bind(f.btnDel, btnDelClick);
    bind(f.btnGetTemplate, btnGetTemplateClick);
    bind(f.btnGetCard, btnGetTemplateClick);
    bind(f.btnPutTemplate, btnPutTemplateClick);
    bind(f.btnFactory, btnFactoryClick);
    bind(f.btnStand, btnStandClick);
    bind(f.btnStandDefault, btnStandDefaultClick);
    bind(f.btnDoor, btnDoorClick);
    bind(f.btnAlarm, btnAlarmClick);
    bind(f.btnSetCard, btnSetCardClick);
    bind(f.btnClrCard, btnClrCardClick);
    bind(f.btnDuress, btnDuressClick);
}

std::string ZeroPad(int value, int width) {
    std::string digits = std::to_string(value < 0 ? -static_cast<long long>(value) : value);
    const size_t w = static_cast<size_t>(width - (value < 0 ? 1 : 0));
    if (digits.size() < w) digits.insert(0, w - digits.size(), '0');
    return value < 0 ? "-" + digits : digits;
}

}  // namespace torvik::ops
