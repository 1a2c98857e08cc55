#include "catalog/preparation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quillon::catalog {

namespace {

// Flash tops (device address units) where the bootloader area begins.
constexpr std::int32_t kTop32K = 0x8000;
constexpr std::int32_t kTop16K = 0x4000;
constexpr std::int32_t kTop8K = 0x2000;
constexpr std::int32_t kTop64K = 0x10000;
constexpr std::int32_t kTop33FJ64 = 0xA800;
constexpr std::int32_t kTop33FJ128 = 0x15400;
constexpr std::int32_t kBytesPer16BitAddress = 2;

// Repeat actions of the default records, set by ResetPending.
constexpr std::uint8_t kRepeatPassOn = 2;
constexpr std::uint8_t kRepeatPause = 1;
constexpr std::int32_t kK80FixBytesKept = 4;  // fix bytes from the fifth on are zeroed

using Jump4 = std::array<std::uint8_t, 4>;
using Jump8 = std::array<std::uint8_t, 8>;

void SetJump(ChipBounds& b, const Jump4& j) {
    std::copy(j.begin(), j.end(), b.ResetJump.begin());
    b.ResetJumpCount = static_cast<std::int32_t>(j.size());
}
void SetJump(ChipBounds& b, const Jump8& j) {
    std::copy(j.begin(), j.end(), b.ResetJump.begin());
    b.ResetJumpCount = static_cast<std::int32_t>(j.size());
}

void CopyRecord(PreparedImage& p, const FirmwareImage& r) {
    p.Payload = r.Payload;
    p.EepromBytes = r.EepromBytes;
    p.FixBytes = r.FixBytes;
    p.PayloadLength = r.PayloadLength;
    p.EepromCount = r.EepromCount;
    p.FixCount = r.FixCount;
    p.PlainFlag = r.PlainFlag;  // sign-extended
    p.PrintCode = r.PrintCode;
    p.PreparationCode = r.PreparationCode;
}

bool ValidFamily(std::int8_t family) {
    return family >= 0 && family < kFamilySlots;
}

// An array index of a definition, checked against the arrays present.
std::uint8_t* StorageOf(CatalogState& state, std::int16_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= state.storage.size()) return nullptr;
    return state.storage[static_cast<std::size_t>(index)].get();
}

}  // namespace

CatalogState::CatalogState()
    : FirmwareCatalog(static_cast<std::size_t>(kPrintGroups) * kFamilySlots) {}

std::uint8_t InitCatalog(CatalogState& state) {
    return InitCatalog(state, BuildCatalog());
}

std::uint8_t InitCatalog(CatalogState& state, const CatalogDefinition& definition) {
    for (FirmwareImage& record : state.FirmwareCatalog) record.PayloadLength = 0;

    // The first fill copies every generated array once; later fills reuse the copies, so
    // the in-place changes made since stay (and shared arrays stay shared).
    if (state.storage.empty()) {
        for (const ImageArray& a : definition.arrays) {
            const auto size = static_cast<std::size_t>(std::max<std::int32_t>(a.size, 1));
            auto copy = std::make_unique<std::uint8_t[]>(size);
            if (a.size > 0) std::memcpy(copy.get(), a.bytes, static_cast<std::size_t>(a.size));
            state.storage.push_back(std::move(copy));
        }
    }

    auto array_size = [&](std::int16_t index) -> std::int32_t {
        if (index < 0 || static_cast<std::size_t>(index) >= definition.arrays.size()) return 0;
        return definition.arrays[static_cast<std::size_t>(index)].size;
    };
    for (const RecordDefinition& d : definition.records) {
        // A definition that does not fit its arrays is not filled in (never read past).
        if (d.PrintGroup >= kPrintGroups || d.FamilyIndex >= kFamilySlots) continue;
        if (d.PayloadLength > array_size(d.payload_array) || d.FixCount > array_size(d.fix_array) ||
            d.EepromCount > array_size(d.eeprom_array))
            continue;
        FirmwareImage& r = state.at(d.PrintGroup, d.FamilyIndex);
        r.FixBytes = StorageOf(state, d.fix_array);
        r.FixCount = d.FixCount;
        r.Payload = StorageOf(state, d.payload_array);
        r.PayloadLength = d.PayloadLength;
        r.EepromBytes = StorageOf(state, d.eeprom_array);
        r.EepromCount = d.EepromCount;
        r.PlainFlag = d.PlainFlag;
        if (d.has_codes) {
            r.PrintCode = d.PrintCode;
            r.PreparationCode = d.PreparationCode;
        }
    }
    return ResetPending(state);
}

