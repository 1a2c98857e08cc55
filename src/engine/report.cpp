#include "engine/report.h"

#include <cstdio>

#include "catalog/catalog.h"

namespace quillon::engine {
namespace {

constexpr char kNotAText = '\xFF';  // first byte of a device text that was never set

}  // namespace

std::string BiosLineText(std::uint8_t bios, std::uint8_t print_code, std::uint8_t preparation) {
    const std::string name = catalog::NameOfPrint(print_code);
    char text[96];
    std::snprintf(text, sizeof text, "BIOS:%02x - %s - Preparation%02x", bios, name.c_str(),
                  preparation);
    return text;
}

DeviceReport MakeDeviceReport(Engine& e, const catalog::PreparedImage& image) {
    DeviceReport r;
    r.identity = e.identity();
    r.image_print = image.PrintCode;
    r.image_preparation = image.PreparationCode;
    if (HasExtendedBlock(r.identity.BiosVersion)) {
        if (e.parser.DeviceText[0] == kNotAText) e.parser.DeviceText.fill('\0');
        r.has_text = true;
        r.text = e.parser.device_text();
    }
    return r;
}

}  // namespace quillon::engine
