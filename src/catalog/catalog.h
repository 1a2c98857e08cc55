// The firmware catalog: a fixed table of images by print group (board) and chip family,
// the families with their chip codes and descriptor offsets, and the name tables through
// which print and preparation codes are shown.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/scramble.h"

namespace quillon::catalog {

inline constexpr int kPrintGroups = 255;  // rows 0..254; print code 255 has no row
inline constexpr int kFamilySlots = 47;   // columns 0..46; 0..9 are in use
inline constexpr int kFamiliesInUse = 10;

// Payload offsets (bytes) of the print code; the preparation code follows at +1.
inline constexpr std::int32_t kDescriptorOffsetPic18 = 14;
inline constexpr std::int32_t kDescriptorOffset16Bit = 1024;  // device address 0x200

// Chip codes reported by the bootloader.
enum ChipCode : std::uint8_t {
    kChip18F258 = 0x42,
    kChip18F2580 = 0x43,
    kChip18F2480 = 0x44,
    kChip18F248 = 0x45,
    kChip18F2320 = 0x46,
    kChip18F25K80 = 0x47,
    kChip18F26K80 = 0x48,
    kChip18F24J10 = 0xC7,
    kChip33FJ64 = 0xFC,
    kChip33FJ128 = 0xFD,  // also PIC24HJ128
    kChip24HJ64 = 0xFE,
};

// Catalog columns of the chip families.
enum FamilyIndex : std::int8_t {
    kFamily258 = 0,
    kFamily2580 = 1,
    kFamily2480 = 2,
    kFamily248 = 3,
    kFamily2320 = 4,
    kFamily24J10 = 5,
    kFamily64 = 6,   // dsPIC33FJ64 / PIC24HJ64
    kFamily128 = 7,  // dsPIC33FJ128 / PIC24HJ128
    kFamily25K80 = 8,
    kFamily26K80 = 9,
};

// Column of a chip code; 0 for a code outside the known families.
std::int8_t FamilyOfChip(std::uint8_t chip_code);
// True for the chip codes of the 16-bit families (two bytes per device address).
bool Is16BitChip(std::uint8_t chip_code);
// True for the chip codes the catalog knows.
bool IsKnownChip(std::uint8_t chip_code);
// Payload offset of the print code for a family (the preparation code follows).
std::int32_t DescriptorOffsetOfFamily(int family);

// One catalog record. The arrays belong to the CatalogState that InitCatalog filled (or,
// in tests, to whoever set the record); a record never owns them.
struct FirmwareImage {
    std::uint8_t* FixBytes = nullptr;  // plain; scrambled when sent
    std::int32_t FixCount = 0;
    std::uint8_t* Payload = nullptr;            // scrambled unless PlainFlag; patched in place
    std::int32_t PayloadLength = 0;             // an image when > 1
    const std::uint8_t* EepromBytes = nullptr;  // sent as stored
    std::int32_t EepromCount = 0;
    std::int8_t PlainFlag = 0;
    std::uint8_t PrintCode = 0;        // only used when PlainFlag is set
    std::uint8_t PreparationCode = 0;  // only used when PlainFlag is set
    std::int8_t PendingState = 0;      // row 0: 1 to program, 0 done, -1 (255) no image
    std::uint8_t RepeatAction = 0;     // row 0: 0 program again, 1 pause, 2 pass on
};

// The print and preparation codes an image carries inside its payload, unscrambled with
// the key of variant 0. A payload too short to hold a descriptor byte states no code: the
// missing byte reads as 0 (never past the end of the array).
struct ImageCodes {
    std::uint8_t print = 0;
    std::uint8_t preparation = 0;
};
ImageCodes DescriptorCodes(const std::uint8_t* payload, std::int32_t length, std::int32_t offset);

// Name tables with their counts; lookups test against the counts.
inline constexpr int kPrintNameCount = 33;
inline constexpr int kConnectorNameCount = 34;
inline constexpr int kPreparationNameCount = 11;
extern const std::array<const char*, kPrintNameCount> PrintNames;
extern const std::array<const char*, kConnectorNameCount> ConnectorNames;
extern const std::array<const char*, kPreparationNameCount> PreparationNames;

// The print name for a code: the PrintNames entry when 0 < code < 33, else "ZRA_R02".
std::string NameOfPrint(std::int32_t code);

}  // namespace quillon::catalog
