// Device search: finds the bootloader on the selected port with the identify byte and
// reads its identification into the engine's DeviceIdentity.
#pragma once

#include <cstdint>

#include "engine/link.h"

namespace quillon::engine {

inline constexpr std::uint8_t kSearchByteDefault = 0xC2;
inline constexpr std::uint8_t kSearchByteFamily1 = 0xC6;
inline constexpr std::uint8_t kSearchByteUpgrade = 0xC5;  // also LoaderFamily 2
inline constexpr int kSearchTries = 100;
inline constexpr int kSearchWaitMs = 100;  // per try
inline constexpr int kSearchProgressMax = 100;
// AwaitExtendedInfo: at most this many read-and-wait rounds of 5 ms (about 1.25 s).
inline constexpr int kExtendedWaitRounds = 251;

// Results of SearchDevice.
inline constexpr std::int16_t kSearchFound = 0;
inline constexpr std::int16_t kSearchPortUnusable = -1;
inline constexpr std::int16_t kSearchNotFound = -2;
inline constexpr std::int16_t kSearchStopped = -3;

inline constexpr const char* kSearchDeviceText = "Search Device";
inline constexpr const char* kDeviceNotFoundText = "Device not Found";

// The identify byte for the running edition and the Loader window's family selector.
std::uint8_t SearchByte(Edition edition, std::uint8_t loader_family);
// Zeroes the four committed identity bytes; VersionReported keeps its value.
void ClearIdentity(Engine& e);
// For bootloaders of version 8..31: reads until the extended block is complete, at most
// about 1.25 s. Neither observes nor clears the stop flag.
void AwaitExtendedInfo(Engine& e);
// Opens the selected port afresh and sends the identify byte up to 100 times, waiting
// 100 ms for an identification after each. 0 found, -1 port unusable, -2 not found,
// -3 stopped. `progress` and `status` belong to the calling window.
std::int16_t SearchDevice(Engine& e, ProgressBarRef progress, StatusBarRef status);

}  // namespace quillon::engine
