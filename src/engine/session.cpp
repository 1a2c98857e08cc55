#include "engine/session.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "catalog/catalog.h"
#include "catalog/scramble.h"
#include "engine/report.h"
#include "engine/search.h"

namespace quillon::engine {
namespace {

using catalog::CatalogState;
using catalog::PreparedImage;

// Preparation bits and masks of the suitability test.
constexpr std::uint8_t kResPreparation = 0x80;  // "RES" preparations suit each other
constexpr std::uint8_t kExclusiveBit = 0x10;    // a device with it needs an image with it
constexpr std::uint8_t kDeviceKindMask = 0x0F;
constexpr std::uint8_t kImageKindMask = 0x6F;
constexpr std::uint8_t kAnyPreparationDevice = 3;  // takes every RES image
// Print codes: an image for every print, and the print that also takes print 16's image.
constexpr std::uint8_t kAnyPrint = 0;
constexpr std::uint8_t kNoPrint = 255;
constexpr std::uint8_t kSharedPrint = 32;
constexpr std::uint8_t kSharedPrintDevice = 16;

// Writes the length field of a program block: one byte after the address, or two (high,
// low) when `wide`.
void WriteBlockLength(std::span<std::uint8_t> p, bool wide, std::int32_t length) {
    if (wide) {
        p[3] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
        p[4] = static_cast<std::uint8_t>(length & 0xFF);
    } else {
        p[3] = static_cast<std::uint8_t>(length & 0xFF);
    }
}

// Writes the three address bytes and the length field of a program block; returns the
// header length. Blocks longer than 255 bytes have the two-byte length field.
int WriteBlockHeader(std::span<std::uint8_t> p, std::int32_t address, std::int32_t block) {
    p[0] = static_cast<std::uint8_t>((address >> 16) & 0xFF);
    p[1] = static_cast<std::uint8_t>((address >> 8) & 0xFF);
    p[2] = static_cast<std::uint8_t>(address & 0xFF);
    const bool wide = block > kNarrowMax;
    WriteBlockLength(p, wide, block);
    return wide ? kWideHeader : kNarrowHeader;
}

// The program blocks from device address 0. Every block sent must be acknowledged: one
// without an answer would leave a hole in the device's program, so any failure ends the
// session. Only the protected window leaves blocks out.
bool SendProgramBlocks(Engine& e, const PreparedImage& image, bool pad_last) {
    const std::int32_t unit = std::max<std::int32_t>(image.Bounds.AddressUnit, 1);
    const std::int32_t block = image.BlockSize;
    const std::int32_t total = image.ProgramLength;
    auto& p = e.packet.bytes;
    for (std::int32_t offset = 0; offset < total; offset += block) {
        const std::int32_t address = offset / unit;
        const bool last = offset + block >= total;
        e.events.Block(address, last ? 0 : (offset + block) / unit, last);
        e.packet.Reset();
        const int header = WriteBlockHeader(p, address, block);
        const std::int32_t count = std::min(block, total - offset);
        std::copy_n(image.Payload + offset, count, p.begin() + header);

        if (!last) {
            if (InProtectedWindow(e.protected_window, address, block / unit)) continue;
            const LinkResult r = SendPacket(e, p, header + block);
            if (r == LinkOk) continue;
            e.events.Failed(r);
            return false;
        }

        // The last block. The K80 bootloaders want whole blocks: the rest is filled with
        // erased flash, keyed as the block's own bytes are (the device unscrambles it).
        int length = header + count;
        const bool wide = header == kWideHeader;
        if (!wide && pad_last) {
            const std::uint8_t fill = static_cast<std::uint8_t>(
                BootPacket::kFill ^
                catalog::BlockKey(static_cast<std::uint32_t>(address), catalog::CatalogScrambled));
            std::fill(p.begin() + header + count, p.begin() + header + block, fill);
            length = header + block;
        } else {
            WriteBlockLength(p, wide, count);
        }
        const LinkResult r = SendPacket(e, p, length);
        if (r != LinkOk) {
            e.events.Failed(r);
            return false;
        }
    }
    return true;
}

// The fix block at the fix address: the fix bytes at the end of a whole block.
bool SendFixBlock(Engine& e, const PreparedImage& image) {
    e.events.FixBlock();
    const std::uint8_t key = image.PlainFlag != 0
                                 ? 0
                                 : catalog::BlockKey(static_cast<std::uint32_t>(image.FixAddress),
                                                     catalog::CatalogScrambled);
    auto& p = e.packet.bytes;
    p.fill(static_cast<std::uint8_t>(BootPacket::kFill ^ key));
    const std::int32_t block = image.BlockSize;
    const int header = WriteBlockHeader(p, image.FixAddress, block);
    const std::int32_t count = std::clamp<std::int32_t>(image.FixCount, 0, block);
    for (std::int32_t i = 0; i < count && image.FixBytes != nullptr; ++i)
        p[static_cast<std::size_t>(header + block - count + i)] =
            static_cast<std::uint8_t>(image.FixBytes[i] ^ key);
    const LinkResult r = SendPacket(e, p, header + block);
    if (r == LinkOk) return true;
    e.events.Failed(r);
    return false;
}

bool SendEepromBytes(Engine& e, const PreparedImage& image) {
    if (image.EepromCount <= 0 || image.EepromBytes == nullptr) return true;
    e.events.EepromStarted(image.EepromCount);
    auto& p = e.packet.bytes;
    for (std::int32_t i = 0; i < image.EepromCount; ++i) {
        e.events.EepromByte(i);
        e.packet.Reset();
        p[0] = kEepromMark;
        p[1] = static_cast<std::uint8_t>(i & 0xFF);  // the device places longer tables
        p[2] = image.EepromBytes[i];
        p[3] = kEepromFlags;
        p[4] = 0x00;
        const LinkResult r = SendPacket(e, p, kEepromPacketLength);
        if (r != LinkOk) {
            e.events.Failed(r);
            return false;
        }
        e.events.EepromWritten(i);
    }
    return true;
}

// A family already programmed in this run: the device is passed on instead.
SessionResult PassOn(Engine& e, const catalog::ChipFamily& family, std::uint8_t action) {
    e.events.PassedOn();
    if (action == kRepeatActionPause) {
        // No window events: the pause must not let a second START or Stop in.
        e.pump.wait(family.repeat_pause, /*process_ui=*/false, /*wake_on_input=*/false);
        return {SessionEnd::PassedOn, 0};
    }
    WriteBytes(e, kPassOnFrame1);
    PumpDelay(e.pump, kPassOnPauseMs);
    DiscardInput(e);
    WriteBytes(e, kPassOnFrame2);
    PumpDelay(e.pump, kPassOnPauseMs);
    DiscardInput(e);
    return {SessionEnd::PassedOn, 0};
}

}  // namespace

std::optional<std::string_view> ChipText(std::uint8_t chip_code) {
    const catalog::ChipFamily* family = catalog::FamilyOf(chip_code);
    if (family == nullptr) return std::nullopt;
    return family->found;
}

bool CheckSuitability(const DeviceIdentity& device, std::uint8_t ip, std::uint8_t iq) {
    if (ip == kAnyPrint || ip == kNoPrint || device.VersionReported == 0) return true;
    const std::uint8_t dp = device.PrintCode;
    const std::uint8_t dq = device.PreparationCode;
    const bool print_ok = ip == dp || (ip == kSharedPrint && dp == kSharedPrintDevice);

    bool preparation_ok = false;
    if (dq == iq || (dq == kAnyPreparationDevice && (iq & kResPreparation) != 0) ||
        ((dq & kResPreparation) != 0 && (iq & kResPreparation) != 0)) {
        preparation_ok = true;
    } else if ((dq & kExclusiveBit) != 0 && (iq & kExclusiveBit) == 0) {
        preparation_ok = false;
    } else {
        const std::uint8_t d = dq & kDeviceKindMask;
        const std::uint8_t i = iq & kImageKindMask;
        switch (d) {
            case 1:
                preparation_ok = i == 1 || i == 4;
                break;
            case 2:
                preparation_ok = i == 1 || i == 2 || i == 4;
                break;
            case 5:
                preparation_ok = i == 4 || i == 5;
                break;
            default:
                preparation_ok = i == d;
                break;
        }
    }
    return print_ok && preparation_ok;
}

bool InProtectedWindow(const ProtectedWindow& window, std::int32_t address,
                       std::int32_t addresses) {
    if (window.start == 0) return false;
    // The device names its window by the addresses that may not follow a written block:
    // a block is left out when the address after it lies in [start, start + extent].
    const std::int64_t next = static_cast<std::int64_t>(address) + addresses;
    return next >= window.start && next <= static_cast<std::int64_t>(window.start) + window.extent;
}

SessionResult PrgMode(Engine& e, CatalogState& catalog) {
    // The run ends with the session, however it ends: a port chosen meanwhile is opened by
    // the next search.
    struct RunEnd {
        serial::PortSelection& ports;
        ~RunEnd() { ports.run_port = -1; }
    } run_end{e.ports};
    constexpr SessionResult kEnded{SessionEnd::Ended, 0};
    PreparedImage& image = catalog.prepared;
    e.events.SessionStarted();

    DeviceIdentity& id = e.parser.identity;
    if (id.BiosVersion >= kFirstIncompatibleBios) {
        e.events.DeviceReported(MakeDeviceReport(e, image));
        e.events.Failed(LinkIncompatible);
        return kEnded;
    }
    AwaitExtendedInfo(e);
    if (id.VersionReported == 0) id.PrintCode = kBareDevicePrintGroup;
    const std::uint8_t chip = id.ChipCode;
    const std::int8_t family = catalog::SelectImage(catalog, chip, id.PrintCode);

    const catalog::ChipFamily* row = catalog::FamilyOf(chip);

    const bool sequence = e.options.sequence_mode;
    if (row != nullptr && sequence && catalog::PendingStateOf(catalog, family) == 0) {
        const std::uint8_t action = catalog::RepeatActionOf(catalog, family);
        if (action == kRepeatActionPause || action == kRepeatActionPassOn)
            return PassOn(e, *row, action);
    }

    switch (catalog::PrepareBounds(catalog, chip, id.BiosVersion)) {
        case catalog::Preparation::UnknownChip:
            e.events.Refused(Refusal::UnknownChip, MakeDeviceReport(e, image));
            return kEnded;
        case catalog::Preparation::ImageTooBig:
            e.events.Refused(Refusal::ImageTooBig, MakeDeviceReport(e, image));
            return kEnded;
        case catalog::Preparation::NoImage:
            e.events.Refused(Refusal::NoImage, MakeDeviceReport(e, image));
            return kEnded;
        case catalog::Preparation::Ready:
            // A record that states a length but carries no bytes has no image either.
            if (image.Payload == nullptr) {
                e.events.Refused(Refusal::NoImage, MakeDeviceReport(e, image));
                return kEnded;
            }
            break;
    }

    catalog::LoadImageCodes(catalog, chip);
    if (row->protected_window && HasExtendedBlock(id.BiosVersion))
        e.protected_window = {e.parser.WindowStart, e.parser.WindowExtent};

    e.events.ImagePrepared(chip, image.PlainFlag != 0);
    const DeviceReport report = MakeDeviceReport(e, image);
    e.events.DeviceReported(report);
    if (!CheckSuitability(id, image.PrintCode, image.PreparationCode)) {
        e.events.Refused(Refusal::NotSuitable, report);
        return kEnded;
    }
    e.events.ImageAccepted(image);

    if (id.VersionReported != 0 && id.BiosVersion >= kFirstEntryBios) {
        e.events.EnteringProgramMode();
        e.parser.AckSeen = 0;
        e.parser.NakSeen = 0;
        const std::uint8_t entry[1] = {kEntryCommand};
        WriteBytes(e, entry);
        // A rejection or no answer lets the session go on (bootloaders differ in whether
        // they confirm the command); a Stop pressed here ends it before anything is written.
        if (WaitReply(e, kEntryWaitMs) == kReplyStop) {
            e.events.Failed(LinkUserAbort);
            return kEnded;
        }
    }
    catalog::WriteResetJump(catalog);

    const std::int32_t unit = std::max<std::int32_t>(image.Bounds.AddressUnit, 1);
    e.events.ProgrammingStarted(image.ProgramLength / unit);
    if (!SendProgramBlocks(e, image, row->pad_last_block)) return kEnded;
    if (!SendFixBlock(e, image)) return kEnded;
    if (!SendEepromBytes(e, image)) return kEnded;

    e.events.Succeeded();
    catalog::MarkDone(catalog, family);
    if (!sequence) return {SessionEnd::Programmed, 0};
    if (row->settle_after.count() > 0) {
        PumpDelay(e.pump, static_cast<int>(row->settle_after.count()));
        DiscardInput(e);
    }
    return {SessionEnd::Programmed, catalog.PendingCount};
}

}  // namespace quillon::engine