std::uint8_t ResetPending(CatalogState& state) {
    state.PendingCount = 0;
    for (int family = 0; family < kFamiliesInUse; ++family) {
        FirmwareImage& r = state.at(0, family);
        r.PendingState = -1;
        if (r.PayloadLength >= kPendingImageMin) {
            r.PendingState = 1;
            ++state.PendingCount;
        }
    }
    state.at(0, kFamily128).RepeatAction = kRepeatPassOn;
    state.at(0, kFamily64).RepeatAction = kRepeatPassOn;
    state.at(0, kFamily26K80).RepeatAction = kRepeatPause;
    return state.PendingCount;
}

std::int8_t PendingStateOf(const CatalogState& state, std::int8_t family) {
    return ValidFamily(family) ? state.at(0, family).PendingState : -1;
}

std::uint8_t RepeatActionOf(const CatalogState& state, std::int8_t family) {
    return ValidFamily(family) ? state.at(0, family).RepeatAction : 0;
}

void MarkDone(CatalogState& state, std::int8_t family) {
    if (!ValidFamily(family)) return;
    FirmwareImage& r = state.at(0, family);
    if (r.PendingState > 0 && state.PendingCount > 0) --state.PendingCount;
    r.PendingState = 0;
}

std::int8_t SelectImage(CatalogState& state, std::uint8_t chip_code, std::uint8_t print_group) {
    const std::int8_t family = FamilyOfChip(chip_code);
    PreparedImage& p = state.prepared;
    p.FamilyIndex = family;
    // Print code 255 has no row: such a device gets the default image like any print
    // without its own.
    if (print_group < kPrintGroups) CopyRecord(p, state.at(print_group, family));
    if (print_group >= kPrintGroups || p.PayloadLength <= 1) CopyRecord(p, state.at(0, family));
    return family;
}

void LoadChipBounds(CatalogState& state, std::uint8_t chip_code, std::uint8_t bios_version) {
    ChipBounds& b = state.prepared.Bounds;
    const bool new_bios = bios_version >= kFirstNewBios;
    b.AddressUnit = 1;
    b.BootReserveJ10 = kBootReserveJ10;
    b.BootReserve = new_bios ? kBootReserveNewBios : kBootReserveOldBios;
    // Two-word GOTO to the bootloader entry, one 64-byte block above the fix block.
    switch (chip_code) {
        case kChip18F258:
        case kChip18F2580:
            SetJump(b, new_bios ? Jump4{0x40, 0xEF, 0x3F, 0xF0} : Jump4{0x80, 0xEF, 0x3F, 0xF0});
            break;
        case kChip18F2480:
        case kChip18F248:
            SetJump(b, new_bios ? Jump4{0x40, 0xEF, 0x1F, 0xF0} : Jump4{0x80, 0xEF, 0x1F, 0xF0});
            break;
        case kChip18F2320:  // the entry stays at 0x1F00 for every BIOS
            SetJump(b, Jump4{0x80, 0xEF, 0x0F, 0xF0});
            break;
        case kChip18F24J10:
            SetJump(b, Jump4{0x00, 0xEF, 0x1E, 0xF0});
            break;
        // K80 bootloaders below BIOS 5 get the jump to their own entry (0x7F00, 0xFF00)
        // rather than whatever an earlier preparation of another chip left behind.
        case kChip18F25K80:
            SetJump(b, new_bios ? Jump4{0x40, 0xEF, 0x3F, 0xF0} : Jump4{0x80, 0xEF, 0x3F, 0xF0});
            break;
        case kChip18F26K80:
            SetJump(b, new_bios ? Jump4{0x40, 0xEF, 0x7F, 0xF0} : Jump4{0x80, 0xEF, 0x7F, 0xF0});
            break;
        // GOTO 0xA800 / 0x15400 in the bootloader's four-bytes-per-instruction layout.
        case kChip33FJ64:
        case kChip24HJ64:
            b.AddressUnit = kBytesPer16BitAddress;
            SetJump(b, Jump8{0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00});
            break;
        case kChip33FJ128:
            b.AddressUnit = kBytesPer16BitAddress;
            SetJump(b, Jump8{0x00, 0x54, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00});
            break;
        default:
            break;  // unknown chip: the jump keeps its last value
    }
}

