#include "ui/presenter.h"

#include <cstdio>

#include "catalog/catalog.h"
#include "engine/outcome.h"
#include "engine/report.h"
#include "engine/search.h"
#include "engine/session.h"

namespace quillon::ui {

engine::EngineOptions EngineOptionsFor(Edition edition, std::uint8_t loader_family,
                                       std::uint8_t sequence_mode) {
    return {editions::IdentifyByte(edition, loader_family), sequence_mode != 0};
}

void Presenter::ShowLinkError(engine::LinkResult result) {
    const std::string_view text = engine::LinkErrorText(result);
    if (!text.empty()) ops_.ShowOutcome(text, colour::kRed, 0);
}

void Presenter::SearchStarted() {
    refusal_.clear();
    ops_.HideResultLine();
    // What the previous device's run reported must not stand for the next device: a
    // search that fails, or a session that refuses, leaves these empty.
    ops_.HideDeviceReport();
    Panel(PanelSlot::DetailPanel, "");
    Panel(PanelSlot::NoticePanel, "");
    ops_.SetProgressPosition(ops_.EditionProgressBar(), 0);
    ops_.SetProgressSmooth(ops_.EditionProgressBar(), true);
}

void Presenter::PortRefused(int, const serial::OpenFailure& why) {
    ops_.ShowOutcome(kInvalidPortCom, colour::kRed, 0);
    refusal_ = why.detail;  // shown once the search has given up on the port
}

void Presenter::Searching(int port) {
    Panel(PanelSlot::PortPanel, PortPanelText(port));
    ops_.ShowSessionRunning();
}

void Presenter::SearchTries(int tries) {
    ops_.SetProgressState(ops_.EditionProgressBar(), ProgressState::Paused);
    ops_.SetProgressMax(ops_.EditionProgressBar(), tries);
}

void Presenter::SearchTry(int attempt) {
    // The search's progress bar runs backwards from its maximum, one step per try.
    constexpr int kTries = engine::kSearchTries;
    switch (facts().try_shown) {
        case editions::TryShown::SearchTextLine:
            ops_.ShowActivity(kSearchDeviceText, colour::kBlack);
            ops_.SetProgressPosition(ops_.EditionProgressBar(), kTries - attempt);
            break;
        case editions::TryShown::SearchTextPanel:
            ops_.SetProgressPosition(ops_.EditionProgressBar(), kTries - attempt);
            Panel(PanelSlot::ActivityPanel, kSearchDeviceText);
            break;
        case editions::TryShown::TryCount:
            Panel(PanelSlot::ActivityPanel, TryText(attempt));
            break;
    }
}

void Presenter::SearchEnded(engine::SearchResult result) {
    switch (result) {
        case engine::SearchResult::PortUnusable:
            ops_.ShowSessionIdle();
            // Why the port would not open (held by another program, no permission), over
            // what the run's start wrote.
            if (!refusal_.empty()) Panel(PanelSlot::DetailPanel, refusal_);
            refusal_.clear();
            return;
        case engine::SearchResult::Stopped:
            ShowLinkError(engine::LinkUserAbort);
            ops_.SetProgressPosition(ops_.EditionProgressBar(), 0);
            return;
        case engine::SearchResult::NotFound:
            ops_.SetProgressState(ops_.EditionProgressBar(), ProgressState::Normal);
            ops_.SetProgressPosition(ops_.EditionProgressBar(), 0);
            Panel(PanelSlot::ActivityPanel, kDeviceNotFoundText);
            ops_.ShowSessionIdle();
            return;
        case engine::SearchResult::Found:
            ops_.SetProgressState(ops_.EditionProgressBar(), ProgressState::Normal);
            ops_.SetProgressPosition(ops_.EditionProgressBar(), 0);
            return;
    }
}

void Presenter::SessionStarted() {
    ops_.SetProgressPosition(ops_.EditionProgressBar(), 0);
    ops_.SetProgressSmooth(ops_.EditionProgressBar(), false);
}

void Presenter::ShowDeviceReport(const engine::DeviceReport& report) {
    const engine::DeviceIdentity& id = report.identity;
    const bool reported = id.VersionReported != 0;
    switch (facts().report_shown) {
        case editions::ReportShown::LoaderValues:
            if (reported)
                ops_.SetLoaderReport(LoaderHardwareText(report.image_print, id.PreparationCode),
                                     LoaderBiosText(id.BiosVersion));
            return;
        case editions::ReportShown::Nowhere:
            return;
        case editions::ReportShown::BiosLines:
            break;
    }
    ops_.ShowBiosLine(
        engine::BiosLineText(id.BiosVersion, reported ? id.PrintCode : report.image_print,
                             reported ? id.PreparationCode : report.image_preparation));
    if (report.has_text)
        ops_.ShowDeviceTextLine(report.text);
    else
        ops_.HideDeviceTextLine();
}

void Presenter::DeviceReported(const engine::DeviceReport& report) {
    ShowDeviceReport(report);
}

void Presenter::Refused(engine::Refusal why, const engine::DeviceReport& report) {
    switch (why) {
        case engine::Refusal::UnknownChip:
            ops_.ShowOutcome(kErrorText, colour::kRed, 0);
            Panel(PanelSlot::DetailPanel, kUnknownDeviceText);
            return;
        case engine::Refusal::NotSuitable:
            ops_.ShowOutcome(NotSuitableText(report.image_print, report.image_preparation),
                             colour::kRed, 0);
            Panel(PanelSlot::DetailPanel, kNotSuitableWarning);
            Panel(PanelSlot::NoticePanel, kNotSuitableNotice);
            return;
        case engine::Refusal::NoImage:
        case engine::Refusal::ImageTooBig:
            break;
    }
    const std::string_view text =
        why == engine::Refusal::NoImage ? engine::kNoImageText : engine::kImageTooBigText;
    ops_.ShowOutcome(text, colour::kRed, 0);
    if (!facts().reports_refused_device) return;
    ops_.SetPanelText(ops_.MainStatusBar(), PanelSlot::DetailPanel, engine::kWarningText);
    ShowDeviceReport(report);
}

void Presenter::ImagePrepared(std::uint8_t chip, bool plain) {
    Panel(PanelSlot::DetailPanel, engine::ChipText(chip).value_or(""));
    // Marks a plain (unscrambled) image: silver cue; the Loader window has no cue.
    if (facts().has_plain_image_cue)
        ops_.SetCueBackground(plain ? colour::kSilver : colour::kButtonFace);
}

void Presenter::ImageAccepted(const catalog::PreparedImage& image) {
    if (facts().tells_loaded_image) Panel(PanelSlot::NoticePanel, catalog::LoadedText(image));
}

void Presenter::EnteringProgramMode() {
    Panel(PanelSlot::ActivityPanel, kEntryText);
}

void Presenter::ProgrammingStarted(int units) {
    ops_.ShowActivity(kProgrammingText, colour::kButtonFace);
    ops_.SetProgressPosition(ops_.EditionProgressBar(), 0);
    ops_.SetProgressMax(ops_.EditionProgressBar(), units);
}

void Presenter::Block(std::int32_t address, int done_units, bool last) {
    if (facts().shows_block_addresses) Panel(PanelSlot::ActivityPanel, BlockText(address));
    if (!last) ops_.SetProgressPosition(ops_.EditionProgressBar(), done_units);
}

void Presenter::FixBlock() {
    if (facts().shows_phase_texts) Panel(PanelSlot::ActivityPanel, kFixProgramText);
}

void Presenter::EepromStarted(int count) {
    ops_.SetProgressPosition(ops_.EditionProgressBar(), 0);
    ops_.SetProgressMax(ops_.EditionProgressBar(), count);
}

void Presenter::EepromByte(int index) {
    if (facts().shows_phase_texts) Panel(PanelSlot::ActivityPanel, EepromText(index));
}

void Presenter::EepromWritten(int index) {
    ops_.SetProgressPosition(ops_.EditionProgressBar(), index);
}

void Presenter::Resend(int resend) {
    const StatusBarRef main_bar = ops_.MainStatusBar();
    ops_.SetPanelText(main_bar, PanelSlot::ActivityPanel, ResendText(resend));
    ops_.RepaintStatusBar(main_bar);
}

void Presenter::Failed(engine::LinkResult result) {
    ShowLinkError(result);
}

void Presenter::Succeeded() {
    ops_.SetProgressPosition(ops_.EditionProgressBar(), 0);
    const editions::Facts& f = facts();
    switch (f.success_shown) {
        case editions::SuccessShown::ActivityLine:
            ops_.ShowActivity(f.success_text, colour::kGreen);
            break;
        case editions::SuccessShown::ActivityPanel:
            Panel(PanelSlot::ActivityPanel, f.success_text);
            break;
        case editions::SuccessShown::Outcome:
            ops_.ShowOutcome(f.success_text, colour::kGreen, 1);
            break;
    }
    ops_.ShowSessionIdle();
}

}  // namespace quillon::ui
