// The firmware catalog: a fixed table of images by print group (board) and chip family
// (the families themselves are the rows of families.h), and the name tables through which
// print and preparation codes are shown.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/families.h"
#include "catalog/scramble.h"

namespace quillon::catalog {

inline constexpr int kPrintGroups = 255;  // rows 0..254; print code 255 has no row
inline constexpr int kFamilySlots = 47;   // columns 0..46; the chip rows use the first ones
static_assert(kFamiliesInUse <= kFamilySlots, "a chip row names a column the catalog lacks");
static_assert(
    [] {
        for (const ChipFamily& f : kChipFamilies)
            for (std::uint8_t group : f.listing_rows)
                if (group >= kPrintGroups) return false;
        return true;
    }(),
    "a chip row lists a print group the catalog lacks");

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
