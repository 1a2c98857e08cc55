// The texts a run shows, shared by the windows and the command line: fixed texts and the
// formats of the numbered ones.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::ui {

inline constexpr std::string_view kSearchDeviceText = "Search Device";
inline constexpr std::string_view kDeviceNotFoundText = "Device not Found";
inline constexpr std::string_view kErrorText = " Error !! ";
inline constexpr std::string_view kUnknownDeviceText = "Unknow Device";
inline constexpr std::string_view kNotSuitableWarning = "Warning!!";
inline constexpr std::string_view kNotSuitableNotice = "not suitable apparatus";
inline constexpr std::string_view kEntryText = "Entry in PrgMode";
inline constexpr std::string_view kProgrammingText = " Programming... ";
inline constexpr std::string_view kFixProgramText = "Fix Program";

// "Program %05d (%05x)", "Program EEP %d", "Try %d", "Resend %d".
std::string BlockText(std::int32_t address);
std::string EepromText(int index);
std::string TryText(int attempt);
std::string ResendText(int resend);
// The Loader window's "HW :" value "%s - 0x%02x" and "BS :" value "0x%02x".
std::string LoaderHardwareText(std::uint8_t print_code, std::uint8_t preparation);
std::string LoaderBiosText(std::uint8_t bios);
// The red outcome of a device whose image does not suit it: "<print name> - Preparation %x".
std::string NotSuitableText(std::uint8_t image_print, std::uint8_t image_preparation);

}  // namespace quillon::ui
