#include "engine/session.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "catalog/catalog.h"
#include "catalog/scramble.h"
#include "engine/outcome.h"
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

void BlockActivity(Engine& e, StatusBarRef status, std::int32_t address) {
    if (e.ui.edition() != Edition::Updater) return;
    char text[40];
    std::snprintf(text, sizeof text, "Program %05d (%05x)", static_cast<int>(address),
                  static_cast<unsigned>(address));
    e.ui.SetPanelText(status, PanelSlot::ActivityPanel, text);
}

// The program blocks from device address 0. Every block sent must be acknowledged: one
// without an answer would leave a hole in the device's program, so any failure ends the
// session. Only the protected window leaves blocks out.
bool SendProgramBlocks(Engine& e, const PreparedImage& image, bool pad_last,
                       ProgressBarRef progress, StatusBarRef status) {
    const std::int32_t unit = std::max<std::int32_t>(image.Bounds.AddressUnit, 1);
    const std::int32_t block = image.BlockSize;
    const std::int32_t total = image.ProgramLength;
    auto& p = e.packet.bytes;
    for (std::int32_t offset = 0; offset < total; offset += block) {
        const std::int32_t address = offset / unit;
        BlockActivity(e, status, address);
        e.packet.Reset();
        const int header = WriteBlockHeader(p, address, block);
        const std::int32_t count = std::min(block, total - offset);
        std::copy_n(image.Payload + offset, count, p.begin() + header);

        if (offset + block < total) {
            e.ui.SetProgressPosition(progress, (offset + block) / unit);
            if (InProtectedWindow(e.protected_window, address, block / unit)) continue;
            const LinkResult r = SendPacket(e, p, header + block);
            if (r == LinkOk) continue;
            ShowLinkError(e.ui, r);
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
            ShowLinkError(e.ui, r);
            return false;
        }
    }
    return true;
}

// The fix block at the fix address: the fix bytes at the end of a whole block.
bool SendFixBlock(Engine& e, const PreparedImage& image, StatusBarRef status) {
    if (e.ui.edition() != Edition::Loader)
        e.ui.SetPanelText(status, PanelSlot::ActivityPanel, kFixProgramText);
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
    ShowLinkError(e.ui, r);
    return false;
}

bool SendEepromBytes(Engine& e, const PreparedImage& image, ProgressBarRef progress,
                     StatusBarRef status) {
    if (image.EepromCount <= 0 || image.EepromBytes == nullptr) return true;
    e.ui.SetProgressPosition(progress, 0);
    e.ui.SetProgressMax(progress, image.EepromCount);
    auto& p = e.packet.bytes;
    for (std::int32_t i = 0; i < image.EepromCount; ++i) {
        if (e.ui.edition() != Edition::Loader) {
            char text[32];
            std::snprintf(text, sizeof text, "Program EEP %d", static_cast<int>(i));
            e.ui.SetPanelText(status, PanelSlot::ActivityPanel, text);
        }
        e.packet.Reset();
        p[0] = kEepromMark;
        p[1] = static_cast<std::uint8_t>(i & 0xFF);  // the device places longer tables
        p[2] = image.EepromBytes[i];
        p[3] = kEepromFlags;
        p[4] = 0x00;
        const LinkResult r = SendPacket(e, p, kEepromPacketLength);
        if (r != LinkOk) {
            ShowLinkError(e.ui, r);
            return false;
        }
        e.ui.SetProgressPosition(progress, i);
    }
    return true;
}

// A family already programmed in this run: the device is passed on instead.
int PassOn(Engine& e, std::uint8_t action) {
    if (action == kRepeatActionPause) {
        // No window events: the pause must not let a second START or Stop in.
        e.pump.wait(kRepeatPause, /*process_ui=*/false, /*wake_on_input=*/false);
        return kPassedOn;
    }
    WriteBytes(e, kPassOnFrame1);
    PumpDelay(e.pump, kPassOnPauseMs);
    DiscardInput(e);
    WriteBytes(e, kPassOnFrame2);
    PumpDelay(e.pump, kPassOnPauseMs);
    DiscardInput(e);
    return kPassedOn;
}

void ReportSuccess(Engine& e, StatusBarRef status) {
    switch (e.ui.edition()) {
        case Edition::Loader:
            e.ui.ShowActivity(kLoaderSuccessText, colour::kGreen);
            break;
        case Edition::Upgrade:
            e.ui.SetPanelText(status, PanelSlot::ActivityPanel, kUpgradeSuccessText);
            break;
        case Edition::Updater:
            e.ui.ShowOutcome(kUpdaterSuccessText, colour::kGreen, 1);
            break;
    }
    e.ui.ShowSessionIdle();
}

}  // namespace

