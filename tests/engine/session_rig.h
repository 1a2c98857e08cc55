// A programming session on the fake clock against the in-process virtual device, with the
// device's packet log, and what the device must hold after programming one of this build's
// catalog images (worked out from the image's own Intel HEX file, not from the catalog).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "catalog/preparation.h"
#include "engine/search.h"
#include "engine/session.h"
#include "tests/engine/engine_rig.h"
#include "tools/devsim/device.h"

namespace quillon::engine::testing {

using Image = std::map<std::uint32_t, std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

inline devsim::Options Logged(devsim::Options o) {
    o.log_packets = true;
    return o;
}

struct SessionRig : Rig {
    explicit SessionRig(devsim::Options o = {}) : Rig(Logged(std::move(o))) {}

    // Searches, then runs the session; the log holds the session's events only.
    SessionResult Run() {
        EXPECT_EQ(Search(), SearchResult::Found);
        ui.log.clear();
        session_start = pump.now();
        return PrgMode(engine, catalog);
    }
    const std::vector<Bytes>& packets() const { return device->stats().packet_log; }
    Clock::duration elapsed() { return pump.now() - session_start; }

    catalog::CatalogState catalog;
    Clock::time_point session_start{};
};

// The device's memory after a session programmed a catalog image, from the image's HEX
// file: flash below 0xF00000 (gaps read as erased), data EEPROM from 0xF00000 on; the
// reset jump over the first bytes, erased flash up to the end of the last block when the
// bootloader takes whole blocks (`pad_to` bytes, 0: no padding), and the fix block of
// `fix_block_bytes` at byte address `fix_at`, erased but for the fix bytes at its end.
struct ExpectedDevice {
    Image flash;
    Image eeprom;
};
inline constexpr std::uint32_t kHexEepromBase = 0xF00000;

inline ExpectedDevice ExpectAfterSession(const std::string& hex_path, const Bytes& jump,
                                         std::uint32_t pad_to, std::uint32_t fix_at,
                                         std::uint32_t fix_block_bytes, const Bytes& fix) {
    ExpectedDevice d;
    std::ifstream in(hex_path);
    const auto hex = devsim::ReadIntelHex(in);
    EXPECT_TRUE(hex.has_value()) << hex_path;
    if (!hex) return d;
    std::uint32_t end = 0;
    for (const auto& [address, value] : *hex) {
        if (address >= kHexEepromBase) {
            d.eeprom[address - kHexEepromBase] = value;
        } else {
            d.flash[address] = value;
            end = std::max(end, address + 1);
        }
    }
    if (pad_to > 0) end = (end + pad_to - 1) / pad_to * pad_to;
    for (std::uint32_t a = 0; a < end; ++a) d.flash.emplace(a, 0xFF);
    for (std::size_t i = 0; i < jump.size(); ++i) d.flash[static_cast<std::uint32_t>(i)] = jump[i];
    for (std::uint32_t i = 0; i < fix_block_bytes; ++i) d.flash[fix_at + i] = 0xFF;
    for (std::size_t i = 0; i < fix.size(); ++i)
        d.flash[fix_at + fix_block_bytes - static_cast<std::uint32_t>(fix.size() - i)] = fix[i];
    return d;
}

// This build's PIC18F26K80 default image on a version-7 bootloader (fix block at 0xFE40,
// K80 fix bytes zeroed from the fifth), and its dsPIC33FJ64 image (fix block at address
// 0xA780, byte 0x14F00).
inline ExpectedDevice ExpectedK80() {
    return ExpectAfterSession(std::string(QUILLON_IMAGES_DIR) + "/k80_default.hex",
                              {0x40, 0xEF, 0x7F, 0xF0}, 64, 0xFE40, 64,
                              {0x01, 0x02, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00});
}
inline ExpectedDevice ExpectedHj64() {
    return ExpectAfterSession(std::string(QUILLON_IMAGES_DIR) + "/hj64_default.hex",
                              {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, 0x14F00, 256,
                              {0x01, 0x02, 0x02, 0x04, 0x00, 0x00, 0x21, 0xB1});
}

}  // namespace quillon::engine::testing
