// The one-byte XOR key that scrambles catalog images, shared with the devices' bootloaders
// (and with the virtual device, which unscrambles what it receives).
//
// Key rule: every byte the program reads, produces or replaces is keyed by the block it
// belongs to, with the variant = low byte of the device address (in address units) at which
// that block starts. Payload and EEPROM bytes are stored already scrambled and go out as
// stored; the program itself only unscrambles the two descriptor bytes and scrambles the
// jump bytes, the fix block and the K80 filler.
#pragma once

#include <cstdint>

#ifndef QUILLON_SCRAMBLE_BASE
#error "QUILLON_SCRAMBLE_BASE must come from the build (link quillon_catalog)"
#endif

namespace quillon::catalog {

// Base constant of the key, a build setting (CMake cache variable QUILLON_SCRAMBLE_BASE).
inline constexpr std::uint8_t kScrambleBase = static_cast<std::uint8_t>(QUILLON_SCRAMBLE_BASE);
static_assert(QUILLON_SCRAMBLE_BASE >= 0 && QUILLON_SCRAMBLE_BASE <= 255,
              "QUILLON_SCRAMBLE_BASE must be one byte");

// CatalogScrambled: nonzero because this build carries its images scrambled. It is the
// flag passed to every ScrambleKey call.
inline constexpr std::uint8_t CatalogScrambled = 1;

// ScrambleKey: 0 when the flag is 0 (XOR with it changes nothing); otherwise the 8-bit sum
// of the base constant and the variant (wraps modulo 256).
constexpr std::uint8_t ScrambleKey(std::uint8_t variant, std::uint8_t flag) {
    if (flag == 0) return 0;
    return static_cast<std::uint8_t>(kScrambleBase + variant);
}

// The key of the block that starts at a device address (in address units).
constexpr std::uint8_t BlockKey(std::uint32_t device_address, std::uint8_t flag) {
    return ScrambleKey(static_cast<std::uint8_t>(device_address & 0xFFu), flag);
}

}  // namespace quillon::catalog
