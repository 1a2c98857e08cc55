// Device search: finds the bootloader on the selected port with the identify byte and
// reads its identification into the engine's DeviceIdentity.
#pragma once

#include <cstdint>

#include "engine/link.h"

namespace quillon::engine {

inline constexpr int kSearchTries = 100;
inline constexpr int kSearchWaitMs = 100;  // per try
inline constexpr int kSearchProgressMax = 100;
// The wait for the extended block: at most this many read-and-wait rounds of 5 ms (about
// 1.25 s).
inline constexpr int kExtendedWaitRounds = 251;

// For bootloaders of version 8..31: reads until the extended block is complete, at most
// about 1.25 s. Neither observes nor clears the stop flag.
void AwaitExtendedInfo(Engine& e);
// Opens the selected port afresh and sends the engine's identify byte up to 100 times,
// waiting 100 ms for an identification after each.
SearchResult SearchDevice(Engine& e);

}  // namespace quillon::engine
