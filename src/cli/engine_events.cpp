#include "cli/engine_events.h"

#include "catalog/catalog.h"
#include "cli/board_log.h"
#include "engine/outcome.h"
#include "engine/report.h"
#include "engine/session.h"
#include "ui/texts.h"

namespace quillon::cli {
namespace {

constexpr std::string_view kPassedOnText = "passed on (programmed before in this run)";
constexpr std::string_view kFlashPhase = "flash";
constexpr std::string_view kEepromPhase = "eeprom";

Exit ExitOfLink(engine::LinkResult result) {
    switch (result) {
        case engine::LinkUserAbort:
            return Exit::UserAbort;
        case engine::LinkChecksumError:
            return Exit::ChecksumError;
        case engine::LinkIncompatible:
            return Exit::IncompatibleBootloader;
        case engine::LinkNoResponse:
        case engine::LinkOk:
            break;
    }
    return Exit::NoResponse;
}

}  // namespace

EngineEvents::EngineEvents(EventSink& sink, editions::Edition edition,
                           std::function<bool()> take_stop)
    : sink_(sink), edition_(edition), take_stop_(std::move(take_stop)) {}

void EngineEvents::Send(EventKind kind, std::string_view text, Exit exit, int value, int max) {
    sink_.OnEvent({kind, Trimmed(text), value, max, exit});
}

void EngineEvents::PortRefused(int, const serial::OpenFailure& why) {
    // The run knows the device behind the port and refines the exit code (busy or not).
    Send(EventKind::PortUnusable, why.detail, Exit::InvalidPort);
}

void EngineEvents::SearchTry(int attempt) {
    Send(EventKind::Searching, {}, Exit::Success, attempt);
}

void EngineEvents::SearchEnded(engine::SearchResult result) {
    switch (result) {
        case engine::SearchResult::NotFound:
            Send(EventKind::Failed, ui::kDeviceNotFoundText, Exit::NoDevice);
            return;
        case engine::SearchResult::Stopped:
            Send(EventKind::Failed, engine::LinkErrorText(engine::LinkUserAbort), Exit::UserAbort);
            return;
        case engine::SearchResult::Found:
        case engine::SearchResult::PortUnusable:  // PortRefused said why
            return;
    }
}

void EngineEvents::DeviceReported(const engine::DeviceReport& report) {
    const engine::DeviceIdentity& id = report.identity;
    const bool reported = id.VersionReported != 0;
    Send(EventKind::Report,
         engine::BiosLineText(id.BiosVersion, reported ? id.PrintCode : report.image_print,
                              reported ? id.PreparationCode : report.image_preparation));
    if (report.has_text && !report.text.empty())
        Send(EventKind::Report, "device text: " + EscapedBoardText(report.text));
}

void EngineEvents::Refused(engine::Refusal why, const engine::DeviceReport& report) {
    switch (why) {
        case engine::Refusal::UnknownChip:
            Send(EventKind::Refused, ui::kErrorText, Exit::UnknownChip);
            return;
        case engine::Refusal::NoImage:
            Send(EventKind::Refused, engine::kNoImageText, Exit::NoImage);
            return;
        case engine::Refusal::ImageTooBig:
            Send(EventKind::Refused, engine::kImageTooBigText, Exit::ImageTooBig);
            return;
        case engine::Refusal::NotSuitable:
            Send(EventKind::Refused,
                 ui::NotSuitableText(report.image_print, report.image_preparation),
                 Exit::NotSuitable);
            return;
    }
}

void EngineEvents::ImagePrepared(std::uint8_t chip, bool) {
    if (const auto text = engine::ChipText(chip)) Send(EventKind::Found, *text);
}

void EngineEvents::ImageAccepted(const catalog::PreparedImage& image) {
    Send(EventKind::Detail, catalog::LoadedText(image));
}

void EngineEvents::EnteringProgramMode() {
    Send(EventKind::Activity, ui::kEntryText);
}

void EngineEvents::ProgrammingStarted(int units) {
    flash_units_ = units;
    Send(EventKind::Activity, ui::kProgrammingText);
}

void EngineEvents::Block(std::int32_t, int done_units, bool last) {
    if (!last && flash_units_ > 0)
        Send(EventKind::Progress, kFlashPhase, Exit::Success, done_units, flash_units_);
}

void EngineEvents::FixBlock() {
    Send(EventKind::Activity, ui::kFixProgramText);
}

void EngineEvents::EepromStarted(int count) {
    eeprom_bytes_ = count;
}

void EngineEvents::EepromWritten(int index) {
    if (eeprom_bytes_ > 0)
        Send(EventKind::Progress, kEepromPhase, Exit::Success, index, eeprom_bytes_);
}

void EngineEvents::Resend(int resend) {
    Send(EventKind::Resend, {}, Exit::Success, resend);
}

void EngineEvents::Failed(engine::LinkResult result) {
    const Exit exit = ExitOfLink(result);
    // A bootloader too new is refused before anything is written.
    const EventKind kind =
        exit == Exit::IncompatibleBootloader ? EventKind::Refused : EventKind::Failed;
    Send(kind, engine::LinkErrorText(result), exit);
}

void EngineEvents::PassedOn() {
    Send(EventKind::PassedOn, kPassedOnText);
}

void EngineEvents::Succeeded() {
    Send(EventKind::Succeeded, editions::Of(edition_).success_text);
}

}  // namespace quillon::cli
