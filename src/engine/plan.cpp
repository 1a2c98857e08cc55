#include "engine/plan.h"

#include <algorithm>

#include "catalog/scramble.h"

namespace quillon::engine {
namespace {

// Writes the length field of a program block: one byte after the address, or two (high,
// low) when `wide`.
void WriteBlockLength(std::vector<std::uint8_t>& p, bool wide, std::int32_t length) {
    if (wide) {
        p[3] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
        p[4] = static_cast<std::uint8_t>(length & 0xFF);
    } else {
        p[3] = static_cast<std::uint8_t>(length & 0xFF);
    }
}

// A block packet of `block` data bytes filled with `fill`, with its three address bytes and
// length field. Blocks longer than 255 bytes have the two-byte length field.
std::vector<std::uint8_t> BlockPacket(std::int32_t address, std::int32_t block, std::uint8_t fill) {
    const bool wide = block > kNarrowMax;
    std::vector<std::uint8_t> p(
        static_cast<std::size_t>((wide ? kWideHeader : kNarrowHeader) + block), fill);
    p[0] = static_cast<std::uint8_t>((address >> 16) & 0xFF);
    p[1] = static_cast<std::uint8_t>((address >> 8) & 0xFF);
    p[2] = static_cast<std::uint8_t>(address & 0xFF);
    WriteBlockLength(p, wide, block);
    return p;
}

std::uint8_t KeyOf(std::int32_t address) {
    return catalog::BlockKey(static_cast<std::uint32_t>(address), catalog::CatalogScrambled);
}

// The program blocks from device address 0. Only the protected window leaves blocks out.
void PlanBlocks(std::vector<PlannedPacket>& plan, const catalog::PreparedImage& image,
                bool pad_last, const ProtectedWindow& window) {
    const std::int32_t unit = std::max<std::int32_t>(image.Bounds.AddressUnit, 1);
    const std::int32_t block = image.BlockSize;
    const std::int32_t total = image.ProgramLength;
    const int header = block > kNarrowMax ? kWideHeader : kNarrowHeader;
    for (std::int32_t offset = 0; offset < total; offset += block) {
        PlannedPacket p;
        p.address = offset / unit;
        p.last = offset + block >= total;
        p.done_units = p.last ? 0 : (offset + block) / unit;
        p.bytes = BlockPacket(p.address, block, BootPacket::kFill);
        const std::int32_t count = std::min(block, total - offset);
        std::copy_n(image.Payload + offset, count, p.bytes.begin() + header);
        if (!p.last) {
            p.left_out = InProtectedWindow(window, p.address, block / unit);
        } else if (header == kNarrowHeader && pad_last) {
            // The rest is erased flash, keyed as the block's own bytes are (the device
            // unscrambles it).
            const auto fill = static_cast<std::uint8_t>(BootPacket::kFill ^ KeyOf(p.address));
            std::fill(p.bytes.begin() + header + count, p.bytes.end(), fill);
        } else {
            WriteBlockLength(p.bytes, header == kWideHeader, count);
            p.bytes.resize(static_cast<std::size_t>(header + count));
        }
        plan.push_back(std::move(p));
    }
}

// The fix block at the fix address: erased flash but for the fix bytes at its end.
void PlanFixBlock(std::vector<PlannedPacket>& plan, const catalog::PreparedImage& image) {
    const std::uint8_t key = image.PlainFlag != 0 ? 0 : KeyOf(image.FixAddress);
    const std::int32_t block = image.BlockSize;
    PlannedPacket p;
    p.kind = PlannedPacket::Kind::Fix;
    p.address = image.FixAddress;
    p.bytes =
        BlockPacket(image.FixAddress, block, static_cast<std::uint8_t>(BootPacket::kFill ^ key));
    const std::int32_t count = std::clamp<std::int32_t>(image.FixCount, 0, block);
    const std::size_t end = p.bytes.size();
    for (std::int32_t i = 0; i < count && image.FixBytes != nullptr; ++i)
        p.bytes[end - static_cast<std::size_t>(count - i)] =
            static_cast<std::uint8_t>(image.FixBytes[i] ^ key);
    plan.push_back(std::move(p));
}

void PlanEeprom(std::vector<PlannedPacket>& plan, const catalog::PreparedImage& image) {
    if (image.EepromCount <= 0 || image.EepromBytes == nullptr) return;
    for (std::int32_t i = 0; i < image.EepromCount; ++i) {
        PlannedPacket p;
        p.kind = PlannedPacket::Kind::Eeprom;
        p.address = i;
        // The index's low byte: the device places longer tables itself.
        p.bytes = {kEepromMark, static_cast<std::uint8_t>(i & 0xFF), image.EepromBytes[i],
                   kEepromFlags, 0x00};
        plan.push_back(std::move(p));
    }
}

}  // namespace

bool InProtectedWindow(const ProtectedWindow& window, std::int32_t address,
                       std::int32_t addresses) {
    if (window.start == 0) return false;
    // The device names its window by the addresses that may not follow a written block:
    // a block is left out when the address after it lies in [start, start + extent].
    const std::int64_t next = static_cast<std::int64_t>(address) + addresses;
    return next >= window.start && next <= static_cast<std::int64_t>(window.start) + window.extent;
}

std::vector<PlannedPacket> PlanSession(const catalog::PreparedImage& image, bool pad_last,
                                       const ProtectedWindow& window) {
    std::vector<PlannedPacket> plan;
    if (image.BlockSize <= 0 || image.BlockSize > kMaxBlock) return plan;
    PlanBlocks(plan, image, pad_last, window);
    PlanFixBlock(plan, image);
    PlanEeprom(plan, image);
    return plan;
}

}  // namespace quillon::engine
