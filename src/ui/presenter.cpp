#include "ui/presenter.h"

#include <cstdio>

#include "catalog/catalog.h"
#include "engine/outcome.h"
#include "engine/report.h"
#include "engine/search.h"
#include "engine/session.h"

namespace quillon::ui {

std::uint8_t SearchByte(Edition edition, std::uint8_t loader_family) {
    if (edition == Edition::Upgrade) return engine::kSearchByteUpgrade;
    if (loader_family == 1) return engine::kSearchByteFamily1;
    if (loader_family == 2) return engine::kSearchByteUpgrade;
    return engine::kSearchByteDefault;
}

engine::EngineOptions EngineOptionsFor(Edition edition, std::uint8_t loader_family,
                                       std::uint8_t sequence_mode) {
    return {SearchByte(edition, loader_family), sequence_mode != 0};
}

std::string BlockText(std::int32_t address) {
    char text[40];
    std::snprintf(text, sizeof text, "Program %05d (%05x)", static_cast<int>(address),
                  static_cast<unsigned>(address));
    return text;
}

std::string EepromText(int index) {
    char text[32];
    std::snprintf(text, sizeof text, "Program EEP %d", index);
    return text;
}

std::string TryText(int attempt) {
    char text[24];
    std::snprintf(text, sizeof text, "Try %d", attempt);
    return text;
}

std::string ResendText(int resend) {
    char text[32];
    std::snprintf(text, sizeof text, "Resend %d", resend);
    return text;
}

std::string NotSuitableText(std::uint8_t image_print, std::uint8_t image_preparation) {
    const std::string name = catalog::NameOfPrint(image_print);
    char text[96];
    std::snprintf(text, sizeof text, "%s - Preparation %x", name.c_str(),
                  static_cast<unsigned>(image_preparation));
    return text;
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
    switch (ops_.edition()) {
        case Edition::Loader:
            ops_.ShowActivity(kSearchDeviceText, colour::kBlack);
            ops_.SetProgressPosition(ops_.EditionProgressBar(), kTries - attempt);
            break;
        case Edition::Upgrade:
            ops_.SetProgressPosition(ops_.EditionProgressBar(), kTries - attempt);
            Panel(PanelSlot::ActivityPanel, kSearchDeviceText);
            break;
        case Edition::Updater:
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
    switch (ops_.edition()) {
        case Edition::Loader:
            if (reported)
                ops_.SetLoaderReport(
                    engine::LoaderHardwareText(report.image_print, id.PreparationCode),
                    engine::LoaderBiosText(id.BiosVersion));
            return;
        case Edition::Upgrade:
            return;
        case Edition::Updater:
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
    if (ops_.edition() != Edition::Updater) return;
    ops_.SetPanelText(ops_.MainStatusBar(), PanelSlot::DetailPanel, engine::kWarningText);
    ShowDeviceReport(report);
}

void Presenter::ImagePrepared(std::uint8_t chip, bool plain) {
    Panel(PanelSlot::DetailPanel, engine::ChipText(chip).value_or(""));
    // Marks a plain (unscrambled) image: silver cue; the Loader window has no cue.
    if (ops_.edition() != Edition::Loader)
        ops_.SetCueBackground(plain ? colour::kSilver : colour::kButtonFace);
}

void Presenter::ImageAccepted(const catalog::PreparedImage& image) {
    if (ops_.edition() == Edition::Updater)
        Panel(PanelSlot::NoticePanel, catalog::LoadedText(image));
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
    if (ops_.edition() == Edition::Updater) Panel(PanelSlot::ActivityPanel, BlockText(address));
    if (!last) ops_.SetProgressPosition(ops_.EditionProgressBar(), done_units);
}

void Presenter::FixBlock() {
    if (ops_.edition() != Edition::Loader) Panel(PanelSlot::ActivityPanel, kFixProgramText);
}

void Presenter::EepromStarted(int count) {
    ops_.SetProgressPosition(ops_.EditionProgressBar(), 0);
    ops_.SetProgressMax(ops_.EditionProgressBar(), count);
}

void Presenter::EepromByte(int index) {
    if (ops_.edition() != Edition::Loader) Panel(PanelSlot::ActivityPanel, EepromText(index));
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
    switch (ops_.edition()) {
        case Edition::Loader:
            ops_.ShowActivity(kLoaderSuccessText, colour::kGreen);
            break;
        case Edition::Upgrade:
            Panel(PanelSlot::ActivityPanel, kUpgradeSuccessText);
            break;
        case Edition::Updater:
            ops_.ShowOutcome(kUpdaterSuccessText, colour::kGreen, 1);
            break;
    }
    ops_.ShowSessionIdle();
}

}  // namespace quillon::ui
