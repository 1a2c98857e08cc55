// What a device holds after a programming session wrote one of this build's catalog images,
// worked out from the image's own Intel HEX file (not from the catalog tables), so that it
// checks the catalog and the session rather than restating them. Used by the tests and by
// the expected_hex tool that the demo script compares the virtual board with.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillon::devsim {

using Image = std::map<std::uint32_t, std::uint8_t>;

// The layout of the Microchip tools' HEX files: EEPROM index 0 at this address.
inline constexpr std::uint32_t kHexEepromBase = 0xF00000;

struct ExpectedDevice {
    Image flash;
    Image eeprom;
    // Flash and EEPROM in one map, the EEPROM at kHexEepromBase (devsim's --hex layout).
    Image Combined() const;
};

// The device's memory from an image's HEX file: flash below 0xF00000 (gaps read as erased),
// data EEPROM from 0xF00000 on; the reset jump over the first bytes, erased flash up to the
// end of the last block when the bootloader takes whole blocks (`pad_to` bytes, 0: no
// padding), and the fix block of `fix_block_bytes` at byte address `fix_at`, erased but for
// the fix bytes at its end. Nothing when the file cannot be read as Intel HEX.
std::optional<ExpectedDevice> ExpectAfterSession(const std::string& hex_path,
                                                 const std::vector<std::uint8_t>& jump,
                                                 std::uint32_t pad_to, std::uint32_t fix_at,
                                                 std::uint32_t fix_block_bytes,
                                                 const std::vector<std::uint8_t>& fix);

// This build's PIC18F26K80 default image on a version-7 bootloader (fix block at 0xFE40,
// K80 fix bytes zeroed from the fifth), and its dsPIC33FJ64 image (fix block at address
// 0xA780, byte 0x14F00); `images_dir` holds the images' HEX files.
std::optional<ExpectedDevice> ExpectedK80(const std::string& images_dir);
std::optional<ExpectedDevice> ExpectedHj64(const std::string& images_dir);

}  // namespace quillon::devsim
