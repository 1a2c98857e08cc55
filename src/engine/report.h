// What the engine tells the user about the found device and about the two refusals of the
// image preparation: the device report (BIOS version, print name, preparation code, device
// text), the plain-image cue, " No Hex inside !! " and " Hex too Big !! ".
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
// The Loader window's "HW :" value "%s - 0x%02x" and "BS :" value "0x%02x".
std::string LoaderHardwareText(std::uint8_t print_code, std::uint8_t preparation);
std::string LoaderBiosText(std::uint8_t bios);

// Tells the user what the found device is, in the running edition's window. The print and
// preparation shown are the device's when it reported a version, otherwise the image's as
// `image` holds them now. For bootloaders of version 8..31 the main window also shows the
// device text; a text that starts with byte 0xFF is not a text and is emptied for good.
void ShowDeviceReport(Engine& e, const catalog::PreparedImage& image);
// The two refusals of the preparation, by edition: the Loader window shows the red
// outcome; the Upgrade window shows nothing and stays running (it programs several devices
// in a row and lets the next search go on); the main window shows the red outcome,
// "Warning" in its detail panel and the device report.
void ShowNoImage(Engine& e, const catalog::PreparedImage& image);
void ShowImageTooBig(Engine& e, const catalog::PreparedImage& image);
// Marks a plain (unscrambled) image: silver cue background when `plain` is nonzero, button
// face otherwise. Nothing in the Loader edition.
void ShowPlainCue(Frontend& ui, std::int32_t plain);

}  // namespace quillon::engine
