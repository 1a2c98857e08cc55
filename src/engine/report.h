// The engine's words about the found device and about the two refusals of the image
// preparation: the device report (BIOS version, print name, preparation code, device text),
// " No Hex inside !! " and " Hex too Big !! ". Each front end places them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "catalog/preparation.h"
#include "engine/link.h"

namespace quillon::engine {

inline constexpr std::string_view kNoImageText = " No Hex inside !! ";
inline constexpr std::string_view kImageTooBigText = " Hex too Big !! ";
inline constexpr std::string_view kWarningText = "Warning";

// The main window's BIOS line: "BIOS:%02x - %s - Preparation%02x".
std::string BiosLineText(std::uint8_t bios, std::uint8_t print_code, std::uint8_t preparation);

// What the found device said about itself, with the print and preparation of `image` as
// it stands now. For bootloaders of version 8..31 the report carries the device text; a text
// that starts with byte 0xFF is not a text and is emptied for good.
DeviceReport MakeDeviceReport(Engine& e, const catalog::PreparedImage& image);

}  // namespace quillon::engine
