// Colours as the windows take them: high byte 0 -> red + 256 * green + 65536 * blue;
// high byte 0xFF -> system colour indexed by the low byte.
#pragma once

#include <cstdint>

namespace quillon::ui {

using Colour = std::uint32_t;
namespace colour {
inline constexpr Colour kRed = 0x0000FF;
inline constexpr Colour kGreen = 0x008000;
inline constexpr Colour kBlack = 0x000000;
inline constexpr Colour kWhite = 0xFFFFFF;
inline constexpr Colour kSilver = 0xC0C0C0;
inline constexpr Colour kButtonFace = 0xFF00000F;  // system colour 15
}  // namespace colour

}  // namespace quillon::ui
