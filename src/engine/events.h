// What the engine tells a front end while it searches for a device and programs it. The
// engine says what happened; each front end decides how to show it (the windows of an
// edition through ui/presenter.h, the command line as lines or progress bars). Nothing
// here knows a window, a status-bar slot or an edition.
//
// The order of a run:
//   SearchStarted, [PortRefused], Searching, SearchTry x n, SearchEnded
//   then, when found: SessionStarted, ..., and one of Refused, Failed, PassedOn, Succeeded.
#pragma once

#include <cstdint>
#include <string_view>

#include "catalog/preparation.h"
#include "engine/protocol.h"
#include "serial/port_selection.h"

namespace quillon::engine {

// How a search ended.
enum class SearchResult {
    Found = 0,
    PortUnusable = -1,
    NotFound = -2,
    Stopped = -3,
};

// Why a found device is not programmed.
enum class Refusal {
    UnknownChip,  // the catalog knows no family for its chip code
    NoImage,      // the catalog holds no image for its family and print
    ImageTooBig,  // the image does not fit below the bootloader
    NotSuitable,  // the image's print or preparation does not suit the device
};

// What the found device said about itself, with the print and preparation of the image
// chosen for it (shown instead of the device's when it reported no version).
struct DeviceReport {
    DeviceIdentity identity;
    std::uint8_t image_print = 0;
    std::uint8_t image_preparation = 0;
    // Bootloaders with an extended block name the device in a text (else empty and false).
    bool has_text = false;
    std::string_view text;
};

class Events {
public:
    virtual ~Events() = default;

    // A search begins; nothing is opened yet.
    virtual void SearchStarted() = 0;
    // The chosen port could not be opened as the bootloader line; `why` says what stood
    // in the way.
    virtual void PortRefused(int port, const serial::OpenFailure& why) = 0;
    // The port is open (or was found unusable a moment later: SearchEnded says so), the
    // identify byte is about to be sent.
    virtual void Searching(int port) = 0;
    // Before the first try: the identify byte will be sent up to `tries` times.
    virtual void SearchTries(int tries) = 0;
    // Try number `attempt` (from 0) of the identify byte.
    virtual void SearchTry(int attempt) = 0;
    virtual void SearchEnded(SearchResult result) = 0;

    // The programming session on the found device begins.
    virtual void SessionStarted() = 0;
    // The device's report, before a refusal or the programming.
    virtual void DeviceReported(const DeviceReport& report) = 0;
    // The device is not programmed; `report` is what was known of it.
    virtual void Refused(Refusal why, const DeviceReport& report) = 0;
    // The image for `chip` is prepared; `plain` marks an unscrambled image.
    virtual void ImagePrepared(std::uint8_t chip, bool plain) = 0;
    // The image suits the device and will be written.
    virtual void ImageAccepted(const catalog::PreparedImage& image) = 0;
    virtual void EnteringProgramMode() = 0;
    // The blocks begin; `units` is the program's length in device address units.
    virtual void ProgrammingStarted(int units) = 0;
    // A program block at device `address` is about to be sent; `done_units` counts the
    // address units up to its end. The last block reports no progress.
    virtual void Block(std::int32_t address, int done_units, bool last) = 0;
    virtual void FixBlock() = 0;
    virtual void EepromStarted(int count) = 0;
    // EEPROM byte `index` is about to be sent / was acknowledged.
    virtual void EepromByte(int index) = 0;
    virtual void EepromWritten(int index) = 0;
    // A packet was rejected and is sent again; `resend` counts from 0.
    virtual void Resend(int resend) = 0;
    // The link failed: no answer, a Stop, five rejections, or a bootloader too new.
    virtual void Failed(LinkResult result) = 0;
    // An already programmed device was passed on (sequence mode).
    virtual void PassedOn() = 0;
    // Every block, the fix block and every EEPROM byte were acknowledged.
    virtual void Succeeded() = 0;

    // The stop flag: whether the user asked to stop since the last call (clears it).
    virtual bool TakeStopRequested() = 0;
};

}  // namespace quillon::engine
