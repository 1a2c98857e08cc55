#include "catalog/preparation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quillon::catalog {

namespace {

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

    state.payload_digests.assign(state.storage.size(), std::string());
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
        if (d.digest != nullptr && *d.digest != '\0' && d.payload_array >= 0 &&
            static_cast<std::size_t>(d.payload_array) < state.payload_digests.size())
            state.payload_digests[static_cast<std::size_t>(d.payload_array)] = d.digest;
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

std::string_view ImageDigest(const CatalogState& state, const std::uint8_t* payload) {
    if (payload == nullptr) return {};
    for (std::size_t i = 0; i < state.storage.size() && i < state.payload_digests.size(); ++i)
        if (state.storage[i].get() == payload) return state.payload_digests[i];
    return {};
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
    for (const ChipFamily& f : kChipFamilies) state.at(0, f.column).RepeatAction = f.repeat_action;
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
    PreparedImage& p = state.prepared;
    const ChipFamily* f = FamilyOf(chip_code);
    if (f == nullptr) {
        p.FamilyIndex = kNoFamily;
        CopyRecord(p, FirmwareImage{});
        return kNoFamily;
    }
    p.FamilyIndex = f->column;
    // Print code 255 has no row: such a device gets the default image like any print
    // without its own.
    if (print_group < kPrintGroups) CopyRecord(p, state.at(print_group, f->column));
    if (print_group >= kPrintGroups || p.PayloadLength <= 1) CopyRecord(p, state.at(0, f->column));
    return f->column;
}

bool LoadChipBounds(CatalogState& state, std::uint8_t chip_code, std::uint8_t bios_version) {
    const ChipFamily* f = FamilyOf(chip_code);
    if (f == nullptr) return false;
    ChipBounds& b = state.prepared.Bounds;
    const std::size_t range = BiosRange(bios_version);
    b.AddressUnit = f->unit;
    b.BootReserve = f->reserve[range];
    b.ResetJump = f->jump[range].bytes;
    b.ResetJumpCount = f->jump[range].count;
    return true;
}

Preparation PrepareBounds(CatalogState& state, std::uint8_t chip_code, std::uint8_t bios_version) {
    const ChipFamily* f = FamilyOf(chip_code);
    if (f == nullptr) return Preparation::UnknownChip;
    PreparedImage& p = state.prepared;

    // 1. Bounds and block size.
    LoadChipBounds(state, chip_code, bios_version);
    p.BlockSize = f->block;

    // 2. Row 0's record of a family that keeps only its first fix bytes (in place, for good).
    if (f->fix_bytes_kept != kAllFixBytesKept) {
        FirmwareImage& def = state.at(0, f->column);
        if (def.FixBytes != nullptr)
            for (std::int32_t i = f->fix_bytes_kept; i < def.FixCount; ++i) def.FixBytes[i] = 0;
    }

    // 3. Fix block address (device address units) and the bytes to program.
    p.FixAddress = f->top - p.Bounds.BootReserve;
    const std::int64_t below_fix = static_cast<std::int64_t>(p.FixAddress) * f->unit;  // bytes
    p.ProgramLength =
        f->refuse_oversize
            ? p.PayloadLength
            : static_cast<std::int32_t>(std::min<std::int64_t>(p.PayloadLength, below_fix));

    // 4. Refusals: an image of a refusing family must end below the fix block; an oversized
    // image of another family is cut at the fix block instead.
    if (f->refuse_oversize && p.PayloadLength > below_fix) return Preparation::ImageTooBig;
    if (p.PayloadLength <= 1) return Preparation::NoImage;
    return Preparation::Ready;
}

void LoadImageCodes(CatalogState& state, std::uint8_t chip_code) {
    PreparedImage& p = state.prepared;
    const ChipFamily* f = FamilyOf(chip_code);
    if (p.PlainFlag != 0 || f == nullptr) return;
    const ImageCodes codes = DescriptorCodes(p.Payload, p.PayloadLength, f->descriptor);
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
