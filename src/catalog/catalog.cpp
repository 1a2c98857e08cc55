#include "catalog/catalog.h"

namespace quillon::catalog {

const std::array<const char*, kPrintNameCount> PrintNames = {
    "UNK",       "UNK",     "ZRA_R02",    "ZRA_R03", "ZRA_R04",       "ZRC_R01", "ZRD_R01",
    "ZRE_R01",   "ZRE_R02", "ZRG_R01",    "ZRJ_R03", "ZRK_R02",       "WEY_R02", "ZRP_R02",
    "GGV_R03",   "ZRJ_R04", "ZRY_R0x",    "ZRW_R0x", "HHE_R0x",       "ZRB_R0x", "GGZ_R0x",
    "48372_R0x", "WUK_R01", "637464_R01", "ZAV_R0x", "LUV_R0x",       "27",      "28",
    "29",        "30",      "31",         "32",      "ZRY_R04/583915"};

const std::array<const char*, kConnectorNameCount> ConnectorNames = {
    "UNK",   "UNK",   "14PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN",
    "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "DB9",   "16PIN", "16PIN", "16PIN",
    "16PIN", "16PIN", "RJ45",  "6PIN",  "16PIN", "16PIN", "16PIN", "14PIN", "16PIN",
    "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN"};

const std::array<const char*, kPreparationNameCount> PreparationNames = {
    "UNK", "CAN+SPI", "", "RES", "CAN", "SRV", "2RES", "CDC", "MXP/CDC", "SIO/NOK.", "ETH0"};

namespace {
constexpr int kDefaultPrintName = 2;  // "ZRA_R02"
}

ImageCodes DescriptorCodes(const std::uint8_t* payload, std::int32_t length, std::int32_t offset) {
    const std::uint8_t key = ScrambleKey(0, CatalogScrambled);
    auto byte_at = [&](std::int32_t i) -> std::uint8_t {
        if (payload == nullptr || i < 0 || i >= length) return 0;
        return static_cast<std::uint8_t>(payload[i] ^ key);
    };
    return {byte_at(offset), byte_at(offset + 1)};
}

std::string NameOfPrint(std::int32_t code) {
    if (code > 0 && code < kPrintNameCount) return PrintNames[static_cast<std::size_t>(code)];
    return PrintNames[kDefaultPrintName];
}

}  // namespace quillon::catalog