Preparation PrepareBounds(CatalogState& state, std::uint8_t chip_code, std::uint8_t bios_version) {
    if (!IsKnownChip(chip_code)) return Preparation::UnknownChip;
    PreparedImage& p = state.prepared;

    // 1. Bounds and block size.
    LoadChipBounds(state, chip_code, bios_version);
    const ChipBounds& b = p.Bounds;
    p.BlockSize = Is16BitChip(chip_code) ? b.AddressUnit * k16BitBlockAddresses : kPic18BlockBytes;

    // 2. The K80 default records keep only the first four fix bytes (in place, for good).
    if (chip_code == kChip18F25K80 || chip_code == kChip18F26K80) {
        FirmwareImage& def = state.at(0, chip_code == kChip18F25K80 ? kFamily25K80 : kFamily26K80);
        if (def.FixBytes != nullptr)
            for (std::int32_t i = kK80FixBytesKept; i < def.FixCount; ++i) def.FixBytes[i] = 0;
    }

    // 3. Fix block address (device address units) and the bytes to program.
    std::int32_t top = 0;
    std::int32_t reserve = b.BootReserve;
    switch (chip_code) {
        case kChip18F258:
        case kChip18F2580:
        case kChip18F25K80:
            top = kTop32K;
            break;
        case kChip18F2480:
        case kChip18F248:
            top = kTop16K;
            break;
        case kChip18F2320:
            top = kTop8K;
            break;
        case kChip18F26K80:
            top = kTop64K;
            break;
        case kChip18F24J10:
            top = kTop16K;
            reserve = b.BootReserveJ10;
            break;
        case kChip33FJ64:
        case kChip24HJ64:
            top = kTop33FJ64;
            break;
        default:
            top = kTop33FJ128;
            break;  // kChip33FJ128
    }
    if (Is16BitChip(chip_code)) {
        p.FixAddress = top - p.BlockSize / b.AddressUnit;
        p.ProgramLength = p.PayloadLength;
    } else {
        p.FixAddress = top - reserve;
        p.ProgramLength = std::min(p.PayloadLength, p.FixAddress);
    }

    // 4. Refusals: a 16-bit image must end below the fix block (bytes against addresses
    // of two bytes); an oversized PIC18 image is cut at the fix block instead.
    if (Is16BitChip(chip_code) &&
        static_cast<std::int64_t>(p.PayloadLength) > 2 * static_cast<std::int64_t>(p.FixAddress))
        return Preparation::ImageTooBig;
    if (p.PayloadLength <= 1) return Preparation::NoImage;
    return Preparation::Ready;
}

void LoadImageCodes(CatalogState& state, std::uint8_t chip_code) {
    PreparedImage& p = state.prepared;
    if (p.PlainFlag != 0 || !IsKnownChip(chip_code)) return;
    const std::int32_t offset =
        Is16BitChip(chip_code) ? kDescriptorOffset16Bit : kDescriptorOffsetPic18;
    const ImageCodes codes = DescriptorCodes(p.Payload, p.PayloadLength, offset);
    p.PrintCode = codes.print;
    p.PreparationCode = codes.preparation;
}

std::string LoadedText(const PreparedImage& image) {
    const std::int32_t unit = std::max<std::int32_t>(image.Bounds.AddressUnit, 1);
    char text[64];
    std::snprintf(text, sizeof text, "Loaded %d bytes (%04X to %04X)",
                  static_cast<int>(image.PayloadLength / unit), 0u,
                  static_cast<unsigned>(image.ProgramLength / unit));
    return text;
}

void WriteResetJump(CatalogState& state) {
    PreparedImage& p = state.prepared;
    if (p.Payload == nullptr) return;
    const std::uint8_t key = ScrambleKey(0, CatalogScrambled);
    // Never past the payload: a 2-byte image takes only the jump's first two bytes.
    const std::int32_t count = std::min({p.Bounds.ResetJumpCount, p.PayloadLength, kResetJumpMax});
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t j = p.Bounds.ResetJump[static_cast<std::size_t>(i)];
        p.Payload[i] = p.PlainFlag != 0 ? j : static_cast<std::uint8_t>(j ^ key);
    }
}

}  // namespace quillon::catalog
