#include "engine/report.h"

#include <cstdio>

#include "catalog/catalog.h"

namespace quillon::engine {
namespace {

constexpr char kNotAText = '\xFF';  // first byte of a device text that was never set

void ShowRefusal(Engine& e, const catalog::PreparedImage& image, std::string_view text) {
    switch (e.ui.edition()) {
        case Edition::Loader:
        case Edition::Upgrade:
            // The Upgrade window too: a silent refusal would leave STOP on screen with
            // nothing running, and a STOP then would abort the next START at once.
            e.ui.ShowOutcome(text, colour::kRed, 0);
            break;
        case Edition::Updater:
            e.ui.ShowOutcome(text, colour::kRed, 0);
            e.ui.SetPanelText(e.ui.MainStatusBar(), PanelSlot::DetailPanel, kWarningText);
            ShowDeviceReport(e, image);
            break;
    }
}

}  // namespace

std::string BiosLineText(std::uint8_t bios, std::uint8_t print_code, std::uint8_t preparation) {
    const std::string name = catalog::NameOfPrint(print_code);
    char text[96];
    std::snprintf(text, sizeof text, "BIOS:%02x - %s - Preparation%02x", bios, name.c_str(),
                  preparation);
    return text;
}

std::string LoaderHardwareText(std::uint8_t print_code, std::uint8_t preparation) {
    const std::string name = catalog::NameOfPrint(print_code);
    char text[80];
    std::snprintf(text, sizeof text, "%s - 0x%02x", name.c_str(), preparation);
    return text;
}

std::string LoaderBiosText(std::uint8_t bios) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", bios);
    return text;
}

void ShowDeviceReport(Engine& e, const catalog::PreparedImage& image) {
    const DeviceIdentity& id = e.identity();
    switch (e.ui.edition()) {
        case Edition::Loader:
            if (id.VersionReported != 0)
                e.ui.SetLoaderReport(LoaderHardwareText(image.PrintCode, id.PreparationCode),
                                     LoaderBiosText(id.BiosVersion));
            return;
        case Edition::Upgrade:
            return;
        case Edition::Updater:
            break;
    }
    const bool reported = id.VersionReported != 0;
    e.ui.ShowBiosLine(BiosLineText(id.BiosVersion, reported ? id.PrintCode : image.PrintCode,
                                   reported ? id.PreparationCode : image.PreparationCode));
    if (HasExtendedBlock(id.BiosVersion)) {
        if (e.parser.DeviceText[0] == kNotAText) e.parser.DeviceText.fill('\0');
        e.ui.ShowDeviceTextLine(e.parser.device_text());
    } else {
        e.ui.HideDeviceTextLine();
    }
}

void ShowNoImage(Engine& e, const catalog::PreparedImage& image) {
    ShowRefusal(e, image, kNoImageText);
}

void ShowImageTooBig(Engine& e, const catalog::PreparedImage& image) {
    ShowRefusal(e, image, kImageTooBigText);
}

void ShowPlainCue(Frontend& ui, std::int32_t plain) {
    if (ui.edition() == Edition::Loader) return;
    ui.SetCueBackground(plain != 0 ? colour::kSilver : colour::kButtonFace);
}

}  // namespace quillon::engine
