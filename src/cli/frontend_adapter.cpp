#include "cli/frontend_adapter.h"

#include <cstdlib>

#include "engine/outcome.h"
#include "engine/report.h"
#include "engine/search.h"
#include "engine/session.h"

namespace quillon::cli {
namespace {

using engine::PanelSlot;

constexpr std::string_view kTryPrefix = "Try ";
constexpr std::string_view kResendPrefix = "Resend ";
constexpr std::string_view kNotSuitableMark = " - Preparation ";
constexpr std::string_view kFoundPrefix = "Found ";
constexpr std::string_view kLoadedPrefix = "Loaded ";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

int NumberAfter(std::string_view text, std::string_view prefix) {
    return std::atoi(std::string(text.substr(prefix.size())).c_str());
}

// The exit code of a red outcome, by the engine's own texts.
Exit ExitOfOutcome(std::string_view text) {
    if (text == engine::kNoResponseText) return Exit::NoResponse;
    if (text == engine::kUserAbortText) return Exit::UserAbort;
    if (text == engine::kChecksumErrorText) return Exit::ChecksumError;
    if (text == engine::kIncompatibleText) return Exit::IncompatibleBootloader;
    if (text == engine::kErrorText) return Exit::UnknownChip;
    if (text == engine::kNoImageText) return Exit::NoImage;
    if (text == engine::kImageTooBigText) return Exit::ImageTooBig;
    if (text.find(kNotSuitableMark) != std::string_view::npos) return Exit::NotSuitable;
    return Exit::NoResponse;
}

bool IsRefusal(Exit e) {
    return e == Exit::IncompatibleBootloader || e == Exit::UnknownChip || e == Exit::NoImage ||
           e == Exit::ImageTooBig || e == Exit::NotSuitable;
}

}  // namespace

FrontendAdapter::FrontendAdapter(EventSink& sink, AdapterSetup setup)
    : sink_(sink), setup_(std::move(setup)) {}

void FrontendAdapter::BeginSearch() {
    phase_ = Phase::Search;
    max_ = 0;
    flash_sized_ = false;
    final_seen_ = false;
}

void FrontendAdapter::Send(Event e) {
    sink_.OnEvent(e);
}

void FrontendAdapter::Final(EventKind kind, std::string_view text, Exit exit) {
    if (final_seen_) return;  // one final word per session
    final_seen_ = true;
    Send({kind, Trimmed(text), 0, 0, exit});
}

void FrontendAdapter::EndSession(int result, const catalog::PreparedImage& image) {
    if (final_seen_) return;
    if (result == engine::kPassedOn) {
        Final(EventKind::PassedOn, "passed on (programmed before in this run)", Exit::Success);
        return;
    }
    // The Upgrade edition's silent refusals: no image, or an image too big for the chip.
    if (image.Payload == nullptr || image.PayloadLength <= 1)
        Final(EventKind::Refused, engine::kNoImageText, Exit::NoImage);
    else
        Final(EventKind::Refused, engine::kImageTooBigText, Exit::ImageTooBig);
}

void FrontendAdapter::ShowOutcome(std::string_view text, engine::Colour, std::uint8_t success) {
    if (success != 0) {
        Final(EventKind::Succeeded, text, Exit::Success);
        return;
    }
    const Exit exit = ExitOfOutcome(text);
    Final(IsRefusal(exit) ? EventKind::Refused : EventKind::Failed, text, exit);
}

void FrontendAdapter::ShowActivity(std::string_view text, engine::Colour colour) {
    if (setup_.edition == engine::Edition::Loader && text == engine::kLoaderSuccessText &&
        colour == engine::colour::kGreen) {
        Final(EventKind::Succeeded, text, Exit::Success);
        return;
    }
    if (text == engine::kSearchDeviceText) return;  // the Loader's search tries
    if (text == engine::kProgrammingText) {
        phase_ = Phase::Flash;
        flash_sized_ = false;
    }
    Send({EventKind::Activity, Trimmed(text), 0, 0, Exit::Success});
}

void FrontendAdapter::SetPanelText(engine::StatusBarRef, PanelSlot slot, std::string_view text) {
    switch (slot) {
        case PanelSlot::ActivityPanel:
            if (StartsWith(text, kTryPrefix)) {
                Send({EventKind::Searching, {}, NumberAfter(text, kTryPrefix), 0, Exit::Success});
            } else if (text == engine::kSearchDeviceText) {
                Send({EventKind::Searching, {}, 0, 0, Exit::Success});
            } else if (text == engine::kDeviceNotFoundText) {
                Final(EventKind::Failed, text, Exit::NoDevice);
            } else if (StartsWith(text, kResendPrefix)) {
                Send({EventKind::Resend, {}, NumberAfter(text, kResendPrefix), 0, Exit::Success});
            } else if (setup_.edition == engine::Edition::Upgrade &&
                       text == engine::kUpgradeSuccessText) {
                Final(EventKind::Succeeded, text, Exit::Success);
            } else if (StartsWith(text, "Program ")) {
                // Block and EEPROM numbers: the progress events carry them.
            } else {
                Send({EventKind::Activity, Trimmed(text), 0, 0, Exit::Success});
            }
            break;
        case PanelSlot::DetailPanel:
            if (StartsWith(text, kFoundPrefix))
                Send({EventKind::Found, Trimmed(text), 0, 0, Exit::Success});
            break;
        case PanelSlot::NoticePanel:
            if (StartsWith(text, kLoadedPrefix))
                Send({EventKind::Detail, Trimmed(text), 0, 0, Exit::Success});
            break;
        case PanelSlot::PortPanel:
            break;
    }
}

void FrontendAdapter::SetProgressMax(engine::ProgressBarRef, int max) {
    if (phase_ == Phase::Flash && flash_sized_) phase_ = Phase::Eeprom;
    if (phase_ == Phase::Flash) flash_sized_ = true;
    max_ = max;
}

void FrontendAdapter::SetProgressPosition(engine::ProgressBarRef, int position) {
    if (phase_ == Phase::Search || !flash_sized_ || max_ <= 0) return;
    Send({EventKind::Progress, phase_ == Phase::Flash ? "flash" : "eeprom", position, max_,
          Exit::Success});
}

void FrontendAdapter::ShowBiosLine(std::string_view text) {
    Send({EventKind::Report, Trimmed(text), 0, 0, Exit::Success});
}

void FrontendAdapter::ShowDeviceTextLine(std::string_view text) {
    if (!text.empty())
        Send({EventKind::Report, "device text: " + std::string(text), 0, 0, Exit::Success});
}

void FrontendAdapter::SetLoaderReport(std::string_view hardware, std::string_view bios) {
    Send({EventKind::Report, "HW : " + std::string(hardware) + "  BS : " + std::string(bios), 0, 0,
          Exit::Success});
}

}  // namespace quillon::cli
