// Shows what the engine tells in the windows of one edition: which texts go into which
// status-bar slot, label or progress bar, and which edition shows what. This is the one
// place that decides it; the engine only says what happened.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/events.h"
#include "engine/link.h"
#include "ui/port_selection.h"
#include "ui/texts.h"
#include "ui/window_ops.h"

namespace quillon::ui {

// The engine's options for an edition: its identify byte and whether it programs the
// catalog's images into a row of devices.
engine::EngineOptions EngineOptionsFor(Edition edition, std::uint8_t loader_family,
                                       std::uint8_t sequence_mode);

class Presenter : public engine::Events {
public:
    explicit Presenter(WindowOps& ops) : ops_(ops) {}

    void SearchStarted() override;
    void PortRefused(int port, const serial::OpenFailure& why) override;
    void Searching(int port) override;
    void SearchTries(int tries) override;
    void SearchTry(int attempt) override;
    void SearchEnded(engine::SearchResult result) override;
    void SessionStarted() override;
    void DeviceReported(const engine::DeviceReport& report) override;
    void Refused(engine::Refusal why, const engine::DeviceReport& report) override;
    void ImagePrepared(std::uint8_t chip, bool plain) override;
    void ImageAccepted(const catalog::PreparedImage& image) override;
    void EnteringProgramMode() override;
    void ProgrammingStarted(int units) override;
    void Block(std::int32_t address, int done_units, bool last) override;
    void FixBlock() override;
    void EepromStarted(int count) override;
    void EepromByte(int index) override;
    void EepromWritten(int index) override;
    void Resend(int resend) override;
    void Failed(engine::LinkResult result) override;
    void PassedOn() override {}
    void Succeeded() override;
    bool TakeStopRequested() override { return ops_.TakeStopRequested(); }

    // Shows a link result's text as the red outcome (controls back to idle).
    void ShowLinkError(engine::LinkResult result);

private:
    const editions::Facts& facts() const { return editions::Of(ops_.edition()); }
    void Panel(PanelSlot slot, std::string_view text) {
        ops_.SetPanelText(ops_.EditionStatusBar(), slot, text);
    }
    void ShowDeviceReport(const engine::DeviceReport& report);

    WindowOps& ops_;
    std::string refusal_;  // why the search's port would not open
};

}  // namespace quillon::ui
