// The programming session: takes a found device from its identification to a reprogrammed
// device. It completes the identification, refuses what it must not program, prepares the
// catalog image for the chip, puts the bootloader into programming mode and sends the
// program blocks, the fix block below the bootloader and the EEPROM bytes, one packet at a
// time, each waiting for the device's acknowledgement.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "catalog/preparation.h"
#include "engine/link.h"

namespace quillon::engine {

// Bootloaders from this version on speak a protocol the session does not know.
inline constexpr std::uint8_t kFirstIncompatibleBios = 33;
// Bootloaders from this version on (with a version reply) want the entry command.
inline constexpr std::uint8_t kFirstEntryBios = 5;
// A device that answered with a bare chip code takes the images of this print group.
inline constexpr std::uint8_t kBareDevicePrintGroup = 2;

inline constexpr int kEntryWaitMs = 2000;  // the entry command's acknowledgement
// Sequence mode: the pause after each pass-on frame. (The pause before a device is passed
// on and the time a device is given after its programming are facts of its chip row.)
inline constexpr int kPassOnPauseMs = 300;

// Packet layout.
inline constexpr int kNarrowHeader = 4;          // address (3) + length (1)
inline constexpr int kWideHeader = 5;            // address (3) + length (2)
inline constexpr std::int32_t kNarrowMax = 255;  // longest block with a one-byte length
inline constexpr int kEepromPacketLength = 5;    // before the checksum
inline constexpr std::uint8_t kEepromFlags = 0x01;

// RepeatAction of a family already programmed in the run.
inline constexpr std::uint8_t kRepeatActionPause = catalog::kRepeatActionPause;
inline constexpr std::uint8_t kRepeatActionPassOn = catalog::kRepeatActionPassOn;
// How a session ended.
enum class SessionEnd {
    Ended,       // refused or failed: the front end has been told why
    Programmed,  // the whole image was written and acknowledged
    PassedOn,    // sequence mode: the device's family was already programmed in this run
};
struct SessionResult {
    SessionEnd end = SessionEnd::Ended;
    int remaining = 0;  // sequence mode, after Programmed: images still to program
    friend bool operator==(const SessionResult&, const SessionResult&) = default;
};

// The two summed frames that pass an already programmed device on.
inline constexpr std::array<std::uint8_t, 19> kPassOnFrame1 = {0x00, 0x0F, '5', '2',  '8', '1', '7',
                                                               '4',  '6',  '3', '9',  'G', 'h', 'J',
                                                               'k',  'L',  'm', 0x04, 0x09};
inline constexpr std::array<std::uint8_t, 4> kPassOnFrame2 = {0x04, 0x00, 0x00, 0x04};

// The detail-panel text that names a chip; nullopt for a chip the catalog does not know.
std::optional<std::string_view> ChipText(std::uint8_t chip_code);

// Whether an image with print `image_print` and preparation `image_preparation` may be
// written into the device `device` (its print and preparation, and whether it reported
// a version at all).
bool CheckSuitability(const DeviceIdentity& device, std::uint8_t image_print,
                      std::uint8_t image_preparation);

// Whether the block of `addresses` device address units at `address` is left out for the
// protected window: the address after the block lies in [start, start + extent] (a start
// of 0 is no window).
bool InProtectedWindow(const ProtectedWindow& window, std::int32_t address, std::int32_t addresses);

// Whether a summed frame's last two bytes hold the 16-bit sum of the bytes before them.
constexpr bool SummedFrameIsSealed(std::span<const std::uint8_t> frame) {
    if (frame.size() < 2) return false;
    unsigned sum = 0;
    for (std::size_t i = 0; i + 2 < frame.size(); ++i) sum += frame[i];
    return frame[frame.size() - 2] == ((sum >> 8) & 0xFFu) &&
           frame[frame.size() - 1] == (sum & 0xFFu);
}
static_assert(SummedFrameIsSealed(kPassOnFrame1) && SummedFrameIsSealed(kPassOnFrame2));

// The programming session on the device the search found.
SessionResult PrgMode(Engine& e, catalog::CatalogState& catalog);

}  // namespace quillon::engine
