// SPDX-License-Identifier: MIT
// The reader operations: the typed reader interface implemented over the
// operation conventions, one source file per capability, each stated by its
// status label, commands, tries and outcome rows.
#pragma once
#include <memory>

#include "app/reader.h"
#include "app/reader_core.h"
#include "app/window_model.h"

namespace torvik::ops {

class ReaderOperations final : public app::Reader {
  public:
    explicit ReaderOperations(app::ReaderCore& core) : c_(core) {}

    app::ScanResult Scan(bool sweep) override;
    app::Result SetId(const app::Bytes& id) override;
    app::Result SetBaudRate(int settings_index) override;
    app::Result SetOutputMode(const app::OutputMode& mode) override;
    app::Result SetCardType(int card_type) override;
    app::Result SetFacility(int facility) override;
    app::ReadingResult ReadCards(bool encoded, const app::ReadingSink& sink) override;
    void StopReading() override;
    app::Result AddCard() override;
    app::RawResult RawCommand(const app::Bytes& text) override;
    app::Result Enrol(int finger) override;
    app::Result Delete(int finger) override;
    app::TemplateResult ReadTemplate(int finger) override;
    app::Result WriteTemplate(int finger, const app::TemplatePieces& pieces) override;
    app::Result FactoryDefault() override;
    app::Result StandAloneDefault() override;
    app::Result StandAloneMode() override;
    app::Result SetDoorTime(const app::Bytes& value) override;
    app::Result SetAlarmTime(const app::Bytes& value) override;
    app::Result SetMasterCard() override;
    app::Result SetDuressCard() override;
    app::Result SetClearCard() override;

  private:
    // One stand-alone setting command in the usual tries.
    app::Result StandAloneSetting(const std::string& payload);
    app::Result FingerCommand(const std::string& payload, int success_row, int failure_row);
    app::Result DefaultOperation(bool stand_alone_default);

    app::ReaderCore& c_;
};

// Gives the window model its reader: from now on its buttons run the
// operations.
void BindOperations(app::TfrmModule& form);

}  // namespace torvik::ops