std::optional<std::string_view> ChipText(std::uint8_t chip_code) {
    switch (chip_code) {
        case catalog::kChip18F258:
            return "Found 258";
        case catalog::kChip18F2580:
            return "Found 2580";
        case catalog::kChip18F2480:
            return "Found 2480";
        case catalog::kChip18F248:
            return "Found 248";
        case catalog::kChip18F2320:
            return "Found 2320";
        case catalog::kChip18F25K80:
            return "Found 18F25k80";
        case catalog::kChip18F26K80:
            return "Found 18F26k80";
        case catalog::kChip18F24J10:
            return "Found 24j10";
        case catalog::kChip33FJ64:
            return "Found 33FJ64";
        case catalog::kChip24HJ64:
            return "Found 24HJ64";
        case catalog::kChip33FJ128:
            return "Found 33FJ128 - 24HJ128";
        default:
            return std::nullopt;
    }
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

int PrgMode(Engine& e, CatalogState& catalog, ProgressBarRef progress, StatusBarRef status) {
    // The run ends with the session, however it ends: a port chosen meanwhile is opened by
    // the next search.
    struct RunEnd {
        serial::PortSelection& ports;
        ~RunEnd() { ports.run_port = -1; }
    } run_end{e.ports};
    PreparedImage& image = catalog.prepared;
    image.BlockSize = catalog::kPic18BlockBytes;
    e.ui.SetProgressPosition(progress, 0);
    e.ui.SetProgressSmooth(progress, false);

    DeviceIdentity& id = e.parser.identity;
    if (id.BiosVersion >= kFirstIncompatibleBios) {
        ShowDeviceReport(e, image);
        ShowLinkError(e.ui, LinkIncompatible);
        return 0;
    }
    AwaitExtendedInfo(e);
    if (id.VersionReported == 0) id.PrintCode = kBareDevicePrintGroup;
    const std::uint8_t chip = id.ChipCode;
    const std::int8_t family = catalog::SelectImage(catalog, chip, id.PrintCode);

    const bool sequence = e.ui.SequenceMode() != 0;
    if (sequence && catalog::PendingStateOf(catalog, family) == 0) {
        const std::uint8_t action = catalog::RepeatActionOf(catalog, family);
        if (action == kRepeatActionPause || action == kRepeatActionPassOn) return PassOn(e, action);
    }

    const bool pad_last = chip == catalog::kChip18F25K80 || chip == catalog::kChip18F26K80;
    switch (catalog::PrepareBounds(catalog, chip, id.BiosVersion)) {
        case catalog::Preparation::UnknownChip:
            e.ui.ShowOutcome(kErrorText, colour::kRed, 0);
            e.ui.SetPanelText(status, PanelSlot::DetailPanel, kUnknownDeviceText);
            return 0;
        case catalog::Preparation::ImageTooBig:
            ShowImageTooBig(e, image);
            return 0;
        case catalog::Preparation::NoImage:
            ShowNoImage(e, image);
            return 0;
        case catalog::Preparation::Ready:
            // A record that states a length but carries no bytes has no image either.
            if (image.Payload == nullptr) {
                ShowNoImage(e, image);
                return 0;
            }
            break;
    }
    e.ui.SetPanelText(status, PanelSlot::DetailPanel, ChipText(chip).value_or(""));

    catalog::LoadImageCodes(catalog, chip);
    if (catalog::Is16BitChip(chip) && HasExtendedBlock(id.BiosVersion))
        e.protected_window = {e.parser.WindowStart, e.parser.WindowExtent};

    ShowPlainCue(e.ui, image.PlainFlag);
    ShowDeviceReport(e, image);
    if (!CheckSuitability(id, image.PrintCode, image.PreparationCode)) {
        const std::string name = catalog::NameOfPrint(image.PrintCode);
        char text[96];
        std::snprintf(text, sizeof text, "%s - Preparation %x", name.c_str(),
                      static_cast<unsigned>(image.PreparationCode));
        e.ui.ShowOutcome(text, colour::kRed, 0);
        e.ui.SetPanelText(status, PanelSlot::DetailPanel, kNotSuitableWarning);
        e.ui.SetPanelText(status, PanelSlot::NoticePanel, kNotSuitableNotice);
        return 0;
    }
    if (e.ui.edition() == Edition::Updater)
        e.ui.SetPanelText(status, PanelSlot::NoticePanel, catalog::LoadedText(image));

    if (id.VersionReported != 0 && id.BiosVersion >= kFirstEntryBios) {
        e.ui.SetPanelText(status, PanelSlot::ActivityPanel, kEntryText);
        e.parser.AckSeen = 0;
        e.parser.NakSeen = 0;
        const std::uint8_t entry[1] = {kEntryCommand};
        WriteBytes(e, entry);
        // A rejection or no answer lets the session go on (bootloaders differ in whether
        // they confirm the command); a Stop pressed here ends it before anything is written.
        if (WaitReply(e, kEntryWaitMs) == kReplyStop) {
            ShowLinkError(e.ui, LinkUserAbort);
            return 0;
        }
    }
    e.ui.ShowActivity(kProgrammingText, colour::kButtonFace);
    catalog::WriteResetJump(catalog);

    const std::int32_t unit = std::max<std::int32_t>(image.Bounds.AddressUnit, 1);
    e.ui.SetProgressPosition(progress, 0);
    e.ui.SetProgressMax(progress, image.ProgramLength / unit);
    if (!SendProgramBlocks(e, image, pad_last, progress, status)) return 0;
    if (!SendFixBlock(e, image, status)) return 0;
    if (!SendEepromBytes(e, image, progress, status)) return 0;

    e.ui.SetProgressPosition(progress, 0);
    ReportSuccess(e, status);
    catalog::MarkDone(catalog, family);
    if (!sequence) return 0;
    if (family == catalog::kFamily26K80) {
        PumpDelay(e.pump, kAfterLastFamilyMs);
        DiscardInput(e);
    }
    return catalog.PendingCount;
}

}  // namespace quillon::engine
