#include "engine/session.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "catalog/catalog.h"
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

constexpr SessionResult kEnded{SessionEnd::Ended, 0};

// Step 1, identify and refuse: a bootloader too new is refused after its report; a newer
// one's extended block is awaited; a bare device takes the images of its print group.
bool Identify(Engine& e, const PreparedImage& image) {
    DeviceIdentity& id = e.parser.identity;
    if (id.BiosVersion >= kFirstIncompatibleBios) {
        e.events.DeviceReported(MakeDeviceReport(e, image));
        e.events.Failed(LinkIncompatible);
        return false;
    }
    AwaitExtendedInfo(e);
    if (id.VersionReported == 0) id.PrintCode = kBareDevicePrintGroup;
    return true;
}

// Step 2, prepare: the image's bounds for the chip and its bootloader, its codes, and the
// protected window of the 16-bit families; the refusals of the preparation.
bool Prepare(Engine& e, CatalogState& catalog, const catalog::ChipFamily* row) {
    PreparedImage& image = catalog.prepared;
    const DeviceIdentity& id = e.identity();
    Refusal why = Refusal::NoImage;
    switch (catalog::PrepareBounds(catalog, id.ChipCode, id.BiosVersion)) {
        case catalog::Preparation::UnknownChip:
            why = Refusal::UnknownChip;
            break;
        case catalog::Preparation::ImageTooBig:
            why = Refusal::ImageTooBig;
            break;
        case catalog::Preparation::NoImage:
            break;
        case catalog::Preparation::Ready:
            // A record that states a length but carries no bytes has no image either.
            if (image.Payload != nullptr) {
                catalog::LoadImageCodes(catalog, id.ChipCode);
                if (row->protected_window && HasExtendedBlock(id.BiosVersion))
                    e.protected_window = {e.parser.WindowStart, e.parser.WindowExtent};
                e.events.ImagePrepared(id.ChipCode, image.PlainFlag != 0);
                return true;
            }
            break;
    }
    e.events.Refused(why, MakeDeviceReport(e, image));
    return false;
}

// Step 3, suitability: the device's report, then whether the image suits it.
bool Suitable(Engine& e, const PreparedImage& image) {
    const DeviceReport report = MakeDeviceReport(e, image);
    e.events.DeviceReported(report);
    if (!CheckSuitability(e.identity(), image.PrintCode, image.PreparationCode)) {
        e.events.Refused(Refusal::NotSuitable, report);
        return false;
    }
    e.events.ImageAccepted(image);
    return true;
}

// Step 4, entry: bootloaders from version 5 on (with a version reply) are put into
// programming mode. A rejection or no answer lets the session go on (bootloaders differ
// in whether they confirm the command); a Stop pressed here ends it before anything is
// written.
bool Enter(Engine& e) {
    const DeviceIdentity& id = e.identity();
    if (id.VersionReported == 0 || id.BiosVersion < kFirstEntryBios) return true;
    e.events.EnteringProgramMode();
    e.parser.ExpectReply();
    const std::uint8_t entry[1] = {kEntryCommand};
    WriteBytes(e, entry);
    if (WaitReply(e, kEntryWaitMs) != Reply::Stop) return true;
    e.events.Failed(LinkUserAbort);
    return false;
}

// Step 5, the packets: the program blocks, the fix block and the EEPROM bytes, one at a
// time, each acknowledged before the next. Every packet sent must be acknowledged: one
// without an answer would leave a hole in the device, so any failure ends the session.
bool SendPlan(Engine& e, const std::vector<PlannedPacket>& plan, int eeprom_count) {
    if (plan.empty()) {
        e.events.Failed(LinkNoResponse);  // nothing could be sent
        return false;
    }
    bool eeprom_started = false;
    for (const PlannedPacket& p : plan) {
        switch (p.kind) {
            case PlannedPacket::Kind::Block:
                e.events.Block(p.address, p.done_units, p.last);
                if (p.left_out) continue;
                break;
            case PlannedPacket::Kind::Fix:
                e.events.FixBlock();
                break;
            case PlannedPacket::Kind::Eeprom:
                if (!eeprom_started) e.events.EepromStarted(eeprom_count);
                eeprom_started = true;
                e.events.EepromByte(p.address);
                break;
        }
        e.packet.Reset();
        std::copy(p.bytes.begin(), p.bytes.end(), e.packet.bytes.begin());
        const LinkResult r = SendPacket(e, e.packet.bytes, static_cast<int>(p.bytes.size()));
        if (r != LinkOk) {
            e.events.Failed(r);
            return false;
        }
        if (p.kind == PlannedPacket::Kind::Eeprom) e.events.EepromWritten(p.address);
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

SessionResult PrgMode(Engine& e, CatalogState& catalog) {
    // The run ends with the session, however it ends: a port chosen meanwhile is opened by
    // the next search.
    struct RunEnd {
        serial::PortSelection& ports;
        ~RunEnd() { ports.run_port = -1; }
    } run_end{e.ports};
    PreparedImage& image = catalog.prepared;
    e.events.SessionStarted();
    if (!Identify(e, image)) return kEnded;

    // The image for the chip and print; in the sequence mode a family programmed before in
    // this run is passed on instead.
    const std::uint8_t chip = e.identity().ChipCode;
    const std::int8_t family = catalog::SelectImage(catalog, chip, e.identity().PrintCode);
    const catalog::ChipFamily* row = catalog::FamilyOf(chip);
    const bool sequence = e.options.sequence_mode;
    if (row != nullptr && sequence && catalog::PendingStateOf(catalog, family) == 0) {
        const std::uint8_t action = catalog::RepeatActionOf(catalog, family);
        if (action == kRepeatActionPause || action == kRepeatActionPassOn)
            return PassOn(e, *row, action);
    }

    if (!Prepare(e, catalog, row) || !Suitable(e, image) || !Enter(e)) return kEnded;
    catalog::WriteResetJump(catalog);
    const std::int32_t unit = std::max<std::int32_t>(image.Bounds.AddressUnit, 1);
    e.events.ProgrammingStarted(image.ProgramLength / unit);
    const std::vector<PlannedPacket> plan =
        PlanSession(image, row->pad_last_block, e.protected_window);
    if (!SendPlan(e, plan, std::max<std::int32_t>(image.EepromCount, 0))) return kEnded;

    // The report, and the sequence mode's tail: the device is given its time after the
    // families that need it before the next search.
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
