// The catalog's run state and the preparation of an image for a found device: filling the
// catalog at start-up, which default images are still to be programmed in a run, choosing
// the image for a chip and print, and the chip's bounds, block size, fix block address,
// program length and reset jump.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/catalog_tables.h"

namespace quillon::catalog {

inline constexpr std::int32_t kPendingImageMin = 11;  // bytes: shorter defaults are not counted
// SelectImage's family for a chip no row names.
inline constexpr std::int8_t kNoFamily = -1;

// The bounds of the found chip for its BIOS version, from its row (families.h).
struct ChipBounds {
    std::int32_t AddressUnit = 1;  // bytes per device address
    std::int32_t BootReserve = 0;  // device addresses kept below the top for the bootloader
    std::array<std::uint8_t, kResetJumpMax> ResetJump = {};
    std::int32_t ResetJumpCount = 0;  // nothing is written before a chip's bounds are loaded
};

// The image prepared for the found device. It refers to the catalog's arrays.
struct PreparedImage {
    std::int8_t FamilyIndex = 0;
    std::uint8_t* Payload = nullptr;
    std::int32_t PayloadLength = 0;
    const std::uint8_t* EepromBytes = nullptr;
    std::int32_t EepromCount = 0;
    std::uint8_t* FixBytes = nullptr;
    std::int32_t FixCount = 0;
    std::int32_t PlainFlag = 0;
    std::uint8_t PrintCode = 0;
    std::uint8_t PreparationCode = 0;
    ChipBounds Bounds;
    std::int32_t BlockSize = 0;      // bytes; set with the bounds
    std::int32_t FixAddress = 0;     // device address units
    std::int32_t ProgramLength = 0;  // payload bytes from device address 0
};

// The catalog and its run state, owned by the application context (a test makes a fresh
// one). The generated tables stay const; InitCatalog copies each of their arrays once into
// `storage`, and the in-place changes of the preparation (reset jump over the payload,
// zeroed fix bytes) go to those copies. Records hold pointers into `storage`, so the
// state is not copyable.
struct CatalogState {
    CatalogState();
    CatalogState(const CatalogState&) = delete;
    CatalogState& operator=(const CatalogState&) = delete;

    // FirmwareCatalog, row-major: record (group, family) at group * kFamilySlots + family.
    std::vector<FirmwareImage> FirmwareCatalog;
    FirmwareImage& at(int group, int family) {
        return FirmwareCatalog[static_cast<std::size_t>(group * kFamilySlots + family)];
    }
    const FirmwareImage& at(int group, int family) const {
        return FirmwareCatalog[static_cast<std::size_t>(group * kFamilySlots + family)];
    }

    std::uint8_t PendingCount = 0;
    PreparedImage prepared;  // PreparedImage

    // Writable copies of the generated arrays, made by the first InitCatalog.
    std::vector<std::unique_ptr<std::uint8_t[]>> storage;
    // The digest of the image whose payload is storage[i] ("" when none), by InitCatalog.
    std::vector<std::string> payload_digests;
};

// Fills the catalog from a definition (this build's: BuildCatalog()) and runs
// ResetPending. A second call rebuilds the same records over the same copies, so the
// in-place changes already made stay.
std::uint8_t InitCatalog(CatalogState& state);
std::uint8_t InitCatalog(CatalogState& state, const CatalogDefinition& definition);

// The build-time digest of the image whose payload is `payload` (a record's or the
// prepared image's); empty when the pointer is no image's payload.
std::string_view ImageDigest(const CatalogState& state, const std::uint8_t* payload);

std::uint8_t ResetPending(CatalogState& state);
// Row 0's run state of a family; a family outside the catalog reads as -1 / 0.
std::int8_t PendingStateOf(const CatalogState& state, std::int8_t family);
std::uint8_t RepeatActionOf(const CatalogState& state, std::int8_t family);
void MarkDone(CatalogState& state, std::int8_t family);

// Chooses the record for a chip and print group (row 0 when the group's record holds no
// image or the group has no row, as for print code 255) into state.prepared. A chip no
// row names selects no record and yields kNoFamily.
std::int8_t SelectImage(CatalogState& state, std::uint8_t chip_code, std::uint8_t print_group);

// Sets state.prepared.Bounds for a chip code and BIOS version; false (nothing set) for a
// chip no row names.
bool LoadChipBounds(CatalogState& state, std::uint8_t chip_code, std::uint8_t bios_version);

// Result of the preparation's bounds and refusals.
enum class Preparation : std::int8_t {
    Ready = 0,
    ImageTooBig = -1,  // " Hex too Big !! "
    NoImage = -2,      // " No Hex inside !! "
    UnknownChip = -3,  // nothing prepared
};

// Preparation steps 1 to 4 after SelectImage: bounds, block size, the zeroing of the fix
// bytes a family does not keep, fix address, program length, refusals.
Preparation PrepareBounds(CatalogState& state, std::uint8_t chip_code, std::uint8_t bios_version);
// Step 5: the image's print and preparation codes (from the payload unless plain).
void LoadImageCodes(CatalogState& state, std::uint8_t chip_code);
// Step 6: "Loaded %d bytes (%04X to %04X)".
std::string LoadedText(const PreparedImage& image);
// Step 7: the reset jump written over the start of the payload, in place.
void WriteResetJump(CatalogState& state);

}  // namespace quillon::catalog
