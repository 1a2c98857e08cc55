// The packets of a programming session, planned from the prepared image without I/O: the
// program blocks from device address 0, the fix block below the bootloader and the EEPROM
// bytes, in the order they are sent. The session sends the plan packet by packet; tests
// read it as data.
#pragma once

#include <cstdint>
#include <vector>

#include "catalog/preparation.h"
#include "engine/link.h"

namespace quillon::engine {

// Packet layout.
inline constexpr int kNarrowHeader = 4;          // address (3) + length (1)
inline constexpr int kWideHeader = 5;            // address (3) + length (2)
inline constexpr std::int32_t kNarrowMax = 255;  // longest block with a one-byte length
inline constexpr int kEepromPacketLength = 5;    // before the checksum
inline constexpr std::uint8_t kEepromFlags = 0x01;
// The longest block the packet buffer holds with its header and checksum.
inline constexpr std::int32_t kMaxBlock =
    static_cast<std::int32_t>(BootPacket::kSize) - kWideHeader - 1;

struct PlannedPacket {
    enum class Kind : std::uint8_t { Block, Fix, Eeprom };
    Kind kind = Kind::Block;
    std::int32_t address = 0;         // a block's device address; an EEPROM byte's index
    int done_units = 0;               // a program block: the address units up to its end (last: 0)
    bool last = false;                // the last program block
    bool left_out = false;            // in the protected window: counted, never sent
    std::vector<std::uint8_t> bytes;  // as sent, without the checksum
};

// Whether the block of `addresses` device address units at `address` is left out for the
// protected window: the address after the block lies in [start, start + extent] (a start
// of 0 is no window).
bool InProtectedWindow(const ProtectedWindow& window, std::int32_t address, std::int32_t addresses);

// The packets that program `image` (its reset jump already written). `pad_last`: the
// family's bootloader wants whole blocks, so the last one is filled with erased flash. An
// image without a block size has no plan.
std::vector<PlannedPacket> PlanSession(const catalog::PreparedImage& image, bool pad_last,
                                       const ProtectedWindow& window);

}  // namespace quillon::engine
