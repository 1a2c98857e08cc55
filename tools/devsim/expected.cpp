#include "tools/devsim/expected.h"

#include <algorithm>
#include <fstream>

#include "tools/devsim/device.h"

namespace quillon::devsim {

Image ExpectedDevice::Combined() const {
    Image all = flash;
    for (const auto& [index, value] : eeprom) all[kHexEepromBase + index] = value;
    return all;
}

std::optional<ExpectedDevice> ExpectAfterSession(const std::string& hex_path,
                                                 const std::vector<std::uint8_t>& jump,
                                                 std::uint32_t pad_to, std::uint32_t fix_at,
                                                 std::uint32_t fix_block_bytes,
                                                 const std::vector<std::uint8_t>& fix) {
    std::ifstream in(hex_path);
    const auto hex = ReadIntelHex(in);
    if (!in.is_open() || !hex) return std::nullopt;
    ExpectedDevice d;
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

std::optional<ExpectedDevice> ExpectedK80(const std::string& images_dir) {
    return ExpectAfterSession(images_dir + "/k80_default.hex", {0x40, 0xEF, 0x7F, 0xF0}, 64, 0xFE40,
                              64, {0x01, 0x02, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00});
}

std::optional<ExpectedDevice> ExpectedHj64(const std::string& images_dir) {
    return ExpectAfterSession(images_dir + "/hj64_default.hex",
                              {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, 0x14F00, 256,
                              {0x01, 0x02, 0x02, 0x04, 0x00, 0x00, 0x21, 0xB1});
}

}  // namespace quillon::devsim
